#include "dataset/TableRows.h"

#include <QBrush>
#include <QFont>
#include <QMetaObject>
#include <algorithm>
#include <climits>

#include "db/Connection.h"

namespace {

// A read far from every window seeks that row directly instead of reading up to it.
constexpr int kNear = 2 * TableRows::kWindowRows;
constexpr int kLongestRead = 4 * TableRows::kWindowRows;

int clampRows(std::uint64_t rows) { return int(std::min<std::uint64_t>(rows, INT_MAX - 1)); }

}  // namespace

TableRows::TableRows(QObject* parent) : QAbstractTableModel(parent) {}

TableRows::~TableRows() = default;

void TableRows::open(const QString& database, const QString& table) {
    if (!connection_) throw db::DbError(0, "HY000", "The grid has no connection.");
    TableShape shape = readTableShape(*connection_, database, table);
    // A table that is gone (or hidden from this account) has no columns: the server says
    // which it is.
    if (shape.columns.empty()) connection_->select("SELECT * FROM " + db::qualifiedName(database, table) + " LIMIT 0");
    if (shape.columns.empty())
        throw db::DbError(0, "HY000", "The table has no columns this account can read.");
    open(std::move(shape));
}

void TableRows::open(TableShape shape) {
    close();
    if (!connection_) throw db::DbError(0, "HY000", "The grid has no connection.");
    db::Connection* c = connection_;
    auto pager = std::make_unique<RowPager>(
        std::move(shape), [c](std::string_view bytes) { return c->quoteValue(bytes); });
    std::swap(pager_, pager);
    try {
        readFirst();
    } catch (...) {
        close();
        throw;
    }
}

void TableRows::close() {
    beginResetModel();
    edits_.clear();
    editByKey_.clear();
    addedEdits_.clear();
    windows_.clear();
    kept_ = 0;
    count_ = 0;
    countExact_ = false;
    fields_.clear();
    pager_.reset();
    wanted_ = -1;
    lastError_.clear();
    endResetModel();
}

// From the start, with the pager as it is set now. Throws db::DbError; the model is then
// left as it was.
void TableRows::readFirst() {
    db::Connection& c = *connection_;
    const bool filtered = !pager_->filter().trimmed().isEmpty();
    std::optional<int> counted;
    if (filtered) {
        // The filtered set's size is what the user asked about; the table's estimate says
        // nothing of it.
        db::Result r = c.select(pager_->count());
        counted = r.next() ? clampRows(r.text(0).toULongLong()) : 0;
    }
    const QString shownError = lastError_;
    std::optional<Window> first = fetch(pager_->seeks() ? pager_->first(kWindowRows)
                                                        : pager_->atOffset(0, kWindowRows),
                                        false, true);
    if (!first) {
        lastError_ = shownError;  // the rows shown stay, and so does what their reading met
        throw c.lastError();
    }
    Window& w = *first;
    beginResetModel();
    windows_.clear();
    kept_ = 0;
    wanted_ = -1;
    lastError_.clear();
    edits_.clear();  // the window asks before it lets edits go
    reindexEdits();
    fields_ = fieldDefsOf(w.result.columns());
    const int got = w.count;
    if (counted) {
        count_ = *counted;
        countExact_ = true;
    } else if (got < kWindowRows) {
        count_ = got;
        countExact_ = true;
    } else if (!countExact_ || count_ < got) {
        // The estimate is all there is; it is never below what was read.
        count_ = std::max(clampRows(pager_->shape().estimatedRows), got + kWindowRows);
        countExact_ = false;
    }
    if (got > 0) {
        kept_ = std::size_t(got);
        windows_.emplace(0, std::move(w));
    }
    endResetModel();
    Q_EMIT countChanged();
}

void TableRows::setFilter(const QString& condition) {
    if (!pager_) return;
    const QString before = pager_->filter();
    pager_->setFilter(condition);
    countExact_ = false;
    try {
        readFirst();
    } catch (...) {
        pager_->setFilter(before);
        throw;
    }
}

