#include "dump/DumpFormat.h"

#include <QFileInfo>

namespace dump {

namespace {

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

void convertCase(QByteArray& text, LetterCase letterCase) {
    if (letterCase == LetterCase::Default) return;
    const bool lower = letterCase == LetterCase::Lower;
    for (char& c : text) {
        if (lower && c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
        if (!lower && c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
    }
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
    return text.find_first_of("\r\x1a") == std::string_view::npos;
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
    char quote = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quote) {
            // The server escapes line breaks in literals; names keep them raw.
            if (c == '\\' && quote != '`' && i + 1 < text.size()) {
                out += c;
                out += text[++i];
                continue;
            }
            if (c == quote) quote = 0;  // a doubled quote reopens at once
            out += c;
            continue;
        }
        if (c == '`' || c == '\'' || c == '"') {
            quote = c;
            out += c;
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

}  // namespace dump
