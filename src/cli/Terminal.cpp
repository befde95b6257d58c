#include "cli/Terminal.h"

#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <string>

namespace terminal {

bool stdinIsTerminal() { return ::isatty(STDIN_FILENO) == 1; }
bool stderrIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

QString readPassword(const QString& prompt) {
    std::fputs(prompt.toLocal8Bit().constData(), stderr);
    std::fflush(stderr);
    termios saved{};
    const bool echoOff = ::tcgetattr(STDIN_FILENO, &saved) == 0;
    if (echoOff) {
        termios quiet = saved;
        quiet.c_lflag &= ~tcflag_t(ECHO);
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    std::string line;
    std::getline(std::cin, line);
    if (echoOff) ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
    std::fputs("\n", stderr);
    return QString::fromLocal8Bit(line.data(), qsizetype(line.size()));
}

}  // namespace terminal
