#pragma once

#include <QString>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace db {
class Connection;
}

namespace admin {

// The stored objects of a database that have a definition of their own.
enum class ObjectKind { View, Procedure, Function, Trigger, Event };

// "view", "procedure", "function", "trigger", "event".
QString kindNoun(ObjectKind kind);
// The kind's word in SHOW CREATE and DROP statements: "VIEW", "PROCEDURE", ...
const char* showWord(ObjectKind kind);

struct ObjectRef {
    ObjectKind kind = ObjectKind::View;
    QString database;
    QString name;
};

// "the view `db`.`v`", as messages name an object.
QString objectLabel(const ObjectRef& ref);

// An object as the server describes it: its SHOW CREATE text and what the server keeps
// beside it (definer, SQL SECURITY, the character set and collation it was created in, an
// event's schedule and status), in the order they are shown.
struct ObjectDefinition {
    QString text;  // empty when the account may not read it (`readable` false)
    bool readable = true;
    std::string sqlMode;  // the SQL mode its body is read in (not for views)
    std::vector<std::pair<QString, QString>> properties;

    QString property(const QString& caption) const;
};

// A change the server refused or could not carry out. what() is the sentence shown: the
// server's reason and what became of the old definition.
class ObjectError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
    explicit ObjectError(const QString& text) : std::runtime_error(text.toStdString()) {}
    QString text() const { return QString::fromUtf8(what()); }
};

// What an applied definition left to say: the server accepted it, and yet (an event whose
// time has passed) did not keep it. Empty when there is nothing to say.
struct ApplyOutcome {
    QString note;
};

// Reads, replaces, creates and drops views, routines, triggers and events on one
// connection. No widgets: the object panel and its commands drive it, tests call it.
// Server failures throw db::DbError (a lost connection, a refused read) or ObjectError.
class ObjectDefinitions {
public:
    explicit ObjectDefinitions(db::Connection& connection) : connection_(connection) {}

    // The definition and properties; nullopt when the object is not (any longer) there.
    std::optional<ObjectDefinition> find(const ObjectRef& ref);
    // As find(), but an object that is gone is an ObjectError.
    ObjectDefinition read(const ObjectRef& ref);

    // Whether the server replaces an object of this kind by dropping it before it has
    // stored the new text: a text it refuses at that point leaves the object dropped
    // (CREATE OR REPLACE PROCEDURE with a comment too long for its column does so). The
    // caller asks before applying; apply() then puts the old definition back on failure.
    static bool replacesByDropping(ObjectKind kind);

    // Replaces the object with the user's text, sent as CREATE OR REPLACE (added to a text
    // that starts with a bare CREATE) with the object's database current. When the server
    // refuses, the old definition is what it was: if the server had dropped it, it is
    // created again from the text read before, in its own SQL mode. Throws ObjectError with
    // the server's reason (and its warnings) and what became of the old one. A trigger
    // keeps its place among its table's triggers (PRECEDES the one after it is added to a
    // text that fires at the same moment and names no place).
    ApplyOutcome apply(const ObjectRef& ref, const QString& text);
    // Creates a new object from the user's text as written (a plain CREATE never replaces
    // an object of the same name), with `database` current.
    ApplyOutcome create(const QString& database, const QString& text);
    void drop(const ObjectRef& ref);

    // The first base table of the database in name order (what a new trigger's text names);
    // empty when it has none.
    QString firstTable(const QString& database);

    // A starting text for a new object of the kind; `table` names the table a trigger
    // is for (a placeholder when empty).
    static QString templateFor(ObjectKind kind, const QString& table = {});
    // The text with CREATE made CREATE OR REPLACE; a text that does not start with CREATE
    // is returned as it is.
    static QString withOrReplace(const QString& text);

private:
    void selectDatabase(const QString& database);
    // Sends a definition; on failure puts `old` back where the server dropped it, then
    // throws ObjectError.
    ApplyOutcome send(const std::string& statement, const ObjectRef* replaced,
                      const std::optional<ObjectDefinition>& old);
    // Creates the old definition again in its SQL mode; the server's reason when it refused,
    // else empty.
    QString recreate(const ObjectDefinition& old);

    db::Connection& connection_;
};

}  // namespace admin
