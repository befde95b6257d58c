#include "sqllex/Rules.h"

#include "files/SqlBytes.h"
#include "sqllex/Lexer.h"

namespace sqllex {

namespace {

using sqlbytes::isWord;

}  // namespace

Rules rulesOfSqlMode(std::string_view sqlMode) {
    Rules rules;
    while (!sqlMode.empty()) {
        const std::size_t comma = sqlMode.find(',');
        const std::string_view mode = sqlMode.substr(0, comma);
        if (isWord(mode, "NO_BACKSLASH_ESCAPES")) rules.backslashEscapes = false;
        if (isWord(mode, "ANSI_QUOTES")) rules.ansiQuotes = true;
        if (comma == std::string_view::npos) break;
        sqlMode.remove_prefix(comma + 1);
    }
    return rules;
}

bool maySetSqlMode(std::string_view statement) {
    // The words as the server reads them: "sql_mode" inside a string is no setting, but
    // "@@session.sql_mode" and "SQL_MODE" inside "/*!40101 ... */" are.
    ByteLexer lexer(statement);
    bool first = true;
    for (Token t = lexer.next(); t.kind != Kind::End; t = lexer.next()) {
        if (t.kind == Kind::Blank || t.kind == Kind::Comment || t.kind == Kind::CodeOpen) continue;
        const std::string_view word = statement.substr(t.begin, t.size());
        if (first) {
            if (t.kind != Kind::Word || !isWord(word, "SET")) return false;
            first = false;
        } else if (t.kind == Kind::Word && isWord(word, "SQL_MODE")) {
            return true;
        }
    }
    return false;
}

}  // namespace sqllex
