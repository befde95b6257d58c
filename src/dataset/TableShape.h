#pragma once

#include <QString>
#include <cstdint>
#include <vector>

namespace db {
class Connection;
}

// A table's columns and the key that names each of its rows, as the grid needs them to page
// through the rows in key order and to change one row and no other.
struct TableColumn {
    QString name;
    QString columnType;  // as the server words it: "int(10) unsigned", "enum('a','b')"
    bool nullable = false;
    bool generated = false;      // VIRTUAL or STORED GENERATED: never written
    bool autoIncrement = false;
};

struct TableShape {
    QString database;
    QString table;
    bool isView = false;
    std::vector<TableColumn> columns;
    // Positions in `columns` of the key's columns, in the key's order: the PRIMARY KEY, else
    // the first UNIQUE key whose columns are all NOT NULL (no prefix part); empty when the
    // table has neither, and its rows then cannot be told apart.
    std::vector<int> key;
    QString keyName;
    // The server's estimate of the row count (exact for MyISAM, a guess for InnoDB).
    std::uint64_t estimatedRows = 0;

    bool hasKey() const { return !key.empty(); }
    // Why the rows cannot be changed from the grid; empty when they can.
    QString readOnlyReason() const;
    int columnNamed(const QString& name) const;
};

// Reads the shape from information_schema. Throws db::DbError when the server refuses; a
// table that does not exist (or cannot be seen) has no columns.
TableShape readTableShape(db::Connection& c, const QString& database, const QString& table);