void TableRows::sort(int column, Qt::SortOrder order) {
    if (!pager_) return;
    const int column0 = pager_->sortColumn();
    const bool descending0 = pager_->sortDescending();
    pager_->setSort(column, order == Qt::DescendingOrder);
    try {
        readFirst();
    } catch (...) {
        pager_->setSort(column0, descending0);
        throw;
    }
}

void TableRows::reload() {
    if (pager_) readFirst();
}

void TableRows::rereadAround(int gridRow) {
    if (!pager_) return;
    const int row = std::clamp(tableRow(gridRow), 0, std::max(0, count_ - 1));
    beginResetModel();
    windows_.clear();
    kept_ = 0;
    endResetModel();
    if (count_ > 0) ensureLoaded(row);
}

void TableRows::countRows() {
    if (!pager_) return;
    db::Result r = connection_->select(pager_->count());
    setCount(r.next() ? clampRows(r.text(0).toULongLong()) : 0, true);
    // Windows placed from an estimated end are now out of place.
    dropWindows([](int, const Window& w) { return !w.exact; });
    Q_EMIT countChanged();
}

const TableRows::Window* TableRows::windowAt(int row, int* start) const {
    auto it = windows_.upper_bound(row);
    if (it == windows_.begin()) return nullptr;
    --it;
    if (row >= it->first + it->second.count) return nullptr;
    if (start) *start = it->first;
    return &it->second;
}

db::Value TableRows::cell(int row, int column) const {
    int start = 0;
    const Window* w = windowAt(row, &start);
    if (!w) return {};
    return w->rows.value(w->stored(row - start), unsigned(column));
}

std::vector<RowPager::Value> TableRows::orderValues(const Window& w, int i) const {
    std::vector<RowPager::Value> values;
    for (int column : pager_->orderColumns()) {
        const db::Value v = w.rows.value(w.stored(i), unsigned(column));
        values.push_back(v.isNull() ? RowPager::Value() : RowPager::Value(std::string(v.view())));
    }
    return values;
}

void TableRows::place(int start, Window window, bool endsTable) {
    const int end = start + window.count;
    dropWindows([&](int first, const Window& w) { return first < end && first + w.count > start; });
    // Rows read up to an estimated count: more may follow, so the count stays a window ahead.
    if (!endsTable && !countExact_ && end >= count_)
        setCount(end + kWindowRows, false);
    else if (end > count_)
        setCount(end, false);
    kept_ += std::size_t(window.count);
    windows_.emplace(start, std::move(window));
    letGo(start, end);
    if (!fields_.empty())
        Q_EMIT dataChanged(index(added() + start, 0),
                           index(added() + end - 1, int(fields_.size()) - 1));
}

void TableRows::setCount(int count, bool exact) {
    count = std::max(count, 0);
    if (count > count_) {
        beginInsertRows({}, added() + count_, added() + count - 1);
        count_ = count;
        endInsertRows();
    } else if (count < count_) {
        dropWindows([&](int first, const Window& w) { return first + w.count > count; });
        beginRemoveRows({}, added() + count, added() + count_ - 1);
        count_ = count;
        endRemoveRows();
    }
    if (exact != countExact_) {
        countExact_ = exact;
        Q_EMIT countChanged();
    }
}

void TableRows::dropWindows(const std::function<bool(int, const Window&)>& drop) {
    for (auto it = windows_.begin(); it != windows_.end();) {
        if (drop(it->first, it->second)) {
            kept_ -= std::size_t(it->second.count);
            it = windows_.erase(it);
        } else {
            ++it;
        }
    }
}

// Keeps the windows nearest the rows just read.
void TableRows::letGo(int start, int end) {
    const int middle = start + (end - start) / 2;
    while (kept_ > kKeptRows && windows_.size() > 1) {
        auto farthest = windows_.end();
        int distance = -1;
        for (auto it = windows_.begin(); it != windows_.end(); ++it) {
            if (it->first == start) continue;
            const int d = it->first > middle ? it->first - middle
                                             : middle - (it->first + it->second.count);
            if (d > distance) {
                distance = d;
                farthest = it;
            }
        }
        if (farthest == windows_.end()) break;
        kept_ -= std::size_t(farthest->second.count);
        windows_.erase(farthest);
    }
}

