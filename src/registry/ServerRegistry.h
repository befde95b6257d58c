#pragma once

#include <QByteArray>
#include <QString>
#include <optional>
#include <stdexcept>
#include <utility>
#include <vector>

// The connection values of one registered server. The display name is not part of it: it
// is the text of the server's tree node, which owns the entry.
struct TServerEntry {
    QString IP;  // "host", "host:port" or "[v6addr]:port"
    QString USERID;
    QString PASSWD;  // clear text

    friend bool operator==(const TServerEntry&, const TServerEntry&) = default;
};

struct RegistryRecord {
    QString name;
    TServerEntry entry;

    friend bool operator==(const RegistryRecord&, const RegistryRecord&) = default;
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

// The records of a registry file's bytes, in document order; std::nullopt when the bytes
// are not UTF-8 or do not parse as XML element content.
std::optional<std::vector<RegistryRecord>> parseRegistryText(const QByteArray& bytes);

// The server registry file (HostInfor.Dat): a UTF-8 text of records
// <HOST NAME="..."><IP>...</IP><USERID>...</USERID><PASSWD>...</PASSWD></HOST>
// with no root element. Every operation opens and closes the file; nothing is cached.
// Every write replaces the whole file through a temporary file beside it, with mode 0600.
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
    // than kMaxFileSize.
    std::vector<RegistryRecord> LoadServerRegistry(QString* damaged = nullptr) const;

    // Adds the record directly behind the existing content, creating the file if needed.
    // Throws RegistryError when a value holds a character the file cannot store, or the
    // file cannot be read, does not parse, or cannot be written; the file is then unchanged.
    void AppendServerEntry(const QString& name, const TServerEntry& entry);

    // Update replaces, Remove deletes, the first record whose IP, USERID and PASSWD equal
    // `old` exactly (the name is not compared); both tell whether a record matched. Without
    // a match the file is not touched. Throws RegistryError (file unchanged) when the file
    // is missing, cannot be read, does not parse or cannot be written.
    bool UpdateServerEntry(const TServerEntry& old, const QString& newName,
                           const TServerEntry& neu);
    bool RemoveServerEntry(const TServerEntry& old);

    // Throws the RegistryError that Update or Remove would throw before changing anything.
    void checkRewritable() const;

private:
    QByteArray readBytes(bool missingIsEmpty) const;
    std::vector<RegistryRecord> readForRewrite() const;
    void writeBytes(const QByteArray& bytes) const;

    QString path_;
};
