#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "dump/StatementReader.h"
#include "sqllex/Rules.h"

class QIODevice;

// A look through a file before it is restored: whether it is text at all, and which of its
// statements would act beyond the database it is restored into or on the server as a whole
// (another database, accounts and privileges, server settings, files, plugins). Nothing is
// sent to a server.
namespace dump {

enum class TextKind {
    Text,
    Empty,   // no bytes at all
    Utf16,   // a byte-order mark or the zero bytes of UTF-16 text
    Binary,  // NUL bytes: a picture, an archive, anything but a dump
    Xml,     // an XML dump (mariadb-dump --xml), not SQL
};

// What the first bytes of a file are.
TextKind sniffText(const QByteArray& head);
// A sentence for a file that cannot be restored because of its kind; empty for Text.
QString textKindProblem(TextKind kind, const QString& fileName);

// The tables and views of `database` a statement drops or replaces (DROP TABLE/VIEW, CREATE
// OR REPLACE), as named; empty for any other statement.
std::vector<QString> replacedObjects(std::string_view statement, const QString& database,
                                     sqllex::Rules rules = {});

// The object a CREATE statement makes in the database it runs in: its kind ("TABLE",
// "VIEW", "FUNCTION", "PROCEDURE", "TRIGGER", "EVENT") and name; an empty kind for any
// other statement, a temporary table, and an object of a named database.
struct CreatedObject {
    std::string kind;
    std::string name;
};
CreatedObject createdObject(std::string_view statement, sqllex::Rules rules = {});

// The database a USE statement selects, as named; empty for any other statement.
QString usedDatabase(std::string_view statement, sqllex::Rules rules = {});
// Names for a message: each in backticks, separated by commas.
QString quotedNames(const std::vector<QString>& names);

// Why a statement reaches beyond `database` or the session, for the user ("drops a
// database", "names the database `shop`"); empty when it stays inside.
QString foreignReason(std::string_view statement, const QString& database,
                      sqllex::Rules rules = {});

struct ForeignStatement {
    qint64 line = 0;
    QString reason;
    QByteArray text;  // its first bytes
};

struct ScriptScan {
    static constexpr std::size_t kListed = 50;

    TextKind kind = TextKind::Text;
    std::uint64_t statements = 0;
    qint64 ctrlZLine = 0;  // the first line with a Ctrl-Z, 0 when none
    bool stopped = false;  // the reading was given up on: the rest is unknown
    std::uint64_t foreignCount = 0;
    std::vector<ForeignStatement> foreign;  // the first kListed
    std::vector<QString> replaced;          // what replacedObjects finds, each name once
    std::vector<QString> databases;         // what its USE statements select, each once

    // The foreign statements for a question or an error, at most `shown` of them.
    QString foreignList(const QString& fileName, std::size_t shown) const;
};

// How much of one statement the look through a file holds: longer ones are judged by
// their start, so that a file of any line length is read in bounded memory.
inline constexpr std::size_t kScanHeld = std::size_t(64) << 20;

// Reads the whole input (as the restore reads it, past a Ctrl-Z), in this program's format
// or as a plain SQL script; `stop` (asked before each read) ends the reading early. A
// statement longer than `limit` is read past without being held: one longer than any
// server takes is passed over, as the restore skips it; any other is judged by its start -
// an INSERT or REPLACE by the table it names there, anything else counted as reaching
// beyond the target, since the rest of it was not looked at. A plain script is read with
// `rules` (the target connection's), changed as its SET sql_mode statements say literally.
ScriptScan scanScript(QIODevice& input, const QString& database, bool plain = false,
                      const std::function<bool()>& stop = {}, std::size_t limit = kScanHeld,
                      sqllex::Rules rules = {});

// What the files of one restore hold, read before anything is sent: for the dialog's
// questions and the command line's refusals alike.
struct RestoreCheck {
    QString problem;  // a file that cannot be restored at all; nothing may run
    QString foreign;  // the statements that reach beyond the target, listed; empty for none
    std::uint64_t foreignCount = 0;
    QString ctrlZ;    // where a Ctrl-Z stands, for the question whether to go past it
    std::vector<QString> replaced;  // tables and views the schema file drops or replaces
    // The databases the script selects with USE, in order: two or more are a file of several
    // databases, which may go each into its own (RunOptions::followUse) or all into the target.
    std::vector<QString> databases;
    bool severalDatabases() const { return databases.size() > 1; }
    bool unscanned = false;  // a file was not read through (a pipe): the run must look itself
    bool plain = false;      // the script is a plain SQL script, not this program's dump
    bool stopped = false;    // `stop` ended the reading; `problem` says so
    // How the restore reads the script, for the user.
    QString formatText() const;
};

// What the first bytes of a script are. A finding for the caller to act on, not a failure.
struct ScriptSniff {
    bool plain = false;  // a plain SQL script (false: this program's dump, or neither)
    QString notSql;      // set when they are neither: why the file cannot be restored
};
ScriptSniff sniffScript(const QByteArray& head, const QString& fileName);

// Reads the schema file and, when `dataPath` is not empty, the data file (a compressed one
// as its text); a pipe, read once only, is passed over, and a device or folder refused.
// `stop`, asked before each read, ends the reading: a long file can be given up on.
RestoreCheck checkRestore(const QString& scriptPath, const QString& dataPath,
                          const QString& database, const std::function<bool()>& stop = {},
                          sqllex::Rules rules = {});

}  // namespace dump
