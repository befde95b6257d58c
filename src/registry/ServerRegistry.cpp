#include "registry/ServerRegistry.h"

#include <QDir>
#include <QXmlStreamReader>
#include <QFileInfo>
#include <QFile>
#include <QSaveFile>
#include <algorithm>
#include <cstring>

#include "files/OutputFile.h"
#include "files/PrivateFile.h"
#include "files/TextCodec.h"
#include "files/RegularFile.h"

namespace {

QString shownPath(const QString& path) { return QDir::toNativeSeparators(path); }

RegistryError readError(const QString& path, const QString& reason) {
    return RegistryError(QStringLiteral("Cannot read the server list %1: %2. Check that the file "
                                        "exists and that you may read it.")
                             .arg(shownPath(path), reason));
}

RegistryError writeError(const QString& path, const QString& reason) {
    return RegistryError(QStringLiteral("Cannot write the server list %1: %2. Check that you may "
                                        "write to its folder and that the disk is not full; "
                                        "the list was left unchanged.")
                             .arg(shownPath(path), reason));
}

RegistryError unparsableError(const QString& path) {
    return RegistryError(QStringLiteral("The server list %1 cannot be read as XML; it was left "
                                        "unchanged. Correct or remove the file and try again.")
                             .arg(shownPath(path)));
}

// XML text cannot hold most control characters, lone surrogates, U+FFFE or U+FFFF: one of
// them would make the whole file unreadable. Line breaks are refused as well: no edit field
// enters one, and a blank-only value holding a CR could not be read back.
bool storable(QStringView value) {
    for (qsizetype i = 0; i < value.size(); ++i) {
        const char16_t c = value[i].unicode();
        if ((c < 0x20 && c != u'\t') || c == 0xFFFE || c == 0xFFFF) return false;
        if (QChar::isLowSurrogate(c)) return false;
        if (QChar::isHighSurrogate(c)) {
            if (i + 1 == value.size() || !QChar::isLowSurrogate(value[i + 1].unicode()))
                return false;
            ++i;
        }
    }
    return true;
}

void checkStorable(const QString& name, const TServerEntry& entry) {
    const ServerOptions& o = entry.options;
    const std::pair<const QString&, const char*> fields[] = {
        {name, "server name"},        {entry.IP, "host"},
        {entry.USERID, "user id"},    {entry.PASSWD, "password"},
        {o.tls.caFile, "CA file"},    {o.tls.certFile, "client certificate file"},
        {o.tls.keyFile, "key file"},  {o.ssh.host, "SSH host"},
        {o.ssh.user, "SSH user"},     {o.ssh.keyFile, "SSH key file"}};
    for (const auto& [value, what] : fields) {
        if (!storable(value))
            throw RegistryError(QStringLiteral("The %1 contains a line break or another control "
                                               "character, which the server list cannot store. "
                                               "Remove it and try again.")
                                    .arg(QLatin1String(what)));
    }
}

// Tab, LF and CR go out as character references: raw, XML would turn them into blanks
// inside the NAME attribute, and CR into LF everywhere.
QLatin1String entityFor(QChar c) {
    switch (c.unicode()) {
        case u'&':
            return QLatin1String("&amp;");
        case u'<':
            return QLatin1String("&lt;");
        case u'>':
            return QLatin1String("&gt;");
        case u'"':
            return QLatin1String("&quot;");
        case u'\t':
            return QLatin1String("&#9;");
        case u'\n':
            return QLatin1String("&#10;");
        case u'\r':
            return QLatin1String("&#13;");
        default:
            return {};
    }
}

void appendEscaped(QString& out, const QString& value) {
    for (const QChar c : value) {
        if (const QLatin1String entity = entityFor(c); !entity.isEmpty())
            out += entity;
        else
            out += c;
    }
}

// Qt's DOM parser drops element text made of blanks only, even when spelled as character
// references, but keeps a CDATA section: a password of blanks must come back as written.
// (Such a value never holds a CR: new values cannot, and XML reads none back.)
void appendElementText(QString& out, const QString& value) {
    const bool blanksOnly =
        !value.isEmpty() && std::all_of(value.begin(), value.end(), [](QChar c) {
            return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r';
        });
    if (!blanksOnly) return appendEscaped(out, value);
    out += QLatin1String("<![CDATA[");
    out += value;
    out += QLatin1String("]]>");
}

// The spelling of each setting in the OPTIONS child; a value that is the default is left out.
const char* const kPasswordStorage[] = {"file", "keyring", "ask"};
const char* const kTlsModes[] = {"off", "required", "verify-ca", "verify-identity"};

void appendOption(QString& out, const char* element, const QString& value) {
    if (value.isEmpty()) return;
    out += u'<' + QLatin1String(element) + u'>';
    appendElementText(out, value);
    out += QLatin1String("</") + QLatin1String(element) + u'>';
}

void appendOptions(QString& out, const ServerOptions& o) {
    if (o.isDefault()) return;
    out += QLatin1String("<OPTIONS>");
    if (o.password != PasswordStorage::File)
        appendOption(out, "PASSWORD", QLatin1String(kPasswordStorage[int(o.password)]));
    appendOption(out, "KEYRING", o.keyringId);
    if (o.tls.mode != db::TlsMode::Off)
        appendOption(out, "TLS", QLatin1String(kTlsModes[int(o.tls.mode)]));
    appendOption(out, "TLSCA", o.tls.caFile);
    appendOption(out, "TLSCERT", o.tls.certFile);
    appendOption(out, "TLSKEY", o.tls.keyFile);
    appendOption(out, "SSHHOST", o.ssh.host);
    if (o.ssh.port != 22) appendOption(out, "SSHPORT", QString::number(o.ssh.port));
    appendOption(out, "SSHUSER", o.ssh.user);
    appendOption(out, "SSHKEY", o.ssh.keyFile);
    out += QLatin1String("</OPTIONS>");
}

// The OPTIONS child's settings; elements it does not know are passed over. A TLS mode of a
// later version is read as the strictest, never as no TLS.
ServerOptions readOptions(QXmlStreamReader& xml) {
    ServerOptions o;
    while (xml.readNextStartElement()) {
        const QStringView element = xml.name();
        const QString value = xml.readElementText(QXmlStreamReader::IncludeChildElements);
        const auto indexIn = [&](const auto& names, int otherwise) {
            for (int i = 0; i < int(std::size(names)); ++i)
                if (value == QLatin1String(names[i])) return i;
            return otherwise;
        };
        if (element == u"PASSWORD")
            o.password = PasswordStorage(indexIn(kPasswordStorage, int(PasswordStorage::Ask)));
        else if (element == u"KEYRING")
            o.keyringId = value;
        else if (element == u"TLS")
            o.tls.mode = db::TlsMode(indexIn(kTlsModes, int(db::TlsMode::VerifyIdentity)));
        else if (element == u"TLSCA")
            o.tls.caFile = value;
        else if (element == u"TLSCERT")
            o.tls.certFile = value;
        else if (element == u"TLSKEY")
            o.tls.keyFile = value;
        else if (element == u"SSHHOST")
            o.ssh.host = value;
        else if (element == u"SSHPORT")
            o.ssh.port = value.toUInt();
        else if (element == u"SSHUSER")
            o.ssh.user = value;
        else if (element == u"SSHKEY")
            o.ssh.keyFile = value;
    }
    return o;
}

// The shape every reader of the file knows, older ones included: the three children in this
// order with nothing between them (older readers take them by position).
void appendRecord(QString& out, const QString& name, const TServerEntry& entry) {
    out += QLatin1String("<HOST NAME=\"");
    appendEscaped(out, name);
    out += QLatin1String("\"><IP>");
    appendElementText(out, entry.IP);
    out += QLatin1String("</IP><USERID>");
    appendElementText(out, entry.USERID);
    out += QLatin1String("</USERID><PASSWD>");
    appendElementText(out, entry.PASSWD);
    out += QLatin1String("</PASSWD>");
    appendOptions(out, entry.options);
    out += QLatin1String("</HOST>");
}

// The file's text: UTF-8, or else CP949 as older versions wrote it. Text that is valid UTF-8
// is taken as UTF-8 (an ASCII file is both); Korean CP949 text is practically never valid
// UTF-8.
std::optional<QString> decodeText(const QByteArray& bytes, RegistryEncoding* encoding) {
    if (std::optional<QString> text = files::fromUtf8Strict(bytes)) {
        if (encoding) *encoding = RegistryEncoding::Utf8;
        return text;
    }
    std::optional<QString> text = files::fromCp949(bytes);
    if (text && encoding) *encoding = RegistryEncoding::Cp949;
    return text;
}

// Whether the markup keeps to the shape of a server list: elements nested at most four deep,
// at most a few attributes each, no document type. Qt's XML reader takes quadratic time on
// deep nesting and on many attributes in one element, so a hostile or broken file of that
// kind must be turned away before it is parsed. One linear pass over the bytes: in XML a
// raw '<' only ever starts markup.
bool plausibleShape(const QByteArray& bytes) {
    constexpr int kMaxDepth = 4;
    constexpr int kMaxAttributes = 4;
    const char* p = bytes.constData();
    const char* const end = p + bytes.size();
    const auto skipPast = [&](const char* from, const char* token) -> const char* {
        const QByteArrayView rest(from, end - from);
        const qsizetype at = rest.indexOf(QByteArrayView(token));
        return at < 0 ? end : from + at + qstrlen(token);
    };
    int depth = 0;
    while ((p = static_cast<const char*>(std::memchr(p, '<', std::size_t(end - p))))) {
        const QByteArrayView tag(p, end - p);
        if (tag.startsWith("<!--")) {
            p = skipPast(p + 4, "-->");
        } else if (tag.startsWith("<![CDATA[")) {
            p = skipPast(p + 9, "]]>");
        } else if (tag.startsWith("<?")) {
            p = skipPast(p + 2, "?>");
        } else if (tag.startsWith("<!")) {
            return false;  // a document type could declare entities
        } else {
            const bool closing = tag.startsWith("</");
            int attributes = 0;
            char quote = 0;
            ++p;
            for (; p < end && (quote || *p != '>'); ++p) {
                if (quote) {
                    if (*p == quote) quote = 0;
                } else if (*p == '"' || *p == '\'') {
                    quote = *p;
                } else if (*p == '=' && ++attributes > kMaxAttributes) {
                    return false;
                }
            }
            const bool empty = p > bytes.constData() && p[-1] == '/';
            if (closing)
                --depth;
            else if (!empty && ++depth > kMaxDepth)
                return false;
        }
        if (p == end) break;
    }
    return true;
}

// The children of a HOST element up to its end tag: IP, USERID and PASSWD by their names,
// the first of each; comments and other elements are passed over (and stay in the file). A
// record that names none of the three, made by hand with other names, is read by position as
// older versions read it. A missing value reads as empty text; blanks are kept as they are.
TServerEntry readEntry(QXmlStreamReader& xml) {
    static const QString names[3] = {QStringLiteral("IP"), QStringLiteral("USERID"),
                                     QStringLiteral("PASSWD")};
    std::optional<QString> named[3];
    QStringList positional;
    std::optional<ServerOptions> options;
    while (xml.readNextStartElement()) {
        const QString element = xml.name().toString();
        if (element == QLatin1String("OPTIONS") && !options && positional.size() >= 3) {
            options = readOptions(xml);
            continue;
        }
        const QString value = xml.readElementText(QXmlStreamReader::IncludeChildElements);
        positional << value;
        for (int i = 0; i < 3; ++i)
            if (element == names[i] && !named[i]) named[i] = value;
    }
    const bool byName = named[0] || named[1] || named[2];
    QString values[3];
    for (int i = 0; i < 3; ++i)
        values[i] = byName ? named[i].value_or(QString()) : positional.value(i);
    return {values[0], values[1], values[2], options.value_or(ServerOptions{})};
}

// `error` (when given) receives where and why the text does not parse, for the user.
std::optional<std::vector<RegistrySpan>> parseRegistrySpans(const QString& text,
                                                            QString* error = nullptr) {
    // The file has no root element of its own. A record's span runs from its "<HOST" to the
    // end of its "</HOST>" in `text`; the reader has always taken the "<" that starts a tag
    // with the token before it, so a tag starts one character before the offset at which
    // its token is read.
    static const QString open = QStringLiteral("<HOSTS>");
    const QString wrapped = open + text + QStringLiteral("</HOSTS>");
    QXmlStreamReader xml(wrapped);
    std::vector<RegistrySpan> spans;
    while (!xml.atEnd()) {
        qsizetype start = qsizetype(xml.characterOffset());
        if (xml.readNext() != QXmlStreamReader::StartElement || xml.name() != u"HOST") continue;
        if (start > 0 && wrapped.at(start - 1) == u'<') --start;
        const QXmlStreamAttributes attributes = xml.attributes();
        RegistrySpan span;
        span.begin = start - open.size();
        span.record.name = attributes.value(QLatin1String("NAME")).toString();
        span.record.entry = readEntry(xml);
        span.end = qsizetype(xml.characterOffset()) - open.size();
        // A HOST without a NAME has no reading; it is skipped, and kept in the file.
        if (!xml.hasError() && attributes.hasAttribute(QLatin1String("NAME"))) spans.push_back(std::move(span));
    }
    if (xml.hasError()) {
        if (error) {
            // The wrapper's start tag stands before the file's first line.
            const qint64 line = xml.lineNumber();
            const qint64 column = line == 1 ? std::max<qint64>(1, xml.columnNumber() - open.size())
                                            : xml.columnNumber();
            *error = QStringLiteral("line %1, column %2: %3").arg(line).arg(column).arg(xml.errorString());
        }
        return std::nullopt;
    }
    return spans;
}

// UTF-16 text, with or without a byte order mark: every other byte of its markup is zero.
bool looksLikeUtf16(const QByteArray& bytes) {
    if (bytes.startsWith("\xFF\xFE") || bytes.startsWith("\xFE\xFF")) return true;
    return bytes.size() >= 4 && ((bytes[0] != 0 && bytes[1] == 0 && bytes[3] == 0) ||
                                 (bytes[0] == 0 && bytes[2] == 0 && bytes[1] != 0));
}

// Why bytes that parseRegistryFile refused are no server list, for the middle of a sentence.
QString damageReason(const QByteArray& bytes) {
    if (!plausibleShape(bytes))
        return QStringLiteral("its markup is nested deeper, or has more attributes, than a server "
                              "list has, or declares a document type");
    std::optional<QString> text = decodeText(bytes, nullptr);
    if (!text) return QStringLiteral("its text is neither UTF-8 nor CP949");
    QString error;
    parseRegistrySpans(*text, &error);
    return error;
}

}  // namespace

