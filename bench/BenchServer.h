#pragma once
// What every benchmark needs: the server bench/run started, and the process's memory.

#include <QByteArray>
#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QElapsedTimer>
#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <stdexcept>
#include <vector>

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
inline QByteArray runChild(const QStringList& arguments, const QString& variable = {},
                           const QString& value = {}) {
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    if (!variable.isEmpty()) env.insert(variable, value);
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(), arguments);
    child.waitForFinished(-1);
    if (child.exitStatus() != QProcess::NormalExit || child.exitCode() != 0)
        throw std::runtime_error("a measuring run failed");
    return child.readAllStandardOutput();
}
inline QByteArray runChild(const QString& argument, const QString& variable = {},
                           const QString& value = {}) {
    return runChild(QStringList{argument}, variable, value);
}

// The "name value" lines of a child's output.
inline std::map<std::string, double> namedValues(const QByteArray& output) {
    std::map<std::string, double> values;
    for (const QByteArray& line : output.split('\n')) {
        const QList<QByteArray> f = line.split(' ');
        if (f.size() == 2) values[f[0].toStdString()] = f[1].toDouble();
    }
    return values;
}

template <typename T>
T median(std::vector<T> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// The wall time of one run of a client tool (`mariadb`, `mariadb-dump`) as a process, from its
// start to its end, with `input` as its standard input when given; its output is dropped.
// Throws when it fails.
inline double clientMs(const QString& program, const QStringList& arguments,
                       const QString& input = {}) {
    QProcess tool;
    tool.setStandardOutputFile(QProcess::nullDevice());
    if (!input.isEmpty()) tool.setStandardInputFile(input);
    QElapsedTimer clock;
    clock.start();
    tool.start(program, arguments);
    tool.waitForFinished(-1);
    const double ms = double(clock.nsecsElapsed()) / 1e6;
    if (tool.exitStatus() != QProcess::NormalExit || tool.exitCode() != 0)
        throw std::runtime_error(program.toStdString() + " failed: " +
                                 tool.readAllStandardError().toStdString());
    return ms;
}

// One line of a benchmark's summary: what was measured, this program's figure, the
// client tool's and the target (negative: none) and whether it was met.
struct Line {
    const char* measure;
    double lorvex;
    double baseline;
    double target;
    bool met;
};

// The summary as a table; returns whether every target was met.
inline bool printLines(const std::vector<Line>& lines) {
    std::printf("\n%-44s %12s %12s %12s  %s\n", "measure", "Lorvex", "baseline", "target", "");
    bool all = true;
    for (const Line& l : lines) {
        char baseline[32] = "-", target[32] = "-";
        if (l.baseline >= 0) std::snprintf(baseline, sizeof baseline, "%.1f", l.baseline);
        if (l.target >= 0) std::snprintf(target, sizeof target, "%.1f", l.target);
        std::printf("%-44s %12.1f %12s %12s  %s\n", l.measure, l.lorvex, baseline, target,
                    l.target < 0 ? "" : l.met ? "met" : "MISSED");
        all = all && l.met;
    }
    return all;
}

}  // namespace bench
