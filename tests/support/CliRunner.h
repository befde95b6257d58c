#pragma once

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

struct CliResult {
    int code = -1;  // -1: did not end normally
    QString out;
    QString err;
};

// lorvex-cli, built beside the test programs' folder.
QString cliPath();

// Runs a program with standard input closed (nothing may wait for a password at a
// terminal). A program that cannot start, or does not end within `seconds` (it is killed
// then), fails the test.
CliResult runProgram(const QString& program, const QStringList& arguments,
                     const QProcessEnvironment& env, int seconds = 300);
