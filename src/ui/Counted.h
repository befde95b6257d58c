#pragma once

#include <QLatin1String>
#include <QString>
#include <cstdint>

namespace ui {

// "1 row", "3 rows": a count with its noun, which takes an "s" unless the count is one.
// For nouns whose plural is the noun and "s" (row, statement, event, warning).
inline QString counted(std::uint64_t n, const char* noun) {
    return QStringLiteral("%1 %2%3")
        .arg(n)
        .arg(QLatin1String(noun))
        .arg(n == 1 ? QLatin1String() : QLatin1String("s"));
}

}  // namespace ui
