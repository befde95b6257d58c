#include "dump/DumpFormat.h"

#include <QFileInfo>
#include <algorithm>

#include "sqllex/Lexer.h"
#include "ui/Counted.h"

namespace dump {

namespace {

// This program's own files are written and read with the server's default quoting.
constexpr sqllex::Rules kDumpRules{};

// Bytes after which the next line may follow directly without changing the statement.
bool joinsWithoutBlank(char c) { return c == ',' || c == '(' || c == ')'; }

}  // namespace

QByteArray sessionHeader() {
    static const char* const statements[] = {
        "SET NAMES utf8mb4",
        "SET TIME_ZONE = '+00:00'",
        "SET FOREIGN_KEY_CHECKS = 0",
        "SET UNIQUE_CHECKS = 0",
        "SET SQL_MODE = 'NO_AUTO_VALUE_ON_ZERO'",
    };
    QByteArray out;
    for (const char* statement : statements) {
        out += statement;
        out += QByteArray::fromRawData(kMarker.data(), kMarker.size());
        out += "\r\n";
    }
    out += "\r\n";
    return out;
}

namespace {

bool startsWithWordsOf(std::string_view text, std::string_view upperPrefix) {
    return text.size() >= upperPrefix.size() && isWord(text.substr(0, upperPrefix.size()), upperPrefix);
}

// The leading words of a CREATE statement, as far as telling its object and its DEFINER
// clause apart needs.
class CreateWords {
public:
    explicit CreateWords(std::string_view s) : s_(s) {}

    // The next word (letters, digits, "_"), after blanks; empty at anything else.
    std::string_view word() {
        skipBlanks();
        const std::size_t start = i_;
        while (i_ < s_.size() && isNameByte(s_[i_])) ++i_;
        return s_.substr(start, i_ - start);
    }
    bool symbol(char c) {
        skipBlanks();
        if (i_ >= s_.size() || s_[i_] != c) return false;
        ++i_;
        return true;
    }
    // An account: user[@host], each part quoted or bare, or CURRENT_USER[()].
    void account() {
        part();
        if (i_ < s_.size() && s_[i_] == '@') {
            ++i_;
            part();
        } else if (symbol('(')) {
            symbol(')');
        }
    }
    std::size_t at() const { return i_; }
    // Also the openings and ends of conditional comments, whose text the server runs
    // ("/*!50017 DEFINER=...*/" in the dumps of other tools).
    void skipBlanks() {
        for (;;) {
            while (i_ < s_.size() && isBlankByte(s_[i_])) ++i_;
            const std::string_view rest = s_.substr(i_);
            if (rest.starts_with("/*!") || rest.starts_with("/*M!")) {
                i_ += rest[2] == 'M' ? 4 : 3;
                while (i_ < s_.size() && s_[i_] >= '0' && s_[i_] <= '9') ++i_;
            } else if (rest.starts_with("*/")) {
                i_ += 2;
            } else {
                return;
            }
        }
    }

private:
    void part() {
        skipBlanks();
        if (i_ < s_.size() && sqllex::isQuoteUnit(static_cast<unsigned char>(s_[i_]))) {
            const std::size_t end =
                sqllex::quotedEnd(s_, i_ + 1, static_cast<unsigned char>(s_[i_]), kDumpRules);
            i_ = end == std::string_view::npos ? s_.size() : end;
            return;
        }
        while (i_ < s_.size() && (isNameByte(s_[i_]) || s_[i_] == '%' || s_[i_] == '.' ||
                                  s_[i_] == '-'))
            ++i_;
    }

