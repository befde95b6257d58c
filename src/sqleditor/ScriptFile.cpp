#include "sqleditor/ScriptFile.h"

#include <QSaveFile>
#include <QStringDecoder>

#include "files/OutputFile.h"
#include "files/RegularFile.h"
#include "sqleditor/SqlText.h"

bool ScriptFile::decode(const QByteArray& bytes, QString* text) {
    // Strict: loading a file of another encoding as replacement characters, and saving it
    // back, would destroy it.
    QStringDecoder decoder(QStringConverter::Utf8);
    const QString decoded = decoder(bytes);
    if (decoder.hasError()) return false;
    QString out;
    out.reserve(decoded.size() + 1);
    for (const QString& line : SqlText::splitLines(decoded)) out += line + u'\n';
    *text = out;
    return true;
}

QByteArray ScriptFile::encode(const QString& text) {
    QByteArray out;
    for (const QString& line : SqlText::splitLines(text)) out += line.toUtf8() + "\r\n";
    return out;
}

QString ScriptFile::load(const QString& path) {
    // A huge file would freeze the editor.
    const files::Read read = files::readRegularFile(path, kMaxSize);
    if (!read.ok()) {
        if (read.outcome == files::Read::Failed)
            throw files::ReadError(QStringLiteral("Cannot read the script file \"%1\": %2")
                                       .arg(path, read.reason()),
                                   read.reason());
        throw files::ReadError(QStringLiteral("Cannot load the script file \"%1\": %2")
                                   .arg(path, read.outcome == files::Read::TooLarge
                                                  ? QStringLiteral("at %1 MB it is too large "
                                                                   "for the editor; run it "
                                                                   "with Restore.")
                                                        .arg(read.size >> 20)
                                                  : read.reason() + u'.'));
    }
    QString text;
    if (!decode(read.bytes, &text))
        throw files::ReadError(
            QStringLiteral("Cannot load the script file \"%1\": it is not UTF-8 text.").arg(path));
    return text;
}

void ScriptFile::save(const QString& path, const QString& text) {
    const QByteArray bytes = encode(text);
    // Unbuffered and checked for the full count: a buffered QSaveFile can commit a file
    // whose last write failed.
    QSaveFile file(path);
    bool ok = file.open(QIODevice::WriteOnly | QIODevice::Unbuffered);
    if (ok && !bytes.isEmpty()) ok = file.write(bytes) == bytes.size();
    if (ok) ok = file.commit();
    // An uncommitted QSaveFile discards its temporary file.
    if (!ok)
        throw files::WriteError(QStringLiteral("Cannot write the script file \"%1\": %2")
                                    .arg(path, file.errorString()));
}
