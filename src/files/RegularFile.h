#pragma once

#include <QByteArray>
#include <QString>
#include <stdexcept>

namespace files {

// A file that could not be read, worded for the user: text() names the file and the reason.
// reason() is the reason alone, for a caller that words the sentence its own way.
class ReadError : public std::runtime_error {
public:
    explicit ReadError(const QString& text, const QString& reason = {})
        : std::runtime_error(text.toStdString()), text_(text), reason_(reason) {}
    const QString& text() const { return text_; }
    const QString& reason() const { return reason_; }

private:
    QString text_;
    QString reason_;
};

// What reading a file the user hands the program gave.
struct Read {
    enum Outcome { Ok, NotRegular, TooLarge, Failed };
    Outcome outcome = Ok;
    QByteArray bytes;
    qint64 size = 0;  // of the file
    QString error;    // Failed: the system's reason ("No such file or directory", ...)

    bool ok() const { return outcome == Ok; }
    // For NotRegular and Failed, the reason as a phrase for a message ("it is not a regular
    // file"); TooLarge is for the caller to word, as each kind of file has its own limit.
    QString reason() const;
};

// Reads a regular file of at most `limit` bytes; with `prefixOnly` a larger file gives its
// first `limit` bytes instead of TooLarge. A folder, a pipe or a device is NotRegular: the
// read would fail, block or never end. Memory never exceeds `limit`, whatever the file does
// while it is read.
Read readRegularFile(const QString& path, qint64 limit, bool prefixOnly = false);

}  // namespace files
