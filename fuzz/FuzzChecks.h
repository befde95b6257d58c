#pragma once
// The properties the fuzz targets check on any input. Shared by the libFuzzer targets and by
// the test that replays the seed corpus and every input a fuzzer once failed on, so a fixed
// fault stays fixed in the regular test run. Each returns false when the property is broken;
// a crash or a sanitizer report is a failure of its own.
#include <QBuffer>
#include <QByteArray>
#include <QIODevice>
#include <QStringList>
#include <algorithm>
#include <string_view>
#include <vector>

#include "app/IniFile.h"
#include "db/HostPort.h"
#include "dump/DumpFormat.h"
#include "dump/ScriptScan.h"
#include "dump/SqlScript.h"
#include "sqllex/ScriptReader.h"
#include "dump/StatementReader.h"
#include "files/CommaText.h"
#include "registry/ServerRegistry.h"

namespace fuzzcheck {

// The server list: any bytes parse to records or to "does not parse"; what is checked is
// that this ends, without a crash and in linear time.
inline bool registry(const QByteArray& bytes) {
    (void)parseRegistryText(bytes);
    return true;
}

// The settings file: lines and sections whose indexes stay in range.
inline bool settings(const QByteArray& bytes) {
    const IniFile::Document doc = IniFile::parse(bytes);
    for (const IniFile::Section& section : doc.sections) {
        if (section.line < 0 || section.line >= doc.lines.size()) return false;
        if (section.lastLine < section.line || section.lastLine >= doc.lines.size()) return false;
        for (const IniFile::Key& key : section.keys)
            if (key.line <= section.line || key.line > section.lastLine) return false;
    }
    return true;
}

// Saved expansion lists: whatever split() reads, writing it back and reading again gives the
// same items. A final empty item is how a trailing comma reads; the writer never produces it
// alone.
inline bool commaText(const QByteArray& bytes) {
    QStringList kept = commatext::split(QString::fromUtf8(bytes));
    if (!kept.isEmpty() && kept.last().isEmpty()) kept.removeLast();
    if (kept.isEmpty()) return true;
    QStringList again = commatext::split(commatext::joinWithTrailingCommas(kept));
    if (!again.isEmpty() && again.last().isEmpty()) again.removeLast();
    return again == kept;
}

// The registry's host field: a valid result never carries a port outside 1..65535.
inline bool hostPort(const QByteArray& bytes) {
    const db::HostPort hp = db::parseHostPort(QString::fromUtf8(bytes));
    return !hp.valid || hp.port <= 65535;
}

// Hands out its bytes a few at a time, so every lookahead of a reader meets the end of a read.
// A file, not a pipe: readers size their buffer to it.
class Trickle : public QIODevice {
public:
    explicit Trickle(const QByteArray& bytes) : bytes_(bytes) {
        open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    }
    qint64 size() const override { return bytes_.size(); }

protected:
    qint64 readData(char* data, qint64 maxSize) override {
        const qint64 piece = std::min({maxSize, qint64(1 + reads_++ % 7), bytes_.size() - at_});
        std::copy_n(bytes_.constData() + at_, piece, data);
        at_ += piece;
        return piece;
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    QByteArray bytes_;
    qint64 at_ = 0;
    qint64 reads_ = 0;
};

// Restore input: statements and the leftover together never exceed the input, and the
// reader's position never passes its end, read to a Ctrl-Z or past it; each statement is
// told apart as staying in its database or not without a crash. Read again a few bytes at a
// time and under a small limit, the reader gives the same statements, lines and Ctrl-Z
// line, those over the limit as their first bytes with their whole length.
inline bool restoreReader(const QByteArray& bytes) {
    QByteArray copy = bytes;
    QBuffer buffer(&copy);
    buffer.open(QIODevice::ReadOnly);
    const bool pastCtrlZ = !bytes.isEmpty() && bytes.front() % 2;
    dump::StatementReader reader(buffer, dump::StatementReader::kDefaultLimit, pastCtrlZ);
    std::string_view statement;
    qsizetype total = 0;
    std::vector<std::pair<std::string, qint64>> whole;
    while (reader.next(statement)) {
        total += qsizetype(statement.size());
        (void)dump::foreignReason(statement, QStringLiteral("db"));
        whole.emplace_back(statement, reader.line());
    }
    if (total + qsizetype(reader.leftover().size()) > bytes.size() ||
        reader.position() > bytes.size() || reader.failed())
        return false;

    constexpr std::size_t kLimit = 200;
    Trickle input(bytes);
    dump::StatementReader small(input, kLimit, pastCtrlZ);
    std::size_t count = 0;
    while (small.next(statement)) {
        if (count >= whole.size() || small.line() != whole[count].second) return false;
        const std::string& text = whole[count++].first;
        // Text behind the hex form that is no hex after all comes as it stands; of a skipped
        // statement only the head is seen, which is taken as hex where it is.
        const bool brokenHex = text.size() >= dump::kHexForm.size() &&
                               QByteArray(text.data(), qsizetype(dump::kHexForm.size())).toLower() ==
                                   QByteArray(dump::kHexForm.data(), qsizetype(dump::kHexForm.size()));
        if (small.skippedLength() ? !brokenHex && (small.skippedLength() != text.size() ||
                                                   statement != std::string_view(text).substr(0, statement.size()))
                                  : statement != text)
            return false;
    }
    const std::string_view leftover = reader.leftover();
    return count == whole.size() && !small.failed() && small.position() == reader.position() &&
           small.ctrlZLine() == reader.ctrlZLine() && small.leftoverLine() == reader.leftoverLine() &&
           leftover.substr(0, small.leftover().size()) == small.leftover();
}

// Plain SQL scripts: read a few bytes at a time and under a small limit, the reader gives
// the statements splitSqlScript gives from the whole text, those over the limit as their
// first bytes with their whole length; none is empty or has blanks at either end, lines
// never go back, and the whole input is consumed. The format guess ends on any head.
inline bool sqlScript(const QByteArray& bytes) {
    (void)dump::guessScriptFormat(bytes);
    const std::vector<sqllex::ScriptStatement> whole =
        sqllex::splitSqlScript(std::string_view(bytes.constData(), std::size_t(bytes.size())));
    constexpr std::size_t kLimit = 200;
    Trickle input(bytes);
    sqllex::SqlScriptReader reader(input, kLimit);
    std::string_view statement;
    std::size_t count = 0;
    qint64 line = 1;
    while (reader.next(statement)) {
        if (count >= whole.size() || reader.line() != whole[count].line || reader.line() < line)
            return false;
        const std::string& text = whole[count].text;
        if (reader.skippedLength() ? reader.skippedLength() != text.size() ||
                                         statement != std::string_view(text).substr(0, statement.size())
                                   : statement != text || text.size() > kLimit)
            return false;
        if (statement.empty() || dump::isBlankByte(statement.front()) ||
            dump::isBlankByte(statement.back()))
            return false;
        line = reader.line();
        ++count;
    }
    if (reader.failed()) return bytes.size() > qsizetype(kLimit);  // a DELIMITER past the limit
    return count == whole.size() && reader.position() == bytes.size();
}

}  // namespace fuzzcheck
