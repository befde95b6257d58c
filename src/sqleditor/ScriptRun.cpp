#include "sqleditor/ScriptRun.h"

#include <QElapsedTimer>

#include "db/Connection.h"
#include "dump/SqlScript.h"

namespace {

constexpr int kStatementShown = 60;

QString shortened(const std::string& statement) {
    QString text = QString::fromUtf8(statement.data(), qsizetype(statement.size())).simplified();
    if (text.size() > kStatementShown) text = text.left(kStatementShown - 1) + QChar(0x2026);
    return text;
}

QString counted(std::uint64_t n, const char* what) {
    return QStringLiteral("%1 %2%3").arg(n).arg(QLatin1String(what)).arg(n == 1 ? "" : "s");
}

// Reads every answer of the statement just sent; false with the step's outcome set when
// one of them failed.
bool readAnswers(db::Connection& c, ScriptStep& step, std::vector<db::Result>& results) {
    for (;;) {
        db::Result r = c.storeResult();
        if (r) {
            step.returnedRows = true;
            step.rows += r.rowCount();
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
    bool ends = false;  // nothing after it runs
};

Done runOne(db::Connection& c, const dump::ScriptStatement& s, bool stopAtError) {
    Done d;
    ScriptStep& step = d.step;
    step.line = s.line;
    step.statement = shortened(s.text);
    QElapsedTimer clock;
    clock.start();
    step.ok = c.query(s.text) && readAnswers(c, step, d.results);
    step.ms = clock.elapsed();
    step.warnings = c.warningCount();
    if (step.ok) {
        // A procedure's last answer is its status, without rows: the rows it returned count.
        step.outcome = step.returnedRows ? counted(step.rows, "row")
                                         : counted(step.rows, "row") + QStringLiteral(" affected");
        return d;
    }
    const bool lost = c.connectionLost();
    step.cancelled = c.cancelledByUser() || (c.waiter() && c.waiter()->cancelRequested());
    step.outcome = step.cancelled && !lost ? db::cancelledText(step.ms) : c.errorText();
    if (!lost) c.discardResults();
    d.ends = step.cancelled || lost || stopAtError;
    return d;
}

// Statements run in slices of about this long, off the window's thread; the log is
// brought up to date between slices.
constexpr qint64 kSliceMs = 30;

}  // namespace

ScriptRun::Totals ScriptRun::run(db::Connection& c, const std::string& script, bool stopAtError,
                                 const StepFn& onStep, const std::function<void()>& afterSlice) {
    Totals totals;
    const std::vector<dump::ScriptStatement> statements = dump::splitSqlScript(script);
    std::size_t next = 0;
    bool ended = false;
    while (next < statements.size() && !ended) {
        std::vector<Done> slice;
        c.runAside(
            "Running the script",
            [&] {
                QElapsedTimer clock;
                clock.start();
                do {
                    slice.push_back(runOne(c, statements[next++], stopAtError));
                } while (next < statements.size() && !slice.back().ends &&
                         clock.elapsed() < kSliceMs);
            },
            true);
        // Every statement of the slice ran: each is reported, even after a stop.
        for (std::size_t k = 0; k < slice.size(); ++k) {
            Done& d = slice[k];
            ++totals.statements;
            if (!d.step.ok) ++totals.failures;
            const std::size_t index = next - slice.size() + k;
            if (!onStep(d.step, statements[index].text, d.results) || d.ends) ended = true;
        }
        if (afterSlice) afterSlice();
    }
    totals.stopped = next < statements.size() || totals.statements < int(statements.size());
    return totals;
}

QString ScriptRun::logLine(const ScriptStep& step) {
    return QStringLiteral("Line %1: %2, %3, %4 ms: %5")
        .arg(step.line)
        .arg(step.outcome)
        .arg(counted(step.warnings, "warning"))
        .arg(step.ms)
        .arg(step.statement);
}
