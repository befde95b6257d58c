#include "dump/RestoreStatus.h"

#include <QByteArray>

namespace dump {

namespace {

std::string_view trimBlanks(std::string_view s) {
    while (!s.empty() && static_cast<unsigned char>(s.front()) <= 32) s.remove_prefix(1);
    while (!s.empty() && static_cast<unsigned char>(s.back()) <= 32) s.remove_suffix(1);
    return s;
}

bool equalsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'a' && x <= 'z') x = char(x - 32);
        if (y >= 'a' && y <= 'z') y = char(y - 32);
        if (x != y) return false;
    }
    return true;
}

// Splits off the first word (up to a blank); `rest` keeps what follows, trimmed.
std::string_view takeWord(std::string_view& rest) {
    rest = trimBlanks(rest);
    const std::size_t blank = rest.find(' ');
    const std::string_view word = rest.substr(0, blank);
    rest = blank == std::string_view::npos ? std::string_view() : trimBlanks(rest.substr(blank));
    return word;
}

// "IF EXISTS" / "IF NOT EXISTS" before a name.
std::string_view skipIfExists(std::string_view rest) {
    std::string_view probe = rest;
    if (!equalsNoCase(takeWord(probe), "IF")) return rest;
    std::string_view word = takeWord(probe);
    if (equalsNoCase(word, "NOT")) word = takeWord(probe);
    return equalsNoCase(word, "EXISTS") ? probe : rest;
}

bool isOneOf(std::string_view word, std::string_view a, std::string_view b, std::string_view c) {
    return word == a || word == b || word == c;
}

QString fromBytes(std::string_view s) { return QString::fromUtf8(s.data(), qsizetype(s.size())); }

// The object a CREATE statement makes: the name after its kind keyword (CREATE TABLE `t`,
// CREATE ... VIEW `v`), else the text after "CREATE TABLE ".
std::string_view createdName(std::string_view statement) {
    static constexpr std::string_view kinds[] = {"TABLE", "VIEW",      "DATABASE", "SCHEMA",
                                                 "INDEX", "PROCEDURE", "FUNCTION", "TRIGGER",
                                                 "EVENT", "SEQUENCE"};
    std::string_view rest = statement;
    takeWord(rest);  // CREATE
    for (int words = 0; words < 12 && !rest.empty(); ++words) {
        const std::string_view word = takeWord(rest);
        for (std::string_view kind : kinds)
            if (equalsNoCase(word, kind)) return RestoreStatus::nameAt(skipIfExists(rest));
    }
    return RestoreStatus::nameAt(
        trimBlanks(statement.substr(std::min<std::size_t>(13, statement.size()))));
}

}  // namespace

std::string_view RestoreStatus::nameAt(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const char c = text[i];
        if (c == ' ' || c == '(') break;
        if (c == '`') {
            // Through the closing back-quote; a doubled one belongs to the name.
            for (++i; i < text.size(); ++i) {
                if (text[i] != '`') continue;
                if (i + 1 < text.size() && text[i + 1] == '`')
                    ++i;
                else
                    break;
            }
        }
        ++i;
    }
    return text.substr(0, std::min(i, text.size()));
}

void RestoreStatus::note(std::string_view statement, bool accepted) {
    if (!accepted) {
        // A refused data statement leaves the status as it was; the run counts it.
        if (kind_ == RunKind::Script) shown_ = Shown::Error;
        return;
    }
    const std::size_t blank = statement.find(' ');
    const std::string_view word =
        blank == std::string_view::npos ? std::string_view() : statement.substr(0, blank);
    if (isOneOf(word, "Insert", "insert", "INSERT")) {
        // The twelve characters "Insert Into " come first.
        const std::string_view name =
            nameAt(trimBlanks(statement.substr(std::min<std::size_t>(12, statement.size()))));
        if (name != lastInsert_) {
            counter_ = 1;
            lastInsert_.assign(name);
        }
        shownCounter_ = counter_++;
        shown_ = Shown::Insert;
    } else if (isOneOf(word, "Drop", "drop", "DROP")) {
        std::string_view rest = statement;
        takeWord(rest);  // DROP
        takeWord(rest);  // TABLE, VIEW, ...
        name_.assign(trimBlanks(skipIfExists(rest)));
        shown_ = Shown::Drop;
    } else if (isOneOf(word, "Create", "create", "CREATE")) {
        name_.assign(createdName(statement));
        shown_ = Shown::Create;
    } else {
        shown_ = Shown::Query;
    }
}

QString RestoreStatus::text() const {
    switch (shown_) {
        case Shown::Nothing:
            return {};
        case Shown::Error:
            return QStringLiteral("Restore Error - Exec");
        case Shown::Insert:
            return QStringLiteral("Insert Ok! - ") + fromBytes(lastInsert_) + u'[' +
                   QString::number(shownCounter_) + u']';
        case Shown::Drop:
            return QStringLiteral("Drop Ok! - ") + fromBytes(name_);
        case Shown::Create:
            return QStringLiteral("Crerate Ok! - ") + fromBytes(name_);
        case Shown::Query:
            return QStringLiteral("Qurey OK!");
    }
    return {};
}

}  // namespace dump
