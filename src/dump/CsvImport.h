#pragma once

#include <QString>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "files/CsvReader.h"

namespace db {
class Connection;
}

namespace dump {

// An import that cannot start or cannot go on; what() is the sentence for the user.
class CsvImportError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct CsvImportOptions {
    QString database;
    QString table;
    QString path;
    files::CsvFormat format;
    // For each column of the file, the index of the table column it fills, or -1 to skip
    // it; columns beyond the end are skipped. Empty: by the header's names when the file has
    // a header, else by position.
    std::vector<int> mapping;
    // Rows that load stay when other lines are refused; otherwise any refused line rolls
    // the whole import back (on tables with transactions).
    bool keepLoaded = false;
    // Auto: LOAD DATA LOCAL INFILE when the server allows it, else INSERT statements.
    enum class Method { Auto, LocalInfile, Inserts };
    Method method = Method::Auto;
};

// A line of the file the server (or the import) refused; line 0: the server did not say
// which (a duplicate key's warning, on servers before MariaDB 10.7).
struct CsvProblem {
    std::uint64_t line = 0;
    QString reason;
};

struct CsvImportResult {
    std::uint64_t records = 0;  // read from the file, the header not counted
    std::uint64_t loaded = 0;   // stored and kept
    std::uint64_t refused = 0;
    std::vector<CsvProblem> problems;  // at most kMaxProblems, in the order of the file
    std::uint64_t moreProblems = 0;    // refused lines beyond those listed
    bool rolledBack = false;
    bool cancelled = false;
    bool localInfile = false;    // loaded by LOAD DATA LOCAL INFILE
    bool transactional = true;   // the table's engine has transactions
    // "Loaded 998 of 1,000 rows; 2 refused:" and a line for each refused line.
    QString summary() const;
    bool ok() const { return !cancelled && !rolledBack && refused == 0; }
};

struct CsvProgress {
    std::uint64_t bytes = 0;  // of the file read
    std::uint64_t total = 0;  // the file's size
};

// The columns of a table in their order; throws CsvImportError when there is no such
// table.
std::vector<QString> tableColumns(db::Connection& connection, const QString& database,
                                  const QString& table);
// The table column each of the file's columns fills (-1: none). By name: a header name
// matches the table column of that name in any letter case. By position: the file's n-th
// column fills the table's n-th.
std::vector<int> mapColumns(const std::vector<QString>& header, std::size_t fileColumns,
                            const std::vector<QString>& tableColumns, bool byName);

// Loads a delimited text file into a table, over a connection of its own made like
// `session` (with its waiter, so the window goes on and Cancel stops the import). The
// whole import is one transaction where the engine has them.
class CsvImport {
public:
    static constexpr std::size_t kMaxProblems = 1000;

    // Runs on the thread that reads the file (a worker's while the window waits): keep
    // widgets out of it. Returning false stops the import as a cancel does.
    using Progress = std::function<bool(const CsvProgress&)>;

    CsvImport(db::Connection& session, CsvImportOptions options);
    // Throws CsvImportError when the import cannot run (file, table, mapping, connection,
    // a server error); refused lines and a cancel are in the result.
    CsvImportResult run(const Progress& progress = {});

private:
    db::Connection& session_;
    CsvImportOptions options_;
};

}  // namespace dump
