#pragma once

#include <QStyledItemDelegate>

class EditableRows;

// The editors of an editable grid, by column type: a list of its members for an ENUM, a line
// checked before it is sent for numbers, dates, times, SET and JSON. Long text and binary
// values are not edited in the cell (the view edits long text in the value viewer and
// loads binary values from a file).
class CellEditors : public QStyledItemDelegate {
    Q_OBJECT
public:
    explicit CellEditors(EditableRows& rows, QObject* parent = nullptr);

    // Whether the cell is edited somewhere else than in place.
    bool editsElsewhere(const QModelIndex& index) const;

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const override;
    void setEditorData(QWidget* editor, const QModelIndex& index) const override;
    void setModelData(QWidget* editor, QAbstractItemModel* model,
                      const QModelIndex& index) const override;

Q_SIGNALS:
    // A value was not taken: why, for the status line.
    void refused(const QString& why) const;

private:
    EditableRows& rows_;
};
