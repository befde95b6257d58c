#include "admin/TableMaintenance.h"

#include <algorithm>
#include <utility>

#include "db/Connection.h"
#include "db/Result.h"
#include "db/Waiter.h"

namespace admin {

namespace {

// ER_QUERY_INTERRUPTED: KILL QUERY from elsewhere (lorvex-cli's Ctrl-C, another client).
constexpr unsigned kInterrupted = 1317;

struct OpWords {
    MaintenanceOp op;
    const char* name;
    const char* caption;
    const char* statement;
};

constexpr OpWords kOps[] = {
    {MaintenanceOp::Check, "check", "Check", "CHECK TABLE "},
    {MaintenanceOp::Analyze, "analyze", "Analyze", "ANALYZE TABLE "},
    {MaintenanceOp::Optimize, "optimize", "Optimize", "OPTIMIZE TABLE "},
    {MaintenanceOp::Repair, "repair", "Repair", "REPAIR TABLE "},
    {MaintenanceOp::Checksum, "checksum", "Checksum", "CHECKSUM TABLE "},
};

const OpWords& wordsOf(MaintenanceOp op) {
    return *std::find_if(std::begin(kOps), std::end(kOps),
                         [op](const OpWords& w) { return w.op == op; });
}

QString tablesText(int n) {
    return n == 1 ? QStringLiteral("1 table") : QStringLiteral("%1 tables").arg(n);
}

}  // namespace

QString opName(MaintenanceOp op) { return QString::fromLatin1(wordsOf(op).name); }
QString opCaption(MaintenanceOp op) { return QString::fromLatin1(wordsOf(op).caption); }

std::optional<MaintenanceOp> opNamed(const QString& name) {
    for (const OpWords& w : kOps)
        if (name.compare(QLatin1String(w.name), Qt::CaseInsensitive) == 0) return w.op;
    return std::nullopt;
}

bool TableOutcome::failed() const {
    return std::any_of(rows.begin(), rows.end(), [](const MaintenanceRow& r) { return r.isError(); });
}

int MaintenanceRun::finished() const {
    return int(std::count_if(tables.begin(), tables.end(), [](const TableOutcome& t) {
        return t.state != TableOutcome::State::Cancelled;
    }));
}

bool MaintenanceRun::anyFailed() const { return failedCount() > 0; }

int MaintenanceRun::failedCount() const {
    return int(std::count_if(tables.begin(), tables.end(),
                             [](const TableOutcome& t) { return t.failed(); }));
}

int MaintenanceRun::skippedCount() const {
    return int(std::count_if(tables.begin(), tables.end(), [](const TableOutcome& t) {
        return t.state == TableOutcome::State::Skipped;
    }));
}

QString MaintenanceRun::summary() const {
    QStringList found;
    if (const int failed = failedCount()) found << QStringLiteral("%1 with errors").arg(failed);
    if (const int skipped = skippedCount()) found << QStringLiteral("%1 skipped").arg(skipped);
    const QString findings = found.isEmpty() ? QStringLiteral("no errors") : found.join(QStringLiteral(", "));
    if (!fatal.isEmpty())
        return QStringLiteral("%1 ended after %2 of %3: %4")
            .arg(opCaption(op))
            .arg(finished())
            .arg(tablesText(total), fatal);
    if (stopped)
        return QStringLiteral("Stopped after %1 of %2 (%3); the rest were not sent.")
            .arg(finished())
            .arg(tablesText(total), findings);
    return QStringLiteral("%1 of %2: %3.").arg(opCaption(op), tablesText(total), findings);
}

std::vector<MaintenanceRow> MaintenanceRun::rows() const {
    std::vector<MaintenanceRow> out;
    for (const TableOutcome& t : tables) out.insert(out.end(), t.rows.begin(), t.rows.end());
    return out;
}

TableMaintenance::TableMaintenance(db::Connection& connection, QString database, MaintenanceOp op)
    : connection_(connection), database_(std::move(database)), op_(op) {}

std::string TableMaintenance::statementFor(MaintenanceOp op, const QString& database,
                                           const QString& table) {
    return wordsOf(op).statement + db::qualifiedName(database, table);
}

bool TableMaintenance::engineRepairs(const QString& engine) {
    for (const char* e : {"MyISAM", "Aria", "ARCHIVE", "CSV"})
        if (engine.compare(QLatin1String(e), Qt::CaseInsensitive) == 0) return true;
    return false;
}

QString TableMaintenance::label(const QString& table) const {
    // As the server names the table in its own rows.
    return database_ + u'.' + table;
}

std::vector<TableMaintenance::Kind> TableMaintenance::kindsOf(const QStringList& tables) {
    std::vector<Kind> out;
    if (tables.isEmpty()) return out;
    std::string names;
    for (const QString& t : tables) names += (names.empty() ? "" : ", ") + connection_.quoteValue(t);
    const std::string statement =
        "SELECT TABLE_NAME, ENGINE, TABLE_TYPE FROM information_schema.TABLES WHERE TABLE_SCHEMA = " +
        connection_.quoteValue(database_) + " AND TABLE_NAME IN (" + names + ")";
    // Not knowing, every table is sent, and the server says what it cannot repair.
    db::Result rows = connection_.queryResult(statement);
    while (rows && rows.next())
        out.push_back({rows.text(0), rows.text(1), rows.text(2).contains(QLatin1String("VIEW"))});
    return out;
}

QString TableMaintenance::repairRefusal(const QString& table, const std::vector<Kind>& kinds) {
    auto kind = std::find_if(kinds.begin(), kinds.end(), [&](const Kind& k) { return k.name == table; });
    if (kind == kinds.end())
        kind = std::find_if(kinds.begin(), kinds.end(), [&](const Kind& k) {
            return k.name.compare(table, Qt::CaseInsensitive) == 0;
        });
    // A table the server does not list is sent: its answer says what is wrong with it.
    if (kind == kinds.end()) return {};
    if (kind->view) return QStringLiteral("A view holds no rows of its own to repair.");
    if (kind->engine.isEmpty() || engineRepairs(kind->engine)) return {};
    if (kind->engine.compare(QLatin1String("InnoDB"), Qt::CaseInsensitive) == 0)
        return QStringLiteral("InnoDB tables cannot be repaired with REPAIR TABLE (it is for MyISAM, "
                              "Aria, ARCHIVE and CSV tables). Check finds damage; Optimize "
                              "rebuilds the table.");
    return QStringLiteral("The %1 engine does not support REPAIR TABLE (MyISAM, Aria, ARCHIVE and "
                          "CSV tables do).")
        .arg(kind->engine);
}

TableOutcome TableMaintenance::runOne(const QString& table, bool& lost) {
    TableOutcome out;
    out.table = table;
    const QString op = opName(op_);
    const auto failed = [&] {
        lost = connection_.connectionLost() || !connection_.isOpen();
        if (connection_.cancelledByUser() || connection_.errorNumber() == kInterrupted)
            out.state = TableOutcome::State::Cancelled;
        out.rows.push_back({label(table), op, QStringLiteral("Error"), connection_.errorText(), {}});
        return out;
    };
    db::Result result = connection_.queryResult(statementFor(op_, database_, table));
    if (!result) return failed();
    // A statement the user's cancel stopped answers with rows saying so, not with an error.
    if (connection_.waiter() && connection_.waiter()->cancelRequested())
        out.state = TableOutcome::State::Cancelled;
    bool noChecksum = false;
    while (result.next()) {
        if (op_ != MaintenanceOp::Checksum) {
            out.rows.push_back({result.text(0), result.text(1), result.text(2), result.text(3), {}});
            continue;
        }
        const db::Value value = result.value(1);
        if (value.isNull()) {
            noChecksum = true;
            continue;
        }
        out.rows.push_back({result.text(0), op, op, value.text(), value.text()});
    }
    if (!noChecksum) return out;
    // The server gives NULL for a table it cannot read, and says why in its warnings.
    const std::optional<std::vector<db::ServerWarning>> warnings = connection_.warnings();
    for (const db::ServerWarning& w : warnings.value_or(std::vector<db::ServerWarning>{}))
        out.rows.push_back({label(table), op, w.level, w.message, {}});
    if (!out.failed())
        out.rows.push_back({label(table), op, QStringLiteral("Error"),
                            QStringLiteral("The server gave no checksum for this table."), {}});
    return out;
}

MaintenanceRun TableMaintenance::run(const QStringList& tables, const Progress& progress) {
    MaintenanceRun run;
    run.op = op_;
    run.total = int(tables.size());
    const std::vector<Kind> kinds = op_ == MaintenanceOp::Repair ? kindsOf(tables) : std::vector<Kind>{};
    for (int i = 0; i < run.total; ++i) {
        const QString& table = tables[i];
        if (progress && !progress({i, run.total, table})) {
            run.stopped = true;
            return run;
        }
        if (const QString refusal = op_ == MaintenanceOp::Repair ? repairRefusal(table, kinds) : QString();
            !refusal.isEmpty()) {
            TableOutcome skipped{table, TableOutcome::State::Skipped, {}};
            skipped.rows.push_back({label(table), opName(op_), QStringLiteral("skipped"), refusal, {}});
            run.tables.push_back(std::move(skipped));
            continue;
        }
        bool lost = false;
        run.tables.push_back(runOne(table, lost));
        if (lost) {
            run.fatal = run.tables.back().rows.back().msgText;
            return run;
        }
        if (run.tables.back().state == TableOutcome::State::Cancelled) {
            run.stopped = true;
            return run;
        }
    }
    if (progress) progress({run.total, run.total, {}});
    return run;
}

QStringList tablesOf(db::Connection& connection, const QString& database) {
    const std::string statement = "SELECT TABLE_NAME FROM information_schema.TABLES WHERE TABLE_SCHEMA = " +
                                  connection.quoteValue(database) +
                                  " AND TABLE_TYPE = 'BASE TABLE' ORDER BY TABLE_NAME";
    db::Result rows = connection.select(statement);
    QStringList out;
    while (rows.next()) out << rows.text(0);
    return out;
}

}  // namespace admin