RegistryError::RegistryError(const QString& text)
    : std::runtime_error(text.toStdString()), text_(text) {}

QString changedElsewhere(const QString& name) {
    return QStringLiteral("The record of the server \"%1\" in the server list is no longer as "
                          "this window read it (another Lorvex window may have changed it), so "
                          "nothing was changed. Start Lorvex again to read the list afresh, then "
                          "try again.")
        .arg(name);
}

std::optional<RegistryText> parseRegistryFile(const QByteArray& bytes) {
    if (!plausibleShape(bytes)) return std::nullopt;
    RegistryText file;
    std::optional<QString> text = decodeText(bytes, &file.encoding);
    if (!text) return std::nullopt;
    std::optional<std::vector<RegistrySpan>> spans = parseRegistrySpans(*text);
    if (!spans) return std::nullopt;
    file.text = std::move(*text);
    file.spans = std::move(*spans);
    return file;
}

std::optional<std::vector<RegistryRecord>> parseRegistryText(const QByteArray& bytes,
                                                              RegistryEncoding* encoding) {
    std::optional<RegistryText> file = parseRegistryFile(bytes);
    if (!file) return std::nullopt;
    if (encoding) *encoding = file->encoding;
    std::vector<RegistryRecord> records;
    records.reserve(file->spans.size());
    for (RegistrySpan& span : file->spans) records.push_back(std::move(span.record));
    return records;
}

