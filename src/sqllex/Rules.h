#pragma once

#include <string_view>

// How the server reads quotes in the session's SQL mode. Every reader of SQL text in the
// program takes these as a value, so the editor, Run script and the restore agree with the
// server on where a string ends.
namespace sqllex {

struct Rules {
    // Off under NO_BACKSLASH_ESCAPES: a backslash is then an ordinary character in '...'
    // and "...".
    bool backslashEscapes = true;
    // ANSI_QUOTES: "..." is a name, like `...`, and a backslash never escapes inside it.
    bool ansiQuotes = false;

    friend bool operator==(const Rules&, const Rules&) = default;
};

// The rules of a value of @@sql_mode ("ANSI_QUOTES,NO_BACKSLASH_ESCAPES"); the combined
// modes ANSI, DB2, ORACLE, ... that imply ANSI_QUOTES are expanded by the server itself.
Rules rulesOfSqlMode(std::string_view sqlMode);

// A statement that may change the session's SQL mode (SET ... sql_mode, also inside a
// conditional comment), after which the rules must be read again.
bool maySetSqlMode(std::string_view statement);

}  // namespace sqllex
