#pragma once

#include <QString>
#include <vector>

#include "db/Connection.h"

struct ScriptStep;

// The texts the SQL panel writes about what ran: the Messages log's line for a statement,
// the server's warnings under an outcome, the status line after a cancel. Kept apart from
// the widgets so that every wording is made in one place.
class RunReport {
public:
    // "Warning 1292: Truncated incorrect INTEGER value: 'abc'"
    static QString warningLine(const db::ServerWarning& warning);
    // "2 warnings:" and a line for each warning read; empty without warnings.
    static QString warnings(unsigned count, const std::vector<db::ServerWarning>& read);
    // "Error 1146: Table 'x.y' doesn't exist": the number is what a user searches for.
    static QString error(unsigned code, const QString& text);
    // "Line 3: 12 rows, 0 warnings, 4 ms: SELECT * FROM t"; a failure leads with its error
    // number, and each warning read follows on a line of its own, indented.
    static QString logLine(const ScriptStep& step);
    // "Cancelled: 2 of 5 statements ran." for the status line: how far the run got.
    static QString cancelled(int ran, int total);
};
