#include "db/ColumnType.h"

#include <mysql.h>

#include "db/Result.h"

namespace db {

namespace {
constexpr unsigned kBinaryCharset = 63;
}

ColumnKind classify(unsigned type, unsigned charsetNr, std::string_view format) {
    const bool binary = charsetNr == kBinaryCharset;
    // JSON travels as LONGTEXT from MariaDB (marked by its format) and as its own type
    // with a binary charset from MySQL; both are text.
    if (type == MYSQL_TYPE_JSON || format == "json") return ColumnKind::Json;
    switch (type) {
        case MYSQL_TYPE_TINY:
        case MYSQL_TYPE_SHORT:
        case MYSQL_TYPE_LONG:
        case MYSQL_TYPE_LONGLONG:
        case MYSQL_TYPE_INT24:
            return ColumnKind::Integer;
        case MYSQL_TYPE_DECIMAL:
        case MYSQL_TYPE_NEWDECIMAL:
            return ColumnKind::Decimal;
        case MYSQL_TYPE_FLOAT:
        case MYSQL_TYPE_DOUBLE:
            return ColumnKind::Float;
        case MYSQL_TYPE_DATE:
        case MYSQL_TYPE_NEWDATE:
            return ColumnKind::Date;
        case MYSQL_TYPE_TIME:
        case MYSQL_TYPE_TIME2:
            return ColumnKind::Time;
        case MYSQL_TYPE_TIMESTAMP:
        case MYSQL_TYPE_DATETIME:
        case MYSQL_TYPE_TIMESTAMP2:
        case MYSQL_TYPE_DATETIME2:
            return ColumnKind::DateTime;
        case MYSQL_TYPE_YEAR:
            return ColumnKind::Year;
        case MYSQL_TYPE_BIT:
            return ColumnKind::Bit;
        case MYSQL_TYPE_GEOMETRY:
            return ColumnKind::Geometry;
        case MYSQL_TYPE_VARCHAR:
        case MYSQL_TYPE_VAR_STRING:
        case MYSQL_TYPE_STRING:
        case MYSQL_TYPE_ENUM:
        case MYSQL_TYPE_SET:
            return binary ? ColumnKind::Binary : ColumnKind::String;
        case MYSQL_TYPE_TINY_BLOB:
        case MYSQL_TYPE_MEDIUM_BLOB:
        case MYSQL_TYPE_LONG_BLOB:
        case MYSQL_TYPE_BLOB:
            return binary ? ColumnKind::Binary : ColumnKind::Text;
        default:
            // Unknown codes: bytes in a binary charset are not text.
            return binary ? ColumnKind::Binary : ColumnKind::Unknown;
    }
}

ColumnKind classify(const Column& column) {
    return classify(column.type, column.charsetNr, column.format);
}

}  // namespace db
