#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace dump {

// What kind of restore input the first bytes of a file are: this program's own dump format,
// a plain SQL script, or not SQL at all.
enum class ScriptFormat { Own, Plain, NotSql };
struct FormatGuess {
    ScriptFormat format = ScriptFormat::Plain;
    qint64 line = 0;  // NotSql: the first line that is not SQL
};
// `head`: up to the first 64 KiB of the file.
FormatGuess guessScriptFormat(const QByteArray& head);

}  // namespace dump
