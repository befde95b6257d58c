#pragma once
// What every benchmark needs: the server bench/run started, and the process's memory.

#include <QByteArray>
#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QString>
#include <algorithm>
#include <stdexcept>

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

// How often each case runs: LORVEX_BENCH_RUNS, 3 when unset.
inline int runs() {
    return qEnvironmentVariableIsSet("LORVEX_BENCH_RUNS")
               ? std::max(1, qEnvironmentVariableIntValue("LORVEX_BENCH_RUNS"))
               : 3;
}

// This program again with `argument`, offscreen, in a fresh process (so one case's peak
// memory does not carry into the next), with `variable`=`value` set when given; its output.
inline QByteArray runChild(const QString& argument, const QString& variable = {},
                           const QString& value = {}) {
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    if (!variable.isEmpty()) env.insert(variable, value);
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(), {argument});
    child.waitForFinished(-1);
    if (child.exitStatus() != QProcess::NormalExit || child.exitCode() != 0)
        throw std::runtime_error("a measuring run failed");
    return child.readAllStandardOutput();
}

}  // namespace bench
