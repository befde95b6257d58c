#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "dump/RestoreStatus.h"
#include "dump/RestoreTally.h"
#include "dump/RestorePolicy.h"
#include "dump/SqlScript.h"
#include "sqllex/Rules.h"

class QIODevice;
namespace db {
class Connection;
}

namespace dump {

struct RestoreFailure {
    qint64 line = 0;       // the line on which the statement ended
    QByteArray statement;  // its first bytes
    unsigned code = 0;     // the server's error number
    QString message;       // the server's message
};

// A statement the server could not have taken: longer than its max_allowed_packet.
struct OversizedStatement {
    qint64 line = 0;           // the line on which it ended
    std::uint64_t bytes = 0;   // its length
};

// A statement held back to run after the rows: a trigger or event of the schema file.
struct LateStatement {
    qint64 line = 0;
    std::string text;
};

// An object statement whose DEFINER the target could not take as it stands.
struct DefinerNote {
    qint64 line = 0;
    QString definer;  // the account the file names
    QString reason;   // the server's words
};

struct RestoreProgress {
    RunKind kind = RunKind::Script;
    QString status;  // RestoreStatus text of the last statement
    std::uint64_t statements = 0;
    std::uint64_t failures = 0;
    qint64 position = 0;  // bytes of the input read
    qint64 size = 0;      // bytes of the input, 0 when unknown
};
// Called at most every ~50 ms during a run; returning false stops it after the statements
// already sent.
using RestoreProgressFn = std::function<bool(const RestoreProgress&)>;

struct RestoreRun {
    bool stopped = false;          // by the progress callback
    QString fatal;                 // why the run ended early (database not usable, connection lost)
    // Sent to the server, accepted or not; after a lost connection without those the server
    // rolled back with it.
    std::uint64_t statements = 0;
    std::uint64_t failures = 0;    // refused by the server
    std::vector<RestoreFailure> firstFailures;
    qint64 leftoverLine = 0;  // > 0: text from this line on had no marker and was not run
    QString status;           // RestoreStatus text after the last statement
    // Skipped, the run going on: statements longer than the server's max_allowed_packet
    // (the first kFailuresListed of them listed), and the file's USE statements (the
    // restore stays in its target database).
    std::uint64_t oversizedCount = 0;
    std::vector<OversizedStatement> oversized;
    std::uint64_t packetLimit = 0;  // the server's max_allowed_packet
    std::uint64_t usesSkipped = 0;
    // With RunOptions::followUse: the databases the file's USE statements went into.
    std::vector<QString> databases;
    // Not run: statements that were a comment to their end, because a note line ("# note")
    // joined the statement after it; the server would take them and do nothing.
    std::uint64_t commentedCount = 0;
    std::vector<RestoreFailure> commented;  // the first kFailuresListed
    qint64 ctrlZLine = 0;  // > 0: the first line with a Ctrl-Z, which the run went past
    // Held back (RunOptions::deferLate): the triggers and events, for runLate().
    std::vector<LateStatement> late;
    // Objects the server refused with their DEFINER and took without it (the restoring
    // account owns them), and objects whose DEFINER does not exist here (created as the
    // file says; they work once the account exists). The first kFailuresListed of each.
    std::uint64_t definersLeftOut = 0;
    std::vector<DefinerNote> leftOut;
    std::uint64_t definersMissing = 0;
    std::vector<DefinerNote> missing;

    // Taken with warnings (an incorrect or truncated value stored as something else): the
    // first kFailuresListed of them with the server's first warning.
    std::uint64_t warnedCount = 0;
    std::vector<RestoreFailure> warned;

