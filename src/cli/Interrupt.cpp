#include "cli/Interrupt.h"

#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>

namespace {

int wakeUp[2] = {-1, -1};  // the handler writes, the watching thread reads
std::atomic<bool> signalled{false};
struct sigaction previousInt, previousTerm;

void onSignal(int number) {
    if (signalled.exchange(true)) {
        // The second one: the default action, at once.
        std::signal(number, SIG_DFL);
        std::raise(number);
        return;
    }
    const char stop = 's';
    [[maybe_unused]] const ssize_t n = ::write(wakeUp[1], &stop, 1);
}

}  // namespace

InterruptWatch::InterruptWatch(const db::ConnectParams& params, unsigned long threadId)
    : params_(params), threadId_(threadId) {
    signalled = false;
    if (::pipe(wakeUp) != 0) return;
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, &previousInt);
    sigaction(SIGTERM, &action, &previousTerm);
    thread_ = std::thread([this] { watch(); });
}

InterruptWatch::~InterruptWatch() {
    if (!thread_.joinable()) return;
    sigaction(SIGINT, &previousInt, nullptr);
    sigaction(SIGTERM, &previousTerm, nullptr);
    const char quit = 'q';
    [[maybe_unused]] const ssize_t n = ::write(wakeUp[1], &quit, 1);
    thread_.join();
    ::close(wakeUp[0]);
    ::close(wakeUp[1]);
    wakeUp[0] = wakeUp[1] = -1;
}

bool InterruptWatch::interrupted() { return signalled; }

void InterruptWatch::watch() {
    char c = 0;
    while (::read(wakeUp[0], &c, 1) == 1) {
        if (c == 'q') return;
        // Before the session exists (the files are read first) there is nothing to stop.
        if (threadId_ == 0) continue;
        std::fputs("lorvex-cli: interrupted, stopping the running statement\n", stderr);
        try {
            db::cancelQuery(params_, threadId_);
        } catch (const db::DbError& e) {
            std::fprintf(stderr, "lorvex-cli: cannot stop the statement: %s\n",
                         QString::fromUtf8(e.what()).toLocal8Bit().constData());
        }
    }
}
