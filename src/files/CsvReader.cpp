#include "files/CsvReader.h"

#include <QBuffer>
#include <QIODevice>
#include <algorithm>
#include <array>
#include <map>
#include <set>

#include "files/TextCodec.h"

namespace files {

namespace {

constexpr qint64 kPieceBytes = 1024 * 1024;

enum class State { FieldStart, Unquoted, Quoted, AfterQuote, Escape };

char unescaped(char c) {
    switch (c) {
        case '0': return '\0';
        case 'b': return '\b';
        case 'n': return '\n';
        case 'r': return '\r';
        case 't': return '\t';
        case 'Z': return '\x1a';
        default: return c;
    }
}

}  // namespace

CsvReader::CsvReader(QIODevice& input, const CsvFormat& format)
    : input_(input), format_(format) {
    try {
        decoder_ = std::make_unique<Utf8Decoder>(format.encoding);
    } catch (const std::runtime_error& e) {
        throw CsvError(e.what());
    }
    if (format_.header && next()) {
        for (std::size_t i = 0; i < count_; ++i)
            header_.push_back(QString::fromUtf8(fields_[i].text.data(), qsizetype(fields_[i].text.size())));
    }
}

CsvReader::~CsvReader() = default;

void CsvReader::fail(const std::string& what) const {
    throw CsvError("Line " + std::to_string(lineNo_) + " of the file: " + what);
}

bool CsvReader::fill() {
    if (eof_) return false;
    text_.erase(0, pos_);
    pos_ = 0;
    raw_.resize(kPieceBytes);
    const qint64 n = input_.read(raw_.data(), kPieceBytes);
    if (n < 0)
        throw CsvError("The file could not be read: " + input_.errorString().toStdString() + ".");
    bytesRead_ += std::uint64_t(n);
    eof_ = n == 0;
    if (!decoder_->decode(QByteArrayView(raw_.constData(), n), eof_, text_))
        fail("bytes that are not " + format_.encoding.toStdString() +
             " text. Choose the file's encoding.");
    return pos_ < text_.size() || !eof_;
}

void CsvReader::endField(bool nullCandidate) {
    CsvField& f = fields_[count_];
    switch (format_.null) {
        case NullMarker::None: f.null = false; break;
        case NullMarker::BackslashN:
            f.null = format_.backslashEscapes ? (nullCandidate && f.text == "N")
                                              : (!f.quoted && f.text == "\\N");
            break;
        case NullMarker::Empty: f.null = !f.quoted && f.text.empty(); break;
        case NullMarker::Word: f.null = !f.quoted && f.text == "NULL"; break;
    }
    if (f.null) f.text.clear();
    recordBytes_ += f.text.size();
    ++count_;
    if (fields_.size() <= count_) fields_.emplace_back();
    fields_[count_].text.clear();
    fields_[count_].quoted = false;
}

bool CsvReader::next() {
    count_ = 0;
    recordBytes_ = 0;
    if (fields_.empty()) fields_.emplace_back();
    fields_[0].text.clear();
    fields_[0].quoted = false;

    const char delimiter = format_.delimiter;
    const char quote = format_.quote;
    const bool escapes = format_.backslashEscapes;
    const LineEnd lineEnd = format_.lineEnd;
    // The byte that ends a line; CR LF ends at its LF.
    const char lineByte = lineEnd == LineEnd::Cr ? '\r' : '\n';
    State state = State::FieldStart;
    State afterEscape = State::Unquoted;
    bool started = false;  // a byte of this record was read
    bool crPending = false;
    bool nullCandidate = false;

    for (;;) {
        if (pos_ >= text_.size()) {
            if (fields_[count_].text.size() + recordBytes_ > kMaxRecordBytes)
                fail("a record longer than 64 MiB: a quote is probably never closed. Check the "
                     "quote character.");
            if (!fill()) break;
            continue;
        }
        const char c = text_[pos_++];
        std::string* field = &fields_[count_].text;
        if (!started) {
            started = true;
            recordLine_ = lineNo_;
        }
        if (state == State::Quoted) {
            if (c == quote) {
                state = State::AfterQuote;
            } else if (escapes && c == '\\') {
                afterEscape = State::Quoted;
                state = State::Escape;
            } else {
                if (c == lineByte) ++lineNo_;
                field->push_back(c);
            }
            continue;
        }
        if (state == State::Escape) {
            if (c == lineByte) ++lineNo_;
            if (c == 'N' && afterEscape == State::Unquoted && field->empty() &&
                !fields_[count_].quoted)
                nullCandidate = true;
            field->push_back(unescaped(c));
            state = afterEscape;
            continue;
        }
        // Outside quotes.
        if (crPending) {
            crPending = false;
            if (c == '\n') {
                ++lineNo_;
                if (state == State::FieldStart && count_ == 0 && field->empty() &&
                    !fields_[0].quoted) {
                    started = false;  // an empty line
                    continue;
                }
                endField(nullCandidate);
                return true;
            }
            field->push_back('\r');
            state = State::Unquoted;
        }
        if (lineEnd == LineEnd::CrLf && c == '\r') {
            crPending = true;
            continue;
        }
        if (c == lineByte && lineEnd != LineEnd::CrLf) {
            ++lineNo_;
            if (state == State::FieldStart && count_ == 0 && field->empty() && !fields_[0].quoted) {
                started = false;
                continue;
            }
            endField(nullCandidate);
            return true;
        }
        if (c == lineByte) ++lineNo_;  // a bare LF in a CR LF file: part of the field
        if (c == delimiter) {
            endField(nullCandidate);
            nullCandidate = false;
            state = State::FieldStart;
        } else if (state == State::AfterQuote && c == quote) {
            field->push_back(c);  // a doubled quote
            state = State::Quoted;
        } else if (state == State::FieldStart && quote && c == quote) {
            fields_[count_].quoted = true;
            state = State::Quoted;
        } else if (escapes && c == '\\') {
            afterEscape = State::Unquoted;
            state = State::Escape;
        } else {
            field->push_back(c);
            state = State::Unquoted;
        }
    }
    if (state == State::Quoted)
        throw CsvError("Line " + std::to_string(recordLine_) +
                       " of the file opens a quoted field that is never closed. Check the quote "
                       "character.");
    if (crPending) fields_[count_].text.push_back('\r');
    if (!started) return false;
    endField(nullCandidate);
    return true;
}

CsvPreview previewCsv(QIODevice& input, const CsvFormat& format, int rows) {
    CsvPreview out;
    CsvReader reader(input, format);
    out.header = reader.header();
    out.columns = out.header.size();
    while (int(out.rows.size()) < rows && reader.next()) {
        std::vector<QString> row;
        for (std::size_t i = 0; i < reader.fieldCount(); ++i) {
            const CsvField& f = reader.fields()[i];
            row.push_back(f.null ? QString()
                                 : QString::fromUtf8(f.text.data(), qsizetype(f.text.size())));
        }
        out.columns = std::max(out.columns, row.size());
        out.rows.push_back(std::move(row));
        out.lines.push_back(reader.line());
    }
    return out;
}

namespace {

// The encoding of the head of a file: by its BOM, else UTF-8 when it is, else the first
// legacy code page that reads every byte.
QByteArray detectEncoding(QByteArrayView head, bool cut) {
    if (head.startsWith("\xEF\xBB\xBF")) return "UTF-8-BOM";
    if (head.startsWith("\xFF\xFE")) return "UTF-16LE";
    if (head.startsWith("\xFE\xFF")) return "UTF-16BE";
    // A character may be split where the head was cut off: look only up to its last ASCII byte.
    if (cut) {
        qsizetype end = head.size();
        while (end > 0 && static_cast<unsigned char>(head[end - 1]) >= 0x80) --end;
        head = head.first(end);
    }
    if (fromUtf8Strict(head)) return "UTF-8";
    for (const char* candidate : {"CP949", "SHIFT_JIS", "WINDOWS-1252"}) {
        Utf8Decoder decoder(candidate);
        std::string out;
        if (decoder.decode(head, true, out)) return candidate;
    }
    return "ISO-8859-1";
}

LineEnd detectLineEnd(const std::string& text) {
    std::size_t crlf = 0, cr = 0, lf = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') {
            if (i + 1 < text.size() && text[i + 1] == '\n') {
                ++crlf;
                ++i;
            } else {
                ++cr;
            }
        } else if (text[i] == '\n') {
            ++lf;
        }
    }
    if (crlf >= lf && crlf >= cr && crlf > 0) return LineEnd::CrLf;
    if (cr > lf) return LineEnd::Cr;
    return LineEnd::Lf;
}

