#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <functional>
#include <optional>

namespace db {
class Connection;
}

namespace dump {

struct DumpTarget {
    QString database;
    QString table;  // empty: the whole database
};

struct SchemaText {
    QByteArray text;
    int tables = 0;  // base tables and views written
};

struct DumpProgress {
    QString table;               // the table whose rows are being written
    std::uint64_t rows = 0;      // its rows written so far
    std::uint64_t expected = 0;  // the server's estimate of its rows
};
// Called at most every ~50 ms while data is written; returning false stops the dump.
using DumpProgressFn = std::function<bool(const DumpProgress&)>;

struct DumpResult {
    bool ok = false;
    bool stopped = false;       // the progress callback asked to stop; no file was written
    QString error;              // why the dump failed, for the user
    bool schemaFailed = false;  // the schema file itself could not be written
    int tables = 0;             // tables whose rows were read
    std::uint64_t rows = 0;
};

// Writes a database or one table as a schema file and a data file. Works on a connection
// it borrows: for the length of each call the session reads in UTF-8 and UTC, with a plain
// SQL mode and the dumped database selected (so view definitions name no database); the
// previous settings are restored afterwards. Rows are streamed, so memory does not grow with
// the table's size. No widgets and no message boxes: failures come back as values.
class DumpWriter {
public:
    explicit DumpWriter(db::Connection& connection) : connection_(connection) {}

    // The schema file's text: for a database, a comment header, the session statements,
    // drop blocks (when `drop`) in the reverse of the structure order, then each table's
    // CREATE text and each view's after all tables; for a table, the same without the
    // header, ending with the marker and no line break. std::nullopt with `error` set when
    // the server refuses a statement.
    std::optional<SchemaText> schema(const DumpTarget& target, bool drop, QString* error);

    // Writes `schemaText` to `schemaPath` and, when `data` is given, the rows of that target
    // to the data file beside it (dataFilePath). Either every file is complete and in place
    // or none was replaced.
    DumpResult save(const QString& schemaPath, const QByteArray& schemaText, const DumpTarget* data,
                    const DumpProgressFn& progress);

private:
    db::Connection& connection_;
};

}  // namespace dump
