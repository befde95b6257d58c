#pragma once

#include <thread>

#include "db/Connection.h"

// While it lives, SIGINT and SIGTERM stop the statement that one session runs (KILL QUERY
// over a connection of its own) instead of ending the program in the middle of it, so a
// dump or restore ends as a stopped one: the files of a dump stay as they were, a restore
// says how far it got. A second signal ends the program at once. One at a time.
class InterruptWatch {
public:
    // `threadId` 0: no session yet; a signal is only noted.
    InterruptWatch(const db::ConnectParams& params, unsigned long threadId);
    ~InterruptWatch();
    InterruptWatch(const InterruptWatch&) = delete;
    InterruptWatch& operator=(const InterruptWatch&) = delete;

    // A signal came.
    static bool interrupted();

private:
    void watch();

    db::ConnectParams params_;
    unsigned long threadId_;
    std::thread thread_;
};
