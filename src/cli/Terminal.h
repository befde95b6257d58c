#pragma once

#include <QString>

// The few terminal services of lorvex-cli.
namespace terminal {

bool stdinIsTerminal();
bool stderrIsTerminal();
// Asks on stderr and reads one line from stdin with echo off; empty at end of input.
QString readPassword(const QString& prompt);

// Overwrites the value of --password in the process's own argument strings, so that ps and
// /proc/PID/cmdline no longer show it. Call after the arguments were read.
void hidePasswordArguments(int argc, char** argv);

}  // namespace terminal
