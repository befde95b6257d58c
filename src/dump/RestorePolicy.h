#pragma once

#include <QString>
#include <cstddef>
#include <string>
#include <string_view>

#include "sqllex/Rules.h"

namespace dump {

// What the restore does with one statement of a file, decided before anything is sent.
struct StatementPlan {
    enum class Action {
        FollowUse,        // a USE the run follows: what came before is sent, then it selects
        SkipUse,          // a USE the run passes over: the restore stays in its target
        RefuseForeign,    // reaches beyond the database: the run ends before it (`reason`)
        SkipCommented,    // a comment to its end, which the server would take and ignore
        SkipOversized,    // longer than the server's max_allowed_packet: it would drop us
        Defer,            // a trigger or event of the schema file, held back for after the rows
        SendWithDefiner,  // a CREATE naming a DEFINER: alone, retried without it (`bare`)
        SendAlone,        // cannot share a round trip (quotes left open, a comment, a ";")
        Batch,            // may share a round trip, and an INSERT may join the one before
    };
    Action action = Action::Batch;
    QString reason;  // RefuseForeign: how the statement reaches beyond the database
    // An INSERT: where its row list starts (npos when it has none that can join another),
    // and how many rows the list holds.
    std::size_t rows = std::string_view::npos;
    std::size_t rowCount = 0;
    std::string bare;     // SendWithDefiner: the statement without its DEFINER clause
    std::string definer;  // SendWithDefiner: the account the clause names
    // Batch: a SET, which may change how the statements after it read (the SQL mode), so
    // what is gathered goes at once.
    bool endsTrip = false;
};

// The restore's statement policy: which statements to skip, hold back, refuse, send alone or
// join, and which refusals to retry or count. It sends nothing and needs no server: the
// restore engine sends as it says.
class RestorePolicy {
public:
    // The state of the run a decision depends on.
    struct Context {
        bool followUse = false;      // RunOptions::followUse
        bool refuseForeign = false;  // RunOptions::refuseForeign
        bool deferLate = false;      // RunOptions::deferLate
        bool late = false;           // the reader is behind the schema file's kLateSection line
        sqllex::Rules rules;                                // the session's SQL mode
        std::size_t statementLimit = std::size_t(1) << 30;  // the server's max_allowed_packet
        QString database;                                   // where the statements go now
    };

    static StatementPlan plan(std::string_view statement, const Context& context);

    // Whether an INSERT whose row list starts at `rows` adds its rows to the unit that began
    // with `first` (row list at `firstRows`): the same text before the rows.
    static bool joins(std::string_view statement, std::size_t rows, std::string_view first,
                      std::size_t firstRows);
    // Errors after which going on would report statements as restored that are not: the
    // connection is gone, or the server rolled the open transaction back; and a statement
    // somebody stopped (KILL QUERY), which means the restore is to stop.
    static bool endsTheRun(unsigned code);
    // A CREATE refused for its DEFINER (no privilege to name another account, or one that
    // does not exist): the object is still wanted, owned by the restoring account.
    static bool retryWithoutDefiner(unsigned code) { return code == 1227 || code == 1449; }
    // The note of a DEFINER that does not exist here.
    static bool missingDefiner(unsigned code) { return code == 1449; }
    // Warnings that mean a value was stored other than the statement says.
    static bool valueWarning(unsigned code);
    // After a statement the server warned on: whether it counts as having stored values other
    // than the file says. `wordsRead`: the warnings were read, `valueCode` the first value
    // warning among them (0 for none); without the words, a statement that writes rows counts.
    static bool changedValues(bool wordsRead, unsigned valueCode, std::string_view statement);

    // A statement that is a comment to its end: it starts one and has no line break to end it.
    static bool commentOnly(std::string_view statement);
    // The table an "INSERT INTO name ..." names, unquoted; empty when it is not that simple
    // (another form of INSERT, a name with its database).
    static std::string insertTable(std::string_view statement, sqllex::Rules rules = {});
    // Whether a statement ends where its text ends, so that it can share a round trip:
    // quotes closed, no comment, no ";" outside quotes, not a CALL (several results).
    static bool selfContained(std::string_view statement, sqllex::Rules rules);
    // For "INSERT ... VALUES (...)[, (...)]" and nothing after the rows: where the row list
    // starts, so that the rows of INSERTs with the same text before it can be sent as one.
    // std::string_view::npos for any other statement. `rows` gets the number of rows.
    static std::size_t rowListAt(std::string_view statement, sqllex::Rules rules,
                                 std::size_t* rows = nullptr);
};

}  // namespace dump
