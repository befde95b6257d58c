#include "cli/Terminal.h"

#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string_view>
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

void hidePasswordArguments(int argc, char** argv) {
    static constexpr std::string_view kOption = "--password";
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg(argv[i]);
        char* secret = nullptr;
        if (arg == kOption && i + 1 < argc)
            secret = argv[++i];
        else if (arg.size() > kOption.size() && arg.substr(0, kOption.size()) == kOption &&
                 arg[kOption.size()] == '=')
            secret = argv[i] + kOption.size() + 1;
        if (secret) std::memset(secret, 'x', std::strlen(secret));
    }
}

}  // namespace terminal