std::vector<RegistryRecord> ServerRegistry::LoadServerRegistry(QString* damaged,
                                                               RegistryEncoding* encoding) const {
    std::optional<std::vector<RegistryRecord>> records =
        parseRegistryText(readBytes(true), encoding);
    if (records) return std::move(*records);
    if (!damaged) return {};
    const QByteArray bytes = readBytes(true);
    if (looksLikeUtf16(bytes)) {
        *damaged = QStringLiteral("The server list %1 is written in UTF-16, which Lorvex does not "
                                  "read, so no server could be read from it. It was left as it "
                                  "is. Convert it to UTF-8, for example with\n  iconv -f UTF-16 "
                                  "-t UTF-8 %1 > %1.utf8\nand put the converted file in its "
                                  "place.")
                       .arg(shownPath(path_));
        return {};
    }
    *damaged = QStringLiteral("The server list %1 is damaged (%2) and no server could be read "
                              "from it. It was left as it is; new servers cannot be registered "
                              "until it is corrected or moved away.")
                   .arg(shownPath(path_), damageReason(bytes));
    return {};
}

QString ServerRegistry::moveAside() {
    QString aside = path_ + QStringLiteral(".damaged");
    for (int n = 2; QFileInfo::exists(aside); ++n)
        aside = path_ + QStringLiteral(".damaged-%1").arg(n);
    // A rename keeps every byte and never overwrites: the file is there to be looked at.
    if (!QFile::rename(path_, aside))
        throw RegistryError(QStringLiteral("The server list %1 could not be moved to %2. Check "
                                           "that you may write to its folder.")
                                .arg(shownPath(path_), shownPath(aside)));
    return aside;
}

