#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "dataset/EditableRows.h"
#include "dataset/RowPager.h"
#include "db/Result.h"

namespace db {
class Connection;
}

// The rows of one table for a grid, read from the server a window at a time as the grid
// shows them, so that a table of any size opens at once and takes the memory of a few
// windows. The scroll range is the server's estimate of the row count until the reads meet
// an end or the exact count is asked for. A cell not read yet shows empty and is read as soon
// as control is back in the event loop. A table with a key that names each row takes edits
// (EditableRows). Call from the user-interface thread only.
class TableRows : public EditableRows {
    Q_OBJECT
public:
    static constexpr int kWindowRows = 500;
    // Windows beyond this many rows are let go of, farthest from the rows shown first.
    static constexpr std::size_t kKeptRows = 20000;

    explicit TableRows(QObject* parent = nullptr);
    ~TableRows() override;

    // Reads the table's shape and its first window. Throws db::DbError when the server
    // refuses; the model is then closed.
    void open(const QString& database, const QString& table);
    // The same with a shape read before (and its estimate).
    void open(TableShape shape);
    void close();
    bool isOpen() const { return pager_ != nullptr; }
    const RowPager* pager() const { return pager_.get(); }
    const TableShape* editShape() const override;

    // Re-reads from the start with a condition, or ordered by a column on the server. Throws
    // db::DbError when the server refuses; the rows shown before then stay.
    void setFilter(const QString& condition);
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;
    // Re-reads the rows shown, from the start.
    void reload();
    // Lets go of every window read and reads the one around `gridRow` again, keeping the
    // edits: rows changed elsewhere show as they are now.
    void rereadAround(int gridRow) override;

    // Whether rowCount() is the number of rows (or the server's estimate).
    bool countIsExact() const { return countExact_; }
    // Counts the rows (of the filtered set) with COUNT(*). Throws db::DbError.
    void countRows();
    // Reads the window holding `row` now. False when the server refused: lastError() says why.
    bool ensureLoaded(int row);
    // Reads the table's last rows (the navigator's Last): the real end, also where the
    // estimate fell short of it.
    bool loadEnd();
    bool isLoaded(int row) const override { return windowAt(row) != nullptr; }
    std::size_t keptRows() const { return kept_; }
    const QString& lastError() const { return lastError_; }

    // The value of a cell; NULL when it is NULL or not read yet (isLoaded tells). Rows are
    // the table's positions (without the rows added and not posted yet).
    db::Value cell(int row, int column) const override;

Q_SIGNALS:
    // A read the grid asked for failed (the text says why); the cells stay empty.
    void readFailed(const QString& text);
    // rowCount() changed its meaning: an end was met, or the rows were counted.
    void countChanged();

protected:
    int readCount() const override { return count_; }
    void wanted(int row) const override { requestLater(row); }
    void forEachRead(const std::function<bool(int)>& visit) const override;
    void afterPost(int row, int moved) override;

private:
    struct Window {
        db::Result result;
        db::StoredRows rows;
        int count = 0;
        bool reversed = false;  // read nearest-first from below: the rows come in reverse
        // The position follows from the start of the table (not from an estimated end).
        bool exact = true;
        std::size_t stored(int i) const { return std::size_t(reversed ? count - 1 - i : i); }
    };
    const Window* windowAt(int row, int* start = nullptr) const;
    std::vector<RowPager::Value> orderValues(const Window& w, int i) const;
    // Sends one read; nothing when the server refused (lastError() says why).
    std::optional<Window> fetch(const std::string& statement, bool reversed, bool exact);
    bool loadNear(int row);
    bool readEnd();
    void place(int start, Window window, bool endsTable = false);
    void setCount(int count, bool exact);
    void shiftFrom(int at, int by);
    void anchorFrom(int at);
    void dropWindows(const std::function<bool(int, const Window&)>& drop);
    void letGo(int start, int end);
    void readFirst();
    void requestLater(int row) const;
    void readRequested();

    std::unique_ptr<RowPager> pager_;
    std::map<int, Window> windows_;  // by first row
    std::size_t kept_ = 0;
    int count_ = 0;
    bool countExact_ = false;
    QString lastError_;
    mutable int wanted_ = -1;       // the row the grid last asked for and found unread
    mutable bool readQueued_ = false;
    bool reading_ = false;
};
