#pragma once

#include <QObject>
#include <QString>

class CellEditors;
class EditableRows;
class QMenu;
class RowFrame;
class QModelIndex;
class QTableView;
class QWidget;
namespace ui {
class Prompts;
}

// The commands that edit rows in a grid, the same wherever a grid edits (a table's Data tab,
// a query's result): typing or F2 edits a cell, Insert adds a row, Ctrl+Delete deletes the
// selected rows after a question naming them by their keys, Ctrl+Enter posts every edit,
// Escape puts the current row back. Installs the cell editors and the keys on the grid.
class GridEditing : public QObject {
    Q_OBJECT
public:
    GridEditing(EditableRows& rows, QTableView& grid, ui::Prompts& prompts);

    CellEditors& editors() const { return *editors_; }

    void addRow();
    void deleteSelectedRows();
    // Sends the edits; a failure is said, naming the row, and the edits stay. A row changed
    // elsewhere can be read again.
    bool post();
    // Puts the current row back as it was read.
    void cancelEdit();
    // Edits the current cell in place, or in the value viewer when it is edited there.
    void editCurrent();
    // The statements Post would send, in the value viewer.
    void previewEdits();
    // Whether edits not posted may go (asked when there are some).
    bool editsMayGo();
    // The cells below may be the grid's or the rows' own.
    // A cell's whole value in the value viewer, where long text is also changed.
    void openValue(const QModelIndex& index);
    // A cell's value from, or to, a file: binary values keep every byte.
    void loadValue(const QModelIndex& index);
    void saveValue(const QModelIndex& index);
    // Set NULL, Load from file, Save to file and Copy, for a cell's context menu.
    void addCellActions(QMenu& menu, const QModelIndex& cell);
    // Makes `row` (a row of the rows edited) the current row, keeping the column, and shows it.
    void selectRow(int row);
    // The current row among the rows edited (the grid may show them through a RowFrame);
    // -1 when there is none.
    int currentRow() const;
    // The rows' own index of a cell the grid shows (or of one of theirs).
    QModelIndex rowsIndex(const QModelIndex& index) const;

Q_SIGNALS:
    // A value was not taken, or a read failed: why, for the status line.
    void note(const QString& text);

private:
    // Hands an editor still open to the model, so that Post sends what is typed.
    void commitOpenEditor();
    QWidget* owner() const;
    RowFrame* frame() const;
    // The grid's index of a cell of the rows, moving the frame to it when it is outside.
    QModelIndex shown(int row, int column) const;

    EditableRows& rows_;
    QTableView& grid_;
    ui::Prompts& prompts_;
    CellEditors* editors_ = nullptr;
};