void ServerRegistry::AppendServerEntry(const QString& name, const TServerEntry& entry) {
    checkStorable(name, entry);
    QByteArray content = readBytes(true);
    // A record behind text that does not parse would vanish with it at the next start.
    const std::optional<RegistryText> file = parseRegistryFile(content);
    if (!file) throw unparsableError(path_);
    QString record;
    appendRecord(record, name, entry);
    content += encode(record, file->encoding);
    writeBytes(content);
}

// Both rewrite only the record they change: everything else in the file (other records,
// comments, elements this program does not know, line breaks) stays byte for byte.
bool ServerRegistry::UpdateServerEntry(const RegistryRecord& old, const QString& newName,
                                       const TServerEntry& neu) {
    checkStorable(newName, neu);
    RegistryText file = readForRewrite();
    const auto match = std::ranges::find(file.spans, old, &RegistrySpan::record);
    if (match == file.spans.end()) return false;
    QString record;
    appendRecord(record, newName, neu);
    file.text.replace(match->begin, match->end - match->begin, record);
    writeBytes(encode(file.text, file.encoding));
    return true;
}

bool ServerRegistry::RemoveServerEntry(const RegistryRecord& old) {
    RegistryText file = readForRewrite();
    const auto match = std::ranges::find(file.spans, old, &RegistrySpan::record);
    if (match == file.spans.end()) return false;
    // A record on a line of its own takes its line break along.
    qsizetype end = match->end;
    const QString& text = file.text;
    if (match->begin == 0 || text.at(match->begin - 1) == u'\n' || text.at(match->begin - 1) == u'\r') {
        if (text.mid(end, 2) == QLatin1String("\r\n"))
            end += 2;
        else if (end < text.size() && (text.at(end) == u'\n' || text.at(end) == u'\r'))
            end += 1;
    }
    file.text.remove(match->begin, end - match->begin);
    writeBytes(encode(file.text, file.encoding));
    return true;
}

