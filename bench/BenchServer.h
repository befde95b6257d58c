#pragma once
// What every benchmark needs: the server bench/run started, and the process's memory.

#include <QByteArray>
#include <QFile>
#include <QString>

#include "db/Connection.h"

namespace bench {

// LORVEX_TEST_HOST:LORVEX_TEST_PORT
inline QString hostField() {
    return qEnvironmentVariable("LORVEX_TEST_HOST", QStringLiteral("127.0.0.1")) + u':' +
           qEnvironmentVariable("LORVEX_TEST_PORT");
}

inline db::ConnectParams params() {
    db::ConnectParams p;
    p.host = hostField();
    p.user = qEnvironmentVariable("LORVEX_TEST_USER");
    p.password = qEnvironmentVariable("LORVEX_TEST_PASSWORD");
    return p;
}

// A /proc/self/status figure in kB (VmHWM: peak resident memory, VmRSS: current).
inline long statusKb(const char* key) {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith(key))
            return line.mid(qsizetype(qstrlen(key))).trimmed().split(' ')[0].toLong();
    return -1;
}

// The client tool's options for the same server and account.
inline QStringList clientArguments() {
    return {QStringLiteral("-h"), qEnvironmentVariable("LORVEX_TEST_HOST", QStringLiteral("127.0.0.1")),
            QStringLiteral("-P"), qEnvironmentVariable("LORVEX_TEST_PORT"), QStringLiteral("-u"),
            qEnvironmentVariable("LORVEX_TEST_USER"),
            QStringLiteral("-p") + qEnvironmentVariable("LORVEX_TEST_PASSWORD")};
}

}  // namespace bench
