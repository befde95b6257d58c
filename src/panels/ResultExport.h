#pragma once

#include <QModelIndexList>
#include <QString>
#include <stdexcept>
#include <string_view>
#include <utility>

#include "db/Result.h"

class QAbstractItemModel;

// An export that could not be made, worded for the user: what failed and what to do.
class ExportError : public std::runtime_error {
public:
    explicit ExportError(const QString& text) : std::runtime_error(text.toStdString()), text_(text) {}
    const QString& text() const { return text_; }

private:
    QString text_;
};

enum class ExportFormat {
    // RFC 4180: a header row of the column names, comma separated, CR LF after every record.
    // A field holding a comma, quote, CR or LF is quoted with its quotes doubled; NULL is an
    // empty field and an empty value is "". Binary columns are written as hex digits (or
    // base64), so the file stays UTF-8 text.
    Csv,
    // A header row, tab separated, LF after every row. Tab, LF, CR, backslash and the zero
    // byte are written \t \n \r \\ \0 and NULL is \N, as LOAD DATA reads them back.
    Tsv,
    // An array of one object per row, keyed by the column names. Integer, decimal and
    // floating-point columns are numbers (with the server's digits); an integer or decimal
    // of more than 15 significant digits, which a reader's double would round, is a string
    // of those digits instead. NULL is null, binary
    // columns are base64 strings, a JSON column's value is embedded when it is valid JSON,
    // everything else is a string. The output is UTF-8 even where a value was not.
    Json,
    // INSERT INTO `table` (`a`,`b`) VALUES (...),(...); statements of at most 1000 rows and
    // about 1 MiB each. Strings are escaped with backslashes (the file must be run without
    // NO_BACKSLASH_ESCAPES), binary values are 0x hex, numbers plain, NULL as NULL.
    Sql,
};

// Appends `value` with tab, LF, CR and backslash written \t \n \r \\ (and the zero byte as
// \0 when `zeroByte` is set), so that a value can never split a tab-separated line.
void appendTsvEscaped(QByteArray& out, std::string_view value, bool zeroByte = true);

struct ExportOptions {
    ExportOptions(ExportFormat f = ExportFormat::Csv, QString table = {})
        : format(f), tableName(std::move(table)) {}
    ExportFormat format = ExportFormat::Csv;
    QString tableName;  // the table the SQL format's statements fill
    QString database;   // its database; empty: the one current where the file is run
    enum class Binary { Hex, Base64 };
    Binary csvBinary = Binary::Hex;  // how CSV writes binary columns
};

// The table every column of the result was read from, with its database, as
// {database, table}; empty names when the columns come from no single table.
std::pair<QString, QString> sourceTable(const db::Result& result);

// Writes every row of a stored result to `path`, streamed through a buffer so memory does not
// grow with the result. The file replaces an existing one only once it is complete; on
// failure no file is left (an existing one stays as it was) and ExportError says why. Reads
// the result in place without moving its row cursor.
void exportRows(const db::Result& result, const QString& path, const ExportOptions& options);

// The display text of the selected cells as tab-separated lines for the clipboard: the
// selected rows and columns in model order, a cell inside that rectangle but not selected
// as an empty field. Tabs, line breaks and backslashes inside a cell are escaped as in the
// TSV format so that they cannot shift the columns, and a NULL cell (TMySQLDataSet's
// IsNullRole) is \N, so it differs from the text "NULL"; rows are joined by LF.
QString cellsAsTsv(const QAbstractItemModel& model, const QModelIndexList& cells);
