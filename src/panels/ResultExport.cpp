#include "panels/ResultExport.h"

#include <QAbstractItemModel>
#include <QUtf8StringView>
#include <cctype>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "dataset/CellFormat.h"
#include "dataset/TMySQLDataSet.h"
#include "db/Connection.h"
#include "files/OutputFile.h"
#include "files/SqlBytes.h"

namespace {

// SQL statements stay well below the server's smallest usual max_allowed_packet.
constexpr std::size_t kStatementRows = 1000;
constexpr std::size_t kStatementBytes = std::size_t(1) << 20;

// How values are written where the format tells types apart (JSON, SQL).
enum class Kind { Number, Exact, Text, Json, Binary };

Kind kindOf(const db::Column& column) {
    switch (CellFormat::typeOf(column)) {
        case FieldType::Integer:
        case FieldType::Decimal:
            return Kind::Exact;  // digits that must not be rounded
        case FieldType::Float:
            return Kind::Number;
        case FieldType::Json:
            return Kind::Json;
        case FieldType::Binary:
        case FieldType::Bit:
        case FieldType::Geometry:
            return Kind::Binary;
        default:
            return Kind::Text;
    }
}

char* put(char* p, std::string_view bytes) {
    std::memcpy(p, bytes.data(), bytes.size());
    return p + bytes.size();
}

// At most 2 * size + 2 bytes.
char* putCsv(char* p, std::string_view v) {
    if (v.empty()) return put(p, "\"\"");  // told apart from NULL, which is no field at all
    bool quoted = false;
    for (const char c : v) {
        if (c == ',' || c == '"' || c == '\r' || c == '\n') {
            quoted = true;
            break;
        }
    }
    if (!quoted) return put(p, v);
    *p++ = '"';
    for (const char c : v) {
        if (c == '"') *p++ = '"';
        *p++ = c;
    }
    *p++ = '"';
    return p;
}

// At most 2 * size bytes.
char* putTsv(char* p, std::string_view v, bool zeroByte = true) {
    for (const char c : v) {
        switch (c) {
            case '\t':
                p = put(p, "\\t");
                break;
            case '\n':
                p = put(p, "\\n");
                break;
            case '\r':
                p = put(p, "\\r");
                break;
            case '\\':
                p = put(p, "\\\\");
                break;
            case '\0':
                if (zeroByte) {
                    p = put(p, "\\0");
                    break;
                }
                [[fallthrough]];
            default:
                *p++ = c;
        }
    }
    return p;
}

// A JSON string of valid UTF-8 bytes; at most 6 * size + 2 bytes.
char* putJsonString(char* p, std::string_view v) {
    *p++ = '"';
    for (const char c : v) {
        const auto b = static_cast<unsigned char>(c);
        if (b == '"' || b == '\\') {
            *p++ = '\\';
            *p++ = c;
        } else if (b >= 0x20) {
            *p++ = c;
        } else {
            switch (b) {
                case '\n':
                    p = put(p, "\\n");
                    break;
                case '\r':
                    p = put(p, "\\r");
                    break;
                case '\t':
                    p = put(p, "\\t");
                    break;
                case '\b':
                    p = put(p, "\\b");
                    break;
                case '\f':
                    p = put(p, "\\f");
                    break;
                default:
                    p = sqlbytes::putHex(put(p, "\\u00"), std::string_view(&c, 1));
            }
        }
    }
    *p++ = '"';
    return p;
}

// The bytes as valid UTF-8: text the server sent in another character set, or cut in the
// middle of a character, has its stray bytes replaced by U+FFFD so the JSON stays readable.
std::string_view validUtf8(std::string_view v, QByteArray& repaired) {
    if (QUtf8StringView(v.data(), qsizetype(v.size())).isValidUtf8()) return v;
    repaired = QString::fromUtf8(v.data(), qsizetype(v.size())).toUtf8();
    return {repaired.constData(), std::size_t(repaired.size())};
}

// Whether a reader that takes JSON numbers as doubles gets the server's value back: at most
// 15 significant digits, the precision every double keeps.
bool fitsDouble(std::string_view s) {
    int digits = 0;
    bool leading = true;
    for (const char c : s) {
        if (c == 'e' || c == 'E') break;
        if (c < '0' || c > '9') continue;
        if (leading && c == '0') continue;
        leading = false;
        ++digits;
    }
    // Trailing zeros of a fraction are digits a double need not hold.
    if (s.find('.') != std::string_view::npos && s.find_first_of("eE") == std::string_view::npos) {
        for (std::size_t i = s.size(); i > 0 && s[i - 1] == '0' && digits > 0; --i) --digits;
    }
    return digits <= 15;
}

// RFC 8259's number grammar: a ZEROFILL "007" is a number to the server but not to JSON.
bool isJsonNumber(std::string_view s) {
    std::size_t i = 0;
    const std::size_t n = s.size();
    auto digits = [&] {
        const std::size_t start = i;
        while (i < n && s[i] >= '0' && s[i] <= '9') ++i;
        return i > start;
    };
    if (i < n && s[i] == '-') ++i;
    if (i < n && s[i] == '0') {
        ++i;
    } else if (!digits()) {
        return false;
    }
    if (i < n && s[i] == '.') {
        ++i;
        if (!digits()) return false;
    }
    if (i < n && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        if (i < n && (s[i] == '+' || s[i] == '-')) ++i;
        if (!digits()) return false;
    }
    return i == n;
}

// Whether bytes are exactly one JSON value by RFC 8259 (Qt's parser lets through raw control
// characters in strings, unknown escapes and numbers like ".5", which stricter readers
// refuse). Nesting deeper than a reader would follow counts as not JSON.
class JsonCheck {
public:
    explicit JsonCheck(std::string_view text) : s_(text) {}