std::optional<TableRows::Window> TableRows::fetch(const std::string& statement, bool reversed,
                                                  bool exact) {
    db::Connection& c = *connection_;
    db::Result r;
    if (c.query(statement)) r = c.storeResult();
    if (!r) {
        lastError_ = c.errorText();
        return std::nullopt;
    }
    Window w;
    w.count = int(r.rowCount());
    w.reversed = reversed;
    w.exact = exact;
    w.rows = db::StoredRows(r);
    w.result = std::move(r);
    return w;
}

// The windows from `at` on move by `by` rows: the gap before them held that many rows more
// (or fewer) than their positions assumed. The gap holds no window.
void TableRows::shiftFrom(int at, int by) {
    if (by == 0) return;
    std::map<int, Window> moved;
    for (auto it = windows_.lower_bound(at); it != windows_.end();)
        moved.emplace(it->first + by, std::move(it->second)), it = windows_.erase(it);
    if (by > 0) {
        beginInsertRows({}, added() + at, added() + at + by - 1);
        windows_.merge(moved);
        count_ += by;
        endInsertRows();
    } else {
        beginRemoveRows({}, added() + at + by, added() + at - 1);
        windows_.merge(moved);
        count_ += by;
        endRemoveRows();
    }
}

// The gap before `at` was read whole, from the top or from a window placed from the top: the
// windows after it are placed from the top now too, and when one of them was placed from the
// end, the count is known.
void TableRows::anchorFrom(int at) {
    bool endAnchored = false;
    for (auto it = windows_.lower_bound(at); it != windows_.end(); ++it) {
        endAnchored = endAnchored || !it->second.exact;
        it->second.exact = true;
    }
    if (endAnchored && !countExact_) {
        countExact_ = true;
        Q_EMIT countChanged();
    }
}

bool TableRows::loadNear(int row) {
    if (!pager_ || row < 0 || row >= count_) return false;
    if (windowAt(row)) return true;
    if (!pager_->seeks()) {
        // Pages by position: deep pages cost the server the rows before them.
        const int start = row / kWindowRows * kWindowRows;
        std::optional<Window> w = fetch(pager_->atOffset(std::uint64_t(start), kWindowRows), false, true);
        if (!w) return false;
        const int got = w->count;
        if (got > 0) place(start, std::move(*w));
        if (got > 0 || start == 0) {
            if (got < kWindowRows) setCount(start + got, true);
            return true;
        }
        // The estimate went past the end, which positions alone cannot find.
        try {
            countRows();
        } catch (const db::DbError& error) {
            lastError_ = QString::fromUtf8(error.what());
            return false;
        }
        return row < count_ ? loadNear(row) : true;
    }
    const auto next = windows_.upper_bound(row);
    const auto previous = next == windows_.begin() ? windows_.end() : std::prev(next);
    const bool hasPrevious = previous != windows_.end();
    const bool hasNext = next != windows_.end();
    const int from = hasPrevious ? previous->first + previous->second.count : 0;
    const int to = hasNext ? next->first : count_;
    std::vector<RowPager::Value> low, high;
    if (hasPrevious) low = orderValues(previous->second, previous->second.count - 1);
    if (hasNext) high = orderValues(next->second, 0);
    const bool previousExact = hasPrevious && previous->second.exact;

    if (hasPrevious && row - from < kNear) {
        // Down from the window above, never past the window below.
        const int rows = std::min(row - from + kWindowRows, kLongestRead);
        std::optional<Window> w = fetch(pager_->between(&low, hasNext ? &high : nullptr, rows, false),
                                        false, previousExact);
        if (!w) return false;
        const int got = w->count;
        if (hasNext) {
            // The whole gap was read: the windows below start right after it.
            if (got < rows) {
                shiftFrom(to, from + got - to);
                if (previousExact) anchorFrom(from + got);
            } else if (from + got >= to) {
                shiftFrom(to, from + got - to + kWindowRows);
            }
        }
        if (got > 0) place(from, std::move(*w));
        if (!hasNext && got < rows) setCount(from + got, previousExact || countExact_);
        return true;
    }
    if (hasNext && to - row <= kNear) {
        // Up from the window below, never past the window above.
        const int rows = std::max(1, std::min(to - row + kWindowRows / 2, kLongestRead));
        std::optional<Window> w = fetch(pager_->between(hasPrevious ? &low : nullptr, &high, rows, true),
                                        true, next->second.exact);
        if (!w) return false;
        const int got = w->count;
        int start = to - got;
        if (got < rows) {
            // The whole gap was read: this window and those below start right after the
            // window above, or at the top.
            shiftFrom(to, from + got - to);
            start = from;
            if (!hasPrevious || previousExact) {
                w->exact = true;
                anchorFrom(from + got);
            }
        } else if (start <= from) {
            // The gap holds at least as many rows as it has positions: make room above the
            // window; the rest is read later.
            shiftFrom(to, from - start + kWindowRows);
            start = from + kWindowRows;
        }
        if (got > 0) place(start, std::move(*w));
        return true;
    }
    if (row < kWindowRows && !hasPrevious) {
        std::optional<Window> w = fetch(pager_->between(nullptr, hasNext ? &high : nullptr, kWindowRows, false),
                                        false, true);
        if (!w) return false;
        const int got = w->count;
        if (hasNext && got < kWindowRows) {
            shiftFrom(to, got - to);
            anchorFrom(got);
        } else if (hasNext && got >= to) {
            shiftFrom(to, got - to + kWindowRows);
        }
        if (got > 0) place(0, std::move(*w));
        if (!hasNext && got < kWindowRows) setCount(got, true);
        return true;
    }
    if (row >= count_ - kWindowRows && !hasNext) return readEnd();
    // Far from every window: that row's window is read directly.
    const int start = std::max(from, row - kWindowRows / 2);
    const int rows = std::min(kWindowRows, std::max(1, to - start));
    std::optional<Window> w = fetch(pager_->atOffset(std::uint64_t(start), rows), false, true);
    if (!w) return false;
    const int got = w->count;
    if (got > 0) place(start, std::move(*w));
    if (got < rows) setCount(start + got, true);
    return true;
}

