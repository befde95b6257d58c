#pragma once

#include <QString>
#include <optional>
#include <stdexcept>

#include "admin/TableMaintenance.h"
#include "db/Connection.h"
#include "dump/DumpFormat.h"
#include "files/CsvReader.h"

// A command line that makes no valid command, worded for the user ("--database needs a value").
class UsageError : public std::runtime_error {
public:
    explicit UsageError(const QString& text) : std::runtime_error(text.toStdString()), text_(text) {}
    const QString& text() const { return text_; }

private:
    QString text_;
};

// The command line of lorvex-cli.
struct CliOptions {
    enum class Command { Dump, Restore, Import, Maintain, Help };

    Command command = Command::Help;
    QString server;  // a registered server's name
    QString host;
    QString user;
    std::optional<QString> password;
    db::TlsOptions tls;  // a registered server's
    QString database;
    QString table;
    bool drop = false;
    bool routines = true;  // dump: stored functions and procedures
    bool triggers = true;
    bool events = true;
    bool definers = true;  // dump: keep each object's DEFINER
    bool data = false;
    dump::LetterCase letterCase = dump::LetterCase::Default;
    QString out;   // dump: the schema file
    QString file;  // restore: the schema file
    bool allowForeign = false;  // restore: run statements that reach beyond the database
    bool eachDatabase = false;  // restore: a file of several databases, each into its own
    unsigned netTimeout = db::kDefaultNetTimeoutSeconds;  // seconds; 0: no limit
    // maintain: the operation and the tables (none: every base table of the database)
    std::optional<admin::MaintenanceOp> op;
    QStringList tables;
    // import: what the options say of the file's format; the rest is detected.
    struct CsvChoices {
        std::optional<char> delimiter;
        std::optional<char> quote;  // 0: none
        std::optional<bool> header;
        std::optional<bool> escapes;
        std::optional<QByteArray> encoding;
        std::optional<files::NullMarker> null;
        std::optional<files::LineEnd> lineEnd;
        bool keepLoaded = false;
        enum class Method { Auto, Local, Inserts } method = Method::Auto;
    } csv;

    // The options of `arguments` (without the program name); throws UsageError when they do
    // not make a valid command.
    static CliOptions parse(const QStringList& arguments);
    static QString usage();
};
