#pragma once

#include <functional>
#include <string_view>

namespace db {

class Connection;

// How a blocking client-library call of a Connection is run. Without a waiter the call
// blocks its caller; the window gives its connections one that runs the call on a worker
// thread while the user-interface thread keeps painting (ui::ServerWait).
class Waiter {
public:
    enum class Outcome {
        Done,       // the call ran to its end
        Cancelled,  // the call ran to its end after the user asked to cancel it
        Refused,    // not run: another call is still running
    };

    virtual ~Waiter() = default;

    // Runs `call`, which uses `connection` only, to its end. `what` is the statement (or a
    // short description of the work) for the busy feedback. A call made while another one
    // runs is refused: one connection never carries two calls at once. Work that is no
    // statement (`cancellable` false) cannot be cancelled.
    virtual Outcome run(Connection& connection, std::string_view what,
                        const std::function<void()>& call, bool cancellable) = 0;
    // Asks the running call to stop (KILL QUERY); does nothing when none runs.
    virtual void cancel() = 0;
    virtual bool busy() const = 0;
    // Whether the user asked to cancel since the last call began: loops between calls (a
    // dump's rows) stop on it too.
    virtual bool cancelRequested() const = 0;
};

}  // namespace db
