#include "dump/DumpWriter.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "db/ColumnType.h"
#include "db/Connection.h"
#include "dump/DumpFormat.h"
#include "dump/DumpSession.h"
#include "dump/SchemaWriter.h"
#include "files/OutputFile.h"

namespace dump {

namespace {

// Often enough that the window, which repaints in the callback, never looks stuck.
constexpr qint64 kProgressIntervalMs = 20;

// How a column's value is written, by what the result metadata says it holds.
enum class ValueForm { Plain, Quoted, Hex };

ValueForm formOf(const db::Column& column) {
    switch (db::classify(column)) {
    case db::ColumnKind::Integer:
    case db::ColumnKind::Decimal:
    case db::ColumnKind::Float:
        return ValueForm::Plain;  // numbers, as the server wrote them
    case db::ColumnKind::Bit:
    case db::ColumnKind::Geometry:
    case db::ColumnKind::Binary:
        return ValueForm::Hex;
    default:
        return ValueForm::Quoted;  // temporal types, JSON, text, and codes unknown here
    }
}

struct ColumnList {
    std::string select;  // "*" or the stored columns, quoted
    std::string insert;  // empty, or " (`a`,`b`)" when some column must be left out
};

// Generated columns take no value, and invisible ones are missing from "*": either way the
// columns are named.
ColumnList columnList(db::Connection& c, const QString& database, const std::string& table) {
    db::Result r = selectRows(
        c, "SELECT COLUMN_NAME, EXTRA FROM information_schema.COLUMNS WHERE TABLE_SCHEMA = " +
               c.quoteValue(database) + " AND TABLE_NAME = " + c.quoteValue(table) +
               " ORDER BY ORDINAL_POSITION");
    std::string names;
    bool named = false;
    while (r.next()) {
        const QString extra = r.text(1).toUpper();
        const bool generated = extra.contains(QLatin1String("VIRTUAL")) ||
                               extra.contains(QLatin1String("STORED GENERATED")) ||
                               extra.contains(QLatin1String("PERSISTENT"));
        if (generated || extra.contains(QLatin1String("INVISIBLE"))) named = true;
        if (generated) continue;
        if (!names.empty()) names += ',';
        names += db::quoteIdentifier(r.value(0).view());
    }
    if (!named || names.empty()) return {"*", {}};
    return {names, " (" + names + ")"};
}

class DataWriter {
public:
    DataWriter(db::Connection& c, files::OutputFile& out, const DumpProgressFn& progress)
        : c_(c), out_(out), progress_(progress) {
        clock_.start();
    }

    // Returns the rows written; throws DumpError or files::WriteError, or Stopped when the
    // callback said so.
    std::uint64_t writeTable(const QString& database, const std::string& table,
                             std::uint64_t expected, bool databaseScope);

private:
    bool report(bool force) {
        if (!progress_) return true;
        if (!force && clock_.elapsed() < lastReport_ + kProgressIntervalMs) return true;
        lastReport_ = clock_.elapsed();
        return progress_(state_);
    }

