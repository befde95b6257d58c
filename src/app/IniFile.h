#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <optional>
#include <stdexcept>
#include <vector>

// A settings file that cannot be created, read or rewritten, or a write that the file format
// cannot hold. text() is ready to show to the user.
class IniFileError : public std::runtime_error {
public:
    explicit IniFileError(const QString& text)
        : std::runtime_error(text.toStdString()), text_(text) {}

    const QString& text() const noexcept { return text_; }

private:
    QString text_;
};

// A settings file with the semantics of the Windows private-profile functions: "[Section]"
// lines and "key=value" lines, names matched without regard to ASCII case, values trimmed
// and stripped of one pair of surrounding quotes when read. Every read goes to the file and
// every write rewrites it at once, so the file is always what the program last wrote, and a
// file edited by hand is read as it stands.
class IniFile {
public:
    // Longest text a read returns, as the platform's 2048-character read buffer allows.
    static constexpr qsizetype kMaxValueLength = 2047;
    // A settings file is a few hundred bytes; anything far larger is not one of ours.
    static constexpr qint64 kMaxFileSize = 1024 * 1024;

    struct Key {
        QString name;
        QString value;  // trimmed and unquoted, not yet cut to kMaxValueLength
        qsizetype line = 0;
    };
    struct Section {
        QString name;
        qsizetype line = 0;      // the "[name]" line
        qsizetype lastLine = 0;  // the section's last key line, or its header
        std::vector<Key> keys;
    };
    // The file's lines (without line ends, byte for byte) and the sections found in them.
    // Keys before the first section header belong to no section and are only kept as lines.
    struct Document {
        QList<QByteArray> lines;
        std::vector<Section> sections;
    };

    // Accepts any bytes: lines end with CR LF, LF or CR; a leading UTF-8 BOM is skipped.
    static Document parse(const QByteArray& data);

    explicit IniFile(QString path);

    const QString& path() const noexcept { return path_; }

    // The OpenSettings step: creates an empty file when there is none, otherwise checks that
    // the file can be read. Throws IniFileError; reads go on giving defaults after a failure.
    void open();

    // A missing key, or a value that is not entirely a decimal or "0x" hexadecimal int,
    // gives `def`.
    int ReadInteger(const QString& section, const QString& key, int def) const;
    // A missing key gives `def`; a key with an empty value gives an empty text.
    QString ReadString(const QString& section, const QString& key, const QString& def) const;

    // Writes throw IniFileError and then leave the file as it was.
    void WriteInteger(const QString& section, const QString& key, int value);
    void WriteString(const QString& section, const QString& key, const QString& value);
    void DeleteKey(const QString& section, const QString& key);

    struct Change {
        QString section;
        QString key;
        std::optional<QString> value;  // none: every copy of the key is deleted
    };
    // The changes in order, in one rewrite of the file. A change the format cannot hold is
    // left out and the others are written; then the first such IniFileError is thrown.
    void Apply(const std::vector<Change>& changes);

private:
    Document load() const;
    bool setValue(Document& doc, const QString& section, const QString& key,
                  const QString& value) const;
    static bool removeKey(Document& doc, const QString& section, const QString& key);
    static QByteArray serialized(const QList<QByteArray>& lines);
    void save(const QList<QByteArray>& lines) const;
    [[noreturn]] void failWrite(const QString& reason) const;

    QString path_;
};
