#pragma once

#include <QSaveFile>
#include <QString>
#include <cstddef>
#include <memory>
#include <stdexcept>
#include <string_view>

namespace files {

// A file that could not be written, worded for the user: the file and the reason.
// reason() is the reason alone, for a caller that words the sentence its own way.
class WriteError : public std::runtime_error {
public:
    explicit WriteError(const QString& text, const QString& reason = {})
        : std::runtime_error(text.toStdString()), text_(text), reason_(reason) {}
    const QString& text() const { return text_; }
    const QString& reason() const { return reason_; }

private:
    QString text_;
    QString reason_;
};

// A file written under a temporary name and renamed over `path` by commit(), so that an
// unfinished file never looks complete; without commit() the temporary file is removed and
// an existing file of that name stays as it was. Bytes are gathered in a buffer and written
// unbuffered with every write's count checked: a buffered QSaveFile can commit a truncated
// file after a short write. Every failure throws WriteError naming the file and the reason.
class OutputFile {
public:
    explicit OutputFile(const QString& path);
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    const QString& path() const { return path_; }

    void append(std::string_view bytes);
    // Room for `count` bytes at the end; reserve(n) then written(k <= n) appends k bytes.
    char* reserve(std::size_t count);
    void written(std::size_t count) { size_ += count; }
    // Writes out what is buffered (the buffer stays small whatever the file's size).
    void flushIfFull() {
        if (size_ >= kFlushSize) flush();
    }

    // Writes out everything and waits until it is on disk, without renaming yet: files that
    // belong together are all finished before the first is committed, so that a full disk
    // cannot leave a new schema file beside an old data file.
    void finish();
    void commit();

private:
    static constexpr std::size_t kFlushSize = std::size_t(1) << 20;
    static constexpr std::size_t kSyncStep = std::size_t(8) << 20;

    void flush();
    // `reason` empty: the file's own error.
    [[noreturn]] void fail(const QString& reason = QString());

    QString path_;
    QSaveFile file_;
    std::unique_ptr<char[]> buffer_;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
    qint64 synced_ = 0;  // bytes handed to the disk so far
};

}  // namespace files
