#include "dump/SchemaWriter.h"

#include <algorithm>
#include <string>
#include <vector>

#include "db/Connection.h"
#include "dump/DumpFormat.h"
#include "dump/DumpSession.h"

namespace dump {

namespace {

enum class ObjectKind { Table, View, Function, Procedure, Trigger, Event };

struct SchemaObject {
    std::string name;
    std::string create;
    bool view = false;
    ObjectKind kind = ObjectKind::Table;
    std::string context;  // routines, triggers, events: the SET that recreates their session
};

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

SchemaText SchemaWriter::schema(const DumpTarget& target, const SchemaOptions& options) {
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

}  // namespace dump
