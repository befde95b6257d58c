#include "dataset/EditableRows.h"

#include <QBrush>
#include <QFont>
#include <algorithm>

#include "db/Connection.h"

EditableRows::EditableRows(QObject* parent) : QAbstractTableModel(parent) {}

EditableRows::~EditableRows() = default;

QString EditableRows::readOnlyReason() const {
    const TableShape* shape = editShape();
    return shape ? shape->readOnlyReason() : QString();
}

int EditableRows::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : added() + readCount();
}

int EditableRows::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(fields_.size());
}

QVariant EditableRows::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount() || index.column() >= columnCount()) return {};
    const int column = index.column();
    const int edit = editAt(index.row());
    const RowEdit* e = edit >= 0 ? &edits_[std::size_t(edit)] : nullptr;
    const bool changed = e && e->changed.count(column);
    if (role == Qt::BackgroundRole && e) {
        if (e->kind == RowEdit::Kind::Delete) return QBrush(QColor(255, 214, 214));
        if (changed || e->kind == RowEdit::Kind::Insert) return QBrush(QColor(255, 244, 200));
        return {};
    }
    if (role == Qt::FontRole && e && e->kind == RowEdit::Kind::Delete) {
        QFont font;
        font.setStrikeOut(true);
        return font;
    }
    if (e && (changed || e->kind == RowEdit::Kind::Insert)) {
        const FieldDef& field = fields_[std::size_t(column)];
        if (!changed) {
            // An added row's column not given: the server's default.
            if (role == Qt::DisplayRole) return QStringLiteral("(default)");
            if (role == Qt::ForegroundRole) return QBrush(Qt::gray);
            return {};
        }
        const CellBytes& v = e->changed.at(column);
        const db::Value value = v ? db::Value{v->data(), static_cast<unsigned long>(v->size())} : db::Value{};
        if (role == Qt::EditRole)
            return v ? QVariant(QString::fromUtf8(v->data(), qsizetype(v->size()))) : QVariant();
        return cellRoleData(field, value, role, IsNullRole);
    }
    const int row = tableRow(index.row());
    if (!isLoaded(row)) {
        if (role == Qt::DisplayRole) wanted(row);
        return {};
    }
    const db::Value value = cell(row, column);
    if (role == Qt::EditRole) return value.isNull() ? QVariant() : QVariant(value.text());
    return cellRoleData(fields_[std::size_t(column)], value, role, IsNullRole);
}

Qt::ItemFlags EditableRows::flags(const QModelIndex& index) const {
    if (!index.isValid()) return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemNeverHasChildren;
    const int edit = editAt(index.row());
    const bool deleted = edit >= 0 && edits_[std::size_t(edit)].kind == RowEdit::Kind::Delete;
    if (editable() && !deleted && index.column() < columnCount() &&
        !editShape()->columns[std::size_t(index.column())].generated &&
        (index.row() < added() || isLoaded(tableRow(index.row()))))
        f |= Qt::ItemIsEditable;
    return f;
}

QVariant EditableRows::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation == Qt::Vertical && role == Qt::DisplayRole && section >= 0 && section < rowCount()) {
        if (section < added()) return QStringLiteral("+");
        const QString number = QString::number(tableRow(section) + 1);
        return editAt(section) >= 0 ? number + QStringLiteral(" *") : number;
    }
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 &&
        section < columnCount())
        return fields_[std::size_t(section)].name;
    return QAbstractTableModel::headerData(section, orientation, role);
}

RowBytes EditableRows::rowOf(int row) const {
    RowBytes out;
    if (!isLoaded(row)) return out;
    for (int column = 0; column < columnCount(); ++column) {
        const db::Value v = cell(row, column);
        out.push_back(v.isNull() ? CellBytes() : CellBytes(std::string(v.view())));
    }
    return out;
}

