#include "app/IniFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <algorithm>
#include <climits>
#include <optional>

#include "files/RegularFile.h"

namespace {

// The blanks the platform trims around names and values.
bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f'; }
bool isBlank(QChar c) { return c.unicode() < 0x80 && isBlank(char(c.unicode())); }

QByteArrayView trimmed(QByteArrayView bytes) {
    while (!bytes.isEmpty() && isBlank(bytes.front())) bytes = bytes.sliced(1);
    while (!bytes.isEmpty() && isBlank(bytes.back())) bytes.chop(1);
    return bytes;
}

QByteArrayView unquoted(QByteArrayView value) {
    if (value.size() >= 2 && value.front() == value.back() &&
        (value.front() == '"' || value.front() == '\''))
        return value.sliced(1, value.size() - 2);
    return value;
}

QString decoded(QByteArrayView bytes) { return QString::fromUtf8(bytes); }

char16_t asciiLower(char16_t c) { return c >= u'A' && c <= u'Z' ? char16_t(c + 32) : c; }

bool sameName(const QString& a, const QString& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](QChar x, QChar y) {
        return asciiLower(x.unicode()) == asciiLower(y.unicode());
    });
}

const IniFile::Key* findKey(const IniFile::Document& doc, const QString& section,
                            const QString& key) {
    for (const IniFile::Section& s : doc.sections) {
        if (!sameName(s.name, section)) continue;
        for (const IniFile::Key& k : s.keys)
            if (sameName(k.name, key)) return &k;
    }
    return nullptr;
}

std::optional<int> parseInteger(QStringView text) {
    while (!text.isEmpty() && isBlank(text.front())) text = text.sliced(1);
    while (!text.isEmpty() && isBlank(text.back())) text.chop(1);

    qint64 value = 0;
    if (text.size() > 2 && text[0] == u'0' && (text[1] == u'x' || text[1] == u'X')) {
        for (QChar c : text.sliced(2)) {
            const char16_t u = asciiLower(c.unicode());
            int digit;
            if (u >= u'0' && u <= u'9')
                digit = u - u'0';
            else if (u >= u'a' && u <= u'f')
                digit = u - u'a' + 10;
            else
                return std::nullopt;
            value = value * 16 + digit;
            if (value > INT_MAX) return std::nullopt;
        }
        return int(value);
    }

    const bool negative = text.startsWith(u'-');
    if (negative || text.startsWith(u'+')) text = text.sliced(1);
    if (text.isEmpty()) return std::nullopt;
    const qint64 limit = negative ? qint64(INT_MAX) + 1 : INT_MAX;
    for (QChar c : text) {
        if (c < u'0' || c > u'9') return std::nullopt;
        value = value * 10 + (c.unicode() - u'0');
        if (value > limit) return std::nullopt;
    }
    return int(negative ? -value : value);
}

// A name the file format can hold: neither a line break nor the characters that would turn
// the line into something else when read back.
bool validSection(const QString& name) {
    return !name.isEmpty() && !isBlank(name.front()) && !isBlank(name.back()) &&
           !name.contains(u'\r') && !name.contains(u'\n') && !name.contains(u']');
}

bool validKey(const QString& name) {
    return !name.isEmpty() && !isBlank(name.front()) && !isBlank(name.back()) &&
           !name.startsWith(u'[') && !name.startsWith(u';') && !name.contains(u'\r') &&
           !name.contains(u'\n') && !name.contains(u'=');
}

}  // namespace

IniFile::Document IniFile::parse(const QByteArray& data) {
    Document doc;
    const qsizetype size = data.size();
    qsizetype pos = data.startsWith("\xEF\xBB\xBF") ? 3 : 0;
    while (pos < size) {
        qsizetype end = pos;
        while (end < size && data[end] != '\r' && data[end] != '\n') ++end;
        const QByteArrayView line(data.constData() + pos, end - pos);
        pos = end;
        if (pos < size) pos += data[pos] == '\r' && pos + 1 < size && data[pos + 1] == '\n' ? 2 : 1;

        const qsizetype index = doc.lines.size();
        doc.lines.append(line.toByteArray());
        const QByteArrayView text = trimmed(line);
        if (text.isEmpty() || text.front() == ';') continue;
        if (text.front() == '[') {
            const qsizetype close = text.indexOf(']');
            if (close > 0) {
                doc.sections.push_back(
                    Section{decoded(trimmed(text.sliced(1, close - 1))), index, index, {}});
            }
            continue;
        }
        const qsizetype equals = text.indexOf('=');
        if (equals <= 0 || doc.sections.empty()) continue;
        const QByteArrayView name = trimmed(text.first(equals));
        if (name.isEmpty()) continue;
        Section& section = doc.sections.back();
        section.keys.push_back(
            Key{decoded(name), decoded(unquoted(trimmed(text.sliced(equals + 1)))), index});
        section.lastLine = index;
    }
    return doc;
}

IniFile::IniFile(QString path) : path_(std::move(path)) {}

void IniFile::open() {
    if (QFileInfo::exists(path_)) {
        load();
        return;
    }
    QSaveFile file(path_);
    if (!file.open(QIODevice::WriteOnly) || !file.commit()) {
        throw IniFileError(QStringLiteral("Cannot create the settings file %1: %2")
                               .arg(QDir::toNativeSeparators(path_), file.errorString()));
    }
}

int IniFile::ReadInteger(const QString& section, const QString& key, int def) const {
    try {
        const Document doc = load();  // keeps the key alive while it is parsed
        const Key* found = findKey(doc, section, key);
        return found ? parseInteger(found->value).value_or(def) : def;
    } catch (const IniFileError&) {
        return def;
    }
}

