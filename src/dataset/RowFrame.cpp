#include "dataset/RowFrame.h"

#include <algorithm>

RowFrame::RowFrame(QObject* parent) : QAbstractProxyModel(parent) {}

void RowFrame::setSourceModel(QAbstractItemModel* source) {
    beginResetModel();
    if (sourceModel()) sourceModel()->disconnect(this);
    QAbstractProxyModel::setSourceModel(source);
    start_ = 0;
    rows_ = std::min(capacity_, sourceRowCount());
    if (source) {
        // Rows change by reset, insertion and removal; a change of order is shown as a reset.
        connect(source, &QAbstractItemModel::modelAboutToBeReset, this, [this] { beginResetModel(); });
        connect(source, &QAbstractItemModel::modelReset, this, [this] {
            clampAfterReset();
            endResetModel();
        });
        connect(source, &QAbstractItemModel::layoutAboutToBeChanged, this, [this] { beginResetModel(); });
        connect(source, &QAbstractItemModel::layoutChanged, this, [this] {
            clampAfterReset();
            endResetModel();
        });
        connect(source, &QAbstractItemModel::rowsAboutToBeInserted, this,
                [this](const QModelIndex&, int first, int last) { rowsAboutToBeInserted(first, last); });
        connect(source, &QAbstractItemModel::rowsInserted, this,
                [this](const QModelIndex&, int first, int last) { rowsInserted(first, last); });
        connect(source, &QAbstractItemModel::rowsAboutToBeRemoved, this,
                [this](const QModelIndex&, int first, int last) { rowsAboutToBeRemoved(first, last); });
        connect(source, &QAbstractItemModel::rowsRemoved, this,
                [this](const QModelIndex&, int first, int last) { rowsRemoved(first, last); });
        connect(source, &QAbstractItemModel::dataChanged, this,
                [this](const QModelIndex& from, const QModelIndex& to, const QList<int>& roles) {
                    const auto [first, last] = clipped(from.row(), to.row());
                    if (first <= last)
                        Q_EMIT dataChanged(index(first, from.column()), index(last, to.column()), roles);
                });
        connect(source, &QAbstractItemModel::headerDataChanged, this,
                [this](Qt::Orientation orientation, int first, int last) {
                    if (orientation == Qt::Horizontal) {
                        Q_EMIT headerDataChanged(orientation, first, last);
                        return;
                    }
                    const auto [from, to] = clipped(first, last);
                    if (from <= to) Q_EMIT headerDataChanged(orientation, from, to);
                });
    }
    endResetModel();
}

void RowFrame::setCapacity(int rows) {
    beginResetModel();
    capacity_ = std::max(1, rows);
    start_ = 0;
    rows_ = std::min(capacity_, sourceRowCount());
    endResetModel();
}

int RowFrame::sourceRowCount() const { return sourceModel() ? sourceModel()->rowCount() : 0; }

void RowFrame::clampAfterReset() {
    const int n = sourceRowCount();
    start_ = std::clamp(start_, 0, std::max(0, n - capacity_));
    rows_ = std::min(capacity_, n - start_);
}

std::pair<int, int> RowFrame::clipped(int first, int last) const {
    return {std::max(first, start_) - start_, std::min(last, start_ + rows_ - 1) - start_};
}

void RowFrame::moveTo(int first) {
    first = std::clamp(first, 0, std::max(0, sourceRowCount() - rows_));
    if (first == start_) return;
    Q_EMIT layoutAboutToBeChanged();
    const QModelIndexList from = persistentIndexList();
    QModelIndexList to;
    to.reserve(from.size());
    for (const QModelIndex& i : from) {
        const int row = i.row() + start_ - first;
        to.append(row >= 0 && row < rows_ ? index(row, i.column()) : QModelIndex());
    }
    start_ = first;
    changePersistentIndexList(from, to);
    Q_EMIT layoutChanged();
    Q_EMIT moved();
}

void RowFrame::reveal(int sourceRow) {
    if (sourceRow >= start_ && sourceRow < start_ + rows_) return;
    moveTo(sourceRow - rows_ / 2);
}

void RowFrame::rowsAboutToBeInserted(int first, int last) {
    pending_ = {};
    if (first < start_) {
        // Rows before the frame: it keeps showing the same rows.
        pending_.shift = last - first + 1;
    } else if (first <= start_ + rows_) {
        pending_.first = first - start_;
        pending_.last = last - start_;
        beginInsertRows({}, pending_.first, pending_.last);
    }
}

void RowFrame::rowsInserted(int first, int last) {
    start_ += pending_.shift;
    if (pending_.first >= 0) {
        rows_ += last - first + 1;
        endInsertRows();
    }
    pending_ = {};
    if (rows_ > capacity_) {
        beginRemoveRows({}, capacity_, rows_ - 1);
        rows_ = capacity_;
        endRemoveRows();
    }
}

void RowFrame::rowsAboutToBeRemoved(int first, int last) {
    pending_ = {};
    if (first < start_) pending_.shift = -(std::min(last, start_ - 1) - first + 1);
    const auto [from, to] = clipped(first, last);
    if (from <= to) {
        pending_.first = from;
        pending_.last = to;
        beginRemoveRows({}, from, to);
    }
}

void RowFrame::rowsRemoved(int, int) {
    start_ += pending_.shift;
    if (pending_.first >= 0) {
        rows_ -= pending_.last - pending_.first + 1;
        endRemoveRows();
    }
    pending_ = {};
    refill();
}

// After rows went, the frame takes the rows now after it and, at the source's end, before it.
void RowFrame::refill() {
    const int n = sourceRowCount();
    const int after = std::min(capacity_, n - start_) - rows_;
    if (after > 0) {
        beginInsertRows({}, rows_, rows_ + after - 1);
        rows_ += after;
        endInsertRows();
    }
    const int before = std::min(start_, capacity_ - rows_);
    if (before > 0) {
        beginInsertRows({}, 0, before - 1);
        start_ -= before;
        rows_ += before;
        endInsertRows();
    }
}

QModelIndex RowFrame::mapToSource(const QModelIndex& proxy) const {
    if (!proxy.isValid() || !sourceModel()) return {};
    return sourceModel()->index(start_ + proxy.row(), proxy.column());
}

QModelIndex RowFrame::mapFromSource(const QModelIndex& source) const {
    if (!source.isValid()) return {};
    const int row = source.row() - start_;
    if (row < 0 || row >= rows_) return {};
    return index(row, source.column());
}

QModelIndex RowFrame::index(int row, int column, const QModelIndex& parent) const {
    if (parent.isValid() || row < 0 || row >= rows_ || column < 0 || column >= columnCount())
        return {};
    return createIndex(row, column);
}

QModelIndex RowFrame::parent(const QModelIndex&) const { return {}; }

int RowFrame::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : rows_; }

bool RowFrame::hasChildren(const QModelIndex& parent) const {
    return !parent.isValid() && rows_ > 0 && columnCount() > 0;
}

int RowFrame::columnCount(const QModelIndex& parent) const {
    return parent.isValid() || !sourceModel() ? 0 : sourceModel()->columnCount();
}

QVariant RowFrame::headerData(int section, Qt::Orientation orientation, int role) const {
    if (!sourceModel()) return {};
    return sourceModel()->headerData(orientation == Qt::Vertical ? start_ + section : section,
                                     orientation, role);
}