// The records of the decoded head as `format` splits them; the last one is left out when
// the head was cut off inside it.
std::vector<std::vector<CsvField>> sampleRecords(const std::string& text, CsvFormat format,
                                                 bool cut, int most) {
    format.encoding = "UTF-8";
    format.header = false;
    QByteArray bytes(text.data(), qsizetype(text.size()));
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    std::vector<std::vector<CsvField>> records;
    try {
        CsvReader reader(buffer, format);
        while (int(records.size()) < most && reader.next())
            records.emplace_back(reader.fields().begin(),
                                 reader.fields().begin() + qsizetype(reader.fieldCount()));
    } catch (const CsvError&) {
        // A quote never closed within the head: what was read still counts.
    }
    if (cut && records.size() > 1 && int(records.size()) < most) records.pop_back();
    return records;
}

bool isNumber(const std::string& text) {
    bool ok = false;
    QByteArray(text.data(), qsizetype(text.size())).trimmed().toDouble(&ok);
    return ok;
}

}  // namespace

CsvFormat detectCsvFormat(QByteArrayView head) {
    CsvFormat format;
    const bool cut = head.size() >= kCsvDetectBytes;
    format.encoding = detectEncoding(head, cut);
    std::string text;
    Utf8Decoder(format.encoding).decode(head, !cut, text);
    format.lineEnd = detectLineEnd(text);

    // The delimiter that gives most lines the same number of fields, and more than one.
    double best = -1;
    std::size_t bestFields = 0;
    for (const char delimiter : {',', '\t', ';', '|'}) {
        CsvFormat f = format;
        f.delimiter = delimiter;
        const auto records = sampleRecords(text, f, cut, 50);
        if (records.empty()) continue;
        std::map<std::size_t, int> counts;
        for (const auto& r : records) ++counts[r.size()];
        const auto mode = std::max_element(counts.begin(), counts.end(), [](auto a, auto b) {
            return a.second < b.second;
        });
        if (mode->first < 2) continue;
        const double share = double(mode->second) / double(records.size());
        if (share > best || (share == best && mode->first > bestFields)) {
            best = share;
            bestFields = mode->first;
            format.delimiter = delimiter;
        }
    }

    // Which quote the fields start with, if any; and which NULL marker and escapes they use.
    std::size_t doubleQuoted = 0, singleQuoted = 0;
    bool backslashN = false, word = false, emptyField = false, escapeSequence = false;
    {
        CsvFormat plain = format;
        plain.quote = 0;
        for (const auto& record : sampleRecords(text, plain, cut, 1000)) {
            for (const CsvField& f : record) {
                if (!f.text.empty() && f.text.front() == '"') ++doubleQuoted;
                if (!f.text.empty() && f.text.front() == '\'') ++singleQuoted;
                if (f.text == "\\N") backslashN = true;
                if (f.text == "NULL") word = true;
                if (f.text.empty()) emptyField = true;
                for (std::size_t i = 0; i + 1 < f.text.size(); ++i)
                    if (f.text[i] == '\\' && std::string_view("tn0\\").find(f.text[i + 1]) !=
                                                 std::string_view::npos)
                        escapeSequence = true;
            }
        }
    }
    if (singleQuoted > 0 && doubleQuoted == 0) format.quote = '\'';
    else if (doubleQuoted == 0 && format.delimiter == '\t') format.quote = 0;
    format.backslashEscapes = backslashN || (format.delimiter == '\t' && escapeSequence);
    format.null = backslashN ? NullMarker::BackslashN
                  : word     ? NullMarker::Word
                  : emptyField ? NullMarker::Empty
                               : NullMarker::None;

    // A first line of distinct names, none of them a number, names the columns.
    const auto records = sampleRecords(text, format, cut, 2);
    format.header = false;
    if (!records.empty() && !records.front().empty()) {
        std::set<std::string> names;
        bool allNames = true;
        for (const CsvField& f : records.front()) {
            if (f.null || f.text.empty() || isNumber(f.text) || !names.insert(f.text).second)
                allNames = false;
        }
        format.header = allNames;
    }
    return format;
}

}  // namespace files
