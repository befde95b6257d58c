#pragma once

#include <QByteArray>
#include <QString>

// SQL script files of the SQL panel: UTF-8 text. Loading accepts CR, LF and CR LF line
// ends; saving ends every line with CR LF.
class ScriptFile {
public:
    // Larger files are refused: the editor is for statements, not for dumps.
    static constexpr qint64 kMaxSize = 32 * 1024 * 1024;

    // The editor text of a file: its lines, each followed by "\n". Throws files::ReadError
    // (naming the file and the reason) when the file cannot be read or is not UTF-8.
    static QString load(const QString& path);
    // Writes the editor's lines, each followed by CR LF, under the name exactly as given.
    // A failed save throws files::WriteError and leaves an existing file as it was.
    static void save(const QString& path, const QString& text);

    // The conversions behind load and save; decode returns false for bytes that are not
    // UTF-8.
    static bool decode(const QByteArray& bytes, QString* text);
    static QByteArray encode(const QString& text);
};
