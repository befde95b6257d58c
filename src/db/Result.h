#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

struct st_mysql_res;
struct st_mysql_rows;

namespace db {

// One column descriptor, read once when the result is taken.
struct Column {
    std::string name;
    unsigned type = 0;          // the client library's type code (enum_field_types)
    unsigned long length = 0;   // defined length
    unsigned flags = 0;
    unsigned charsetNr = 0;     // 63: binary
    unsigned decimals = 0;
    // MariaDB's extended type format ("json" for JSON columns, which travel as LONGTEXT);
    // empty when the server does not send it.
    std::string format;
    // The table and database the column was read from, as they are named in the database
    // (not their aliases); empty for a computed column.
    std::string orgTable;
    std::string database;
    // The column's own name in its table (whatever the select list calls it), and the name
    // the statement gives the table (its alias); empty for a computed column.
    std::string orgName;
    std::string table;

    bool isBinary() const { return charsetNr == 63; }
};

// A column value of the current row: bytes with their length. A NULL column has no
// data and is distinct from an empty value; a value may hold zero bytes.
struct Value {
    const char* data = nullptr;
    unsigned long length = 0;

    bool isNull() const { return data == nullptr; }
    std::string_view view() const { return {data ? data : "", length}; }
    QByteArray bytes() const { return QByteArray(data ? data : "", qsizetype(length)); }
    // UTF-8 text; NULL reads as empty text.
    QString text() const { return QString::fromUtf8(data ? data : "", qsizetype(length)); }
};

// Owns a MYSQL_RES: freed by the destructor on every path. Move-only.
// Rows are read by position with next(); a default-constructed Result holds no result.
class Result {
public:
    Result() = default;
    Result(st_mysql_res* res, bool stored);
    Result(Result&& other) noexcept;
    Result& operator=(Result&& other) noexcept;
    Result(const Result&) = delete;
    Result& operator=(const Result&) = delete;
    ~Result();

    explicit operator bool() const { return res_ != nullptr; }
    // Whether the rows can be read by position (stored, or copied from a stream).
    bool isStored() const { return stored_; }

    // Rows of a stored result; for a streamed result, the rows read so far; for a capped
    // one, the rows kept.
    std::uint64_t rowCount() const;

    // Reads a streamed result to its end, keeping a copy of its first `limit` rows: the
    // result then reads like a stored one holding those rows, and the memory it takes is
    // bounded whatever the statement returns. The rows past the limit are counted, not kept.
    // False when reading failed (the connection says why); a failure after the rows to keep
    // were read leaves them kept, with notReadKnown() false.
    bool keepFirst(std::uint64_t limit);
    // Rows the statement returned beyond those kept (0 unless capped by keepFirst).
    std::uint64_t notRead() const { return notRead_; }
    bool notReadKnown() const { return notReadKnown_; }
    unsigned columnCount() const { return unsigned(columns_.size()); }
    const std::vector<Column>& columns() const { return columns_; }

    // Moves to the next row; false after the last row (or on a read error of a
    // streamed result, which the connection then reports).
    bool next();
    // Moves so that the next call of next() reads row `row` (stored results only).
    void seek(std::uint64_t row);

    Value value(unsigned column) const;
    QString text(unsigned column) const { return value(column).text(); }

    st_mysql_res* handle() const { return res_; }

private:
    friend class StoredRows;
    struct Copies;
    void reset() noexcept;

    st_mysql_res* res_ = nullptr;
    bool stored_ = false;
    char** row_ = nullptr;
    unsigned long* lengths_ = nullptr;
    std::vector<Column> columns_;
    // The rows kept by keepFirst. Never shared: shared_ptr only lets the type stay incomplete
    // wherever a Result is destroyed.
    std::shared_ptr<Copies> copies_;
    std::size_t nextCopy_ = 0;
    std::uint64_t notRead_ = 0;
    bool notReadKnown_ = true;
};

// Random access to the rows of a stored result without seeking (mysql_data_seek walks
// the row list from the start on every call). Row pointers are collected once, as far as
// reads have asked: opening a large result for a grid that shows its first screen walks
// only that screen. Values are read in place; valid while the Result it was taken from
// holds the same result. Not thread-safe, although const.
class StoredRows {
public:
    StoredRows() = default;
    explicit StoredRows(const Result& result);

    std::size_t size() const { return count_; }
    unsigned columnCount() const { return columns_; }
    // An empty Value (NULL) for a row or column out of range.
    Value value(std::size_t row, unsigned column) const;

private:
    char* const* row(std::size_t index) const;

    mutable std::vector<char**> rows_;
    mutable st_mysql_rows* unwalked_ = nullptr;  // the first row not in rows_ yet
    std::size_t count_ = 0;
    unsigned columns_ = 0;
};

}  // namespace db
