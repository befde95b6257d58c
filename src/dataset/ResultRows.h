#pragma once

#include <optional>

#include "dataset/EditableRows.h"
#include "dataset/TableShape.h"

class TMySQLDataSet;

// The table a query's rows can be edited in, and why not when they cannot.
struct ResultTable {
    // The table's columns in the result's order, its key as positions in the result.
    std::optional<TableShape> shape;
    QString readOnlyReason;
};

// Reads which table a result's columns come from. The rows are editable only when every
// column is a column of one base table, read under one name (no join of a table with
// itself), none twice, and the table's key is among them: then each row names exactly one
// row of the table. Throws db::DbError when the table's shape cannot be read.
ResultTable resultTable(db::Connection& c, const std::vector<db::Column>& columns);

// The rows of a query's result, as the dataset stored them, with edits pending until posted
// when they are one table's rows with its whole key (resultTable). Follows the dataset: each
// open shows the new result read-only and lets the edits go (the panel asks first) until
// readTable() finds the table. After a post the statement is run again, so the rows show as
// the server now holds them.
class ResultRows : public EditableRows {
    Q_OBJECT
public:
    explicit ResultRows(TMySQLDataSet& rows, QObject* parent = nullptr);

    TMySQLDataSet& dataSet() const { return rows_; }
    // Finds the table the open result's rows can be edited in (a few reads of
    // information_schema); the rows stay read-only, saying why, when there is none.
    void readTable();
    const TableShape* editShape() const override { return table_.shape ? &*table_.shape : nullptr; }
    QString readOnlyReason() const override;
    db::Value cell(int row, int column) const override;
    bool isLoaded(int row) const override;
    // Runs the statement again, keeping the edits.
    void rereadAround(int gridRow) override;
    // Orders the rows as the dataset does; the edits follow their rows.
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

protected:
    int readCount() const override;
    void forEachRead(const std::function<bool(int)>& visit) const override;
    void afterPost(int row, int moved) override;

private:
    void follow();

    TMySQLDataSet& rows_;
    ResultTable table_;
    bool keepEdits_ = false;  // the same statement is read again
};