// The last rows, read from the end (nearest the end first), bounded by the window furthest
// down.
bool TableRows::readEnd() {
    const auto previous = windows_.empty() ? windows_.end() : std::prev(windows_.end());
    const bool hasPrevious = previous != windows_.end();
    const int from = hasPrevious ? previous->first + previous->second.count : 0;
    const bool previousExact = hasPrevious && previous->second.exact;
    std::vector<RowPager::Value> low;
    if (hasPrevious) low = orderValues(previous->second, previous->second.count - 1);
    std::optional<Window> w =
        fetch(pager_->between(hasPrevious ? &low : nullptr, nullptr, kWindowRows, true), true,
              countExact_);
    if (!w) return false;
    const int got = w->count;
    if (got < kWindowRows) {
        // Everything after the window above: the count is known from there.
        w->exact = previousExact || !hasPrevious;
        if (got > 0) place(from, std::move(*w));
        setCount(from + got, previousExact || !hasPrevious || countExact_);
        return true;
    }
    // Rows may lie between the window above and this one: leave room to read them.
    const int end = std::max(count_, from + got + (hasPrevious ? 1 : 0));
    if (end > count_) setCount(end, false);
    place(end - got, std::move(*w), true);
    return true;
}

bool TableRows::loadEnd() {
    if (!pager_) return false;
    if (pager_->seeks() && !countExact_) {
        lastError_.clear();
        return readEnd();
    }
    // The count may still come nearer as the end is looked for.
    for (int tries = 0; tries < 3; ++tries) {
        if (count_ == 0 || ensureLoaded(count_ - 1)) return true;
        if (!lastError_.isEmpty()) return false;
    }
    return false;
}

bool TableRows::ensureLoaded(int row) {
    lastError_.clear();
    for (int tries = 0; tries < 8 && !windowAt(row); ++tries) {
        if (!loadNear(row)) return false;
        if (row >= count_) return false;
    }
    return windowAt(row) != nullptr;
}

void TableRows::requestLater(int row) const {
    wanted_ = row;
    if (readQueued_) return;
    readQueued_ = true;
    QMetaObject::invokeMethod(const_cast<TableRows*>(this), &TableRows::readRequested,
                              Qt::QueuedConnection);
}

