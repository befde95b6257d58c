#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

#include "sqllex/Rules.h"

namespace db {
class Connection;
}

// What the editor offers to complete the word at the cursor: keywords, databases, the
// tables of the current database, and the columns of the tables the statement names
// ("t." or an alias offers that table's columns, "db." that database's tables, "db.t."
// the columns of db.t). Names come from the server once and are kept until clear() (the
// tree's refresh, a new connection); a name is offered as it must be typed, in backticks
// where the server would not read it bare.
class Completion {
public:
    struct Request {
        QString prefix;     // the part of the word before the cursor, unquoted
        QString qualifier;  // the name before a '.', unquoted; empty when none
        QString database;   // the name before the qualifier's '.' ("db.t."); empty when none
        int start = 0;      // where the word starts in the text (its opening backtick)
        bool quoted = false;  // the word opens with a backtick: a name, never a keyword
    };
    struct Table {
        QString database;  // empty: the current one
        QString name;
    };
    // Everything that fits the word at one place; matching() narrows it as the word grows,
    // without asking the server again.
    struct Offer {
        int start = -1;        // where the word starts; -1: nothing offered
        QStringList names;     // unquoted, sorted
        QStringList keywords;  // none after a qualifier or a backtick
        // Names (as they must be typed) then keywords that start with `prefix`, ignoring
        // case; a word already typed in full is not offered again.
        QStringList matching(const QString& prefix) const;
    };

    explicit Completion(db::Connection& connection) : connection_(connection) {}

    void setKeywords(const QStringList& words) { keywords_ = words; }
    // How the panel's connection reads quotes ("..." a name under ANSI_QUOTES).
    void setRules(sqllex::Rules rules) { rules_ = rules; }
    // Forgets every name read from the server.
    void clear();

    // The word being typed at `cursor` in `text`.
    static Request requestAt(const QString& text, int cursor, sqllex::Rules rules = {});
    // Tables the statement around `cursor` names, with their aliases: alias -> table. The
    // table name being typed at the cursor is not one of them.
    static QHash<QString, Table> tablesNamed(const QString& text, int cursor,
                                             sqllex::Rules rules = {});
    // `name` as it stands in a statement: bare when the server reads it as that name, else
    // quoted (a reserved word, a name with blanks or signs, one that starts with a digit).
    static QString asTyped(const QString& name);
    static bool isReserved(const QString& word);

    Offer offer(const QString& text, int cursor);
    // Candidates for the word at the cursor, sorted, names before keywords.
    QStringList candidates(const QString& text, int cursor);

private:
    const QStringList& databases();
    const QStringList& tablesIn(const QString& database);
    const QStringList& columns(const Table& table);
    QString currentDatabase();
    QStringList readNames(const std::string& query);

    db::Connection& connection_;
    QStringList keywords_;
    sqllex::Rules rules_;
    bool haveDatabases_ = false;
    QStringList databases_;
    QHash<QString, QStringList> tables_;   // database -> tables
    QHash<QString, QStringList> columns_;  // database + '\0' + table -> columns
};