RowBytes EditableRows::keyOf(int row) const {
    RowBytes key;
    const TableShape* shape = editShape();
    if (!shape || !isLoaded(row)) return key;
    for (int column : shape->key) {
        const db::Value v = cell(row, column);
        key.push_back(v.isNull() ? CellBytes() : CellBytes(std::string(v.view())));
    }
    return key;
}

int EditableRows::editAt(int gridRow) const {
    if (gridRow < 0) return -1;
    if (gridRow < added()) return addedEdits_[std::size_t(gridRow)];
    if (editByKey_.empty()) return -1;
    const RowBytes key = keyOf(tableRow(gridRow));
    if (key.empty()) return -1;
    const auto it = editByKey_.find(key);
    return it == editByKey_.end() ? -1 : it->second;
}

void EditableRows::reindexEdits() {
    editByKey_.clear();
    addedEdits_.clear();
    const TableShape* shape = editShape();
    for (std::size_t i = 0; i < edits_.size(); ++i) {
        const RowEdit& e = edits_[i];
        if (e.kind == RowEdit::Kind::Insert) {
            addedEdits_.insert(addedEdits_.begin(), int(i));  // the newest on top
            continue;
        }
        RowBytes key;
        for (int column : shape->key) key.push_back(e.original[std::size_t(column)]);
        editByKey_[key] = int(i);
    }
}

void EditableRows::dropEdits() {
    edits_.clear();
    editByKey_.clear();
    addedEdits_.clear();
}

void EditableRows::noteEdited(int gridRow) {
    if (gridRow >= 0 && gridRow < rowCount()) {
        Q_EMIT dataChanged(index(gridRow, 0), index(gridRow, columnCount() - 1));
        Q_EMIT headerDataChanged(Qt::Vertical, gridRow, gridRow);
    }
    Q_EMIT editsChanged();
}

bool EditableRows::setCell(int gridRow, int column, CellBytes value) {
    if (!editable() || column < 0 || column >= columnCount() ||
        editShape()->columns[std::size_t(column)].generated)
        return false;
    int edit = editAt(gridRow);
    if (edit < 0) {
        if (gridRow < added() || !isLoaded(tableRow(gridRow))) return false;
        RowEdit e;
        e.kind = RowEdit::Kind::Update;
        e.original = rowOf(tableRow(gridRow));
        edits_.push_back(std::move(e));
        edit = int(edits_.size()) - 1;
        // Indexed alone: reindexing every edit for each new one would make a thousand edits
        // cost a million steps.
        editByKey_[keyOf(tableRow(gridRow))] = edit;
    }
    RowEdit& e = edits_[std::size_t(edit)];
    if (e.kind == RowEdit::Kind::Delete) return false;
    if (e.kind == RowEdit::Kind::Update && e.original[std::size_t(column)] == value)
        e.changed.erase(column);  // back to what was read
    else
        e.changed[column] = std::move(value);
    if (e.kind == RowEdit::Kind::Update && e.changed.empty()) {
        edits_.erase(edits_.begin() + edit);
        reindexEdits();
    }
    noteEdited(gridRow);
    return true;
}

bool EditableRows::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (role != Qt::EditRole || !index.isValid()) return false;
    CellBytes bytes;
    if (!value.isNull()) {
        if (value.typeId() == QMetaType::QByteArray) {
            const QByteArray b = value.toByteArray();
            bytes = std::string(b.constData(), std::size_t(b.size()));
        } else {
            bytes = value.toString().toStdString();
        }
    }
    return setCell(index.row(), index.column(), std::move(bytes));
}

QByteArray EditableRows::bytesAt(const QModelIndex& index) const {
    const int edit = editAt(index.row());
    if (edit >= 0) {
        const auto changed = edits_[std::size_t(edit)].changed.find(index.column());
        if (changed != edits_[std::size_t(edit)].changed.end())
            return changed->second ? QByteArray(changed->second->data(), qsizetype(changed->second->size()))
                                   : QByteArray();
    }
    if (tableRow(index.row()) < 0) return {};
    return cell(tableRow(index.row()), index.column()).bytes();
}