    std::string_view s_;
    std::size_t i_ = 0;
};

// Where the DEFINER clause of a CREATE statement starts and ends; false when it has none.
bool definerClause(std::string_view s, std::size_t& from, std::size_t& to) {
    CreateWords w(s);
    if (!isWord(w.word(), "CREATE")) return false;
    for (int words = 0; words < 12; ++words) {
        w.skipBlanks();
        const std::size_t start = w.at();
        const std::string_view word = w.word();
        if (word.empty()) {
            if (!w.symbol('=')) return false;
            continue;
        }
        if (isWord(word, "DEFINER")) {
            if (!w.symbol('=')) continue;  // SQL SECURITY DEFINER
            w.account();
            from = start;
            to = w.at();
            while (to < s.size() && isBlankByte(s[to])) ++to;
            return true;
        }
        for (std::string_view kind : {"TABLE", "VIEW", "PROCEDURE", "FUNCTION", "TRIGGER", "EVENT", "AS"})
            if (isWord(word, kind)) return false;
    }
    return false;
}

// A routine, trigger or event statement: its body names things unquoted.
bool isBodyStatement(std::string_view s) {
    CreateWords w(s);
    if (!isWord(w.word(), "CREATE")) return false;
    for (int words = 0; words < 8; ++words) {
        const std::string_view word = w.word();
        if (word.empty()) return false;
        if (isWord(word, "DEFINER")) {
            if (w.symbol('=')) w.account();
            continue;
        }
        for (std::string_view kind : {"PROCEDURE", "FUNCTION", "TRIGGER", "EVENT"})
            if (isWord(word, kind)) return true;
        if (!isWord(word, "OR") && !isWord(word, "REPLACE") &&
            !isWord(word, "AGGREGATE"))
            return false;
    }
    return false;
}

bool endsWithMarker(std::string_view line) {
    while (!line.empty() && isBlankByte(line.back())) line.remove_suffix(1);
    return line.size() >= kMarker.size() && line.substr(line.size() - kMarker.size()) == kMarker;
}

}  // namespace

void convertCase(QByteArray& text, LetterCase letterCase) {
    if (letterCase == LetterCase::Default) return;
    const bool lower = letterCase == LetterCase::Lower;
    auto convert = [lower](char& c) {
        if (lower && c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
        if (!lower && c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
    };
    char* const data = text.data();
    const std::size_t size = std::size_t(text.size());
    bool inStatement = false, leaveAlone = false;
    char quote = 0;
    std::size_t start = 0;
    while (start < size) {
        std::size_t end = start;
        while (end < size && data[end] != '\r' && data[end] != '\n') ++end;
        const std::string_view line(data + start, end - start);
        std::size_t first = 0;
        while (first < line.size() && isBlankByte(line[first])) ++first;
        if (!inStatement && first < line.size() && line[first] == '#') {
            for (std::size_t i = start; i < end; ++i) convert(data[i]);  // a comment line
        } else if (first < line.size()) {
            if (!inStatement) {
                inStatement = true;
                quote = 0;
                leaveAlone = isBodyStatement(std::string_view(data + start + first, size - start - first));
            }
            for (std::size_t i = start; i < end && !leaveAlone; ++i) {
                if (!quote && sqllex::isQuoteUnit(static_cast<unsigned char>(data[i]))) {
                    quote = data[i++];
                } else if (!quote) {
                    convert(data[i]);
                    continue;
                }
                // Quoted text may go on over lines: the rest of this line, or to its end.
                const std::string_view rest(data + i, end - i);
                const std::size_t close =
                    sqllex::quotedEnd(rest, 0, static_cast<unsigned char>(quote), kDumpRules);
                if (close == std::string_view::npos) break;
                i += close - 1;
                quote = 0;
            }
            if (endsWithMarker(line)) inStatement = leaveAlone = false;
        }
        start = end + 1;
    }
}

bool isLateSectionLine(std::string_view trimmed) { return startsWithWordsOf(trimmed, "# DUMPING TRIGGERS AND EVENTS"); }

QByteArray rowCountLine(std::string_view table, std::uint64_t rows) {
    return "# Dumped " + QByteArray::number(qulonglong(rows)) + " rows of table '" +
           commentText(table) + "'\r\n";
}

bool parseRowCountLine(std::string_view t, std::string& table, std::uint64_t& rows) {
    constexpr std::string_view head = "# Dumped ", middle = " rows of table '";
    if (!t.starts_with(head) || !t.ends_with('\'')) return false;
    std::size_t i = head.size();
    rows = 0;
    const std::size_t digits = i;
    while (i < t.size() && t[i] >= '0' && t[i] <= '9' && i - digits < 19) rows = rows * 10 + unsigned(t[i++] - '0');
    if (i == digits || t.substr(i, middle.size()) != middle) return false;
    i += middle.size();
    table.assign(t.substr(i, t.size() - 1 - i));
    return true;
}

QByteArray bodyStatement(std::string_view text) {
    QByteArray out;
    const bool raw = !text.empty() && fitsDumpFile(text) && text.find(kMarker) == std::string_view::npos &&
                     !isBlankByte(text.front()) && !isBlankByte(text.back()) && text.front() != '#';
    if (raw) {
        out.append(text.data(), qsizetype(text.size()));
    } else {
        out.reserve(qsizetype(kHexForm.size() + 2 * text.size() + kMarker.size()));
        out.append(kHexForm.data(), qsizetype(kHexForm.size()));
        out += QByteArray(text.data(), qsizetype(text.size())).toHex().toUpper();
    }
    out.append(kMarker.data(), qsizetype(kMarker.size()));
    return out;
}

bool decodeHexForm(std::string_view s, std::string& out) {
    if (!startsWithWordsOf(s, "#+HEX ")) return false;
    s.remove_prefix(kHexForm.size());
    if (s.size() % 2) return false;
    auto nibble = [](char c) {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    out.clear();
    out.reserve(s.size() / 2);
    for (std::size_t i = 0; i < s.size(); i += 2) {
        const int high = nibble(s[i]), low = nibble(s[i + 1]);
        if (high < 0 || low < 0) return false;
        out += char(high * 16 + low);
    }
    return true;
}

std::string withoutDefiner(std::string_view create, std::string* definer) {
    std::size_t from = 0, to = 0;
    if (!definerClause(create, from, to)) return std::string(create);
    if (definer) {
        std::string_view clause = create.substr(from, to - from);
        clause.remove_prefix(std::min(clause.find('=') + 1, clause.size()));
        while (!clause.empty() && isBlankByte(clause.front())) clause.remove_prefix(1);
        while (!clause.empty() && isBlankByte(clause.back())) clause.remove_suffix(1);
        definer->assign(clause);
    }
    std::string out(create.substr(0, from));
    out.append(create.substr(to));
    return out;
}

QString dataFilePath(const QString& schemaPath) {
    if (QFileInfo(schemaPath).fileName().size() < 3) return schemaPath + QStringLiteral(".dat");
    return schemaPath.left(schemaPath.size() - 3) + QStringLiteral("dat");
}

QString withDefaultSuffix(const QString& path) {
    if (path.isEmpty() || !QFileInfo(path).suffix().isEmpty()) return path;
    return path + QStringLiteral(".sql");
}

bool fitsDumpFile(std::string_view text) {
    if (text.find_first_of("\r\x1a") != std::string_view::npos) return false;
    for (std::size_t at = text.find(kMarker); at != std::string_view::npos;
         at = text.find(kMarker, at + 1))
        if (at + kMarker.size() < text.size() && text[at + kMarker.size()] == '\n') return false;
    return true;
}

QByteArray commentText(std::string_view name) {
    QByteArray out(name.data(), qsizetype(name.size()));
    for (char& c : out)
        if (c == '\r' || c == '\n' || c == '\x1a') c = ' ';
    return out;
}

QByteArray createTextLines(std::string_view text) {
    QByteArray out;
    out.reserve(qsizetype(text.size() + text.size() / 16));
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        // Quoted text is kept as it is: the server escapes line breaks in literals, and
        // names keep them raw.
        if (sqllex::isQuoteUnit(static_cast<unsigned char>(c))) {
            const std::size_t close =
                sqllex::quotedEnd(text, i + 1, static_cast<unsigned char>(c), kDumpRules);
            const std::size_t to = close == std::string_view::npos ? text.size() : close;
            out.append(text.data() + i, qsizetype(to - i));
            i = to - 1;
            continue;
        }
        if (c != '\n') {
            out += c;
            continue;
        }
        std::size_t before = out.size();
        while (before > 0 && isBlankByte(out[before - 1])) --before;
        std::size_t after = i + 1;
        while (after < text.size() && isBlankByte(text[after])) ++after;
        const bool glued = before > 0 && after < text.size() &&
                           !joinsWithoutBlank(out[before - 1]) && !joinsWithoutBlank(text[after]);
        if (glued)
            out += ' ';
        else
            out += "\r\n";
    }
    return out;
}

QString tablesAndRows(std::uint64_t tables, std::uint64_t rows) {
    return ui::counted(tables, "table") + QStringLiteral(", ") + ui::counted(rows, "row");
}

QString routinesTriggersEvents(std::uint64_t routines, std::uint64_t triggers, std::uint64_t events) {
    return QStringLiteral("%1, %2, %3")
        .arg(ui::counted(routines, "routine"), ui::counted(triggers, "trigger"),
             ui::counted(events, "event"));
}

}  // namespace dump
