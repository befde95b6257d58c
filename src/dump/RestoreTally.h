#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "dump/ScriptScan.h"

namespace db {
class Connection;
}

namespace dump {

// What the files of one restore carried - the rows of each table, the objects they create -
// gathered while they run, to compare with what the database holds afterwards.
class RestoreTally {
public:
    static constexpr std::size_t kUncountable = std::size_t(-1);

    // An INSERT into `table` with `rows` rows (kUncountable: rows the text does not show,
    // as INSERT ... SELECT). `prefix`, the text before its row list, spares looking the
    // table up again for the next INSERT of the same form.
    void inserted(std::string_view prefix, std::string_view table, std::size_t rows);
    // Whether an INSERT of this prefix goes into the table of the last one (no name needed).
    bool continues(std::string_view prefix) const {
        return last_ && !prefix.empty() && prefix == lastPrefix_;
    }
    // An INSERT into `table` with `rows` rows that was not sent (larger than the server
    // takes): in the file, so not missing from it, but not in the database either.
    void skipped(const std::string& table, std::size_t rows);
    // The count the writer noted after a table's rows.
    void dumped(const std::string& table, std::uint64_t rows);
    void created(const CreatedObject& object);
    void dropped(const std::vector<QString>& tables);

    std::uint64_t rows() const { return rows_; }
    // The data file ended inside a statement (cut short while or before the restore read it):
    // a table whose count line never came may have lost rows.
    void cutShort() { cut_ = true; }
    bool cut() const { return cut_; }

    struct Table {
        std::uint64_t rows = 0;
        bool countable = true;
        std::uint64_t skipped = 0;  // rows of statements not sent
        std::optional<std::uint64_t> dumped;
    };
    const std::map<std::string, Table>& tables() const { return tables_; }
    const std::vector<CreatedObject>& objects() const { return objects_; }

private:
    std::map<std::string, Table> tables_;
    std::vector<CreatedObject> objects_;
    std::string lastPrefix_;
    Table* last_ = nullptr;
    std::uint64_t rows_ = 0;
    bool cut_ = false;
};

struct Verification {
    bool checked = false;   // false: the database could not be read (`differences` says why)
    int tables = 0;         // tables whose rows were compared
    int objects = 0;        // objects looked for
    std::uint64_t rows = 0; // rows the files carried
    QStringList differences;

    // One paragraph for the user: what matched, or every table and object that differs.
    QString text(const QString& database) const;
};

// Compares the tally with the database: each table's rows with the rows the files carried
// (and with the count the writer noted), each created object with the objects there now.
Verification verifyRestore(db::Connection& connection, const QString& database,
                           const RestoreTally& tally);

// verifyRestore for each database the runs went into (a file of several databases restored
// each into its own): whether any differs, and a paragraph for each. A database the files
// carried nothing into is passed over, the target never.
struct DatabasesVerified {
    bool differs = false;
    QString text;
};
DatabasesVerified verifyDatabases(db::Connection& connection, const QString& target,
                                  const std::map<QString, RestoreTally>& tallies);

// Which way a file of several databases went, for the user: each into its own, or all into
// `target`; empty for a file of fewer than two.
QString databasesDone(const std::vector<QString>& databases, bool each, const QString& target);

}  // namespace dump
