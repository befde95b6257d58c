#pragma once

#include <unistd.h>

#include <QString>
#include <atomic>
#include <ostream>

// Prints a QString as text in test failure messages.
inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}

// A name no other test process or case uses: "lvx_<hint>_<pid>_<n>".
inline QString uniqueName(const char* hint) {
    static std::atomic<int> counter{0};
    return QStringLiteral("lvx_%1_%2_%3")
        .arg(QLatin1String(hint))
        .arg(::getpid())
        .arg(counter++);
}