void TableRows::readRequested() {
    readQueued_ = false;
    // A read runs: it asks again once it is done.
    if (reading_ || wanted_ < 0 || !lastError_.isEmpty()) return;
    const int row = std::exchange(wanted_, -1);
    if (windowAt(row)) return;
    reading_ = true;
    const bool ok = loadNear(row);
    reading_ = false;
    if (!ok) {
        Q_EMIT readFailed(lastError_);
        return;
    }
    if (wanted_ >= 0 && !readQueued_) {
        readQueued_ = true;
        QMetaObject::invokeMethod(this, &TableRows::readRequested, Qt::QueuedConnection);
    }
}

int TableRows::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : added() + count_;
}

int TableRows::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(fields_.size());
}

QVariant TableRows::data(const QModelIndex& index, int role) const {
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
    int start = 0;
    const Window* w = windowAt(row, &start);
    if (!w) {
        if (role == Qt::DisplayRole) requestLater(row);
        return {};
    }
    const db::Value value = w->rows.value(w->stored(row - start), unsigned(column));
    if (role == Qt::EditRole) return value.isNull() ? QVariant() : QVariant(value.text());
    return cellRoleData(fields_[std::size_t(column)], value, role, IsNullRole);
}

Qt::ItemFlags TableRows::flags(const QModelIndex& index) const {
    if (!index.isValid()) return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemNeverHasChildren;
    const int edit = editAt(index.row());
    const bool deleted = edit >= 0 && edits_[std::size_t(edit)].kind == RowEdit::Kind::Delete;
    if (editable() && !deleted && index.column() < columnCount() &&
        !pager_->shape().columns[std::size_t(index.column())].generated &&
        (index.row() < added() || isLoaded(tableRow(index.row()))))
        f |= Qt::ItemIsEditable;
    return f;
}

QVariant TableRows::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation == Qt::Vertical && role == Qt::DisplayRole && section >= 0 && section < rowCount()) {
        const int edit = editAt(section);
        if (section < added()) return QStringLiteral("+");
        const QString number = QString::number(tableRow(section) + 1);
        return edit >= 0 ? number + QStringLiteral(" *") : number;
    }
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 &&
        section < columnCount())
        return fields_[std::size_t(section)].name;
    return QAbstractTableModel::headerData(section, orientation, role);
}

// ---- Edits ----------------------------------------------------------------------------

bool TableRows::editable() const { return pager_ && pager_->shape().readOnlyReason().isEmpty(); }

QString TableRows::readOnlyReason() const {
    return pager_ ? pager_->shape().readOnlyReason() : QString();
}

RowBytes TableRows::rowOf(int row) const {
    RowBytes out;
    int start = 0;
    const Window* w = windowAt(row, &start);
    if (!w) return out;
    for (int column = 0; column < columnCount(); ++column) {
        const db::Value v = w->rows.value(w->stored(row - start), unsigned(column));
        out.push_back(v.isNull() ? CellBytes() : CellBytes(std::string(v.view())));
    }
    return out;
}

RowBytes TableRows::keyOf(int row) const {
    RowBytes key;
    int start = 0;
    const Window* w = windowAt(row, &start);
    if (!w || !pager_) return key;
    for (int column : pager_->shape().key) {
        const db::Value v = w->rows.value(w->stored(row - start), unsigned(column));
        key.push_back(v.isNull() ? CellBytes() : CellBytes(std::string(v.view())));
    }
    return key;
}

int TableRows::editAt(int gridRow) const {
    if (gridRow < 0) return -1;
    if (gridRow < added()) return addedEdits_[std::size_t(gridRow)];
    if (editByKey_.empty()) return -1;
    const RowBytes key = keyOf(tableRow(gridRow));
    if (key.empty()) return -1;
    const auto it = editByKey_.find(key);
    return it == editByKey_.end() ? -1 : it->second;
}

