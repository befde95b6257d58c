#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace db {
class Connection;
}

namespace dump {

struct DumpTarget {
    QString database;
    QString table;  // empty: the whole database
};

// What a schema file holds besides tables and views.
struct SchemaOptions {
    bool drop = false;      // drop blocks in front
    bool routines = true;   // stored functions and procedures
    bool triggers = true;
    bool events = true;
    bool definers = true;   // keep each object's DEFINER; without, the restoring account owns it
};

struct SchemaText {
    QByteArray text;
    int tables = 0;  // base tables and views written
    int views = 0;
    int routines = 0;
    int triggers = 0;
    int events = 0;
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
    // Tables of engines without transactions, which the consistent snapshot of a database
    // dump cannot cover: rows written to them during the dump may or may not be in it.
    std::vector<QString> outsideSnapshot;
};

// Writes a database or one table as a schema file and a data file. Works on a connection
// it borrows: for the length of each call the session reads in UTF-8 and UTC, with a plain
// SQL mode and the dumped database selected (so view definitions name no database); the
// previous settings are restored afterwards. Rows are streamed, so memory does not grow with
// the table's size. No widgets and no message boxes: schema() throws DumpError, save()
// reports in its result.
class DumpWriter {
public:
    explicit DumpWriter(db::Connection& connection) : connection_(connection) {}

    // The schema file's text: for a database, a comment header, the session statements,
    // drop blocks (when `drop`) in the reverse of the structure order, then each table's
    // CREATE text, the routines, each view's after all tables (and after the views it
    // reads), and last, behind kLateSection, the triggers and events; for a table, the same
    // without the header and with the table's triggers only, ending with the marker and no
    // line break. Throws DumpError when the server refuses a statement or an object's text
    // cannot be read (which would leave it out of the backup).
    SchemaText schema(const DumpTarget& target, const SchemaOptions& options);
    SchemaText schema(const DumpTarget& target, bool drop) {
        SchemaOptions options;
        options.drop = drop;
        return schema(target, options);
    }

    // Writes `schemaText` to `schemaPath` and, when `data` is given, the rows of that target
    // to the data file beside it (dataFilePath), each table's rows followed by their count.
    // The tables of a database are read in one consistent snapshot. Either every file is
    // complete and in place or none was replaced.
    DumpResult save(const QString& schemaPath, const QByteArray& schemaText, const DumpTarget* data,
                    const DumpProgressFn& progress);

private:
    db::Connection& connection_;
};

}  // namespace dump
