#include "dump/RestorePolicy.h"

#include "db/Connection.h"
#include "dump/DumpFormat.h"
#include "dump/ScriptScan.h"
#include "sqllex/Lexer.h"

namespace dump {

namespace {

bool writesRows(std::string_view s) {
    const std::string_view word = firstWord(s);
    return isWord(word, "INSERT") || isWord(word, "REPLACE") || isWord(word, "UPDATE");
}

// Advances `i` onto the closing quote of a quoted part that starts at s[i]; false when it
// is not closed.
bool skipQuoted(std::string_view s, std::size_t& i, sqllex::Rules rules) {
    const std::size_t end = sqllex::quotedEnd(s, i + 1, static_cast<unsigned char>(s[i]), rules);
    if (end == std::string_view::npos) return false;
    i = end - 1;
    return true;
}

bool isQuote(char c) { return c == '\'' || c == '"' || c == '`'; }

}  // namespace

StatementPlan RestorePolicy::plan(std::string_view statement, const Context& context) {
    using Action = StatementPlan::Action;
    StatementPlan plan;
    const std::string_view word = firstWord(statement);
    if (isWord(word, "USE")) {
        plan.action = context.followUse ? Action::FollowUse : Action::SkipUse;
        return plan;
    }
    if (context.refuseForeign) {
        plan.reason = foreignReason(statement, context.database, context.rules);
        if (!plan.reason.isEmpty()) {
            plan.action = Action::RefuseForeign;
            return plan;
        }
    }
    if (commentOnly(statement)) {
        plan.action = Action::SkipCommented;
        return plan;
    }
    // One byte more for the command: the server ends the connection on a packet larger
    // than max_allowed_packet, so such a statement is skipped and the run goes on.
    if (statement.size() + 1 > context.statementLimit) {
        plan.action = Action::SkipOversized;
        return plan;
    }
    if (context.late && context.deferLate) {
        plan.action = Action::Defer;
        return plan;
    }
    if (isWord(word, "INSERT")) {
        plan.rows = rowListAt(statement, context.rules, &plan.rowCount);
    } else if (isWord(word, "CREATE") || statement.starts_with("/*")) {
        plan.bare = withoutDefiner(statement, &plan.definer);
        if (plan.bare.size() != statement.size()) {
            plan.action = Action::SendWithDefiner;
            return plan;
        }
        plan.bare.clear();
    }
    if (!selfContained(statement, context.rules)) {
        plan.action = Action::SendAlone;
        return plan;
    }
    plan.action = Action::Batch;
    plan.endsTrip = isWord(word, "SET");
    return plan;
}

bool RestorePolicy::joins(std::string_view statement, std::size_t rows, std::string_view first,
                          std::size_t firstRows) {
    return rows != std::string_view::npos && firstRows != std::string_view::npos &&
           statement.substr(0, rows) == first.substr(0, firstRows);
}

// Errors after which going on would report statements as restored that are not: the
// connection is gone, or the server rolled the open transaction back; and a statement
// somebody stopped (KILL QUERY), which means the restore is to stop.
bool RestorePolicy::endsTheRun(unsigned code) {
    return db::isConnectionLost(code) || code == 1213 || code == 1317;
}

// Warnings that mean a value was stored other than the statement says: out of range,
// truncated, incorrect for its type or character set, NULL into NOT NULL, too long.
bool RestorePolicy::valueWarning(unsigned code) {
    switch (code) {
    case 1048: case 1262: case 1263: case 1264: case 1265: case 1292: case 1300:
    case 1366: case 1367: case 1406:
        return true;
    default:
        return false;
    }
}

bool RestorePolicy::changedValues(bool wordsRead, unsigned valueCode, std::string_view statement) {
    // Other warnings (the event scheduler is off) say nothing about the data.
    return wordsRead ? valueCode != 0 : writesRows(statement);
}

// A statement that is a comment to its end: it starts one and has no line break to end it.
bool RestorePolicy::commentOnly(std::string_view s) {
    const bool hash = !s.empty() && s.front() == '#';
    const bool dashes = s.size() >= 2 && s.substr(0, 2) == "--" && (s.size() == 2 || isBlankByte(s[2]));
    return (hash || dashes) && s.find_first_of("\r\n") == std::string_view::npos;
}

// The table an "INSERT INTO name ..." names, unquoted; empty when it is not that simple
// (another form of INSERT, a name with its database).
std::string RestorePolicy::insertTable(std::string_view s, sqllex::Rules rules) {
    sqllex::ByteLexer lexer(s, rules);
    const auto next = [&] {
        sqllex::Token t = lexer.next();
        while (t.kind == sqllex::Kind::Blank) t = lexer.next();
        return t;
    };
    const auto text = [&](const sqllex::Token& t) { return s.substr(t.begin, t.size()); };
    if (next().kind != sqllex::Kind::Word) return {};
    const sqllex::Token into = next();
    if (into.kind != sqllex::Kind::Word || !isWord(text(into), "INTO")) return {};
    const sqllex::Token name = next();
    std::string table;
    if (name.kind == sqllex::Kind::Name && !name.open)
        table = sqllex::unquoted(text(name), rules);
    else if (name.kind == sqllex::Kind::Word)
        table = text(name);
    else
        return {};
    const sqllex::Token after = lexer.next();
    if (after.kind == sqllex::Kind::Symbol && s[after.begin] == '.') return {};
    return table;
}

std::size_t RestorePolicy::rowListAt(std::string_view s, sqllex::Rules rules,
                                     std::size_t* rowCount) {
    constexpr std::size_t none = std::string_view::npos;
    if (!isWord(firstWord(s), "INSERT")) return none;
    // "VALUES (" outside quotes and parentheses.
    std::size_t rows = none;
    int depth = 0;
    for (std::size_t i = 0; i < s.size() && rows == none; ++i) {
        const char c = s[i];
        if (isQuote(c)) {
            if (!skipQuoted(s, i, rules)) return none;
        } else if (c == '(') {
            ++depth;
        } else if (c == ')') {
            --depth;
        } else if (depth == 0 && (c == 'V' || c == 'v') && (i == 0 || !isNameByte(s[i - 1])) &&
                   isWord(s.substr(i, 6), "VALUES") &&
                   (i + 6 == s.size() || !isNameByte(s[i + 6]))) {
            std::size_t j = i + 6;
            while (j < s.size() && isBlankByte(s[j])) ++j;
            if (j < s.size() && s[j] == '(') rows = j;
        }
    }
    if (rows == none) return none;
    // Then nothing but parenthesized rows separated by commas: no ON DUPLICATE KEY UPDATE,
    // no RETURNING, nothing a second row list could change the meaning of.
    depth = 0;
    bool expectRow = true;
    std::size_t count = 0;
    for (std::size_t i = rows; i < s.size(); ++i) {
        const char c = s[i];
        if (depth > 0) {
            if (isQuote(c) && !skipQuoted(s, i, rules)) return none;
            if (c == '(') ++depth;
            if (c == ')') --depth;
        } else if (c == '(') {
            if (!expectRow) return none;
            depth = 1;
            expectRow = false;
            ++count;
        } else if (c == ',') {
            if (expectRow) return none;
            expectRow = true;
        } else if (!isBlankByte(c)) {
            return none;
        }
    }
    if (depth != 0 || expectRow) return none;
    if (rowCount) *rowCount = count;
    return rows;
}

bool RestorePolicy::selfContained(std::string_view s, sqllex::Rules rules) {
    if (s.empty()) return false;
    const std::string_view word = firstWord(s);
    if (isWord(word, "CALL") || isWord(word, "EXECUTE")) return false;
    // The statements after it are read in the SQL mode it leaves: it is sent before they are.
    if (sqllex::maySetSqlMode(s)) return false;
    // A byte loop rather than tokens: every row of a restore passes here.
    for (std::size_t i = 0; i < s.size(); ++i) {
        switch (s[i]) {
            case '\'':
            case '"':
            case '`':
                if (!skipQuoted(s, i, rules)) return false;
                break;
            case ';':
            case '#':
                return false;
            case '-':
                if (sqllex::dashCommentAt(s, i)) return false;
                break;
            case '/':
                if (i + 1 < s.size() && s[i + 1] == '*') return false;
                break;
            default:
                break;
        }
    }
    return true;
}

}  // namespace dump
