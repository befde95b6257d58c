#include "files/OutputFile.h"

#include <QDir>
#include <cerrno>
#include <cstring>
#include <unistd.h>
#ifdef __linux__
#include <fcntl.h>
#endif

namespace files {

OutputFile::OutputFile(const QString& path)
    : path_(path), file_(path), buffer_(new char[2 * kFlushSize]), capacity_(2 * kFlushSize) {
    if (!file_.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) fail();
}

void OutputFile::append(std::string_view bytes) {
    std::memcpy(reserve(bytes.size()), bytes.data(), bytes.size());
    size_ += bytes.size();
}

char* OutputFile::reserve(std::size_t count) {
    if (size_ + count > capacity_) {
        flush();
        if (count > capacity_) {
            // One value larger than the buffer: the buffer grows to it, not with the file.
            buffer_.reset(new char[count]);
            capacity_ = count;
        }
    }
    return buffer_.get() + size_;
}

void OutputFile::flush() {
    for (std::size_t done = 0; done < size_;) {
        const qint64 n = file_.write(buffer_.get() + done, qint64(size_ - done));
        if (n <= 0) fail();
        done += std::size_t(n);
    }
    size_ = 0;
#ifdef __linux__
    // commit() waits until the file is on disk; starting the writing back now lets the disk
    // work while rows are still being read, instead of all of it at the end.
    if (const qint64 end = file_.pos(); end - synced_ >= qint64(kSyncStep)) {
        ::sync_file_range(file_.handle(), synced_, end - synced_, SYNC_FILE_RANGE_WRITE);
        synced_ = end;
    }
#endif
}

void OutputFile::finish() {
    flush();
    if (::fdatasync(file_.handle()) != 0) fail(QString::fromLocal8Bit(std::strerror(errno)));
}

void OutputFile::commit() {
    flush();
    if (!file_.commit()) fail();
}

void OutputFile::fail(const QString& why) {
    const QString reason = why.isEmpty() ? file_.errorString() : why;
    file_.cancelWriting();
    throw WriteError(
        QStringLiteral("Cannot write %1: %2").arg(QDir::toNativeSeparators(path_), reason));
}

}  // namespace files
