#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

class QIODevice;

namespace files {

class Utf8Decoder;

// What stands for NULL in a file: nothing, `\N` (LOAD DATA, SELECT INTO OUTFILE), an
// unquoted empty field (a quoted "" stays an empty text), or the unquoted word NULL
// (mariadb -B).
enum class NullMarker { None, BackslashN, Empty, Word };
enum class LineEnd { Lf, CrLf, Cr };

// How a delimited text file is written.
struct CsvFormat {
    char delimiter = ',';
    char quote = '"';  // 0: fields are never quoted
    // \t \n \r \0 \\ and the like stand for their characters (mariadb -B, LOAD DATA's
    // default); off, a backslash is an ordinary character.
    bool backslashEscapes = false;
    NullMarker null = NullMarker::None;
    LineEnd lineEnd = LineEnd::Lf;
    bool header = true;             // the first record names the columns
    QByteArray encoding = "UTF-8";  // an id of textEncodings()

    bool operator==(const CsvFormat&) const = default;
};

// The format the first bytes of a file (its first 64 KiB) suggest: the encoding (a BOM,
// else UTF-8 when the bytes are UTF-8, else the first legacy code page that reads them),
// the line end the most lines use, the delimiter that splits the lines into the same number
// of fields, whether fields are quoted, the NULL marker and whether the first line names
// the columns.
CsvFormat detectCsvFormat(QByteArrayView head);
inline constexpr qsizetype kCsvDetectBytes = 64 * 1024;

// A file that cannot be read as the format says; what() is the sentence for the user.
class CsvError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct CsvField {
    std::string text;  // UTF-8
    bool null = false;
    bool quoted = false;
};

// Reads the records of a delimited text file one at a time, converted to UTF-8; memory
// holds one piece of the file and one record. Quoted fields may hold delimiters, line
// breaks and doubled quotes.
class CsvReader {
public:
    // With format.header the first record is read at once as the column names. Throws
    // CsvError.
    CsvReader(QIODevice& input, const CsvFormat& format);
    ~CsvReader();
    CsvReader(const CsvReader&) = delete;
    CsvReader& operator=(const CsvReader&) = delete;

    // Reads the next record; false at the end of the file. Empty lines are no records.
    // Throws CsvError when the file cannot be read or decoded.
    bool next();
    const std::vector<CsvField>& fields() const { return fields_; }
    std::size_t fieldCount() const { return count_; }
    // The line of the file (from 1) the record read last starts on.
    std::uint64_t line() const { return recordLine_; }
    // The column names of the header line (empty without one).
    const std::vector<QString>& header() const { return header_; }
    // Bytes of the file read so far, for progress.
    std::uint64_t bytesRead() const { return bytesRead_; }

    // A record larger than this is a quote that is never closed.
    static constexpr std::size_t kMaxRecordBytes = 64 * 1024 * 1024;

private:
    bool fill();
    void endField(bool nullCandidate);
    [[noreturn]] void fail(const std::string& what) const;

    QIODevice& input_;
    CsvFormat format_;
    std::unique_ptr<Utf8Decoder> decoder_;
    QByteArray raw_;
    std::string text_;  // decoded, not yet parsed
    std::size_t pos_ = 0;
    bool eof_ = false;
    std::vector<CsvField> fields_;
    std::size_t count_ = 0;
    std::size_t recordBytes_ = 0;
    std::uint64_t lineNo_ = 1;
    std::uint64_t recordLine_ = 0;
    std::uint64_t bytesRead_ = 0;
    std::vector<QString> header_;
};

// The first records of a file, for a preview: at most `rows` records after the header.
struct CsvPreview {
    std::vector<QString> header;
    std::vector<std::vector<QString>> rows;  // NULL as a null QString
    std::vector<std::uint64_t> lines;        // the line each row starts on
    std::size_t columns = 0;                 // the most fields of any record read
};
CsvPreview previewCsv(QIODevice& input, const CsvFormat& format, int rows);

}  // namespace files