bool EditableRows::setNull(const QModelIndex& index) {
    return index.isValid() && setCell(index.row(), index.column(), std::nullopt);
}

void EditableRows::addRow() {
    if (!editable()) return;
    beginInsertRows({}, 0, 0);
    RowEdit e;
    e.kind = RowEdit::Kind::Insert;
    edits_.push_back(std::move(e));
    reindexEdits();
    endInsertRows();
    Q_EMIT editsChanged();
}

void EditableRows::deleteRows(std::vector<int> rows) {
    if (!editable()) return;
    // From the bottom up, so that dropping an added row moves none still to be handled.
    std::sort(rows.rbegin(), rows.rend());
    for (int gridRow : rows) {
        const int edit = editAt(gridRow);
        if (gridRow < added()) {
            beginRemoveRows({}, gridRow, gridRow);
            edits_.erase(edits_.begin() + edit);
            reindexEdits();
            endRemoveRows();
            continue;
        }
        if (!isLoaded(tableRow(gridRow))) continue;
        if (edit >= 0) {
            RowEdit& e = edits_[std::size_t(edit)];
            e.kind = RowEdit::Kind::Delete;
            e.changed.clear();
        } else {
            RowEdit e;
            e.kind = RowEdit::Kind::Delete;
            e.original = rowOf(tableRow(gridRow));
            edits_.push_back(std::move(e));
            editByKey_[keyOf(tableRow(gridRow))] = int(edits_.size()) - 1;
        }
        noteEdited(gridRow);
    }
}

void EditableRows::revertRow(int gridRow) {
    const int edit = editAt(gridRow);
    if (edit < 0) return;
    if (gridRow < added()) {
        beginRemoveRows({}, gridRow, gridRow);
        edits_.erase(edits_.begin() + edit);
        reindexEdits();
        endRemoveRows();
        Q_EMIT editsChanged();
        return;
    }
    edits_.erase(edits_.begin() + edit);
    reindexEdits();
    noteEdited(gridRow);
}

void EditableRows::revertAll() {
    if (edits_.empty()) return;
    beginResetModel();
    dropEdits();
    endResetModel();
    Q_EMIT editsChanged();
}

RowStatements EditableRows::statements() const {
    db::Connection* c = connection_;
    return RowStatements(*editShape(), [c](std::string_view bytes) { return c->quoteValue(bytes); });
}

std::vector<std::string> EditableRows::preview() const {
    std::vector<std::string> out;
    if (!editShape() || !connection_) return out;
    const RowStatements s = statements();
    for (const RowEdit& e : edits_)
        if (std::string text = s.statement(e); !text.empty()) out.push_back(std::move(text));
    return out;
}

int EditableRows::gridRowOf(int edit) const {
    if (edit < 0 || edit >= int(edits_.size())) return -1;
    for (int i = 0; i < added(); ++i)
        if (addedEdits_[std::size_t(i)] == edit) return i;
    int found = -1;
    forEachRead([&](int row) {
        if (editAt(added() + row) != edit) return true;
        found = added() + row;
        return false;
    });
    return found;
}

PostOutcome EditableRows::post(int around) {
    PostOutcome out;
    if (!editShape() || !connection_ || edits_.empty()) {
        out.applied = true;
        return out;
    }
    // The rows are read again afterwards (afterPost), not each one on its own.
    out = postEdits(*connection_, statements(), edits_, ReadBack::None);
    if (!out.applied) return out;
    // Read again where the grid was: positions of rows after an added or deleted one moved.
    const int row = std::max(0, tableRow(around));
    int moved = 0;
    for (const RowEdit& e : edits_)
        moved += e.kind == RowEdit::Kind::Insert ? 1 : e.kind == RowEdit::Kind::Delete ? -1 : 0;
    beginResetModel();
    dropEdits();
    endResetModel();
    afterPost(row, moved);
    Q_EMIT editsChanged();
    return out;
}
