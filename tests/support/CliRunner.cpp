#include "support/CliRunner.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QProcess>

QString cliPath() {
    return QDir(QCoreApplication::applicationDirPath())
        .absoluteFilePath(QStringLiteral("../lorvex-cli"));
}

CliResult runProgram(const QString& program, const QStringList& arguments,
                     const QProcessEnvironment& env, int seconds) {
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(program, arguments);
    if (!process.waitForStarted()) {
        ADD_FAILURE() << "cannot start " << program.toStdString() << " (build lorvex-cli)";
        return {};
    }
    process.closeWriteChannel();
    if (!process.waitForFinished(seconds * 1000)) {
        ADD_FAILURE() << program.toStdString() << ' '
                      << arguments.value(0).toStdString() << " did not end within " << seconds
                      << " s";
        process.kill();
        process.waitForFinished();
    }
    CliResult result;
    result.code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = QString::fromLocal8Bit(process.readAllStandardOutput());
    result.err = QString::fromLocal8Bit(process.readAllStandardError());
    return result;
}
