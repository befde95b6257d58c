#include "dump/RestoreEngine.h"

#include <QElapsedTimer>
#include <QIODevice>
#include <QStringList>
#include <algorithm>
#include <unordered_map>

#include "db/Connection.h"
#include "dump/DumpFormat.h"
#include "dump/RestorePolicy.h"
#include "dump/ScriptScan.h"
#include "dump/StatementReader.h"
#include "sqllex/Lexer.h"
#include "sqllex/ScriptReader.h"

namespace dump {

namespace {

// Often enough that the window, which repaints in the callback, never looks stuck.
constexpr qint64 kProgressIntervalMs = 20;
constexpr std::size_t kStatementShown = 200;

// A lost connection is no refusal by the server: where it happened, the library's reason,
// and what it means for the database.
QString lostConnectionText(const db::Connection& c, const QString& where,
                           const QString& consequence) {
    return QStringLiteral("The connection to the server was lost %1: %2\n%3")
        .arg(where, c.errorText(), consequence);
}

}  // namespace

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
    // A statement the policy sends (alone or in a trip).
    bool add(std::string_view statement, qint64 line, qint64 position, const StatementPlan& plan);
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
    using Action = StatementPlan::Action;
    RestorePolicy::Context context;
    context.followUse = options.followUse;
    context.refuseForeign = options.refuseForeign;
    context.deferLate = options.deferLate;
    context.late = late;
    context.rules = c_.sqlRules();
    context.statementLimit = engine_.statementLimit_;
    context.database = engine_.current_;
    const StatementPlan plan = RestorePolicy::plan(statement, context);
    switch (plan.action) {
    case Action::FollowUse:
        return use(statement, line, position);
    case Action::SkipUse:
        ++result.usesSkipped;
        return true;
    case Action::RefuseForeign:
        // What came before it still runs; it and what follows do not.
        finish(position);
        if (result.fatal.isEmpty())
            result.fatal = QStringLiteral("The restore stopped before line %1: the "
                                          "statement there %2.")
                               .arg(line)
                               .arg(plan.reason);
        return false;
    case Action::SkipCommented:
        if (result.commented.size() < kFailuresListed) {
            const std::string_view shown = statement.substr(0, kStatementShown);
            result.commented.push_back(
                {line, QByteArray(shown.data(), qsizetype(shown.size())), 0, {}});
        }
        ++result.commentedCount;
        return true;
    case Action::SkipOversized:
        oversized(statement, statement.size(), line);
        return true;
    case Action::Defer:
        result.late.push_back({line, std::string(statement)});
        return true;
    case Action::SendWithDefiner:
    case Action::SendAlone:
    case Action::Batch:
        break;
    }

    // What the file carries, counted whether the server takes it or not.
    const std::string_view word = firstWord(statement);
    if (isWord(word, "INSERT")) {
        const std::string_view prefix = plan.rows == std::string_view::npos
                                            ? std::string_view()
                                            : statement.substr(0, plan.rows);
        RestoreTally& tally = *engine_.tally_;
        tally.inserted(prefix,
                       tally.continues(prefix) ? std::string()
                                               : RestorePolicy::insertTable(statement, context.rules),
                       plan.rows == std::string_view::npos ? RestoreTally::kUncountable
                                                           : plan.rowCount);
    } else if (isWord(word, "CREATE") || statement.starts_with("/*")) {
        engine_.tally_->created(createdObject(statement, context.rules));
    } else if (isWord(word, "DROP")) {
        engine_.tally_->dropped(replacedObjects(statement, engine_.current_, context.rules));
    }
    if (plan.action == Action::SendWithDefiner) {
        position_ = position;
        return flush() && sendWithDefiner(statement, plan.bare, plan.definer, line) &&
               afterStatements();
    }
    return add(statement, line, position, plan);
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
        const bool listed = RestorePolicy::rowListAt(statement, c_.sqlRules(), &count) !=
                            std::string_view::npos;
        engine_.tally_->skipped(RestorePolicy::insertTable(statement, c_.sqlRules()),
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
                if (RestorePolicy::missingDefiner(w.code))
                    note(result.missing, line, definer, w.message);
                else if (!others && RestorePolicy::valueWarning(w.code)) {
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
    if (RestorePolicy::retryWithoutDefiner(c_.errorNumber())) {
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
                             const StatementPlan& plan) {
    position_ = position;
    if (plan.action == StatementPlan::Action::SendAlone) {
        transactional_.clear();
        return flush() && sendAlone(statement, line) && afterStatements();
    }
    std::size_t rows = plan.rows;
    if (rows == std::string_view::npos) transactional_.clear();  // it may change a table
    // A long statement travels alone rather than push a trip past the packet limit.
    if (!units_.empty() && pendingBytes_ + statement.size() >= engine_.tripBytes_ && !flush())
        return false;

    const Unit* last = units_.empty() ? nullptr : &units_.back();
    const bool joins = last && lastJoinable_ &&
                       RestorePolicy::joins(statement, rows, textOf(last->first),
                                            statements_[last->first].rows);
    if (!joins && rows != std::string_view::npos) {
        const std::string table = RestorePolicy::insertTable(statement, c_.sqlRules());
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
    if (plan.endsTrip) return flush();
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
                if (!RestorePolicy::valueWarning(each.code)) continue;
                w.code = each.code;
                w.message = each.message;
                break;
            }
        }
    }
    if (!RestorePolicy::changedValues(read, w.code, statement)) return;
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
    if (RestorePolicy::endsTheRun(code) && result.fatal.isEmpty())
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
    if (!begun_) return;
    try {
        finish();
    } catch (const DumpError&) {
        // Nobody is left to tell: the caller that wanted to know called finish() itself.
    }
}

void RestoreEngine::begin() {
    if (begun_) return;
    db::Connection& c = connection_;
    const char* const read =
        "SELECT @@session.foreign_key_checks, @@session.unique_checks, @@session.sql_mode, "
        "@@session.time_zone, @@session.character_set_client, @@session.character_set_results, "
        "@@session.collation_connection, @@session.autocommit, @@max_allowed_packet, "
        "@@session.sql_notes";
    db::Result saved;
    if (c.query(read)) saved = c.storeResult();
    if (!saved || !saved.next())
        throw DumpError(c.connectionLost()
                            ? lostConnectionText(c, QStringLiteral("before the restore began"),
                                                 QStringLiteral("Nothing was restored; connect "
                                                                "again and run the restore."))
                            : QStringLiteral("Cannot read the session settings: %1")
                                  .arg(c.errorText()));
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
    if (!c.query("SET foreign_key_checks = 0, autocommit = 0, sql_notes = 0"))
        throw DumpError(QStringLiteral("Cannot prepare the session: %1").arg(c.errorText()));
    begun_ = true;
}

void RestoreEngine::finish() {
    if (!begun_) return;
    begun_ = false;
    // The run has said what the lost connection cost; the session and its settings are gone.
    if (lost_) return;
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
    if (!problem.isEmpty()) throw DumpError(problem);
}

bool RestoreEngine::selectTarget(QString* fatal) {
    try {
        begin();
    } catch (const DumpError& e) {
        *fatal = e.text();
        return false;
    }
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

}  // namespace dump
