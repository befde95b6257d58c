#include "panels/CellEditors.h"

#include <QComboBox>
#include <QLineEdit>

#include "dataset/EditableRows.h"
#include "dataset/ValueCheck.h"

CellEditors::CellEditors(EditableRows& rows, QObject* parent)
    : QStyledItemDelegate(parent), rows_(rows) {}

bool CellEditors::editsElsewhere(const QModelIndex& index) const {
    const TableShape* shape = rows_.editShape();
    if (!shape || index.column() >= int(shape->columns.size())) return false;
    const TableColumn& column = shape->columns[std::size_t(index.column())];
    return column.isBinary() || valuecheck::isLongText(column);
}

QWidget* CellEditors::createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                                   const QModelIndex& index) const {
    if (!rows_.editShape() || editsElsewhere(index)) return nullptr;
    const TableColumn& column = rows_.editShape()->columns[std::size_t(index.column())];
    if (valuecheck::isEnum(column)) {
        auto* list = new QComboBox(parent);
        list->addItems(valuecheck::members(column.columnType));
        return list;
    }
    auto* line = new QLineEdit(parent);
    if (valuecheck::isSet(column))
        line->setPlaceholderText(valuecheck::members(column.columnType).join(u','));
    (void)option;
    return line;
}

void CellEditors::setEditorData(QWidget* editor, const QModelIndex& index) const {
    const QString text = index.data(Qt::EditRole).toString();
    if (auto* list = qobject_cast<QComboBox*>(editor)) {
        list->setCurrentIndex(std::max(0, list->findText(text)));
    } else if (auto* line = qobject_cast<QLineEdit*>(editor)) {
        line->setText(text);
    }
}

void CellEditors::setModelData(QWidget* editor, QAbstractItemModel* model,
                               const QModelIndex& index) const {
    QString text;
    if (auto* list = qobject_cast<QComboBox*>(editor))
        text = list->currentText();
    else if (auto* line = qobject_cast<QLineEdit*>(editor))
        text = line->text();
    else
        return;
    if (!rows_.editShape()) return;
    const TableColumn& column = rows_.editShape()->columns[std::size_t(index.column())];
    const bool json = rows_.fields()[std::size_t(index.column())].type == FieldType::Json;
    // An unchanged cell is no edit, and is not checked.
    if (text == index.data(Qt::EditRole).toString() && !index.data(Qt::EditRole).isNull()) return;
    if (const QString why = valuecheck::problem(column, text, json); !why.isEmpty()) {
        Q_EMIT refused(why);
        return;
    }
    model->setData(index, text, Qt::EditRole);
}
