#pragma once

#include <QString>
#include <cstdint>
#include <string>
#include <vector>

#include "db/Connection.h"
#include "dump/DumpFormat.h"

// The parts of the dump writer that its schema text and its data file share: the session a
// dump reads in, and the statements it reads with, which report a refusal as DumpError.
namespace dump {

// The user stopped the dump (its Stop button, or Cancel while a statement ran).
struct Stopped {};

inline std::string_view marker() { return kMarker; }
// A table whose names the dump file cannot carry is refused rather than written broken.
DumpError notDumpable(std::string_view table);
// A connection that went away is no refusal, and nothing can go on without a new one.
QString lostConnection(db::Connection& c, const QString& during);
// The server's refusal of `statement`, worded for the user; throws Stopped after a Cancel.
QString serverError(db::Connection& c, const std::string& statement);
db::Result selectRows(db::Connection& c, const std::string& statement);
std::string literalOrNull(db::Connection& c, const db::Value& v);
// The names a query lists, in its order.
std::vector<std::string> namesOf(db::Connection& c, const std::string& query);

struct TableEntry {
    std::string name;
    std::uint64_t rows = 0;  // estimate
    bool view = false;
    std::string engine;
};

// The tables and views of a database, with their estimated rows and engines.
std::vector<TableEntry> tablesOf(db::Connection& c, const QString& database);

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

}  // namespace dump
