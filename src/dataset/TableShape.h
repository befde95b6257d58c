#pragma once

#include <QString>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
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

    // "int" of "int(10) unsigned"
    QString baseType() const;
    bool isNumber() const;
    bool isBinary() const;  // BINARY, VARBINARY, BIT, the BLOB types: bytes, not text
};

struct TableShape {
    QString database;
    QString table;
    bool isView = false;
    QString engine;  // InnoDB, MyISAM, ...: whether a failed post can be rolled back
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
    // Whether the engine undoes a statement on ROLLBACK.
    bool transactional() const;
    // A value of `column` as a literal: binary columns in hex, everything else quoted by
    // `quote` (the connection's escaping), so that nothing typed can end the literal.
    // `serverNumber`: the value came from the server in a number column, and is written as
    // it came.
    std::string literal(int column, const std::string& bytes,
                        const std::function<std::string(std::string_view)>& quote,
                        bool serverNumber = false) const;
    // Whether the server's text of the column's values reads back as a different value
    // (FLOAT, DOUBLE): such a value is compared as text.
    bool approximate(int column) const;
};

// Reads the shape from information_schema. Throws db::DbError when the server refuses; a
// table that does not exist (or cannot be seen) has no columns.
TableShape readTableShape(db::Connection& c, const QString& database, const QString& table);