void TableRows::reindexEdits() {
    editByKey_.clear();
    addedEdits_.clear();
    for (std::size_t i = 0; i < edits_.size(); ++i) {
        const RowEdit& e = edits_[i];
        if (e.kind == RowEdit::Kind::Insert) {
            addedEdits_.insert(addedEdits_.begin(), int(i));  // the newest on top
            continue;
        }
        RowBytes key;
        for (int column : pager_->shape().key) key.push_back(e.original[std::size_t(column)]);
        editByKey_[key] = int(i);
    }
}

void TableRows::noteEdited(int gridRow) {
    if (gridRow >= 0 && gridRow < rowCount()) {
        Q_EMIT dataChanged(index(gridRow, 0), index(gridRow, columnCount() - 1));
        Q_EMIT headerDataChanged(Qt::Vertical, gridRow, gridRow);
    }
    Q_EMIT editsChanged();
}

bool TableRows::setCell(int gridRow, int column, CellBytes value) {
    if (!editable() || column < 0 || column >= columnCount() ||
        pager_->shape().columns[std::size_t(column)].generated)
        return false;
    int edit = editAt(gridRow);
    if (edit < 0) {
        if (gridRow < added() || !isLoaded(tableRow(gridRow))) return false;
        RowEdit e;
        e.kind = RowEdit::Kind::Update;
        e.original = rowOf(tableRow(gridRow));
        edits_.push_back(std::move(e));
        edit = int(edits_.size()) - 1;
        // Indexed alone: indexing every edit again made each edit cost as many as were made.
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

bool TableRows::setData(const QModelIndex& index, const QVariant& value, int role) {
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

QByteArray TableRows::bytesAt(const QModelIndex& index) const {
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

bool TableRows::setNull(const QModelIndex& index) {
    return index.isValid() && setCell(index.row(), index.column(), std::nullopt);
}

void TableRows::addRow() {
    if (!editable()) return;
    beginInsertRows({}, 0, 0);
    RowEdit e;
    e.kind = RowEdit::Kind::Insert;
    edits_.push_back(std::move(e));
    reindexEdits();
    endInsertRows();
    Q_EMIT editsChanged();
}

void TableRows::deleteRows(std::vector<int> rows) {
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
            reindexEdits();
        }
        noteEdited(gridRow);
    }
}

void TableRows::revertRow(int gridRow) {
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

void TableRows::revertAll() {
    if (edits_.empty()) return;
    beginResetModel();
    edits_.clear();
    reindexEdits();
    endResetModel();
    Q_EMIT editsChanged();
}

RowStatements TableRows::statements() const {
    db::Connection* c = connection_;
    return RowStatements(pager_->shape(), [c](std::string_view bytes) { return c->quoteValue(bytes); });
}

std::vector<std::string> TableRows::preview() const {
    std::vector<std::string> out;
    if (!pager_) return out;
    const RowStatements s = statements();
    for (const RowEdit& e : edits_)
        if (std::string text = s.statement(e); !text.empty()) out.push_back(std::move(text));
    return out;
}

int TableRows::gridRowOf(int edit) const {
    if (edit < 0 || edit >= int(edits_.size())) return -1;
    for (int i = 0; i < added(); ++i)
        if (addedEdits_[std::size_t(i)] == edit) return i;
    for (const auto& [start, w] : windows_)
        for (int i = 0; i < w.count; ++i)
            if (editAt(added() + start + i) == edit) return added() + start + i;
    return -1;
}

PostOutcome TableRows::post(int around) {
    PostOutcome out;
    if (!pager_ || edits_.empty()) {
        out.applied = true;
        return out;
    }
    out = postEdits(*connection_, statements(), edits_, ReadBack::None);  // read again below
    if (!out.applied) return out;
    // Read again where the grid was: positions of rows after an added or deleted one moved.
    const int row = std::max(0, tableRow(around));
    int moved = 0;
    for (const RowEdit& e : edits_)
        moved += e.kind == RowEdit::Kind::Insert ? 1 : e.kind == RowEdit::Kind::Delete ? -1 : 0;
    beginResetModel();
    count_ = std::max(0, count_ + moved);
    edits_.clear();
    reindexEdits();
    endResetModel();
    rereadAround(row);
    Q_EMIT editsChanged();
    return out;
}
