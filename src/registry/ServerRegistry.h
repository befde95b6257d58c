#pragma once

#include <QByteArray>
#include <QString>
#include <optional>
#include <stdexcept>
#include <utility>
#include <vector>

#include "registry/ServerOptions.h"

// The connection values of one registered server. The display name is not part of it: it
// is the text of the server's tree node, which owns the entry.
struct TServerEntry {
    TServerEntry() = default;
    TServerEntry(QString ip, QString user, QString password, ServerOptions settings = {})
        : IP(std::move(ip)),
          USERID(std::move(user)),
          PASSWD(std::move(password)),
          options(std::move(settings)) {}

    QString IP;  // "host", "host:port" or "[v6addr]:port"
    QString USERID;
    QString PASSWD;  // clear text; empty when options.password is not File
    ServerOptions options;

    friend bool operator==(const TServerEntry&, const TServerEntry&) = default;
};

struct RegistryRecord {
    QString name;
    TServerEntry entry;

    friend bool operator==(const RegistryRecord&, const RegistryRecord&) = default;
};

// A record and where it stands in the text of the file: from its "<HOST" to the end of its
// "</HOST>".
struct RegistrySpan {
    RegistryRecord record;
    qsizetype begin = 0;
    qsizetype end = 0;
};

// A registry file that could not be read or written, or a value it cannot store. text()
// is meant for the user: it names the file, the reason and what to do.
class RegistryError : public std::runtime_error {
public:
    explicit RegistryError(const QString& text);
    QString text() const { return text_; }

private:
    QString text_;
};

// The message when a server's record is not in the file as its node knows it: another
// window (or a hand edit) changed it since the list was read.
QString changedElsewhere(const QString& name);

// How the text of a registry file is encoded: UTF-8, or the Korean code page CP949 in which
// older versions wrote it.
enum class RegistryEncoding { Utf8, Cp949 };

// A registry file read: its whole text, the encoding it was in and its records with their
// places in the text.
struct RegistryText {
    QString text;
    RegistryEncoding encoding = RegistryEncoding::Utf8;
    std::vector<RegistrySpan> spans;
};

// A registry file's bytes read; std::nullopt when they are neither UTF-8 nor CP949, do not
// parse as XML element content, or have a shape no server list has (see ServerRegistry).
std::optional<RegistryText> parseRegistryFile(const QByteArray& bytes);

// The records of a registry file's bytes, in document order (parseRegistryFile's records).
// `encoding` (when given) receives the encoding the bytes were read in.
std::optional<std::vector<RegistryRecord>> parseRegistryText(
    const QByteArray& bytes, RegistryEncoding* encoding = nullptr);

// The server registry file (HostInfor.Dat): a text of records
// <HOST NAME="..."><IP>...</IP><USERID>...</USERID><PASSWD>...</PASSWD></HOST>
// with no root element (a record with settings beyond those carries them in an OPTIONS
// child after PASSWD, which older readers pass over), in UTF-8 or, as older versions wrote it, in CP949. Every operation
// opens and closes the file; nothing is cached. Every write keeps the file's encoding (only
// ConvertToUtf8 changes it) and replaces the whole file through a temporary file beside it,
// with mode 0600.
class ServerRegistry {
public:
    explicit ServerRegistry(QString path) : path_(std::move(path)) {}

    const QString& path() const { return path_; }

    // A list of some thousand servers takes a few hundred kilobytes; a file larger than
    // this is not one and is never read.
    static constexpr qint64 kMaxFileSize = 8 * 1024 * 1024;

    // A missing file, an empty one or one that does not parse holds no records; for one that
    // does not parse, `damaged` (when given) receives a message for the user. Throws
    // RegistryError when the file exists but cannot be read, is no regular file or is larger
    // than kMaxFileSize. `encoding` (when given) receives the encoding of the file's text.
    std::vector<RegistryRecord> LoadServerRegistry(QString* damaged = nullptr,
                                                   RegistryEncoding* encoding = nullptr) const;

    // Adds the record directly behind the existing content, creating the file if needed.
    // Throws RegistryError when a value holds a character the file cannot store, or the
    // file cannot be read, does not parse, or cannot be written; the file is then unchanged.
    void AppendServerEntry(const QString& name, const TServerEntry& entry);

    // Update replaces, Remove deletes, the first record whose name, IP, USERID and PASSWD
    // equal `old` exactly: a server registered twice with the same login under two names is
    // two records, and each node acts on its own. Both tell whether a record matched.
    // Without a match the file is not touched. Throws RegistryError (file unchanged) when
    // the file is missing, cannot be read, does not parse or cannot be written.
    bool UpdateServerEntry(const RegistryRecord& old, const QString& newName,
                           const TServerEntry& neu);
    bool RemoveServerEntry(const RegistryRecord& old);

    // Renames a file that cannot be read as a server list to "<path>.damaged" (or
    // ".damaged-2", ... when that exists), so that a new list can be started; its bytes are
    // kept. Returns the new path; throws RegistryError when the rename fails.
    QString moveAside();

    // Rewrites a CP949 file as UTF-8, text for text; a UTF-8 file is left alone. Throws
    // RegistryError (file unchanged) when it cannot be read, parsed or written.
    void ConvertToUtf8();

    // The file holds passwords: whether users other than its owner may read it, and making
    // it the owner's alone (false when that fails).
    bool readableByOthers() const;
    bool makePrivate();

    // Throws the RegistryError that Update or Remove would throw before changing anything.
    void checkRewritable() const;

private:
    QByteArray readBytes(bool missingIsEmpty) const;
    RegistryText readForRewrite() const;
    // The text in the file's encoding; throws RegistryError for a character CP949 lacks.
    QByteArray encode(const QString& text, RegistryEncoding encoding) const;
    void writeBytes(const QByteArray& bytes) const;

    QString path_;
};