    bool valid() {
        if (!QUtf8StringView(s_.data(), qsizetype(s_.size())).isValidUtf8()) return false;
        space();
        if (!value(0)) return false;
        space();
        return i_ == s_.size();
    }

private:
    static constexpr int kMaxDepth = 256;

    bool at(char c) const { return i_ < s_.size() && s_[i_] == c; }
    void space() {
        while (at(' ') || at('\t') || at('\n') || at('\r')) ++i_;
    }
    bool word(std::string_view w) {
        if (s_.substr(i_, w.size()) != w) return false;
        i_ += w.size();
        return true;
    }
    bool value(int depth) {
        if (i_ >= s_.size()) return false;
        switch (s_[i_]) {
            case '{':
                return members(depth + 1, '}', true);
            case '[':
                return members(depth + 1, ']', false);
            case '"':
                return string();
            case 't':
                return word("true");
            case 'f':
                return word("false");
            case 'n':
                return word("null");
            default:
                return number();
        }
    }
    // An object (`keyed`) or an array, from its opening bracket.
    bool members(int depth, char close, bool keyed) {
        if (depth > kMaxDepth) return false;
        ++i_;
        space();
        if (at(close)) return ++i_, true;
        for (;;) {
            if (keyed) {
                if (!at('"') || !string()) return false;
                space();
                if (!at(':')) return false;
                ++i_;
                space();
            }
            if (!value(depth)) return false;
            space();
            if (at(close)) return ++i_, true;
            if (!at(',')) return false;
            ++i_;
            space();
        }
    }
    bool string() {
        ++i_;
        while (i_ < s_.size()) {
            const auto c = static_cast<unsigned char>(s_[i_++]);
            if (c == '"') return true;
            if (c < 0x20) return false;
            if (c != '\\') continue;
            if (i_ >= s_.size()) return false;
            const char e = s_[i_++];
            if (e == 'u') {
                for (int k = 0; k < 4; ++k, ++i_)
                    if (i_ >= s_.size() || !std::isxdigit(static_cast<unsigned char>(s_[i_])))
                        return false;
            } else if (std::string_view("\"\\/bfnrt").find(e) == std::string_view::npos) {
                return false;
            }
        }
        return false;
    }
    bool number() {
        const std::size_t start = i_;
        constexpr std::string_view kNumberChars = "+-.eE0123456789";
        while (i_ < s_.size() && kNumberChars.find(s_[i_]) != std::string_view::npos) ++i_;
        return i_ > start && isJsonNumber(s_.substr(start, i_ - start));
    }

    std::string_view s_;
    std::size_t i_ = 0;
};

class Exporter {
public:
    Exporter(files::OutputFile& out, const std::vector<db::Column>& columns,
             const db::StoredRows& rows)
        : out_(out), columns_(columns), rows_(rows), count_(unsigned(columns.size())) {
        for (const db::Column& column : columns) kinds_.push_back(kindOf(column));
    }

    void csv(ExportOptions::Binary binary);
    void tsv();
    void json();
    void sql(const QString& database, const QString& table);

private:
    db::Value value(std::size_t row, unsigned column) const { return rows_.value(row, column); }
    // Room for one row's values written at `factor` bytes per value byte plus `extra`.
    std::size_t room(std::size_t row, std::size_t factor, std::size_t extra) const {
        std::size_t total = 0;
        for (unsigned i = 0; i < count_; ++i) total += factor * value(row, i).length + extra;
        return total;
    }
    template <class Fill>
    void emit(std::size_t room, Fill&& fill) {
        char* const start = out_.reserve(room);
        out_.written(std::size_t(fill(start) - start));
    }
    void jsonValue(Kind kind, std::string_view v);

