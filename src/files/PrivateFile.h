#pragma once

#include <QByteArray>
#include <QString>

namespace files {

// Writes `bytes` as the whole of `path`, readable and writable by its owner only: written
// under a temporary name that is owner-only before the first byte goes in, then renamed over
// the old file, so a crash or a full disk leaves the old file whole and nobody else ever
// reads the text. Unbuffered with every count checked: a buffered QSaveFile can commit a
// truncated file after a short write. Throws WriteError naming the file and the reason.
void writePrivateFile(const QString& path, const QByteArray& bytes);

}  // namespace files
