#pragma once

#include <QDateTime>
#include <QString>
#include <vector>

#include "sqllex/Rules.h"

// One statement sent from the SQL panel.
struct HistoryEntry {
    QString server;     // the server's display name
    QString database;   // the database selected when it ran; empty: none
    QDateTime started;  // UTC, to the millisecond
    qint64 durationMs = 0;
    qint64 rows = -1;  // returned or affected; -1: unknown
    QString outcome;   // "12 rows", "3 rows affected", the server's error
    QString statement;
    sqllex::Rules rules;  // how the session read its quotes, for masking
};

// The statement with the literal of every password it sets or names replaced by '***':
// IDENTIFIED BY 'x', IDENTIFIED BY PASSWORD 'hash', PASSWORD('x') (and OLD_PASSWORD),
// SET PASSWORD [FOR account] = 'x', and after IDENTIFIED VIA/WITH a plugin, USING 'x' or
// AS 'x'; also MASTER_PASSWORD = 'x'. Quotes, comments and the code of "/*! ... */"
// comments are read as the server reads them, so words inside other strings and comments are
// left alone; a literal left open runs to the end and is masked all the same.
QString maskPasswords(const QString& statement, sqllex::Rules rules = {});
// The outcome of a statement with every password of the statement hidden: a syntax error
// quotes the statement from where the server stopped reading, so when the statement holds
// a password the quoted part is replaced by *** whole, and so is any other copy of one.
QString maskPasswordsInOutcome(const QString& statement, const QString& outcome,
                               sqllex::Rules rules = {});

// The statements sent from the SQL panel, kept across runs in an SQLite file (through Qt Sql),
// newest first, at most `maxEntries` of them. Passwords are masked before anything is stored,
// and the file is made readable by its owner only. When the file cannot be opened or is not
// a history, error() says so and every call does nothing: the panel works without history.
// One thread only (a Qt Sql connection stays on the thread that opened it).
class QueryHistory {
public:
    static constexpr int kDefaultMaxEntries = 10000;

    explicit QueryHistory(const QString& path, int maxEntries = kDefaultMaxEntries);
    ~QueryHistory();
    QueryHistory(const QueryHistory&) = delete;
    QueryHistory& operator=(const QueryHistory&) = delete;

    bool isOpen() const { return open_; }
    // Why the history is off (or why the last call failed); empty when all went well.
    const QString& error() const { return error_; }

    // Stores the entry with its passwords masked (in the statement and in its outcome) and
    // drops the oldest entries beyond the limit. False with error() set when the file refused the write.
    bool record(const HistoryEntry& entry);
    // Many at once, in one transaction (the statements of a script).
    bool record(const std::vector<HistoryEntry>& entries);
    // Up to `limit` entries whose statement contains `text` (any letter case; every
    // character, % and _ included, stands for itself), newest first. Empty text: the
    // newest entries.
    std::vector<HistoryEntry> search(const QString& text, int limit = 500);
    bool clear();

private:
    bool fail(const QString& what, const QString& reason);

    QString path_;
    QString connectionName_;
    int maxEntries_;
    bool open_ = false;
    QString error_;
};