void ServerRegistry::ConvertToUtf8() {
    const RegistryText file = readForRewrite();
    // The whole text, not the records read from it: whatever else the file holds stays.
    if (file.encoding == RegistryEncoding::Cp949) writeBytes(file.text.toUtf8());
}

void ServerRegistry::checkRewritable() const { readForRewrite(); }

bool ServerRegistry::readableByOthers() const {
    const QFileInfo info(path_);
    return info.isFile() &&
           (info.permissions() & (QFileDevice::ReadGroup | QFileDevice::ReadOther)) != 0;
}

bool ServerRegistry::makePrivate() {
    return QFile::setPermissions(path_, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

QByteArray ServerRegistry::encode(const QString& text, RegistryEncoding encoding) const {
    if (encoding == RegistryEncoding::Utf8) return text.toUtf8();
    if (std::optional<QByteArray> bytes = files::toCp949(text)) return std::move(*bytes);
    throw RegistryError(QStringLiteral("The server list %1 is written in the Korean code page "
                                       "CP949, which cannot hold a character of these values. "
                                       "Restart Lorvex and let it convert the list to UTF-8, "
                                       "or use other characters.")
                            .arg(shownPath(path_)));
}

QByteArray ServerRegistry::readBytes(bool missingIsEmpty) const {
    if (missingIsEmpty && !QFileInfo::exists(path_)) return {};
    const files::Read read = files::readRegularFile(path_, kMaxFileSize);
    if (read.ok()) return read.bytes;
    throw readError(path_, read.outcome == files::Read::TooLarge
                               ? QStringLiteral("at %1 MB it is far larger than a server list")
                                     .arg(read.size >> 20)
                               : read.reason());
}

// A rewrite holds only the records that were read: writing back what a file that does not
// parse yields would erase every registered server.
RegistryText ServerRegistry::readForRewrite() const {
    std::optional<RegistryText> file = parseRegistryFile(readBytes(false));
    if (!file) throw unparsableError(path_);
    return std::move(*file);
}

void ServerRegistry::writeBytes(const QByteArray& bytes) const {
    // Written beside the old file and renamed over it, so a failed write leaves the old
    // list; clear-text passwords: owner only, whatever the umask or the old file's mode.
    try {
        files::writePrivateFile(path_, bytes);
    } catch (const files::WriteError& e) {
        throw writeError(path_, e.reason());
    }
}
