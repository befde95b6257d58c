#include "files/RegularFile.h"

#include <QFile>
#include <QFileInfo>

namespace files {

QString Read::reason() const {
    return outcome == NotRegular ? QStringLiteral("it is not a regular file") : error;
}

Read readRegularFile(const QString& path, qint64 limit, bool prefixOnly) {
    Read read;
    const QFileInfo info(path);
    if (info.exists() && !info.isFile()) {
        read.outcome = Read::NotRegular;
        return read;
    }
    read.size = info.size();
    if (read.size > limit && !prefixOnly) {
        read.outcome = Read::TooLarge;
        return read;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        read.outcome = Read::Failed;
        read.error = file.errorString();
        return read;
    }
    // One byte more tells a file that grew past the limit since it was measured.
    read.bytes = file.read(prefixOnly ? limit : limit + 1);
    if (file.error() != QFileDevice::NoError) {
        read.outcome = Read::Failed;
        read.error = file.errorString();
        read.bytes.clear();
    } else if (read.bytes.size() > limit) {
        read.outcome = Read::TooLarge;
        read.size = std::max(read.size, qint64(read.bytes.size()));
        read.bytes.clear();
    }
    return read;
}

}  // namespace files
