#pragma once

#include <QString>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "dataset/TableShape.h"

// The statements that read one window of a table's rows at a time. With a key the rows are
// read in key order and a window starts where its neighbour ended (WHERE key > last ...
// LIMIT n), so reading deep into a table costs what reading its start costs; without one (or
// when the order cannot be sought, see seeks()) windows are read by LIMIT ... OFFSET.
class RowPager {
public:
    // One value of an ordering column, as the server sent it; nullopt for NULL.
    using Value = std::optional<std::string>;
    // `quote` turns text into a quoted, escaped literal for the connection (db::Connection::
    // quoteValue).
    RowPager(TableShape shape, std::function<std::string(std::string_view)> quote);

    const TableShape& shape() const { return shape_; }

    // A condition the user typed, placed in parentheses after WHERE; empty: every row.
    void setFilter(const QString& condition) { filter_ = condition; }
    const QString& filter() const { return filter_; }
    // Rows ordered by a column first (then by the key); -1: key order.
    void setSort(int column, bool descending);
    int sortColumn() const { return sortColumn_; }
    bool sortDescending() const { return descending_; }

    // Whether windows are sought from their neighbour's last row. False without a key, or
    // when the order runs over a column whose comparison differs from its sort order (ENUM,
    // SET, long text, binary large objects, JSON, geometry).
    bool seeks() const;
    // The columns whose values a window's first and last row must give for after()/before(),
    // as positions in the select list.
    const std::vector<int>& orderColumns() const { return order_; }

    std::string first(int rows) const { return between(nullptr, nullptr, rows, false); }
    // The rows after the row whose ordering values are `low` (in orderColumns() order) and,
    // when `high` is given, before the row with those: the gap between two windows. With
    // `fromHigh` they are read nearest `high` first, so the window comes in reverse order.
    std::string between(const std::vector<Value>* low, const std::vector<Value>* high, int rows,
                        bool fromHigh) const;
    std::string after(const std::vector<Value>& values, int rows) const {
        return between(&values, nullptr, rows, false);
    }
    std::string before(const std::vector<Value>& values, int rows) const {
        return between(nullptr, &values, rows, true);
    }
    // The last rows, nearest the end first (reverse order).
    std::string last(int rows) const { return between(nullptr, nullptr, rows, true); }
    std::string atOffset(std::uint64_t offset, int rows) const;
    // The ordering values (orderColumns(), in that order) of the row at `offset` alone: the
    // server skips the rows before it reading only those columns, then after() seeks the
    // window from it.
    std::string orderAtOffset(std::uint64_t offset) const;
    std::string count() const;

private:
    std::string select() const;
    std::string where(const std::string& seek) const;
    std::string orderBy(bool reversed) const;
    std::string seek(const std::vector<Value>& values, bool forward) const;
    std::string literal(int column, const std::string& bytes) const;
    bool descendingAt(std::size_t orderIndex) const;

    TableShape shape_;
    std::function<std::string(std::string_view)> quote_;
    QString filter_;
    int sortColumn_ = -1;
    bool descending_ = false;
    std::vector<int> order_;
};
