#include "dump/RestoreEngine.h"

#include <QElapsedTimer>
#include <QIODevice>
#include <QStringList>
#include <algorithm>
#include <unordered_map>

#include "db/Connection.h"
#include "dump/DumpFormat.h"
#include "dump/ScriptScan.h"
#include "dump/StatementReader.h"
#include "sqllex/Lexer.h"
#include "sqllex/ScriptReader.h"
#include "ui/Counted.h"

namespace dump {

namespace {

// Often enough that the window, which repaints in the callback, never looks stuck.
constexpr qint64 kProgressIntervalMs = 20;
constexpr std::size_t kStatementShown = 200;

// Errors after which going on would report statements as restored that are not: the
// connection is gone, or the server rolled the open transaction back; and a statement
// somebody stopped (KILL QUERY), which means the restore is to stop.
bool endsTheRun(unsigned code) {
    return db::isConnectionLost(code) || code == 1213 || code == 1317;
}

// A lost connection is no refusal by the server: where it happened, the library's reason,
// and what it means for the database.
QString lostConnectionText(const db::Connection& c, const QString& where,
                           const QString& consequence) {
    return QStringLiteral("The connection to the server was lost %1: %2\n%3")
        .arg(where, c.errorText(), consequence);
}


// Warnings that mean a value was stored other than the statement says: out of range,
// truncated, incorrect for its type or character set, NULL into NOT NULL, too long.
bool valueWarning(unsigned code) {
    switch (code) {
    case 1048: case 1262: case 1263: case 1264: case 1265: case 1292: case 1300:
    case 1366: case 1367: case 1406:
        return true;
    default:
        return false;
    }
}

bool writesRows(std::string_view s) {
    const std::string_view word = firstWord(s);
    return isWord(word, "INSERT") || isWord(word, "REPLACE") || isWord(word, "UPDATE");
}

// A statement that is a comment to its end: it starts one and has no line break to end it.
bool commentOnly(std::string_view s) {
    const bool hash = !s.empty() && s.front() == '#';
    const bool dashes = s.size() >= 2 && s.substr(0, 2) == "--" && (s.size() == 2 || isBlankByte(s[2]));
    return (hash || dashes) && s.find_first_of("\r\n") == std::string_view::npos;
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

// The table an "INSERT INTO name ..." names, unquoted; empty when it is not that simple
// (another form of INSERT, a name with its database).
std::string insertTable(std::string_view s, sqllex::Rules rules) {
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

}  // namespace

std::size_t RestoreEngine::rowListAt(std::string_view s, sqllex::Rules rules,
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

// The state of one run over one input. Statements gather into trips of up to a hundred
// units; a unit is one statement or, for consecutive one-row INSERTs into the same
// transactional table, one INSERT of all their rows. Such a table undoes a refused INSERT
// as a whole, so a refused unit is replayed statement by statement and every statement
// still gets its own outcome.
class RestoreEngine::Run {
public:
    Run(RestoreEngine& engine, RunKind kind, const RestoreProgressFn& progress, qint64 size)
        : engine_(engine), c_(engine.connection_), status_(kind), progress_(progress) {
        state_.kind = kind;
        state_.size = size;
        clock_.start();
    }

    RestoreRun result;
    bool late = false;  // the reader is behind the schema file's kLateSection line

    // One statement as the reader gave it: held back, skipped, or sent; false when the run
    // must end (stopped or fatal).
    bool take(std::string_view statement, qint64 line, qint64 position, const RunOptions& options);
    // A statement larger than the server takes, `length` bytes of which `statement` may hold
    // only the first: counted and passed over, the run going on.
    void oversized(std::string_view statement, std::uint64_t length, qint64 line);
    // The reader's next statement, whole or skipped by the reader as too long.
    template <typename Reader>
    bool takeFrom(const Reader& reader, std::string_view statement, const RunOptions& options) {
        if (!reader.skippedLength())
            return take(statement, reader.line(), reader.position(), options);
        oversized(statement, reader.skippedLength(), reader.line());
        return true;
    }
    // `rows`: where the row list of an INSERT starts (rowListAt), npos for other statements.
    bool add(std::string_view statement, qint64 line, qint64 position, std::size_t rows);
    bool finish(qint64 position) {
        position_ = position;
        return flush();
    }
    // The last report of a run cannot stop it any more.
    void report(bool last) {
        state_.status = status_.text();
        state_.statements = result.statements;
        state_.failures = result.failures;
        state_.position = position_;
        result.status = state_.status;
        if (progress_ && !progress_(state_) && !last) result.stopped = true;
    }

private:
    struct Statement {
        std::size_t offset;  // in texts_
        std::size_t length;
        std::size_t rows;  // where its row list starts, npos when it cannot join a unit
        qint64 line;
    };
    struct Unit {
        std::size_t first;  // index in statements_
        std::size_t count;
    };

    std::string_view textOf(std::size_t i) const {
        return {texts_.data() + statements_[i].offset, statements_[i].length};
    }
    std::size_t unitBytes(const Unit& u) const {
        std::size_t bytes = statements_[u.first].length;
        for (std::size_t k = 1; k < u.count; ++k) {
            const Statement& st = statements_[u.first + k];
            bytes += st.length - st.rows + 1;
        }
        return bytes;
    }
    void appendUnit(std::string& trip, const Unit& u) const {
        trip.append(textOf(u.first));
        for (std::size_t k = 1; k < u.count; ++k) {
            trip += ',';
            trip.append(textOf(u.first + k).substr(statements_[u.first + k].rows));
        }
    }
    bool transactional(const std::string& table, qint64 line);
    void accepted(std::string_view statement, qint64 line) {
        status_.note(statement, true);
        ++result.statements;
        ++uncommitted_;
        lastAcceptedLine_ = line;
    }
    void refused(std::string_view statement, qint64 line);
    // After an accepted statement: counts it when the server warned, and lists the first
    // ones with the server's words. `last`: nothing was sent after it, so SHOW WARNINGS
    // still speaks of it.
    void checkWarnings(std::string_view statement, qint64 line, bool last);
    void lost(qint64 line);
    bool sendAlone(std::string_view statement, qint64 line);
    // A USE the run follows: what came before is sent, then the database is selected.
    bool use(std::string_view statement, qint64 line, qint64 position);
    // A CREATE with a DEFINER clause: sent alone, again without the clause when the server
    // refuses the account, and checked for an account that does not exist.
    bool sendWithDefiner(std::string_view statement, const std::string& bare,
                         const std::string& definer, qint64 line);
    bool sendNoted(std::string_view statement, const std::string& bare,
                   const std::string& definer, qint64 line);
    void note(std::vector<DefinerNote>& notes, qint64 line, const std::string& definer,
              const QString& reason);
    // `line`: of the statement that needs the switch, for the report of a lost connection.
    bool setMulti(bool on, qint64 line);
    bool flush();
    bool afterStatements();

    RestoreEngine& engine_;
    db::Connection& c_;
    RestoreStatus status_;
    const RestoreProgressFn& progress_;
    RestoreProgress state_;
    QElapsedTimer clock_;
    qint64 lastReport_ = -kProgressIntervalMs;  // the first trip reports at once
    qint64 position_ = 0;
    std::string texts_;
    std::vector<Statement> statements_;
    std::vector<Unit> units_;
    std::size_t pendingBytes_ = 0;
    bool lastJoinable_ = false;  // the last unit may take more rows
    // Trips of one unit still to come, so that the server's words on a warning can be read.
    std::size_t aloneTrips_ = 0;
    std::unordered_map<std::string, bool> transactional_;
    std::uint64_t uncommitted_ = 0;  // statements accepted since the last COMMIT
    qint64 lastAcceptedLine_ = 0;
    qint64 committedLine_ = 0;  // the line of the last statement the last COMMIT covered
};

bool RestoreEngine::Run::take(std::string_view statement, qint64 line, qint64 position,
                              const RunOptions& options) {
    const std::string_view word = firstWord(statement);
    const sqllex::Rules rules = c_.sqlRules();
    if (isWord(word, "USE")) {
        if (options.followUse) return use(statement, line, position);
        // The restore stays in its target database, whatever the file says.
        ++result.usesSkipped;
        return true;
    }
    if (options.refuseForeign) {
        const QString reason = foreignReason(statement, engine_.current_, rules);
        if (!reason.isEmpty()) {
            // What came before it still runs; it and what follows do not.
            finish(position);
            if (result.fatal.isEmpty())
                result.fatal = QStringLiteral("The restore stopped before line %1: the "
                                              "statement there %2.")
                                   .arg(line)
                                   .arg(reason);
            return false;
        }
    }
    if (commentOnly(statement)) {
        if (result.commented.size() < kFailuresListed) {
            const std::string_view shown = statement.substr(0, kStatementShown);
            result.commented.push_back(
                {line, QByteArray(shown.data(), qsizetype(shown.size())), 0, {}});
        }
        ++result.commentedCount;
        return true;
    }
    // One byte more for the command: the server ends the connection on a packet larger
    // than max_allowed_packet, so such a statement is skipped and the run goes on.
    if (statement.size() + 1 > engine_.statementLimit_) {
        oversized(statement, statement.size(), line);
        return true;
    }
    if (late && options.deferLate) {
        result.late.push_back({line, std::string(statement)});
        return true;
    }

    // What the file carries, counted whether the server takes it or not.
    std::size_t rows = std::string_view::npos;
    if (isWord(word, "INSERT")) {
        std::size_t count = 0;
        rows = rowListAt(statement, rules, &count);
        const std::string_view prefix =
            rows == std::string_view::npos ? std::string_view() : statement.substr(0, rows);
        RestoreTally& tally = *engine_.tally_;
        tally.inserted(prefix, tally.continues(prefix) ? std::string() : insertTable(statement, rules),
                       rows == std::string_view::npos ? RestoreTally::kUncountable : count);
    } else if (isWord(word, "CREATE") || statement.starts_with("/*")) {
        engine_.tally_->created(createdObject(statement, rules));
        std::string definer;
        const std::string bare = withoutDefiner(statement, &definer);
        if (bare.size() != statement.size()) {
            position_ = position;
            return flush() && sendWithDefiner(statement, bare, definer, line) && afterStatements();
        }
    } else if (isWord(word, "DROP")) {
        engine_.tally_->dropped(replacedObjects(statement, engine_.current_, rules));
    }
    return add(statement, line, position, rows);
}

bool RestoreEngine::Run::use(std::string_view statement, qint64 line, qint64 position) {
    // What came before goes into the database it was meant for.
    if (!finish(position)) return false;
    const QString database = usedDatabase(statement, c_.sqlRules());
    if (database.isEmpty()) {
        result.fatal = QStringLiteral("The restore stopped at line %1: the USE statement there "
                                      "names no database.")
                           .arg(line);
        return false;
    }
    if (!engine_.select(database)) {
        refused(statement, line);
        // Going on would put the rest into the database before: stop instead.
        if (result.fatal.isEmpty() && !result.stopped)
            result.fatal = QStringLiteral("The restore stopped at line %1: the database %2 "
                                          "cannot be selected: %3")
                               .arg(line)
                               .arg(database, c_.errorText());
        return false;
    }
    transactional_.clear();
    accepted(statement, line);
    if (std::find(result.databases.begin(), result.databases.end(), database) ==
        result.databases.end())
        result.databases.push_back(database);
    return afterStatements();
}

void RestoreEngine::Run::oversized(std::string_view statement, std::uint64_t length, qint64 line) {
    // Its rows are in the file: the check afterwards counts them as skipped (uncountable when
    // the reader kept too little of it to count them).
    if (isWord(firstWord(statement), "INSERT")) {
        std::size_t count = 0;
        const bool listed =
            rowListAt(statement, c_.sqlRules(), &count) != std::string_view::npos;
        engine_.tally_->skipped(insertTable(statement, c_.sqlRules()),
                                listed ? count : RestoreTally::kUncountable);
    }
    if (result.oversized.size() < kFailuresListed) result.oversized.push_back({line, length});
    ++result.oversizedCount;
}

bool RestoreEngine::Run::sendWithDefiner(std::string_view statement, const std::string& bare,
                                         const std::string& definer, qint64 line) {
    if (!setMulti(false, line)) return false;
    // An account that does not exist comes as a note: notes on for this statement alone.
    if (!c_.query("SET sql_notes = 1")) {
        if (c_.connectionLost()) lost(line);
        return false;
    }
    const bool going = sendNoted(statement, bare, definer, line);
    if (!engine_.lost_ && !c_.query("SET sql_notes = 0") && c_.connectionLost()) lost(line);
    return going && result.fatal.isEmpty();
}

bool RestoreEngine::Run::sendNoted(std::string_view statement, const std::string& bare,
                                   const std::string& definer, qint64 line) {
    if (c_.query(statement)) {
        const bool warned = c_.warningCount() > 0;
        c_.discardResults();
        accepted(statement, line);
        bool others = false;
        if (warned) {
            for (const db::ServerWarning& w : c_.warnings().value_or(std::vector<db::ServerWarning>{})) {
                if (w.code == 1449)
                    note(result.missing, line, definer, w.message);
                else if (!others && valueWarning(w.code)) {
                    others = true;
                    ++result.warnedCount;
                    if (result.warned.size() < kFailuresListed) {
                        const std::string_view shown = statement.substr(0, kStatementShown);
                        result.warned.push_back(
                            {line, QByteArray(shown.data(), qsizetype(shown.size())), w.code, w.message});
                    }
                }
            }
        }
        return result.fatal.isEmpty() && !result.stopped;
    }
    // No privilege to name another account, or an account that does not exist: the object
    // is still wanted, owned by the restoring account.
    const unsigned code = c_.errorNumber();
    if (code == 1227 || code == 1449) {
        const QString reason = c_.errorText();
        if (c_.query(bare)) {
            c_.discardResults();
            accepted(statement, line);
            ++result.definersLeftOut;
            note(result.leftOut, line, definer, reason);
            return true;
        }
    }
    refused(statement, line);
    return result.fatal.isEmpty() && !result.stopped;
}

void RestoreEngine::Run::note(std::vector<DefinerNote>& notes, qint64 line,
                              const std::string& definer, const QString& reason) {
    if (&notes == &result.missing) ++result.definersMissing;
    if (notes.size() < kFailuresListed) notes.push_back({line, QString::fromStdString(definer), reason});
}

bool RestoreEngine::Run::add(std::string_view statement, qint64 line, qint64 position,
                             std::size_t rows) {
    position_ = position;
    if (!selfContained(statement, c_.sqlRules())) {
        transactional_.clear();
        return flush() && sendAlone(statement, line) && afterStatements();
    }
    if (rows == std::string_view::npos) transactional_.clear();  // it may change a table
    // A long statement travels alone rather than push a trip past the packet limit.
    if (!units_.empty() && pendingBytes_ + statement.size() >= engine_.tripBytes_ && !flush())
        return false;

    const Unit* last = units_.empty() ? nullptr : &units_.back();
    const bool joins =
        rows != std::string_view::npos && last && lastJoinable_ &&
        statement.substr(0, rows) == textOf(last->first).substr(0, statements_[last->first].rows);
    if (!joins && rows != std::string_view::npos) {
        const std::string table = insertTable(statement, c_.sqlRules());
        auto known = transactional_.find(table);
        if (known == transactional_.end()) {
            // Asked once per table, after what came before has run.
            if (!flush()) return false;
            known =
                transactional_.emplace(table, !table.empty() && transactional(table, line)).first;
            if (!result.fatal.isEmpty()) return false;
        }
        if (!known->second) rows = std::string_view::npos;
    }
    if (!joins && units_.size() >= kStatementsPerTrip && !flush()) return false;

    statements_.push_back({texts_.size(), statement.size(), rows, line});
    texts_.append(statement);
    pendingBytes_ += statement.size();
    if (joins) {
        ++units_.back().count;
    } else {
        units_.push_back({statements_.size() - 1, 1});
        lastJoinable_ = rows != std::string_view::npos;
    }
    // A SET may change how the following statements read (the SQL mode).
    if (isWord(firstWord(statement), "SET")) return flush();
    return true;
}

bool RestoreEngine::Run::transactional(const std::string& table, qint64 line) {
    const std::string query =
        "SELECT e.TRANSACTIONS FROM information_schema.TABLES t JOIN information_schema.ENGINES "
        "e ON e.ENGINE = t.ENGINE WHERE t.TABLE_SCHEMA = DATABASE() AND t.TABLE_NAME = " +
        c_.quoteValue(table);
    if (!setMulti(false, line)) return false;
    if (!c_.query(query)) {
        if (c_.connectionLost()) lost(line);
        return false;
    }
    db::Result r = c_.storeResult();
    return r && r.rowCount() == 1 && r.next() && r.text(0) == QLatin1String("YES");
}

void RestoreEngine::Run::checkWarnings(std::string_view statement, qint64 line, bool last) {
    const unsigned count = c_.warningCount();
    if (count == 0) return;
    const std::string_view shown = statement.substr(0, kStatementShown);
    RestoreFailure w{line, QByteArray(shown.data(), qsizetype(shown.size())), 0, {}};
    bool read = false;
    if (last) {
        c_.discardResults();
        if (const auto warnings = c_.warnings()) {
            read = true;
            for (const db::ServerWarning& each : *warnings) {
                if (!valueWarning(each.code)) continue;
                w.code = each.code;
                w.message = each.message;
                break;
            }
        }
    }
    // Other warnings (the event scheduler is off) say nothing about the data; without the
    // server's words, a statement that writes rows is taken to have changed values.
    if (read ? w.code == 0 : !writesRows(statement)) return;
    ++result.warnedCount;
    if (result.warned.size() >= kFailuresListed) return;
    if (w.message.isEmpty())
        w.message = QStringLiteral("%1 warnings (the statement shared a round trip with others; "
                                   "their words are gone)")
                        .arg(count);
    result.warned.push_back(std::move(w));
}

void RestoreEngine::Run::refused(std::string_view statement, qint64 line) {
    if (c_.connectionLost()) {
        lost(line);
        return;
    }
    // The user's Cancel: the statement did not run, and the restore ends as stopped.
    if (c_.cancelledByUser()) {
        result.stopped = true;
        return;
    }
    status_.note(statement, false);
    ++result.statements;
    ++result.failures;
    const unsigned code = c_.errorNumber();
    if (result.firstFailures.size() < kFailuresListed) {
        const std::string_view shown = statement.substr(0, kStatementShown);
        result.firstFailures.push_back(
            {line, QByteArray(shown.data(), qsizetype(shown.size())), code, c_.errorText()});
    }
    if (endsTheRun(code) && result.fatal.isEmpty())
        result.fatal =
            QStringLiteral("The restore stopped at line %1: %2").arg(line).arg(c_.errorText());
}

// The statement at `line` did not run, and the server rolled back what the session had not
// committed: the count drops to what was kept (for tables without transactions it may claim
// fewer than were kept, never more), and nothing more can run on this connection.
void RestoreEngine::Run::lost(qint64 line) {
    engine_.lost_ = true;
    result.statements -= uncommitted_;
    uncommitted_ = 0;
    if (!result.fatal.isEmpty()) return;
    const QString missing =
        committedLine_ > 0
            ? QStringLiteral("What ran after line %1 was not committed and may be missing; "
                             "run the restore again once the server is back.")
                  .arg(committedLine_)
            : QStringLiteral("What ran was not committed and may be missing; run the restore "
                             "again once the server is back.");
    result.fatal = lostConnectionText(c_, QStringLiteral("at line %1").arg(line), missing);
}

bool RestoreEngine::Run::setMulti(bool on, qint64 line) {
    if (c_.multiStatements() == on) return true;
    if (c_.setMultiStatements(on)) return true;
    if (c_.connectionLost()) {
        lost(line);
        return false;
    }
    result.fatal = QStringLiteral("The server refused to switch multi-statement support: %1")
                       .arg(c_.errorText());
    return false;
}

bool RestoreEngine::Run::sendAlone(std::string_view statement, qint64 line) {
    if (!setMulti(false, line)) return false;
    if (c_.query(statement)) {
        c_.discardResults();
        accepted(statement, line);
        checkWarnings(statement, line, true);
    } else {
        refused(statement, line);
    }
    return result.fatal.isEmpty() && !result.stopped;
}

bool RestoreEngine::Run::flush() {
    if (units_.empty()) return result.fatal.isEmpty() && !result.stopped;
    std::vector<Unit> work = std::move(units_);
    units_.clear();
    std::string trip;
    std::size_t at = 0;
    while (at < work.size() && result.fatal.isEmpty() && !result.stopped) {
        std::size_t end = at, bytes = 0;
        std::size_t perTrip = kStatementsPerTrip;
        if (aloneTrips_ > 0) {
            perTrip = 1;
            --aloneTrips_;
        }
        while (end < work.size() && end - at < perTrip &&
               (end == at || bytes + unitBytes(work[end]) < engine_.tripBytes_))
            bytes += unitBytes(work[end++]) + 1;
        trip.clear();
        for (std::size_t u = at; u < end; ++u) {
            if (u > at) trip += ';';
            appendUnit(trip, work[u]);
        }
        if (!setMulti(end - at > 1, statements_[work[at].first].line)) break;
        bool ok = c_.query(trip);
        std::size_t i = at;
        for (;;) {
            if (!ok) {
                if (c_.connectionLost()) {
                    lost(statements_[work[i].first].line);
                    break;
                }
                if (c_.cancelledByUser()) {
                    result.stopped = true;
                    break;
                }
                // The server runs nothing after a refused statement: the rest goes again.
                const Unit failed = work[i];
                if (failed.count > 1) {
                    std::vector<Unit> singles;
                    for (std::size_t k = 0; k < failed.count; ++k)
                        singles.push_back({failed.first + k, 1});
                    work.erase(work.begin() + std::ptrdiff_t(i));
                    work.insert(work.begin() + std::ptrdiff_t(i), singles.begin(), singles.end());
                } else {
                    refused(textOf(failed.first), statements_[failed.first].line);
                    ++i;
                }
                break;
            }
            c_.storeResult();  // freed at once
            if (c_.cancelledByUser()) {
                // Stopped while its rows came: the server goes on with the rest of the trip,
                // which is read and counted as it comes; nothing after it is sent.
                result.stopped = true;
            } else {
                for (std::size_t k = 0; k < work[i].count; ++k)
                    accepted(textOf(work[i].first + k), statements_[work[i].first + k].line);
                const Unit& u = work[i];
                if (c_.warningCount() > 0) {
                    // The server's words can be read only while nothing else was sent.
                    checkWarnings(textOf(u.first), statements_[u.first].line, i + 1 == end);
                    // Warnings come in runs (one table's rows): the next units travel alone
                    // for a while, so that the list gets the server's words.
                    if (i + 1 < end && result.warned.size() < kFailuresListed)
                        aloneTrips_ = kStatementsPerTrip;
                }
            }
            if (++i == end) {
                c_.discardResults();
                break;
            }
            const int next = c_.nextResult();
            if (next < 0) {
                // Fewer outcomes than statements: they cannot be told apart any more.
                result.fatal = QStringLiteral(
                                   "The server answered fewer statements than were "
                                   "sent, before line %1.")
                                   .arg(statements_[work[end - 1].first].line);
                break;
            }
            ok = next == 0;
        }
        at = i;
    }
    statements_.clear();
    texts_.clear();
    pendingBytes_ = 0;
    lastJoinable_ = false;
    return result.fatal.isEmpty() && afterStatements();
}

bool RestoreEngine::Run::afterStatements() {
    if (uncommitted_ >= kStatementsPerCommit) {
        if (!c_.query("COMMIT")) {
            if (c_.connectionLost())
                lost(lastAcceptedLine_);
            else
                result.fatal =
                    QStringLiteral("The server refused to commit: %1").arg(c_.errorText());
            return false;
        }
        uncommitted_ = 0;
        committedLine_ = lastAcceptedLine_;
    }
    if (clock_.elapsed() >= lastReport_ + kProgressIntervalMs) {
        lastReport_ = clock_.elapsed();
        report(false);
    }
    return !result.stopped;
}

RestoreEngine::RestoreEngine(db::Connection& connection, QString database)
    : connection_(connection), database_(std::move(database)), current_(database_),
      tally_(&tallies_[database_]) {}

bool RestoreEngine::select(const QString& database) {
    if (!connection_.selectDb(database)) return false;
    current_ = database;
    tally_ = &tallies_[database];
    return true;
}

RestoreEngine::~RestoreEngine() {
    if (begun_) finish(nullptr);
}

bool RestoreEngine::begin(QString* error) {
    if (begun_) return true;
    db::Connection& c = connection_;
    const char* const read =
        "SELECT @@session.foreign_key_checks, @@session.unique_checks, @@session.sql_mode, "
        "@@session.time_zone, @@session.character_set_client, @@session.character_set_results, "
        "@@session.collation_connection, @@session.autocommit, @@max_allowed_packet, "
        "@@session.sql_notes";
    db::Result saved;
    if (c.query(read)) saved = c.storeResult();
    if (!saved || !saved.next()) {
        if (error)
            *error = c.connectionLost()
                         ? lostConnectionText(c, QStringLiteral("before the restore began"),
                                              QStringLiteral("Nothing was restored; connect "
                                                             "again and run the restore."))
                         : QStringLiteral("Cannot read the session settings: %1")
                               .arg(c.errorText());
        return false;
    }
    auto literal = [&](unsigned i) {
        const db::Value v = saved.value(i);
        return v.isNull() ? std::string("NULL") : c.quoteValue(v.view());
    };
    restoreSettings_ =
        "SET foreign_key_checks = " + std::string(saved.value(0).view()) +
        ", unique_checks = " + std::string(saved.value(1).view()) + ", sql_mode = " + literal(2) +
        ", time_zone = " + literal(3) + ", character_set_client = " + literal(4) +
        ", character_set_results = " + literal(5) + ", collation_connection = " + literal(6) +
        ", autocommit = " + std::string(saved.value(7).view()) +
        ", sql_notes = " + std::string(saved.value(9).view());
    const std::uint64_t packet = saved.text(8).toULongLong();
    if (packet > 8192) tripBytes_ = std::min<std::size_t>(tripBytes_, packet / 2);
    if (packet > 0) statementLimit_ = std::size_t(packet);
    if (packetCap_ > 0) statementLimit_ = std::min(statementLimit_, packetCap_);
    multiBefore_ = c.multiStatements();
    // Notes ("table does not exist" of DROP TABLE IF EXISTS) are no damage; warnings are
    // counted, so only warnings may raise the count.
    if (!c.query("SET foreign_key_checks = 0, autocommit = 0, sql_notes = 0")) {
        if (error) *error = QStringLiteral("Cannot prepare the session: %1").arg(c.errorText());
        return false;
    }
    begun_ = true;
    return true;
}

bool RestoreEngine::finish(QString* error) {
    if (!begun_) return true;
    begun_ = false;
    // The run has said what the lost connection cost; the session and its settings are gone.
    if (lost_) {
        if (error) error->clear();
        return true;
    }
    db::Connection& c = connection_;
    QString problem;
    if (!c.query("COMMIT"))
        problem = c.connectionLost()
                      ? lostConnectionText(c, QStringLiteral("before the last commit"),
                                           QStringLiteral("The last statements may be missing; "
                                                          "run the restore again."))
                      : QStringLiteral("The server refused to commit: %1").arg(c.errorText());
    if (!c.query(restoreSettings_) && problem.isEmpty())
        problem = QStringLiteral("Cannot restore the session settings: %1").arg(c.errorText());
    // The file's USE statements moved the session: back to the database it was in.
    if (current_ != database_ && !select(database_) && problem.isEmpty())
        problem = QStringLiteral("Cannot select the database %1 again: %2").arg(database_, c.errorText());
    if (c.multiStatements() != multiBefore_) c.setMultiStatements(multiBefore_);
    if (error) *error = problem;
    return problem.isEmpty();
}

bool RestoreEngine::selectTarget(QString* fatal) {
    if (!begin(fatal)) return false;
    if (select(database_)) return true;
    if (connection_.connectionLost()) {
        lost_ = true;
        *fatal = lostConnectionText(
            connection_, QStringLiteral("before line 1"),
            QStringLiteral("Nothing of this file was restored; run the restore again once "
                           "the server is back."));
    } else {
        *fatal = QStringLiteral("The database %1 cannot be used: %2\nNothing was restored.")
                     .arg(database_, connection_.errorText());
    }
    return false;
}

RestoreRun RestoreEngine::run(QIODevice& input, RunKind kind, const RestoreProgressFn& progress,
                              const RunOptions& options) {
    RestoreRun failed;
    if (!selectTarget(&failed.fatal)) return failed;
    Run run(*this, kind, progress, input.isSequential() ? 0 : input.size());
    RestoreRun& result = run.result;
    result.packetLimit = statementLimit_;
    std::string_view statement;
    bool going = true;
    // The readers pass over what the server could not take without holding it: the
    // packet less its command byte.
    const std::size_t limit = std::max<std::size_t>(statementLimit_, 2) - 1;
    if (options.format == ScriptFormat::Plain) {
        sqllex::SqlScriptReader reader(input, limit, connection_.sqlRules());
        // Also while the reader looks for the end of a statement (a file without one).
        reader.stopWhen([&run] {
            run.report(false);
            return run.result.stopped;
        });
        // Each statement is read in the SQL mode the statements sent before it left (one
        // that may change it is sent before the next is read).
        while (going && reader.next(statement)) {
            going = run.takeFrom(reader, statement, options);
            reader.setRules(connection_.sqlRules());
        }
        if (going) going = run.finish(reader.position());
        if (reader.failed() && result.fatal.isEmpty()) result.fatal = reader.errorString();
        if (reader.stopped()) result.stopped = true;
    } else {
        StatementReader reader(input, limit, options.pastCtrlZ);
        reader.stopWhen([&run] {
            run.report(false);
            return run.result.stopped;
        });
        reader.onComment([&run, this](std::string_view line) {
            std::string table;
            std::uint64_t rows = 0;
            if (isLateSectionLine(line))
                run.late = true;
            else if (parseRowCountLine(line, table, rows))
                tally_->dumped(table, rows);
        });
        while (going && reader.next(statement)) going = run.takeFrom(reader, statement, options);
        if (going) going = run.finish(reader.position());
        if (reader.failed() && result.fatal.isEmpty()) result.fatal = reader.errorString();
        if (reader.stopped()) result.stopped = true;
        if (going && !result.stopped && !reader.leftover().empty())
            result.leftoverLine = reader.leftoverLine();
        if (kind == RunKind::Data && (result.leftoverLine > 0 || reader.failed())) tally_->cutShort();
        if (options.pastCtrlZ) result.ctrlZLine = reader.ctrlZLine();
    }
    run.report(true);
    return std::move(result);
}

RestoreRun RestoreEngine::runLate(const std::vector<LateStatement>& statements,
                                  const RestoreProgressFn& progress, const RunOptions& options) {
    RestoreRun failed;
    if (!selectTarget(&failed.fatal)) return failed;
    Run run(*this, RunKind::Script, progress, 0);
    run.result.packetLimit = statementLimit_;
    RunOptions now = options;
    now.deferLate = false;
    bool going = true;
    for (std::size_t i = 0; going && i < statements.size(); ++i)
        going = run.take(statements[i].text, statements[i].line, 0, now);
    if (going) run.finish(0);
    run.report(true);
    return std::move(run.result);
}

QString runningStatus(const QString& prefix, const RestoreProgress& p) {
    QString text = prefix + p.status;
    if (p.failures) text += QStringLiteral("  - %1 failed").arg(p.failures);
    return text;
}

QString timeLeft(qint64 elapsedMs, qint64 done, qint64 size) {
    if (done <= 0 || size <= done || elapsedMs < 1000) return {};
    const qint64 seconds = elapsedMs * (size - done) / done / 1000;
    if (seconds < 60) return QStringLiteral("about %1 s left").arg(std::max<qint64>(seconds, 1));
    if (seconds < 3600) return QStringLiteral("about %1 min left").arg((seconds + 30) / 60);
    return QStringLiteral("about %1 h %2 min left").arg(seconds / 3600).arg(seconds % 3600 / 60);
}

QString failureReport(const RestoreRun& run, const QString& fileName) {
    QStringList lines;
    // The first statements of a kind with the server's words, and how many more there were.
    auto listStatements = [&lines](const std::vector<RestoreFailure>& first, std::uint64_t count) {
        for (const RestoreFailure& f : first) {
            lines << (f.code ? QStringLiteral("line %1: %2 (%3)").arg(f.line).arg(f.message).arg(f.code)
                             : QStringLiteral("line %1: %2").arg(f.line).arg(f.message));
            lines << QStringLiteral("    ") + QString::fromUtf8(f.statement).simplified();
        }
        if (count > first.size()) lines << QStringLiteral("and %1 more.").arg(count - first.size());
    };
    if (run.failures) {
        lines << QStringLiteral("%1: %2 of %3 statements failed:")
                     .arg(fileName)
                     .arg(run.failures)
                     .arg(run.statements);
        listStatements(run.firstFailures, run.failures);
    }
    if (run.warnedCount) {
        lines << QStringLiteral("%1: the server warned on %2; their values may be "
                                "stored other than the file says (an incorrect or truncated "
                                "value):")
                     .arg(fileName, ui::counted(run.warnedCount, "statement"));
        listStatements(run.warned, run.warnedCount);
    }
    if (run.oversizedCount) {
        lines << QStringLiteral("%1: %2 statements are larger than the server accepts "
                                "(max_allowed_packet = %3 bytes) and were skipped:")
                     .arg(fileName)
                     .arg(run.oversizedCount)
                     .arg(run.packetLimit);
        std::uint64_t largest = 0;
        for (const OversizedStatement& o : run.oversized) {
            lines << QStringLiteral("line %1: %2 bytes").arg(o.line).arg(o.bytes);
            largest = std::max(largest, o.bytes);
        }
        // The server's limit is a multiple of 1 KiB up to 1 GiB.
        const std::uint64_t needed = std::min<std::uint64_t>(((largest + 1024) / 1024 + 1) * 1024,
                                                             std::uint64_t(1) << 30);
        lines << QStringLiteral("Raise max_allowed_packet on the server to at least %1 (for "
                                "example SET GLOBAL max_allowed_packet = %1, then connect "
                                "again) and restore again.")
                     .arg(needed);
    }
    if (run.commentedCount) {
        lines << QStringLiteral("%1: %2 statements began with a comment and did nothing: a line "
                                "that is no comment line of a dump (a note?) joined the statement "
                                "after it. They were not run:")
                     .arg(fileName)
                     .arg(run.commentedCount);
        for (const RestoreFailure& f : run.commented)
            lines << QStringLiteral("line %1: %2").arg(f.line).arg(QString::fromUtf8(f.statement));
    }
    auto definers = [&](const std::vector<DefinerNote>& notes) {
        for (const DefinerNote& n : notes)
            lines << QStringLiteral("line %1: DEFINER=%2: %3").arg(n.line).arg(n.definer, n.reason);
    };
    if (run.definersLeftOut) {
        lines << QStringLiteral("%1: the server refused the DEFINER of %2 objects; they were "
                                "created without it and belong to the restoring account now:")
                     .arg(fileName)
                     .arg(run.definersLeftOut);
        definers(run.leftOut);
    }
    if (run.definersMissing) {
        lines << QStringLiteral("%1: the DEFINER of %2 objects does not exist on this server; "
                                "they were created as the file says and work once that account "
                                "exists (or dump again with the DEFINER left out):")
                     .arg(fileName)
                     .arg(run.definersMissing);
        definers(run.missing);
    }
    if (run.usesSkipped)
        lines << QStringLiteral("%1: %2 USE statements were not run: the restore stays in its "
                                "target database.")
                     .arg(fileName)
                     .arg(run.usesSkipped);
    if (run.ctrlZLine)
        lines << QStringLiteral("%1: line %2 holds a Ctrl-Z, the end-of-file mark of old tools; "
                                "the restore went on after it.")
                     .arg(fileName)
                     .arg(run.ctrlZLine);
    if (run.leftoverLine)
        lines << QStringLiteral(
                     "%1: the text from line %2 on has no end marker \"%3\" and was "
                     "not executed.")
                     .arg(fileName)
                     .arg(run.leftoverLine)
                     .arg(QLatin1String(kMarker.data(), qsizetype(kMarker.size())));
    return lines.join(u'\n');
}

bool RestoreEngine::selfContained(std::string_view s, sqllex::Rules rules) {
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
