#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

namespace db {
class Connection;
}

// What the editor offers to complete the word at the cursor: keywords, databases, the
// tables of the current database, and the columns of the tables the statement names
// ("t." or an alias offers that table's columns). Names come from the server once and are
// kept until clear() (the tree's refresh, a new connection), so a key press never waits
// for a round trip beyond the first one after a refresh.
class Completion {
public:
    struct Request {
        QString prefix;     // the part of the word before the cursor
        QString qualifier;  // the name before a '.', unquoted; empty when none
        int start = 0;      // where the prefix starts in the text
    };

    explicit Completion(db::Connection& connection) : connection_(connection) {}

    void setKeywords(const QStringList& words) { keywords_ = words; }
    // Forgets every name read from the server.
    void clear();

    // The word being typed at `cursor` in `text`.
    static Request requestAt(const QString& text, int cursor);
    // Tables the statement around `cursor` names, with their aliases: alias -> table.
    static QHash<QString, QString> tablesNamed(const QString& text, int cursor);

    // Candidates starting with the prefix (case-insensitive), sorted, names before keywords.
    QStringList candidates(const QString& text, int cursor);

private:
    const QStringList& databases();
    const QStringList& tables();
    const QStringList& columns(const QString& table);
    QStringList readNames(const std::string& query);

    db::Connection& connection_;
    QStringList keywords_;
    bool haveDatabases_ = false;
    QStringList databases_;
    QString tablesOf_;  // the database tables_ belong to
    bool haveTables_ = false;
    QStringList tables_;
    QHash<QString, QStringList> columns_;  // "db.table" -> columns
};
