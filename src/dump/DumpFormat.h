#pragma once

#include <algorithm>
#include <QByteArray>
#include <QString>
#include <stdexcept>
#include <cstdint>
#include <string>
#include <string_view>

#include "files/SqlBytes.h"
#include "sqllex/ReadPieces.h"

// The dump files: a schema file and a data file beside it, both CR LF text in which every
// statement ends with the marker ";#+----" at the end of a line.
namespace dump {

inline constexpr std::string_view kMarker = ";#+----";
inline constexpr std::string_view kLineBreak = "\r\n";

// The restore readers hold their input as the plain SQL reader does.
using sqllex::kReadPiece;
using sqllex::kSkippedHead;
using sqllex::reserveFor;

enum class LetterCase { Default, Lower, Upper };

// The readers and writers of both files use the shared byte classes by their plain names.
using sqlbytes::isBlankByte;
using sqlbytes::isNameByte;
using sqlbytes::isWord;
using sqlbytes::firstWord;
using sqlbytes::putHex;

// A failure of the dump or restore engine, worded for the user.
class DumpError : public std::runtime_error {
public:
    explicit DumpError(const QString& text) : std::runtime_error(text.toStdString()), text_(text) {}
    const QString& text() const { return text_; }

private:
    QString text_;
};

// The statements that start both files, each ended by the marker, then an empty line: any
// reader that replays them restores values faithfully (character set, time zone, id 0 and
// zero dates, tables in any order).
QByteArray sessionHeader();

// "Lower" and "Upper" change the ASCII letters of comment lines and of the SQL words of
// statements. Quoted text stays as it is - string literals are data, quoted names are
// case-sensitive on many servers - and so do routine, trigger and event statements, whose
// bodies name tables and variables unquoted. Multi-byte characters stay intact.
void convertCase(QByteArray& text, LetterCase letterCase);

// The comment line that starts the triggers and events of a schema file. A restore that
// also runs the data file runs what follows it after the rows, so that no trigger fires on
// the dump's own rows.
inline constexpr std::string_view kLateSection = "# Dumping triggers and events";
// Whether a trimmed comment line is that line, in any letter case.
bool isLateSectionLine(std::string_view trimmed);

// The comment line the data file carries after the rows of each table, and its reading.
QByteArray rowCountLine(std::string_view table, std::uint64_t rows);
bool parseRowCountLine(std::string_view trimmed, std::string& table, std::uint64_t& rows);

// A routine, trigger or event statement for the file. Its text is written as the server
// gave it, its line breaks kept (the reader keeps an LF inside a line), so that its body
// comes back byte for byte. Where that cannot work - a carriage return, a Ctrl-Z or the end
// marker inside the text, or blanks at its ends, which the reader trims - the statement is
// written in hexadecimal behind kHexForm, which the reader decodes.
inline constexpr std::string_view kHexForm = "#+hex ";
QByteArray bodyStatement(std::string_view text);

// The text of a statement written in kHexForm (any letter case); false for any other.
bool decodeHexForm(std::string_view statement, std::string& out);

// A CREATE statement without its DEFINER clause, so that the restoring account owns the
// object; `definer` gets the clause's account. The text unchanged when it has none.
std::string withoutDefiner(std::string_view create, std::string* definer = nullptr);

// The data file of a schema file: its last three characters replaced by "dat" (dump.sql
// gives dump.dat, a.text gives a.tdat). A file name of fewer than three characters gets
// ".dat" appended, so the data file never leaves the schema file's folder.
QString dataFilePath(const QString& schemaPath);

// The save dialog's default extension: "sql" when the chosen name has none.
QString withDefaultSuffix(const QString& path);

// Whether statement text can stand in a dump file as it is. The reader ends a line at a
// carriage return, at a line feed right after the marker, and the whole input at a Ctrl-Z,
// and a quoted name has no escape for any of them: a name holding one would be cut there,
// and the rest of it read as statements. The server writes line breaks and Ctrl-Z as
// escapes inside literals, so only names can hold them raw.
bool fitsDumpFile(std::string_view text);

// A name inside a comment line: a line break in it would end the comment early and turn the
// rest into statement text.
QByteArray commentText(std::string_view name);

// The server's CREATE text for the file: each line break becomes CR LF, except where the
// reader's joining of trimmed lines would glue two words together (the partition clause of
// "show create table") - there it becomes a blank - and inside quoted names and literals,
// where an LF stays as it is (the reader keeps a lone LF).
QByteArray createTextLines(std::string_view createText);

// "2 tables, 1 row" and "1 routine, 2 triggers, 0 events": what a dump wrote, for its report.
QString tablesAndRows(std::uint64_t tables, std::uint64_t rows);
QString routinesTriggersEvents(std::uint64_t routines, std::uint64_t triggers, std::uint64_t events);

}  // namespace dump