    files::OutputFile& out_;
    const std::vector<db::Column>& columns_;
    const db::StoredRows& rows_;
    const unsigned count_;
    std::vector<Kind> kinds_;
};

void Exporter::csv(ExportOptions::Binary binary) {
    for (unsigned i = 0; i < count_; ++i) {
        if (i) out_.append(",");
        emit(2 * columns_[i].name.size() + 2, [&](char* p) { return putCsv(p, columns_[i].name); });
    }
    out_.append("\r\n");
    for (std::size_t row = 0; row < rows_.size(); ++row) {
        emit(room(row, 2, 3) + 2, [&](char* p) {
            for (unsigned i = 0; i < count_; ++i) {
                if (i) *p++ = ',';
                const db::Value v = value(row, i);
                if (v.isNull()) continue;
                if (kinds_[i] != Kind::Binary) {
                    p = putCsv(p, v.view());
                } else if (v.length == 0) {
                    p = putCsv(p, {});
                } else if (binary == ExportOptions::Binary::Hex) {
                    p = sqlbytes::putHex(p, v.view());  // 2 bytes per byte, never quoted
                } else {
                    // 4 bytes per 3, and none of them needs quotes.
                    const QByteArray b64 =
                        QByteArray::fromRawData(v.data, qsizetype(v.length)).toBase64();
                    p = put(p, {b64.constData(), std::size_t(b64.size())});
                }
            }
            return put(p, "\r\n");
        });
        out_.flushIfFull();
    }
}

void Exporter::tsv() {
    for (unsigned i = 0; i < count_; ++i) {
        if (i) out_.append("\t");
        emit(2 * columns_[i].name.size(), [&](char* p) { return putTsv(p, columns_[i].name); });
    }
    out_.append("\n");
    for (std::size_t row = 0; row < rows_.size(); ++row) {
        emit(room(row, 2, 3) + 1, [&](char* p) {
            for (unsigned i = 0; i < count_; ++i) {
                if (i) *p++ = '\t';
                const db::Value v = value(row, i);
                p = v.isNull() ? put(p, "\\N") : putTsv(p, v.view());
            }
            *p++ = '\n';
            return p;
        });
        out_.flushIfFull();
    }
}

void Exporter::jsonValue(Kind kind, std::string_view v) {
    QByteArray converted;
    switch (kind) {
        case Kind::Exact:
            if (!fitsDouble(v)) break;  // a string of the same digits
            [[fallthrough]];
        case Kind::Number:
            if (isJsonNumber(v)) {
                out_.append(v);
                return;
            }
            break;
        case Kind::Json:
            if (JsonCheck(v).valid()) {
                out_.append(v);
                return;
            }
            break;
        case Kind::Binary:
            converted = QByteArray::fromRawData(v.data(), qsizetype(v.size())).toBase64();
            v = {converted.constData(), std::size_t(converted.size())};
            break;
        case Kind::Text:
            break;
    }
    v = validUtf8(v, converted);
    emit(6 * v.size() + 2, [&](char* p) { return putJsonString(p, v); });
}

void Exporter::json() {
    // Each key with the punctuation in front of it, made once.
    std::vector<std::string> keys;
    for (unsigned i = 0; i < count_; ++i) {
        QByteArray repaired;
        const std::string_view name = validUtf8(columns_[i].name, repaired);
        std::string key(6 * name.size() + 4, '\0');
        char* p = key.data();
        *p++ = i ? ',' : '{';
        p = putJsonString(p, name);
        *p++ = ':';
        key.resize(std::size_t(p - key.data()));
        keys.push_back(std::move(key));
    }
    out_.append("[");
    for (std::size_t row = 0; row < rows_.size(); ++row) {
        out_.append(row ? ",\n" : "\n");
        for (unsigned i = 0; i < count_; ++i) {
            out_.append(keys[i]);
            const db::Value v = value(row, i);
            if (v.isNull()) {
                out_.append("null");
            } else {
                jsonValue(kinds_[i], v.view());
            }
        }
        out_.append("}");
        out_.flushIfFull();
    }
    out_.append(rows_.size() ? "\n]\n" : "]\n");
}

void Exporter::sql(const QString& database, const QString& table) {
    std::string head = "INSERT INTO ";
    if (!database.isEmpty()) head += db::quoteIdentifier(database) + '.';
    head += db::quoteIdentifier(table) + " (";
    for (unsigned i = 0; i < count_; ++i) {
        if (i) head += ',';
        head += db::quoteIdentifier(columns_[i].name);
    }
    head += ") VALUES\n";
    // Escaped without a connection, so the file does not depend on the session it came from:
    // every byte the server treats specially is escaped, which is safe for UTF-8 text.
    const db::Connection unconnected;
    std::size_t statementRows = 0;
    std::size_t statementBytes = 0;
    for (std::size_t row = 0; row < rows_.size(); ++row) {
        const std::size_t need = room(row, 2, 5) + 2;
        if (statementRows == kStatementRows ||
            (statementRows > 0 && statementBytes + need > kStatementBytes)) {
            out_.append(";\n");
            statementRows = 0;
        }
        if (statementRows == 0) {
            out_.append(head);
            statementBytes = head.size();
        } else {
            out_.append(",\n");
        }
        emit(need, [&](char* const start) {
            char* p = start;
            *p++ = '(';
            for (unsigned i = 0; i < count_; ++i) {
                if (i) *p++ = ',';
                const db::Value v = value(row, i);
                if (v.isNull()) {
                    p = put(p, "NULL");
                } else if (kinds_[i] == Kind::Number || kinds_[i] == Kind::Exact) {
                    p = put(p, v.view());
                } else if (kinds_[i] == Kind::Binary && v.length > 0) {
                    // Hex keeps bytes the connection's character set would reinterpret.
                    p = sqlbytes::putHex(put(p, "0x"), v.view());
                } else {
                    *p++ = '\'';
                    p += unconnected.escapeTo(p, v.view());
                    *p++ = '\'';
                }
            }
            *p++ = ')';
            statementBytes += std::size_t(p - start);
            return p;
        });
        ++statementRows;
        out_.flushIfFull();
    }
    if (statementRows > 0) out_.append(";\n");
}

}  // namespace

