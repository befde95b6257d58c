#include "sqleditor/ScriptRun.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QLocale>
#include <QObject>
#include <atomic>
#include <mutex>

#include "db/Connection.h"
#include "sqllex/ScriptReader.h"
#include "ui/Prompts.h"
#include "ui/Counted.h"

namespace {

constexpr int kStatementShown = 60;

// Reads every answer of the statement just sent; false with the step's outcome set when
// one of them failed.
bool readAnswers(db::Connection& c, ScriptStep& step, std::vector<db::Result>& results,
                 std::uint64_t rowLimit) {
    for (;;) {
        db::Result r = rowLimit > 0 ? c.storeResult(rowLimit) : c.storeResult();
        if (r) {
            step.returnedRows = true;
            step.rows += r.rowCount() + r.notRead();
            step.notRead += r.notRead();
            results.push_back(std::move(r));
        } else if (c.errorNumber() != 0) {
            return false;
        } else if (!step.returnedRows) {
            step.rows += c.affectedRows();
        }
        if (!c.moreResults()) return true;
        if (c.nextResult() > 0) return false;
    }
}

}  // namespace

namespace {

struct Done {
    ScriptStep step;
    std::vector<db::Result> results;
    std::string text;       // the statement
    bool ends = false;      // nothing after it runs
};

Done runOne(db::Connection& c, std::string text, qint64 line, bool stopAtError,
           std::uint64_t rowLimit) {
    Done d;
    d.text = std::move(text);
    ScriptStep& step = d.step;
    step.line = line;
    step.statement = ui::shortenedStatement(d.text, kStatementShown);
    QElapsedTimer clock;
    clock.start();
    step.ok = c.query(d.text) && readAnswers(c, step, d.results, rowLimit);
    step.ms = clock.elapsed();
    step.warnings = c.warningCount();
    if (step.ok) {
        // Read now: the next statement replaces them.
        if (step.warnings > 0)
            step.warningList = c.warnings().value_or(std::vector<db::ServerWarning>{});
        // A procedure's last answer is its status, without rows: the rows it returned count.
        step.outcome = step.returnedRows ? ui::counted(step.rows, "row")
                                         : ui::counted(step.rows, "row") + QStringLiteral(" affected");
        if (step.notRead > 0)
            step.outcome += QStringLiteral(" (%1 not read: the row limit)")
                                .arg(QLocale().toString(qulonglong(step.notRead)));
        return d;
    }
    const bool lost = c.connectionLost();
    step.cancelled = c.cancelledByUser() || (c.waiter() && c.waiter()->cancelRequested());
    step.outcome = step.cancelled && !lost ? db::cancelledText(step.ms) : c.errorText();
    step.errorCode = step.cancelled && !lost ? 0 : c.errorNumber();
    if (!lost) c.discardResults();
    d.ends = step.cancelled || lost || stopAtError;
    return d;
}

// Statements are reported in slices of about this long; the log is brought up to date
// slice by slice.
constexpr qint64 kSliceMs = 30;

}  // namespace

ScriptRun::Totals ScriptRun::run(db::Connection& c, const std::string& script, bool stopAtError,
                                 const StepFn& onStep, const std::function<void()>& afterSlice,
                                 std::uint64_t rowLimit) {
    Totals totals;
    // Split as it runs, as the client does: each statement is read in the SQL mode the
    // statements before it left (NO_BACKSLASH_ESCAPES, ANSI_QUOTES).
    QByteArray bytes = QByteArray::fromRawData(script.data(), qsizetype(script.size()));
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    sqllex::SqlScriptReader reader(buffer, sqllex::SqlScriptReader::kDefaultLimit, c.sqlRules());
    std::string_view statement;
    bool more = reader.next(statement);
    int read = 0;  // statements taken from the reader
    // Finished slices pass from the worker to this thread, which reports them (log lines,
    // tabs) while the worker already runs the next statements.
    std::mutex lock;
    std::vector<std::vector<Done>> ready;
    std::atomic_bool stopAsked = false;
    bool cancelBetween = false;  // a cancel that came as a statement ended on its own
    auto report = [&] {
        std::vector<std::vector<Done>> slices;
        {
            const std::lock_guard<std::mutex> hold(lock);
            slices.swap(ready);
        }
        for (std::vector<Done>& slice : slices) {
            for (Done& d : slice) {
                ++totals.statements;
                if (!d.step.ok) ++totals.failures;
                if (d.step.cancelled)
                    totals.cancelled = true;
                else
                    ++totals.completed;
                if (!onStep(d.step, d.text, d.results)) stopAsked = true;
            }
            if (afterSlice) afterSlice();
        }
    };
    {
        QObject receiver;  // reports still queued when the run ends are made below instead
        c.runAside(
            "Running the script",
            [&] {
                QElapsedTimer clock;
                clock.start();
                std::vector<Done> slice;
                bool ended = false;
                while (more && !ended && !stopAsked) {
                    slice.push_back(runOne(c, std::string(statement), reader.line(), stopAtError, rowLimit));
                    ++read;
                    reader.setRules(c.sqlRules());
                    more = reader.next(statement);
                    ended = slice.back().ends;
                    // A statement may end on its own as the cancel arrives (an interrupted
                    // SLEEP returns early, without an error): the rest is not run either.
                    if (!ended && more && c.waiter() && c.waiter()->cancelRequested())
                        ended = cancelBetween = true;
                    if (!ended && more && clock.elapsed() < kSliceMs) continue;
                    {
                        const std::lock_guard<std::mutex> hold(lock);
                        ready.push_back(std::move(slice));
                    }
                    slice.clear();
                    QMetaObject::invokeMethod(&receiver, report, Qt::QueuedConnection);
                    clock.restart();
                }
            },
            true);
    }
    report();  // the last slices, or all of them when nothing ran aside
    totals.cancelled = totals.cancelled || cancelBetween;
    // What was not run is counted in the mode the run left.
    for (; more; more = reader.next(statement)) ++read;
    totals.inScript = read;
    totals.stopped = totals.statements < totals.inScript;
    return totals;
}
