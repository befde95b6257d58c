#pragma once

#include <QString>
#include <stdexcept>
#include <string>
#include <vector>

#include "designer/FieldRow.h"

namespace db {
class Connection;
}

// A type or size text that is not plain type syntax. Type texts and sizes are SQL syntax and
// cannot be quoted, so they are checked instead.
class InvalidFieldText : public std::invalid_argument {
public:
    using std::invalid_argument::invalid_argument;
};

// The table designer's statements as a function of its grid rows. Every statement names the
// table with its database; names are quoted and values escaped for `connection`. Builders
// throw InvalidFieldText for a row whose type or size text fails the checks below.
class TableStatements {
public:
    TableStatements(const db::Connection& connection, QString database, QString table);

    const QString& database() const { return database_; }
    const QString& table() const { return table_; }

    // Create Table `db`.`t`(<column> ,<column> ,Primary Key(`a`,`b`)). Rows without a
    // field name are skipped.
    std::string createTable(const std::vector<FieldRow>& rows) const;
    // `withPrimaryKey` makes the column the primary key in the same statement: an
    // auto-increment column must be a key from the moment it exists.
    std::string addColumn(const FieldRow& row, bool withPrimaryKey = false) const;
    std::string changeColumn(const QString& oldName, const FieldRow& row,
                             bool withPrimaryKey = false) const;
    std::string dropColumn(const QString& name) const;
    std::string addPrimaryKey(const QString& column) const;
    std::string dropPrimaryKey() const;
    std::string describe() const;
    // Returns a row for each column of the table's primary key.
    std::string primaryKeyColumns() const;

    // The column's type as written: the first word, the size (or the kept arguments) in
    // brackets, then the modifiers: int(10) unsigned.
    std::string sqlType(const FieldRow& row) const;
    // The default's text as written: string columns (character, enum, set, binary) quoted
    // and escaped; otherwise numbers, complete quoted literals and the server's default
    // keywords as typed and anything else quoted, so that a default never ends the column
    // definition.
    std::string sqlDefault(const FieldRow& row) const;

    // Columns of the table: name, character set, collation, comment, extra, default (SQL
    // as MariaDB writes it, raw text on MySQL), generation expression; read into KeptColumn
    // by keptFrom.
    std::string keptColumnsStatement() const;
    // `defaultsAsSql`: the server writes defaults as SQL (MariaDB: 'x', NULL,
    // current_timestamp()); otherwise as raw text, which is quoted here.
    KeptColumn keptFrom(const FieldRow& loaded, const QString& charset, const QString& collation,
                        const QString& comment, const QString& extra,
                        const std::optional<QString>& defaultValue, bool defaultsAsSql,
                        const QString& generation = {}) const;

    // A grid row from one row of `desc` (Field, Type, Null, Key, Default, Extra).
    static FieldRow rowFromDesc(const QString& field, const QString& type, const QString& null,
                                const QString& key, const QString& defaultValue,
                                const QString& extra);

    // Words, optionally one bracketed list of words, numbers and quoted strings, then words:
    // "int unsigned", "varchar(20) binary", "enum('a','b')".
    static bool isValidType(const QString& typeText);
    // Empty, a number, or two numbers separated by a comma.
    static bool isValidSize(const QString& size);

private:
    // The create-mode column definition: `id` int(11) auto_increment Not Null default 'x'
    std::string createColumn(const FieldRow& row) const;
    // The alter-mode column clause: `age` int(3) default 0 Not Null  AUTO_INCREMENT
    std::string alterColumn(const FieldRow& row) const;
    std::string tableName() const;

    const db::Connection& connection_;
    QString database_;
    QString table_;
};
