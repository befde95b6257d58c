#include "dataset/TableRows.h"

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

TableRows::TableRows(QObject* parent) : EditableRows(parent) {}

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
    dropEdits();
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
    dropEdits();  // the window asks before it lets edits go
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
    db::Result r = c.queryResult(statement);
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
    std::optional<Window> w;
    if (start > 0) {
        // The row before the window by its ordering values alone, then the window sought
        // from it: skipping rows costs the server less when it reads only those columns.
        std::optional<Window> before = fetch(pager_->orderAtOffset(std::uint64_t(start - 1)), false, true);
        if (!before) return false;
        if (before->count == 1) {
            std::vector<RowPager::Value> values;
            for (unsigned column = 0; column < before->result.columnCount(); ++column) {
                const db::Value v = before->rows.value(0, column);
                values.push_back(v.isNull() ? RowPager::Value() : RowPager::Value(std::string(v.view())));
            }
            w = fetch(pager_->after(values, rows), false, true);
            if (!w) return false;
        }
    }
    // The estimate went past the end (no row there), or the window starts the table.
    if (!w) w = fetch(pager_->atOffset(std::uint64_t(start), rows), false, true);
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

const TableShape* TableRows::editShape() const { return pager_ ? &pager_->shape() : nullptr; }

void TableRows::forEachRead(const std::function<bool(int)>& visit) const {
    for (const auto& [start, w] : windows_)
        for (int i = 0; i < w.count; ++i)
            if (!visit(start + i)) return;
}

void TableRows::afterPost(int row, int moved) {
    count_ = std::max(0, count_ + moved);
    rereadAround(added() + row);
}
