#include "dump/SqlScript.h"

#include <algorithm>
#include <cstring>

#include "dump/DumpFormat.h"
#include "sqllex/Lexer.h"
#include "sqllex/ScriptReader.h"

namespace dump {

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

char lower(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }

bool startsNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() &&
           std::equal(prefix.begin(), prefix.end(), text.begin(),
                      [](char a, char b) { return lower(a) == lower(b); });
}

}  // namespace

FormatGuess guessScriptFormat(const QByteArray& head) {
    const std::string_view s(head.constData(), std::size_t(head.size()));
    constexpr auto npos = std::string_view::npos;
    for (std::size_t at = s.find(kMarker); at != npos; at = s.find(kMarker, at + 1)) {
        const std::size_t after = at + kMarker.size();
        if (after == s.size() || s[after] == '\r' || s[after] == '\n') return {ScriptFormat::Own, 0};
    }
    std::size_t i = s.starts_with(kByteOrderMark) ? kByteOrderMark.size() : 0;

    // This program's files open with comment lines between lone "#" lines.
    static constexpr std::string_view ownHeaders[] = {
        "# MySQL DataBase :", "# Table structure for table", "# Drop for Table",
        "# Dumping data for table"};
    for (std::size_t from = i; from < s.size();) {
        const std::size_t lf = s.find('\n', from);
        std::string_view line = s.substr(from, lf == npos ? npos : lf - from);
        while (!line.empty() && isBlankByte(line.front())) line.remove_prefix(1);
        while (!line.empty() && isBlankByte(line.back())) line.remove_suffix(1);
        if (!line.empty() && line != "#") {
            for (std::string_view header : ownHeaders)
                if (startsNoCase(line, header)) return {ScriptFormat::Own, 0};
            break;
        }
        from = lf == npos ? s.size() : lf + 1;
    }

    static constexpr std::string_view statementWords[] = {
        "ALTER",   "ANALYZE",   "BEGIN",    "CALL",   "CHANGE",    "CHECK",    "COMMIT",
        "CREATE",  "DECLARE",   "DELETE",   "DELIMITER", "DO",     "DROP",     "EXECUTE",
        "EXPLAIN", "FLUSH",     "GRANT",    "HANDLER", "INSERT",   "INSTALL",  "KILL",
        "LOAD",    "LOCK",      "OPTIMIZE", "PREPARE", "PURGE",    "RELEASE",  "RENAME",
        "REPAIR",  "REPLACE",   "RESET",    "REVOKE", "ROLLBACK",  "SAVEPOINT", "SELECT",
        "SET",     "SHOW",      "START",    "STOP",   "TABLE",     "TRUNCATE", "UNINSTALL",
        "UNLOCK",  "UPDATE",    "USE",      "VALUES", "WITH",      "XA"};
    qint64 line = 1;
    while (i < s.size()) {
        const char c = s[i];
        if (isBlankByte(c)) {
            line += c == '\n';
            ++i;
            continue;
        }
        const std::string_view rest = s.substr(i);
        if (sqllex::sandboxCommandAt(rest) || c == '#' || (c == '-' && sqllex::dashCommentAt(rest, 0))) {
            i = s.find('\n', i);  // the line break itself is counted as a blank
            if (i == npos) break;
        } else if (const std::size_t opener = sqllex::conditionalOpener(rest, 0)) {
            i += opener;
        } else if (sqllex::plainCommentAt(rest, 0)) {
            const std::size_t close = s.find("*/", i + 2);
            if (close == npos) break;
            line += std::count(s.begin() + qsizetype(i), s.begin() + qsizetype(close), '\n');
            i = close + 2;
        } else {
            if (c == '(') break;
            std::size_t n = 0;
            while (n < rest.size() && isNameByte(rest[n])) ++n;
            const std::string_view word = rest.substr(0, n);
            for (std::string_view known : statementWords)
                if (word.size() == known.size() && startsNoCase(word, known)) return {};
            return {ScriptFormat::NotSql, line};
        }
    }
    return {};
}

}  // namespace dump
