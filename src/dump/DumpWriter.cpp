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
#include "files/OutputFile.h"

namespace dump {

namespace {

// Often enough that the window, which repaints in the callback, never looks stuck.
constexpr qint64 kProgressIntervalMs = 20;

std::string_view marker() { return kMarker; }

// A connection that went away is no refusal, and nothing can go on without a new one.
QString lostConnection(db::Connection& c, const QString& during) {
    return QStringLiteral(
               "The connection to the server was lost while %1: %2\n"
               "No file was written; repeat the dump once the server is back.")
        .arg(during, c.errorText());
}

// The user stopped the dump (its Stop button, or Cancel while a statement ran).
struct Stopped {};

QString serverError(db::Connection& c, const std::string& statement) {
    if (c.cancelledByUser()) throw Stopped{};
    const QString text = QString::fromUtf8(statement.data(), qsizetype(statement.size()));
    if (c.connectionLost()) return lostConnection(c, QStringLiteral("running \"%1\"").arg(text));
    return QStringLiteral("The server refused \"%1\": %2").arg(text, c.errorText());
}

db::Result selectRows(db::Connection& c, const std::string& statement) {
    if (!c.query(statement)) throw DumpError(serverError(c, statement));
    db::Result result = c.storeResult();
    if (!result) throw DumpError(serverError(c, statement));
    return result;
}

std::string literalOrNull(db::Connection& c, const db::Value& v) {
    return v.isNull() ? std::string("NULL") : c.quoteValue(v.view());
}

// The session settings a dump depends on, set for one call and put back afterwards, so
// that the main window's connection reads as before.
class DumpSession {
public:
    DumpSession(db::Connection& c, const QString& database) : c_(c) {
        db::Result saved = selectRows(
            c,
            "SELECT @@session.time_zone, @@session.sql_mode, @@session.character_set_client, "
            "@@session.character_set_results, @@session.collation_connection");
        if (!saved.next()) throw DumpError(serverError(c, "SELECT @@session.time_zone"));
        restore_ = "SET time_zone = " + literalOrNull(c, saved.value(0)) +
                   ", sql_mode = " + literalOrNull(c, saved.value(1)) +
                   ", character_set_client = " + literalOrNull(c, saved.value(2)) +
                   ", character_set_results = " + literalOrNull(c, saved.value(3)) +
                   ", collation_connection = " + literalOrNull(c, saved.value(4));
        // Values escape the way the server reads them back only while backslashes escape,
        // and CHAR values come unpadded only without PAD_CHAR_TO_FULL_LENGTH.
        const std::string setup = "SET time_zone = '+00:00', sql_mode = ''";
        if (!c.setCharacterSet("utf8mb4") || !c.query(setup)) {
            const QString error = serverError(c, setup);
            c.query(restore_);
            throw DumpError(error);
        }
        if (!c.selectDb(database)) {
            const QString error =
                c.connectionLost()
                    ? lostConnection(c, QStringLiteral("selecting the database %1").arg(database))
                    : QStringLiteral("Cannot select the database %1: %2")
                          .arg(database, c.errorText());
            c.query(restore_);
            throw DumpError(error);
        }
    }
    ~DumpSession() { c_.query(restore_); }
    DumpSession(const DumpSession&) = delete;
    DumpSession& operator=(const DumpSession&) = delete;

private:
    db::Connection& c_;
    std::string restore_;
};

enum class ObjectKind { Table, View, Function, Procedure, Trigger, Event };

struct SchemaObject {
    std::string name;
    std::string create;
    bool view = false;
    ObjectKind kind = ObjectKind::Table;
    std::string context;  // routines, triggers, events: the SET that recreates their session
};

// A table whose names the dump file cannot carry is refused rather than written broken.
DumpError notDumpable(std::string_view table) {
    return DumpError(QStringLiteral("The table %1 cannot be dumped: its name, or the name of one "
                                    "of its columns or keys, holds a carriage return or a "
                                    "Ctrl-Z, or a line feed right after \";#+----\", which a "
                                    "dump file cannot carry. Rename it, then dump again.")
                         .arg(QString::fromUtf8(commentText(table))));
}

DumpError notDumpableObject(std::string_view name) {
    return DumpError(QStringLiteral("The object %1 cannot be dumped: its name holds a carriage "
                                    "return or a Ctrl-Z, or a line feed right after \";#+----\", "
                                    "which a dump file cannot carry. Rename it, then dump again.")
                         .arg(QString::fromUtf8(commentText(name))));
}

SchemaObject showCreate(db::Connection& c, const QString& database, const std::string& table,
                        bool definers) {
    const std::string statement =
        "SHOW CREATE TABLE " + db::quoteIdentifier(database) + "." + db::quoteIdentifier(table);
    db::Result r = selectRows(c, statement);
    if (!r.next() || r.columnCount() < 2) throw DumpError(serverError(c, statement));
    SchemaObject object;
    object.name = std::string(r.value(0).view());
    object.create = std::string(r.value(1).view());
    object.view = r.columns()[0].name == "View";
    if (object.view) {
        object.kind = ObjectKind::View;
        if (!definers) object.create = withoutDefiner(object.create);
    }
    if (!fitsDumpFile(object.name) || !fitsDumpFile(object.create)) throw notDumpable(table);
    return object;
}

// Views after the views they select from. A view "uses" another when that one's quoted
// name appears in its definition; a false match only reorders, and a cycle keeps the rest
// in the server's order.
std::vector<SchemaObject> viewsInCreationOrder(std::vector<SchemaObject> views) {
    std::vector<SchemaObject> ordered;
    while (!views.empty()) {
        std::size_t pick = 0;
        for (std::size_t i = 0; i < views.size(); ++i) {
            bool ready = true;
            for (std::size_t j = 0; j < views.size() && ready; ++j)
                if (j != i &&
                    views[i].create.find(db::quoteIdentifier(views[j].name)) != std::string::npos)
                    ready = false;
            if (ready) {
                pick = i;
                break;
            }
        }
        ordered.push_back(std::move(views[pick]));
        views.erase(views.begin() + std::ptrdiff_t(pick));
    }
    return ordered;
}

struct KindWords {
    const char* comment;  // in "# Drop for ..." and "# Dumping ..."
    const char* drop;
};

KindWords wordsOf(ObjectKind kind) {
    switch (kind) {
        case ObjectKind::Table: return {"Table", "Drop Table If Exists "};
        case ObjectKind::View: return {"Table", "Drop View If Exists "};
        case ObjectKind::Function: return {"function", "Drop Function If Exists "};
        case ObjectKind::Procedure: return {"procedure", "Drop Procedure If Exists "};
        case ObjectKind::Trigger: return {"trigger", "Drop Trigger If Exists "};
        case ObjectKind::Event: return {"event", "Drop Event If Exists "};
    }
    return {"Table", "Drop Table If Exists "};
}

QByteArray dropBlock(const SchemaObject& o) {
    const KindWords words = wordsOf(o.kind);
    const QByteArray kind = o.kind == ObjectKind::Table || o.kind == ObjectKind::View
                                ? QByteArray("Table")
                                : QByteArray(words.comment);
    QByteArray out = "#\r\n# Drop for " + kind + " '" + commentText(o.name) + "'\r\n#\r\n\r\n";
    out += words.drop;
    out += db::quoteIdentifier(o.name);
    out += marker();
    out += "\r\n\r\n";
    return out;
}

QByteArray structureBlock(const SchemaObject& o) {
    QByteArray out = "#\r\n# Table structure for table '" + commentText(o.name) + "'\r\n#\r\n\r\n";
    out += createTextLines(o.create);
    out += marker();
    return out;
}

// What every object statement leaves behind: the session the rest of the file expects.
constexpr std::string_view kSessionAgain =
    "SET NAMES utf8mb4, SQL_MODE = 'NO_AUTO_VALUE_ON_ZERO', TIME_ZONE = '+00:00'";

// A routine, trigger or event, in the SQL mode, character set and collation (and for an
// event the time zone) it was created in: its body is read in them again.
QByteArray objectBlock(const SchemaObject& o) {
    QByteArray out = QByteArray("#\r\n# Dumping ") + wordsOf(o.kind).comment + " '" +
                     commentText(o.name) + "'\r\n#\r\n\r\n";
    out += o.context;
    out += marker();
    out += "\r\n";
    out += bodyStatement(o.create);
    out += "\r\n";
    out += kSessionAgain;
    out += marker();
    return out;
}

bool isAscii(std::string_view text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// The session of an object's creation. Its text comes in UTF-8 (the dump reads in
// utf8mb4), so it is sent in its own character set only where the bytes mean the same
// there.
std::string contextOf(db::Connection& c, const db::Value& sqlMode, const db::Value& client,
                      const db::Value& collation, const std::string& text,
                      const db::Value* timeZone) {
    const std::string cs(client.view());
    const bool sameBytes = cs == "utf8mb4" || cs == "utf8mb3" || cs == "utf8" || isAscii(text);
    std::string out = "SET SQL_MODE = " + literalOrNull(c, sqlMode) + ", CHARACTER_SET_CLIENT = " +
                      (sameBytes && !client.isNull() ? c.quoteValue(cs) : std::string("'utf8mb4'"));
    if (!collation.isNull()) out += ", COLLATION_CONNECTION = " + c.quoteValue(collation.view());
    if (timeZone && !timeZone->isNull()) out += ", TIME_ZONE = " + c.quoteValue(timeZone->view());
    return out;
}

// An object whose text the server did not give (no privilege to read it) would be missing
// from the backup without a word; the dump is refused instead.
DumpError unreadable(const char* kind, const std::string& name) {
    return DumpError(QStringLiteral("The text of the %1 %2 cannot be read: the account needs to "
                                    "be its definer or have the privilege to read it (SELECT on "
                                    "mysql.proc, SHOW CREATE ROUTINE, TRIGGER or EVENT). Nothing "
                                    "was written; dump with an account that can read it, or "
                                    "leave %1s out.")
                         .arg(QLatin1String(kind), QString::fromUtf8(commentText(name))));
}

// SHOW CREATE of a routine, trigger or event: the columns of its mode, text and session.
SchemaObject showCreateObject(db::Connection& c, const QString& database, ObjectKind kind,
                              const std::string& name, bool definers) {
    const char* word = kind == ObjectKind::Function    ? "FUNCTION"
                       : kind == ObjectKind::Procedure ? "PROCEDURE"
                       : kind == ObjectKind::Trigger   ? "TRIGGER"
                                                       : "EVENT";
    const std::string statement = std::string("SHOW CREATE ") + word + " " +
                                  db::quoteIdentifier(database) + "." + db::quoteIdentifier(name);
    db::Result r = selectRows(c, statement);
    // Function, sql_mode, Create Function, client, collation; an event has its time zone
    // before the text.
    const unsigned text = kind == ObjectKind::Event ? 3 : 2;
    if (!r.next() || r.columnCount() < text + 3) throw DumpError(serverError(c, statement));
    if (r.value(text).isNull()) throw unreadable(wordsOf(kind).comment, name);
    SchemaObject o;
    o.name = name;
    o.kind = kind;
    o.create = std::string(r.value(text).view());
    if (!definers) o.create = withoutDefiner(o.create);
    const db::Value zone = r.value(2);
    o.context = contextOf(c, r.value(1), r.value(text + 1), r.value(text + 2), o.create,
                          kind == ObjectKind::Event ? &zone : nullptr);
    if (!fitsDumpFile(o.name)) throw notDumpableObject(name);
    return o;
}

// The names a query lists, in its order.
std::vector<std::string> namesOf(db::Connection& c, const std::string& query) {
    db::Result r = selectRows(c, query);
    std::vector<std::string> names;
    while (r.next()) names.emplace_back(r.value(0).view());
    return names;
}

// The routines, triggers and events of a database (of one table: its triggers), in the
// order they are created again: triggers of one table and moment in their firing order.
void addObjects(db::Connection& c, const QString& database, const QString& table,
                const SchemaOptions& options, std::vector<SchemaObject>& routines,
                std::vector<SchemaObject>& late) {
    const std::string schema = c.quoteValue(database);
    if (options.routines && table.isEmpty()) {
        for (const auto& [type, kind] : {std::pair{"FUNCTION", ObjectKind::Function},
                                         std::pair{"PROCEDURE", ObjectKind::Procedure}})
            for (const std::string& name :
                 namesOf(c, "SELECT ROUTINE_NAME FROM information_schema.ROUTINES WHERE "
                            "ROUTINE_SCHEMA = " + schema + " AND ROUTINE_TYPE = '" + type +
                                "' ORDER BY ROUTINE_NAME"))
                routines.push_back(showCreateObject(c, database, kind, name, options.definers));
    }
    if (options.triggers) {
        std::string query =
            "SELECT TRIGGER_NAME FROM information_schema.TRIGGERS WHERE TRIGGER_SCHEMA = " + schema;
        if (!table.isEmpty()) query += " AND EVENT_OBJECT_TABLE = " + c.quoteValue(table);
        query += " ORDER BY EVENT_OBJECT_TABLE, ACTION_TIMING, EVENT_MANIPULATION, ACTION_ORDER";
        for (const std::string& name : namesOf(c, query))
            late.push_back(showCreateObject(c, database, ObjectKind::Trigger, name, options.definers));
    }
    if (options.events && table.isEmpty()) {
        for (const std::string& name :
             namesOf(c, "SELECT EVENT_NAME FROM information_schema.EVENTS WHERE EVENT_SCHEMA = " +
                            schema + " ORDER BY EVENT_NAME"))
            late.push_back(showCreateObject(c, database, ObjectKind::Event, name, options.definers));
    }
}

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

struct TableEntry {
    std::string name;
    std::uint64_t rows = 0;  // estimate
    bool view = false;
    std::string engine;
};

std::vector<TableEntry> tablesOf(db::Connection& c, const QString& database) {
    db::Result r = selectRows(c, "SHOW TABLE STATUS FROM " + db::quoteIdentifier(database));
    std::vector<TableEntry> out;
    while (r.next()) {
        TableEntry e;
        e.name = std::string(r.value(0).view());
        e.rows = r.value(4).isNull() ? 0 : r.text(4).toULongLong();
        e.view = r.value(1).isNull() && r.columnCount() > 17 && r.text(17) == QLatin1String("VIEW");
        e.engine = std::string(r.value(1).view());
        out.push_back(std::move(e));
    }
    return out;
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

namespace {

// The triggers and events, behind the line that lets a restore run them after the rows.
QByteArray lateSection(const std::vector<SchemaObject>& late, SchemaText& counts) {
    QByteArray out;
    if (late.empty()) return out;
    out += "#\r\n";
    out.append(kLateSection.data(), qsizetype(kLateSection.size()));
    out += ", after the rows\r\n#\r\n\r\n";
    for (std::size_t i = 0; i < late.size(); ++i) {
        if (i) out += "\r\n\r\n";
        out += objectBlock(late[i]);
        ++(late[i].kind == ObjectKind::Trigger ? counts.triggers : counts.events);
    }
    return out;
}

}  // namespace

SchemaText DumpWriter::schema(const DumpTarget& target, const SchemaOptions& options) {
    DumpSession session(connection_, target.database);
    SchemaText out;
    std::vector<SchemaObject> routines, late;
    if (!target.table.isEmpty()) {
        const SchemaObject object = showCreate(connection_, target.database,
                                               db::utf8(target.table), options.definers);
        if (!object.view)
            addObjects(connection_, target.database, target.table, options, routines, late);
        out.text = sessionHeader();
        if (options.drop) out.text += dropBlock(object);
        out.text += structureBlock(object);
        if (!late.empty()) out.text += "\r\n\r\n" + lateSection(late, out);
        out.tables = 1;
        out.views = object.view ? 1 : 0;
        return out;
    }
    std::vector<SchemaObject> tables, views;
    for (const TableEntry& entry : tablesOf(connection_, target.database)) {
        SchemaObject object = showCreate(connection_, target.database, entry.name, options.definers);
        (object.view ? views : tables).push_back(std::move(object));
    }
    addObjects(connection_, target.database, {}, options, routines, late);
    out.tables = int(tables.size() + views.size());
    out.views = int(views.size());
    out.routines = int(routines.size());
    // Routines before the views that call them; views after the views they read.
    const std::size_t tableCount = tables.size();
    for (SchemaObject& routine : routines) tables.push_back(std::move(routine));
    for (SchemaObject& view : viewsInCreationOrder(std::move(views)))
        tables.push_back(std::move(view));
    QByteArray drops, structures;
    for (std::size_t i = 0; i < tables.size(); ++i) {
        const SchemaObject& object = tables[i];
        if (options.drop) drops.prepend(dropBlock(object));
        structures += i < tableCount || object.kind == ObjectKind::View ? structureBlock(object)
                                                                       : objectBlock(object);
        structures += "\r\n\r\n";
    }
    if (options.drop)
        for (const SchemaObject& object : late) drops.prepend(dropBlock(object));
    QByteArray lateText = lateSection(late, out);
    if (!lateText.isEmpty()) lateText += "\r\n\r\n";
    out.text = "#\r\n# MySQL DataBase : " + commentText(db::utf8(target.database)) +
               "\r\n#\r\n\r\n" + sessionHeader() + drops + structures + lateText;
    return out;
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
