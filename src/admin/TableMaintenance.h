#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace db {
class Connection;
}

namespace admin {

// The server's table maintenance statements, one per operation.
enum class MaintenanceOp { Check, Analyze, Optimize, Repair, Checksum };

// "check", "analyze", ... as the server names the operation in its Op column.
QString opName(MaintenanceOp op);
// "Check", "Analyze", ... for menus and captions.
QString opCaption(MaintenanceOp op);
// The operation named by opName (any letter case); std::nullopt for another word.
std::optional<MaintenanceOp> opNamed(const QString& name);

// One result row, as the server answers a maintenance statement: the table as "db.name", the
// operation, the kind of message ("status", "error", "info", "note", "warning"; "skipped" for a
// table not sent) and its text. CHECKSUM TABLE answers a checksum instead: it is in `checksum`
// and, for the grid, in `msgText` under the Msg_type "checksum"; NULL (a table the server could
// not read) leaves it empty and the server's warnings follow as rows of their own.
struct MaintenanceRow {
    QString table;
    QString op;
    QString msgType;
    QString msgText;
    std::optional<QString> checksum;

    bool isError() const { return msgType.compare(QLatin1String("error"), Qt::CaseInsensitive) == 0; }
};

// What became of one table.
struct TableOutcome {
    enum class State { Done, Skipped, Cancelled };
    QString table;  // the bare name, as given
    State state = State::Done;
    std::vector<MaintenanceRow> rows;

    // A row says error: the table is missing, damaged, or the statement was refused.
    bool failed() const;
};

// Where a run is: before table `index` (0-based) of `total`, named `table`; index == total
// once the last one is done.
struct MaintenanceProgress {
    int index = 0;
    int total = 0;
    QString table;
};

// A run over a list of tables: what each table gave, in the order given. A run that was
// stopped (Cancel, Ctrl-C) holds the tables done and the one running when it stopped; the
// rest were not sent. `fatal` says why a run ended early because the connection was lost.
struct MaintenanceRun {
    MaintenanceOp op = MaintenanceOp::Check;
    int total = 0;
    std::vector<TableOutcome> tables;
    bool stopped = false;
    QString fatal;

    // Tables that went through to their end (done or skipped).
    int finished() const;
    bool anyFailed() const;
    int failedCount() const;
    int skippedCount() const;
    // One line: "Check: 3 tables, 1 with errors, 1 skipped." or, stopped, "Stopped after 2 of
    // 5 tables." and what was found so far.
    QString summary() const;
    // Every result row of every table, in order.
    std::vector<MaintenanceRow> rows() const;
};

// Runs a maintenance operation over tables of one database on a connection, one statement
// per table, so that progress is per table and a cancel stops between tables (or, through the
// connection's cancel, during one). A table the server cannot do (missing, refused, damaged)
// is that table's result; the run goes on with the next. Repair is sent only for tables whose
// engine has it; the others are reported as skipped, with the reason.
// Without a waiter the statements block the caller; the window runs the whole loop through
// db::Connection::runAside.
class TableMaintenance {
public:
    // Called before each table and after the last; false stops the run there.
    using Progress = std::function<bool(const MaintenanceProgress&)>;

    TableMaintenance(db::Connection& connection, QString database, MaintenanceOp op);

    // The statement for one table: CHECK TABLE `db`.`t` and so on.
    static std::string statementFor(MaintenanceOp op, const QString& database, const QString& table);
    // Whether REPAIR TABLE works on tables of this engine (MyISAM, Aria, ARCHIVE, CSV).
    static bool engineRepairs(const QString& engine);

    MaintenanceRun run(const QStringList& tables, const Progress& progress = {});

private:
    struct Kind {
        QString name;
        QString engine;  // empty for a view
        bool view = false;
    };
    // The engines of the tables the server knows of these; nothing when it cannot say.
    std::vector<Kind> kindsOf(const QStringList& tables);
    // Why Repair is not sent for a table; empty when it is, or when the server should say.
    static QString repairRefusal(const QString& table, const std::vector<Kind>& kinds);
    // One table's statement and its rows; `lost` set when the connection went with it.
    TableOutcome runOne(const QString& table, bool& lost);
    QString label(const QString& table) const;

    db::Connection& connection_;
    QString database_;
    MaintenanceOp op_;
};

// The base tables of a database by name, for a run over all of them (views have no rows of
// their own to maintain). Throws db::DbError when the server refuses the listing.
QStringList tablesOf(db::Connection& connection, const QString& database);

}  // namespace admin