QString IniFile::ReadString(const QString& section, const QString& key, const QString& def) const {
    try {
        const Document doc = load();
        const Key* found = findKey(doc, section, key);
        if (!found) return def;
        qsizetype length = std::min(found->value.size(), kMaxValueLength);
        // Never return half of a surrogate pair.
        if (length < found->value.size() && found->value[length - 1].isHighSurrogate()) --length;
        return found->value.first(length);
    } catch (const IniFileError&) {
        return def;
    }
}

void IniFile::WriteInteger(const QString& section, const QString& key, int value) {
    WriteString(section, key, QString::number(value));
}

void IniFile::WriteString(const QString& section, const QString& key, const QString& value) {
    Apply({{section, key, value}});
}

void IniFile::DeleteKey(const QString& section, const QString& key) {
    Apply({{section, key, std::nullopt}});
}

void IniFile::Apply(const std::vector<Change>& changes) {
    Document doc = load();
    bool changed = false;
    std::optional<IniFileError> firstError;
    for (const Change& change : changes) {
        try {
            if (!(change.value ? setValue(doc, change.section, change.key, *change.value)
                               : removeKey(doc, change.section, change.key)))
                continue;
        } catch (const IniFileError& error) {
            if (!firstError) firstError = error;
            continue;
        }
        // The line numbers of the sections moved: read the edited lines afresh.
        doc = parse(serialized(doc.lines));
        changed = true;
    }
    if (changed) save(doc.lines);
    if (firstError) throw *firstError;
}

bool IniFile::setValue(Document& doc, const QString& section, const QString& key,
                       const QString& value) const {
    if (!validSection(section) || !validKey(key))
        failWrite(QStringLiteral("\"[%1] %2\" is not a valid section and key").arg(section, key));
    if (value.contains(u'\r') || value.contains(u'\n'))
        failWrite(QStringLiteral("the value of %1 holds a line break").arg(key));

    // The reader trims blanks and strips one pair of surrounding quotes; an extra pair of
    // quotes makes such a value read back exactly as written.
    const bool quote = !value.isEmpty() && (isBlank(value.front()) || isBlank(value.back()) ||
                                            (value.size() >= 2 && value.front() == value.back() &&
                                             (value.front() == u'"' || value.front() == u'\'')));
    const QByteArray text = (quote ? u'"' + value + u'"' : value).toUtf8();

    const Section* home = nullptr;
    const Key* found = nullptr;
    for (const Section& s : doc.sections) {
        if (!sameName(s.name, section)) continue;
        if (!home) home = &s;
        const auto k = std::find_if(s.keys.begin(), s.keys.end(),
                                    [&](const Key& k) { return sameName(k.name, key); });
        if (k != s.keys.end()) {
            found = &*k;
            break;
        }
    }
    if (found) {
        // A hand-edited file keeps its own spelling of the key.
        doc.lines[found->line] = found->name.toUtf8() + '=' + text;
    } else if (home) {
        doc.lines.insert(home->lastLine + 1, key.toUtf8() + '=' + text);
    } else {
        if (!doc.lines.isEmpty() && !trimmed(doc.lines.back()).isEmpty())
            doc.lines.append(QByteArray());
        doc.lines.append('[' + section.toUtf8() + ']');
        doc.lines.append(key.toUtf8() + '=' + text);
    }
    return true;
}

bool IniFile::removeKey(Document& doc, const QString& section, const QString& key) {
    // Every copy goes, so that no later duplicate shows through once the first is deleted.
    std::vector<qsizetype> doomed;
    for (const Section& s : doc.sections) {
        if (!sameName(s.name, section)) continue;
        for (const Key& k : s.keys)
            if (sameName(k.name, key)) doomed.push_back(k.line);
    }
    for (auto line = doomed.rbegin(); line != doomed.rend(); ++line) doc.lines.removeAt(*line);
    return !doomed.empty();
}

IniFile::Document IniFile::load() const {
    if (!QFileInfo::exists(path_)) return {};
    const files::Read read = files::readRegularFile(path_, kMaxFileSize);
    if (read.ok()) return parse(read.bytes);
    throw IniFileError(QStringLiteral("Cannot read the settings file %1: %2")
                           .arg(QDir::toNativeSeparators(path_),
                                read.outcome == files::Read::TooLarge
                                    ? QStringLiteral("the file is too large")
                                    : read.reason()));
}

QByteArray IniFile::serialized(const QList<QByteArray>& lines) {
    QByteArray data;
    for (const QByteArray& line : lines) data += line + "\r\n";
    return data;
}

void IniFile::save(const QList<QByteArray>& lines) const {
    const QByteArray data = serialized(lines);
    if (data.size() > kMaxFileSize) failWrite(QStringLiteral("the file would be too large"));

    // QSaveFile writes beside the file and renames over it on commit. Unbuffered, because a
    // buffered QSaveFile commits a short write (full disk, size limit) as a success.
    QSaveFile file(path_);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) failWrite(file.errorString());
    if (file.write(data) != data.size()) {
        const QString reason = file.error() != QFileDevice::NoError
                                   ? file.errorString()
                                   : QStringLiteral("the disk is full or the file is too large");
        file.cancelWriting();
        failWrite(reason);
    }
    if (!file.commit()) failWrite(file.errorString());
}

void IniFile::failWrite(const QString& reason) const {
    throw IniFileError(QStringLiteral("Cannot write the settings file %1: %2")
                           .arg(QDir::toNativeSeparators(path_), reason));
}
