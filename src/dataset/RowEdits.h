#pragma once

#include <QString>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "dataset/TableShape.h"

namespace db {
class Connection;
}

// A cell's value: its bytes, or nullopt for NULL (never the same as an empty value).
using CellBytes = std::optional<std::string>;
using RowBytes = std::vector<CellBytes>;

// One pending change of a grid: a row changed, added or deleted. `original` is the row as it
// was read (every column, in the table's order); `changed` the new values of the columns
// edited (an added row: the columns given; the others take their defaults).
struct RowEdit {
    enum class Kind { Update, Insert, Delete };
    Kind kind = Kind::Update;
    int row = -1;  // where the grid shows it, for messages
    RowBytes original;
    std::map<int, CellBytes> changed;
};

// The statements that apply edits to one table and to no row but the one meant: a row is
// found by its key's original values, and an UPDATE also requires the changed columns to
// hold what was read (compared null-safely), so a row changed elsewhere meanwhile is not
// overwritten. Values are quoted by the connection's escaping; binary values go in hex.
class RowStatements {
public:
    RowStatements(TableShape shape, std::function<std::string(std::string_view)> quote);

    const TableShape& shape() const { return shape_; }
    // Empty for an update that changes nothing.
    std::string statement(const RowEdit& edit) const;
    // The row again, by its key values after the edit (for an added row whose key the server
    // gave, `insertId` stands for the AUTO_INCREMENT column).
    std::string readBack(const RowEdit& edit, std::uint64_t insertId) const;
    // The key's values after the edit.
    RowBytes keyAfter(const RowEdit& edit, std::uint64_t insertId) const;

private:
    std::string value(int column, const CellBytes& bytes) const;
    std::string rowIs(const RowBytes& values, const std::vector<int>& columns) const;

    TableShape shape_;
    std::function<std::string(std::string_view)> quote_;
};

// Applies a grid's edits in one transaction, in order. Each statement must reach exactly
// one row; otherwise, or when the server refuses one, everything is rolled back.
struct PostOutcome {
    bool applied = false;
    int failedEdit = -1;     // the edit that failed
    bool changedElsewhere = false;  // its row was changed or deleted by someone else
    QString reason;          // the server's reason, or what was found
    // Applied and asked for (ReadBack::Rows): each edit's row as the server now holds it
    // (empty for a deletion).
    std::vector<RowBytes> rowsAfter;
    // Not applied, and the engine could not undo the statements that ran before the failure.
    bool partlyKept = false;
};
// Whether a post reads each row back after the commit (a statement per row): a caller that
// reads its rows again anyway (the grid) saves those.
enum class ReadBack { Rows, None };
PostOutcome postEdits(db::Connection& c, const RowStatements& statements,
                      const std::vector<RowEdit>& edits, ReadBack readBack = ReadBack::Rows);
