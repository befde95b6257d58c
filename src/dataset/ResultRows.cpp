#include "dataset/ResultRows.h"

#include <QSignalBlocker>

#include "dataset/TMySQLDataSet.h"
#include "db/Connection.h"

namespace {

QString named(const std::string& name) { return QString::fromUtf8(name.data(), qsizetype(name.size())); }

ResultTable readOnly(QString reason) { return ResultTable{std::nullopt, std::move(reason)}; }

}  // namespace

ResultTable resultTable(db::Connection& c, const std::vector<db::Column>& columns) {
    if (columns.empty()) return readOnly({});
    const db::Column& first = columns.front();
    for (const db::Column& column : columns) {
        if (column.orgTable.empty() || column.orgName.empty() || column.database.empty())
            return readOnly(QStringLiteral("Read-only: the column %1 is computed, not read from a table.")
                                .arg(named(column.name)));
        // Two names for one table (a join with itself) would let one result row stand for
        // two rows of the table.
        if (column.orgTable != first.orgTable || column.database != first.database ||
            column.table != first.table)
            return readOnly(QStringLiteral("Read-only: the rows come from more than one table."));
    }
    const TableShape table = readTableShape(c, named(first.database), named(first.orgTable));
    if (table.columns.empty())
        return readOnly(QStringLiteral("Read-only: the rows do not come from a table of the database."));
    if (table.isView) return readOnly(QStringLiteral("Read-only: the rows come from a view."));
    if (!table.readOnlyReason().isEmpty()) return readOnly(table.readOnlyReason());

    TableShape shape = table;
    shape.columns.clear();
    shape.key.clear();
    std::vector<int> tableColumnAt;  // of each result column
    for (const db::Column& column : columns) {
        const int at = table.columnNamed(named(column.orgName));
        if (at < 0)
            return readOnly(QStringLiteral("Read-only: the rows do not come from a table of the database."));
        for (int seen : tableColumnAt)
            if (seen == at)
                return readOnly(QStringLiteral("Read-only: the column %1 is selected twice.")
                                    .arg(named(column.orgName)));
        tableColumnAt.push_back(at);
        shape.columns.push_back(table.columns[std::size_t(at)]);
    }
    for (int keyColumn : table.key) {
        int position = -1;
        for (std::size_t i = 0; i < tableColumnAt.size(); ++i)
            if (tableColumnAt[i] == keyColumn) position = int(i);
        if (position < 0)
            return readOnly(QStringLiteral("Read-only: the key column %1 of %2 is not among the columns.")
                                .arg(table.columns[std::size_t(keyColumn)].name, table.table));
        shape.key.push_back(position);
    }
    return ResultTable{std::move(shape), {}};
}

ResultRows::ResultRows(TMySQLDataSet& rows, QObject* parent) : EditableRows(parent), rows_(rows) {
    connect(&rows_, &QAbstractItemModel::modelAboutToBeReset, this, [this] { beginResetModel(); });
    connect(&rows_, &QAbstractItemModel::modelReset, this, [this] {
        follow();
        endResetModel();
    });
    connect(&rows_, &QAbstractItemModel::dataChanged, this,
            [this](const QModelIndex& from, const QModelIndex& to) {
                Q_EMIT dataChanged(index(added() + from.row(), from.column()),
                                   index(added() + to.row(), to.column()));
            });
    follow();
}

void ResultRows::follow() {
    if (keepEdits_ && !rows_.Active()) return;  // closed only to be read again
    if (!keepEdits_ || rows_.FieldDefs().size() != fields_.size()) dropEdits();
    fields_ = rows_.FieldDefs();
    table_ = {};
}

void ResultRows::readTable() {
    table_ = {};
    if (!rows_.Active() || !connection_) return;
    try {
        table_ = resultTable(*connection_, rows_.result().columns());
    } catch (const std::exception& error) {
        table_ = readOnly(QStringLiteral("Read-only: the table's columns could not be read (%1).")
                              .arg(QString::fromUtf8(error.what())));
    }
    Q_EMIT editsChanged();  // what can be done with the rows changed
}

QString ResultRows::readOnlyReason() const { return table_.readOnlyReason; }

db::Value ResultRows::cell(int row, int column) const { return rows_.cell(row, column); }

bool ResultRows::isLoaded(int row) const { return row >= 0 && row < rows_.rowCount(); }

int ResultRows::readCount() const { return rows_.rowCount(); }

void ResultRows::forEachRead(const std::function<bool(int)>& visit) const {
    for (int row = 0; row < rows_.rowCount(); ++row)
        if (!visit(row)) return;
}

void ResultRows::sort(int column, Qt::SortOrder order) {
    beginResetModel();
    // The dataset's own reset of its order is inside this one.
    const QSignalBlocker quiet(&rows_);
    rows_.sort(column, order);
    endResetModel();
}

void ResultRows::rereadAround(int /*gridRow*/) {
    keepEdits_ = true;
    rows_.Close();
    const bool opened = rows_.Open();
    keepEdits_ = false;
    if (opened) readTable();
}

void ResultRows::afterPost(int /*row*/, int /*moved*/) {
    // The statement is the only way back to the rows it chose: run again, defaults, trigger
    // effects and new keys show.
    rows_.Close();
    if (rows_.Open()) readTable();
}