void appendTsvEscaped(QByteArray& out, std::string_view value, bool zeroByte) {
    const qsizetype start = out.size();
    out.resize(start + 2 * qsizetype(value.size()));
    char* const end = putTsv(out.data() + start, value, zeroByte);
    out.resize(qsizetype(end - out.constData()));
}

std::pair<QString, QString> sourceTable(const db::Result& result) {
    if (!result || result.columns().empty()) return {};
    const db::Column& first = result.columns().front();
    for (const db::Column& column : result.columns())
        if (column.orgTable.empty() || column.orgTable != first.orgTable ||
            column.database != first.database)
            return {};
    return {QString::fromStdString(first.database), QString::fromStdString(first.orgTable)};
}

void exportRows(const db::Result& result, const QString& path, const ExportOptions& options) {
    if (!result || !result.isStored())
        throw ExportError(
            QStringLiteral("There are no rows to export: run the query again, then "
                           "export its result."));
    if (options.format == ExportFormat::Sql && options.tableName.trimmed().isEmpty())
        throw ExportError(
            QStringLiteral("Name the table the INSERT statements are to fill, then "
                           "export again."));
    try {
        files::OutputFile out(path);
        const db::StoredRows rows(result);
        Exporter exporter(out, result.columns(), rows);
        switch (options.format) {
            case ExportFormat::Csv:
                exporter.csv(options.csvBinary);
                break;
            case ExportFormat::Tsv:
                exporter.tsv();
                break;
            case ExportFormat::Json:
                exporter.json();
                break;
            case ExportFormat::Sql:
                exporter.sql(options.database, options.tableName);
                break;
        }
        out.commit();
    } catch (const files::WriteError& e) {
        throw ExportError(QStringLiteral("Exporting the result failed. %1. Check that the folder "
                                         "exists, that you may write there and that the disk has "
                                         "room, then export again.")
                              .arg(e.text()));
    }
}

QString cellsAsTsv(const QAbstractItemModel& model, const QModelIndexList& cells) {
    std::set<int> rows;
    std::set<int> columns;
    std::map<std::pair<int, int>, QModelIndex> selected;
    for (const QModelIndex& index : cells) {
        if (!index.isValid() || index.model() != &model) continue;
        rows.insert(index.row());
        columns.insert(index.column());
        selected.emplace(std::pair(index.row(), index.column()), index);
    }
    QByteArray out;
    std::string escaped;
    for (const int row : rows) {
        if (row != *rows.begin()) out += '\n';
        for (const int column : columns) {
            if (column != *columns.begin()) out += '\t';
            const auto found = selected.find({row, column});
            if (found == selected.end()) continue;
            // NULL as \N, as in the TSV format: a text "NULL" or an empty text stays what it is.
            if (model.data(found->second, TMySQLDataSet::IsNullRole).toBool()) {
                out += "\\N";
                continue;
            }
            const QByteArray text = model.data(found->second).toString().toUtf8();
            escaped.resize(2 * std::size_t(text.size()));
            const char* end = putTsv(escaped.data(), {text.constData(), std::size_t(text.size())});
            out.append(escaped.data(), qsizetype(end - escaped.data()));
        }
    }
    return QString::fromUtf8(out);
}
