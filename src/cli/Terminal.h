#pragma once

#include <QString>

// The few terminal services of lorvex-cli.
namespace terminal {

bool stdinIsTerminal();
bool stderrIsTerminal();
// Asks on stderr and reads one line from stdin with echo off; empty at end of input.
QString readPassword(const QString& prompt);

}  // namespace terminal
