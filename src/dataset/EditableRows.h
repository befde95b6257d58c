#pragma once

#include <QAbstractTableModel>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "dataset/CellFormat.h"
#include "dataset/RowEdits.h"
#include "db/Result.h"

namespace db {
class Connection;
}

// Rows of one table in a grid, with the edits made to them pending until posted: a changed
// cell, a row added, a row marked for deletion. Subclasses say where the rows come from (a
// table read a window at a time, a query's result) and which table they belong to; this class
// keeps the edits apart from the rows read, finds a row's edit by its key values (so an edit
// follows its row however the rows are read or ordered), shows them marked, and posts them in
// one transaction. Grid rows: the rows added and not posted first, then the rows read.
class EditableRows : public QAbstractTableModel {
    Q_OBJECT
public:
    static constexpr int IsNullRole = Qt::UserRole + 1;

    explicit EditableRows(QObject* parent = nullptr);
    ~EditableRows() override;

    // Not owned.
    void setConnection(db::Connection* connection) { connection_ = connection; }
    db::Connection* connection() const { return connection_; }
    const std::vector<FieldDef>& fields() const { return fields_; }

    // The table the rows are edited in, its columns in the grid's order; null when there is
    // none.
    virtual const TableShape* editShape() const = 0;
    // Whether the rows can be changed; readOnlyReason() says why not.
    bool editable() const { return editShape() && readOnlyReason().isEmpty(); }
    virtual QString readOnlyReason() const;

    // The value of a row read (by its position among the rows read, without the rows added);
    // NULL when it is NULL or not read (isLoaded tells).
    virtual db::Value cell(int row, int column) const = 0;
    virtual bool isLoaded(int row) const = 0;

    // A new row at the top of the grid, every column at its default until set.
    void addRow();
    // Marks the rows (grid rows) for deletion; rows added and not posted just go.
    void deleteRows(std::vector<int> rows);
    // Puts a grid row back as it was read (or drops it when it was added).
    void revertRow(int row);
    void revertAll();
    bool hasEdits() const { return !edits_.empty(); }
    int added() const { return int(addedEdits_.size()); }
    int editCount() const { return int(edits_.size()); }
    // The statements Post would send, in order.
    std::vector<std::string> preview() const;
    // Sends every edit in one transaction. Applied: the edits are gone and the rows are read
    // again around `around` (a grid row). Otherwise the edits stay, and the outcome says which
    // failed and why.
    PostOutcome post(int around = 0);
    // The position among the rows read of a grid row; negative for a row added.
    int tableRow(int gridRow) const { return gridRow - added(); }
    // The grid row a pending edit is shown on (-1 when its row is not read at the moment).
    int gridRowOf(int edit) const;
    bool editAtRow(int gridRow) const { return editAt(gridRow) >= 0; }
    // The bytes a grid cell holds now (its pending value, or as read).
    QByteArray bytesAt(const QModelIndex& index) const;
    // A cell set to NULL (not to the empty text).
    bool setNull(const QModelIndex& index);
    // Reads the rows around `gridRow` again, keeping the edits: rows changed elsewhere show
    // as they are now.
    virtual void rereadAround(int gridRow) = 0;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;

Q_SIGNALS:
    // The pending edits changed (made, reverted or posted).
    void editsChanged();

protected:
    // How many rows are read or stand for rows not read yet (the grid rows after the added).
    virtual int readCount() const = 0;
    // A cell of a row not read was asked for, to be shown.
    virtual void wanted(int /*row*/) const {}
    // Calls `visit` for each row read until it returns false.
    virtual void forEachRead(const std::function<bool(int row)>& visit) const = 0;
    // After a post applied its edits (they are gone): `moved` rows more (added) or fewer
    // (deleted); the grid was at `row` among the rows read.
    virtual void afterPost(int row, int moved) = 0;
    // Lets every edit go without telling the views: inside a reset of the rows.
    void dropEdits();

    db::Connection* connection_ = nullptr;
    std::vector<FieldDef> fields_;

private:
    RowBytes keyOf(int row) const;
    RowBytes rowOf(int row) const;
    int editAt(int gridRow) const;
    bool setCell(int gridRow, int column, CellBytes value);
    RowStatements statements() const;
    void noteEdited(int gridRow);
    void reindexEdits();

    std::vector<RowEdit> edits_;         // in the order they were made
    std::map<RowBytes, int> editByKey_;  // the edits of rows read, by key values
    std::vector<int> addedEdits_;        // the edits of the rows added, as shown
};
