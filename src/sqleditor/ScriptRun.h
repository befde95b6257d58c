#pragma once

#include <QString>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "db/Connection.h"
#include "db/Result.h"

// What one statement of a script did.
struct ScriptStep {
    qint64 line = 0;            // where the statement starts, from 1
    QString statement;          // shortened for the log
    bool ok = false;
    bool cancelled = false;     // the user cancelled it
    QString outcome;            // "12 rows", "3 rows affected", the server's error
    unsigned errorCode = 0;     // the server's error number of a failed statement
    unsigned warnings = 0;
    std::vector<db::ServerWarning> warningList{};  // as SHOW WARNINGS words them
    qint64 ms = 0;
    std::uint64_t rows = 0;     // returned, or affected
    std::uint64_t notRead = 0;  // returned rows past the row limit, counted but not kept
    bool returnedRows = false;
};

// Runs the statements of a script one after another on one connection, as the client does:
// each statement alone, every result it answers with read (a CALL may answer with
// several), its warnings counted and read. Stops at the first error when asked to, and
// always at a cancel or a lost connection.
class ScriptRun {
public:
    struct Totals {
        int statements = 0;      // run, failed and cancelled ones included
        int completed = 0;       // ran to their end, failed ones included
        int failures = 0;
        int inScript = 0;        // statements the script holds
        bool stopped = false;    // ended before the last statement
        bool cancelled = false;  // the user cancelled the run
    };
    // After each statement, with its whole text; `results` holds the result sets it answered with, for the
    // caller to keep or drop. Returning false stops the run.
    using StepFn = std::function<bool(const ScriptStep& step, const std::string& statement,
                                      std::vector<db::Result>& results)>;

    // Splits `script` with the same rules as a restore of a plain SQL file (DELIMITER,
    // quotes, comments) and runs it; each statement is read in the quoting rules of the
    // SQL mode that the statements before it left on the connection.
    // The statements run as one cancellable call of the connection's waiter, off the
    // window's thread; their steps are reported on the caller's thread in slices of some
    // 30 ms while the next statements run. `afterSlice` runs after each slice's steps.
    // A result set keeps at most `rowLimit` rows (0: all of them).
    static Totals run(db::Connection& connection, const std::string& script, bool stopAtError,
                      const StepFn& onStep, const std::function<void()>& afterSlice = {},
                      std::uint64_t rowLimit = 0);
};