    // Everything ran as the file says, apart from values the server stored with warnings.
    bool okButWarned() const {
        return !stopped && fatal.isEmpty() && failures == 0 && leftoverLine == 0 &&
               oversizedCount == 0 && commentedCount == 0 && definersLeftOut == 0;
    }
    bool ok() const { return okButWarned() && warnedCount == 0; }
};

// How a run reads its input.
struct RunOptions {
    // Go on past a Ctrl-Z (dropping it) instead of ending the input there, as the format's
    // old rule has it. This program never writes a raw Ctrl-Z, so one is damage.
    bool pastCtrlZ = true;
    // End the run, before sending it, at a statement that reaches beyond the target database
    // (see foreignReason): for input that could not be read through beforehand, a pipe.
    bool refuseForeign = false;
    // This program's format, or a plain SQL script as other tools and people write them.
    ScriptFormat format = ScriptFormat::Own;
    // Hold the statements behind the schema file's kLateSection line back for runLate(),
    // because a data file runs in between.
    bool deferLate = false;
    // Run the file's USE statements, so that a file of several databases restores each into
    // its own, as the file says; statements before the first USE go into the target. Off, a
    // USE is skipped and the whole file goes into the target.
    bool followUse = false;
};

// The status line while a run goes on: `prefix`, the last statement's status as the format
// has it and, once statements were refused (which leaves a data file's status as it was),
// how many: a failing run never looks like a good one.
QString runningStatus(const QString& prefix, const RestoreProgress& progress);
// "about 3 min left" at the pace so far, for `done` of `size` bytes in `elapsedMs`; empty
// while there is no pace to go by yet.
QString timeLeft(qint64 elapsedMs, qint64 done, qint64 size);

// The refused statements of a run (the first few, with the server's messages), the skipped
// ones, the DEFINERs the server did not take, a Ctrl-Z gone past and any text left without
// a marker, for the user; empty when there is nothing to report.
QString failureReport(const RestoreRun& run, const QString& fileName);

// Replays dump files into a database on a borrowed connection. For the whole restore the
// session has foreign-key checks and autocommit off; finish() commits and puts every session
// setting it or the files changed back. Statements travel up to a hundred per round trip
// (multi-statement support on), each with its own outcome, and are committed every few
// thousand; consecutive one-row INSERTs into a transactional table travel as one INSERT of
// their rows and are replayed one by one if the server refuses it. A statement that cannot
// safely share a round trip (quotes left open, comments, a ";" of its own) is sent alone
// with multi-statements off. No widgets and no message boxes: a run's outcome comes back as
// a value (RestoreRun), begin() and finish() throw DumpError.
class RestoreEngine {
public:
    static constexpr std::size_t kFailuresListed = 10;
    static constexpr std::size_t kStatementsPerTrip = 100;
    static constexpr std::uint64_t kStatementsPerCommit = 5000;

    RestoreEngine(db::Connection& connection, QString database);
    ~RestoreEngine();
    RestoreEngine(const RestoreEngine&) = delete;
    RestoreEngine& operator=(const RestoreEngine&) = delete;

    // Skips statements the way it skips those larger than the server's max_allowed_packet
    // from `packet` bytes on (the command byte included), when that is below the server's:
    // a session cannot lower its own, and a test needs a small limit to run against.
    void lowerPacketLimit(std::size_t packet) { packetCap_ = packet; }
    // Saves the session settings and prepares the session; throws DumpError when the
    // server refuses. run() begins by itself when needed.
    void begin();
    // Selects the database ("use"), then runs every statement of `input`. When the database
    // cannot be selected nothing runs and `fatal` says why. A USE in the input is never sent,
    // and a statement longer than the server's max_allowed_packet is skipped (the server
    // would end the connection on it); both are counted in the run.
    RestoreRun run(QIODevice& input, RunKind kind, const RestoreProgressFn& progress,
                   const RunOptions& options = {});
    // Runs the statements a run held back, as a script.
    RestoreRun runLate(const std::vector<LateStatement>& statements, const RestoreProgressFn& progress,
                       const RunOptions& options = {});
    // What the runs so far carried into the target, for verifyRestore(); tallies() holds one
    // for each database a run went into (RunOptions::followUse), the target's among them.
    const RestoreTally& tally() const { return tallies_.at(database_); }
    const std::map<QString, RestoreTally>& tallies() const { return tallies_; }
    // Commits and restores the saved settings; throws DumpError when that fails, after
    // putting back all it can. After a run lost the connection there is nothing left to do.
    void finish();

private:
    class Run;
    // begin(), then "use" the target; false with `fatal` set when either fails.
    bool selectTarget(QString* fatal);
    // Makes `database` where the statements go: "use" it, its tally the current one.
    bool select(const QString& database);

    db::Connection& connection_;
    QString database_;
    bool begun_ = false;
    bool multiBefore_ = false;
    bool lost_ = false;  // a run lost the connection
    // Where statements go now: the target, or the database a followed USE selected.
    QString current_;
    std::map<QString, RestoreTally> tallies_;
    RestoreTally* tally_ = nullptr;  // of current_
    std::string restoreSettings_;
    std::size_t tripBytes_ = std::size_t(1) << 20;
    std::size_t statementLimit_ = std::size_t(1) << 30;  // the server's max_allowed_packet
    std::size_t packetCap_ = 0;  // lowerPacketLimit(), 0 for none
};

}  // namespace dump
