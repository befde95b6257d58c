#include "files/PrivateFile.h"

#include <QDir>
#include <QSaveFile>

#include "files/OutputFile.h"

namespace files {

namespace {

[[noreturn]] void fail(const QString& path, const QString& reason) {
    throw WriteError(QStringLiteral("Cannot write %1: %2. Check that the folder exists and "
                                    "that you may write there.")
                         .arg(QDir::toNativeSeparators(path), reason),
                     reason);
}

}  // namespace

void writePrivateFile(const QString& path, const QByteArray& bytes) {
    QSaveFile file(path);
    // Unbuffered with every count checked: a buffered QSaveFile can commit a truncated file
    // after a short write.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) fail(path, file.errorString());
    // Whatever the umask or the old file's mode, before any text is in it.
    if (!file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner))
        fail(path, file.errorString());
    for (qint64 done = 0; done < bytes.size();) {
        const qint64 written = file.write(bytes.constData() + done, bytes.size() - done);
        if (written <= 0) fail(path, file.errorString());
        done += written;
    }
    if (!file.commit()) fail(path, file.errorString());
}

}  // namespace files
