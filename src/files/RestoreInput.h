#pragma once

#include <QIODevice>
#include <QString>
#include <functional>
#include <memory>

#include "files/RegularFile.h"

class QFile;

namespace files {

// A file to restore, opened for reading from its start: a gzip-compressed file (".sql.gz",
// any file that starts with the gzip magic bytes) reads as its uncompressed text, streamed,
// so that it takes no more memory than a plain one. Anything else reads as it is.
class RestoreInput {
public:
    // Throws ReadError ("Cannot read <file>: <reason>") when the file cannot be opened, or
    // when it is neither a regular file nor a pipe (a device such as /dev/zero never ends,
    // a folder cannot be read).
    static std::unique_ptr<QIODevice> open(const QString& path);
    // Whether the device open() gave decompresses.
    static bool compressed(const QIODevice& device);
};

}  // namespace files