    db::Connection& c_;
    files::OutputFile& out_;
    const DumpProgressFn& progress_;
    QElapsedTimer clock_;
    qint64 lastReport_ = -kProgressIntervalMs;
    DumpProgress state_;
};

std::uint64_t DataWriter::writeTable(const QString& database, const std::string& table,
                                     std::uint64_t expected, bool databaseScope) {
    const ColumnList columns = columnList(c_, database, table);
    if (!fitsDumpFile(table) || !fitsDumpFile(columns.insert)) throw notDumpable(table);
    const std::string statement = "SELECT " + columns.select + " FROM " +
                                  db::quoteIdentifier(database) + "." + db::quoteIdentifier(table);
    if (!c_.query(statement)) throw DumpError(serverError(c_, statement));
    db::Result result = c_.useResult();
    if (!result) throw DumpError(serverError(c_, statement));

    state_ = {QString::fromUtf8(table.data(), qsizetype(table.size())), 0, expected};
    if (!report(false)) {
        c_.abandon(result);
        throw Stopped{};
    }

    const std::string prefix =
        "Insert Into " + db::quoteIdentifier(table) + columns.insert + " values (";
    const std::string suffix = std::string(");") + std::string(marker().substr(1)) + "\r\n";
    const unsigned count = result.columnCount();
    std::vector<ValueForm> forms;
    for (const db::Column& column : result.columns()) forms.push_back(formOf(column));

    std::uint64_t rows = 0;
    while (result.next()) {
        if (rows == 0) {
            if (databaseScope) out_.append("#\r\n");
            out_.append("# Dumping data for table '" + commentText(table).toStdString() +
                        "'\r\n#\r\n\r\n");
        }
        std::size_t room = prefix.size() + suffix.size();
        for (unsigned i = 0; i < count; ++i) room += 2 * std::size_t(result.value(i).length) + 4;
        char* const start = out_.reserve(room);
        char* p = start;
        std::memcpy(p, prefix.data(), prefix.size());
        p += prefix.size();
        for (unsigned i = 0; i < count; ++i) {
            if (i) *p++ = ',';
            const db::Value v = result.value(i);
            if (v.isNull()) {
                std::memcpy(p, "Null", 4);
                p += 4;
                continue;
            }
            switch (forms[i]) {
                case ValueForm::Plain:
                    std::memcpy(p, v.data, v.length);
                    p += v.length;
                    break;
                case ValueForm::Quoted:
                    *p++ = '\'';
                    p += c_.escapeTo(p, v.view());
                    *p++ = '\'';
                    break;
                case ValueForm::Hex:
                    if (v.length == 0) {
                        *p++ = '\'';
                        *p++ = '\'';
                        break;
                    }
                    *p++ = '0';
                    *p++ = 'x';
                    p = putHex(p, v.view());
                    break;
            }
        }
        std::memcpy(p, suffix.data(), suffix.size());
        p += suffix.size();
        out_.written(std::size_t(p - start));
        out_.flushIfFull();
        ++rows;
        if ((rows & 255) == 0) {
            state_.rows = rows;
            if (!report(false)) {
                c_.abandon(result);  // not the rest of a large table
                throw Stopped{};
            }
        }
    }
    // A streamed result ends early, without rows, when the connection fails.
    if (c_.errorNumber() != 0 && c_.waiter() && c_.waiter()->cancelRequested()) throw Stopped{};
    if (c_.errorNumber() != 0)
        throw DumpError(
            c_.connectionLost()
                ? lostConnection(c_, QStringLiteral("reading the rows of %1").arg(state_.table))
                : QStringLiteral("Reading the rows of %1 failed: %2")
                      .arg(state_.table, c_.errorText()));
    // The count lets a restore tell a data file that lost rows from a complete one.
    if (rows > 0) out_.append(rowCountLine(table, rows).toStdString());
    if (databaseScope && rows >= 2) out_.append("\r\n\r\n");
    state_.rows = rows;
    if (!report(false)) throw Stopped{};
    return rows;
}

TableEntry tableOf(db::Connection& c, const QString& database, const QString& table) {
    db::Result r =
        selectRows(c,
                   "SELECT TABLE_TYPE, TABLE_ROWS FROM information_schema.TABLES "
                   "WHERE TABLE_SCHEMA = " +
                       c.quoteValue(database) + " AND TABLE_NAME = " + c.quoteValue(table));
    TableEntry e;
    e.name = db::utf8(table);
    if (r.next()) {
        e.view = r.text(0) == QLatin1String("VIEW");
        e.rows = r.text(1).toULongLong();
    }
    return e;
}

// One consistent snapshot for all the tables of a database dump, as a backup taken at one
// moment, with nothing locked. Tables of engines without transactions read what they hold
// when they are read; they are named in the result.
class Snapshot {
public:
    Snapshot(db::Connection& c, const std::vector<TableEntry>& tables, DumpResult& result) : c_(c) {
        db::Result open;
        if (c.query("SELECT @@in_transaction")) open = c.storeResult();
        // Starting the snapshot would commit what the SQL panel left open.
        if (open && open.next() && open.text(0) == QLatin1String("1"))
            throw DumpError(QStringLiteral("The connection has a transaction open (begun in the SQL "
                                           "panel): commit or roll it back, then dump again."));
        std::vector<std::string> engines = namesOf(
            c, "SELECT ENGINE FROM information_schema.ENGINES WHERE TRANSACTIONS = 'YES'");
        for (const TableEntry& t : tables)
            if (!t.view && std::find(engines.begin(), engines.end(), t.engine) == engines.end())
                result.outsideSnapshot.push_back(QString::fromUtf8(t.name.data(), qsizetype(t.name.size())));
        for (const char* statement : {"SET TRANSACTION ISOLATION LEVEL REPEATABLE READ",
                                      "START TRANSACTION WITH CONSISTENT SNAPSHOT, READ ONLY"})
            if (!c.query(statement)) throw DumpError(serverError(c, statement));
    }
    ~Snapshot() { c_.query("COMMIT"); }
    Snapshot(const Snapshot&) = delete;
    Snapshot& operator=(const Snapshot&) = delete;

private:
    db::Connection& c_;
};

}  // namespace

SchemaText DumpWriter::schema(const DumpTarget& target, const SchemaOptions& options) {
    return SchemaWriter(connection_).schema(target, options);
}

DumpResult DumpWriter::save(const QString& schemaPath, const QByteArray& schemaText,
                            const DumpTarget* data, const DumpProgressFn& progress) {
    DumpResult result;
    try {
        const QString dataPath = dataFilePath(schemaPath);
        if (data &&
            QFileInfo(dataPath).absoluteFilePath() == QFileInfo(schemaPath).absoluteFilePath())
            throw DumpError(QStringLiteral("The data file would replace the schema file %1: "
                                           "choose a name that does not end in \"dat\".")
                                .arg(QDir::toNativeSeparators(schemaPath)));
        std::optional<files::OutputFile> schemaFile;
        try {
            schemaFile.emplace(schemaPath);
            schemaFile->append(
                std::string_view(schemaText.constData(), std::size_t(schemaText.size())));
            if (!data) {
                schemaFile->commit();
                result.ok = true;
                return result;
            }
        } catch (const files::WriteError&) {
            result.schemaFailed = true;
            throw;
        }
        files::OutputFile dataFile(dataPath);
        const QByteArray header = sessionHeader();
        dataFile.append(std::string_view(header.constData(), std::size_t(header.size())));
        {
            DumpSession session(connection_, data->database);
            DataWriter writer(connection_, dataFile, progress);
            if (!data->table.isEmpty()) {
                const TableEntry entry = tableOf(connection_, data->database, data->table);
                if (!entry.view) {
                    result.rows += writer.writeTable(data->database, entry.name, entry.rows, false);
                    ++result.tables;
                }
            } else {
                const std::vector<TableEntry> tables = tablesOf(connection_, data->database);
                Snapshot snapshot(connection_, tables, result);
                for (const TableEntry& entry : tables) {
                    if (entry.view) continue;
                    result.rows += writer.writeTable(data->database, entry.name, entry.rows, true);
                    ++result.tables;
                }
            }
        }
        // Flushing a large file to disk takes a while: the window goes on painting.
        connection_.runAside("Writing the files to disk", [&] {
            dataFile.finish();
            try {
                schemaFile->finish();
                schemaFile->commit();
            } catch (const files::WriteError&) {
                result.schemaFailed = true;
                throw;
            }
            dataFile.commit();
        });
        result.ok = true;
    } catch (const DumpError& e) {
        result.error = e.text();
    } catch (const files::WriteError& e) {
        result.error = e.text();
    } catch (const Stopped&) {
        result.stopped = true;
        result.error = QStringLiteral("The dump was stopped; no file was written.");
    }
    return result;
}

}  // namespace dump
