#pragma once
// The properties the fuzz targets check on any input. Shared by the libFuzzer targets and by
// the test that replays the seed corpus and every input a fuzzer once failed on, so a fixed
// fault stays fixed in the regular test run. Each returns false when the property is broken;
// a crash or a sanitizer report is a failure of its own.
#include <QBuffer>
#include <QByteArray>
#include <QStringList>
#include <string_view>

#include "app/CommaText.h"
#include "app/IniFile.h"
#include "db/HostPort.h"
#include "dump/ScriptScan.h"
#include "dump/StatementReader.h"
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

// Restore input: statements and the leftover together never exceed the input, and the
// reader's position never passes its end, read to a Ctrl-Z or past it; each statement is
// told apart as staying in its database or not without a crash.
inline bool restoreReader(const QByteArray& bytes) {
    QByteArray copy = bytes;
    QBuffer buffer(&copy);
    buffer.open(QIODevice::ReadOnly);
    dump::StatementReader reader(buffer, dump::StatementReader::kDefaultLimit,
                                 !bytes.isEmpty() && bytes.front() % 2);
    std::string_view statement;
    qsizetype total = 0;
    while (reader.next(statement)) {
        total += qsizetype(statement.size());
        (void)dump::foreignReason(statement, QStringLiteral("db"));
    }
    return total + qsizetype(reader.leftover().size()) <= bytes.size() &&
           reader.position() <= bytes.size() && !reader.failed();
}

}  // namespace fuzzcheck
