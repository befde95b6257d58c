#pragma once

#include <QAbstractProxyModel>

// A bounded run of a long model's rows for a view: rows [start(), start() + rowCount()) of
// the source, at most capacity() of them. A view keeps an entry for each row its model
// has (Qt's header sizes every section), so a view over millions of rows would spend
// seconds and tens of megabytes before its first paint; over a frame it spends what a
// hundred thousand rows cost, and the frame moves (moveTo, reveal) as the user goes
// further. Current and selected cells follow their source rows when the frame moves.
class RowFrame : public QAbstractProxyModel {
    Q_OBJECT
public:
    static constexpr int kCapacity = 100000;

    explicit RowFrame(QObject* parent = nullptr);

    void setSourceModel(QAbstractItemModel* source) override;
    // The most rows shown at once; changing it shows the frame again from the start.
    void setCapacity(int rows);
    int capacity() const { return capacity_; }

    // The source row of the frame's first row.
    int start() const { return start_; }
    int sourceRowCount() const;
    // Starts the frame at `first`, kept inside the source.
    void moveTo(int first);
    // Moves the frame so that it holds the source row, centred, unless it holds it already.
    void reveal(int sourceRow);

    QModelIndex mapToSource(const QModelIndex& proxy) const override;
    QModelIndex mapFromSource(const QModelIndex& source) const override;
    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    bool hasChildren(const QModelIndex& parent = {}) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

Q_SIGNALS:
    // start() changed: the rows shown are other source rows.
    void moved();

private:
    void clampAfterReset();
    void rowsAboutToBeInserted(int first, int last);
    void rowsInserted(int first, int last);
    void rowsAboutToBeRemoved(int first, int last);
    void rowsRemoved(int first, int last);
    void refill();
    std::pair<int, int> clipped(int first, int last) const;

    int capacity_ = kCapacity;
    int start_ = 0;
    int rows_ = 0;
    // What the source change between an "about to" signal and its end does to the frame.
    struct Pending {
        int shift = 0;              // the frame's start moves by this
        int first = -1, last = -1;  // frame rows inserted or removed (first < 0: none)
    } pending_;
};
