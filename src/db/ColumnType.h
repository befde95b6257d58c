#pragma once

#include <string_view>

namespace db {

struct Column;

// What a result column holds, read from its type code, character set and MariaDB's
// extended format. The grid presents cells by it and the dump writes values by it, so the
// two never disagree about a column.
enum class ColumnKind {
    Integer,  // TINYINT .. BIGINT, signed or unsigned
    Decimal,  // DECIMAL / NUMERIC
    Float,    // FLOAT, DOUBLE
    Date,
    Time,
    DateTime,  // DATETIME, TIMESTAMP
    Year,
    Bit,
    String,  // CHAR, VARCHAR, ENUM, SET
    Text,    // the TEXT types
    Json,
    Binary,  // BLOB types and binary strings (BINARY, VARBINARY, binary expressions)
    Geometry,
    Unknown,  // type codes this program does not know; shown as text or hex
};

// `type` is the client library's type code, `charsetNr` the column's character set number
// (63: binary), `format` MariaDB's extended type format ("json"), empty when not sent.
ColumnKind classify(unsigned type, unsigned charsetNr, std::string_view format);
ColumnKind classify(const Column& column);

}  // namespace db
