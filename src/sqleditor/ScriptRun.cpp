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

ScriptRun::Totals ScriptRun::run(db::Connection& c, const std::string& script, bool stopAtError,
                                 const StepFn& onStep) {
    Totals totals;
    const std::vector<dump::ScriptStatement> statements = dump::splitSqlScript(script);
    for (std::size_t i = 0; i < statements.size(); ++i) {
        const dump::ScriptStatement& s = statements[i];
        ScriptStep step;
        step.line = s.line;
        step.statement = shortened(s.text);
        std::vector<db::Result> results;
        QElapsedTimer clock;
        clock.start();
        step.ok = c.query(s.text) && readAnswers(c, step, results);
        step.ms = clock.elapsed();
        step.warnings = c.warningCount();
        bool lost = false;
        if (step.ok) {
            // A procedure's last answer is its status, without rows: the rows it returned count.
            step.outcome = step.returnedRows ? counted(step.rows, "row")
                                             : counted(step.rows, "row") + QStringLiteral(" affected");
        } else {
            step.outcome = c.errorText();
            step.cancelled = c.cancelledByUser();
            lost = c.connectionLost();
            ++totals.failures;
            if (!lost) c.discardResults();
        }
        ++totals.statements;
        const bool goOn = onStep(step, s.text, results);
        const bool last = i + 1 == statements.size();
        if (!last && (!goOn || step.cancelled || lost || (!step.ok && stopAtError))) {
            totals.stopped = true;
            break;
        }
    }
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
