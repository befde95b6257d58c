#include "files/RestoreInput.h"

#include <sys/stat.h>
#include <zlib.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <string>

namespace files {

namespace {

constexpr std::size_t kCompressedRead = std::size_t(1) << 18;

// Reads the uncompressed text of a gzip file, member after member, as it is asked for.
class GzipDevice : public QIODevice {
public:
    explicit GzipDevice(std::unique_ptr<QFile> file) : file_(std::move(file)) {
        stream_.zalloc = Z_NULL;
        stream_.zfree = Z_NULL;
        stream_.opaque = Z_NULL;
        ready_ = inflateInit2(&stream_, 15 + 16) == Z_OK;  // 16: a gzip header, not zlib's
    }
    ~GzipDevice() override {
        if (ready_) inflateEnd(&stream_);
    }
    bool isSequential() const override { return true; }

protected:
    qint64 readData(char* data, qint64 max) override {
        if (!ready_) {
            setErrorString(QStringLiteral("the decompressor cannot start"));
            return -1;
        }
        stream_.next_out = reinterpret_cast<Bytef*>(data);
        stream_.avail_out = uInt(std::min<qint64>(max, qint64(1) << 30));
        while (stream_.avail_out > 0 && !ended_) {
            if (stream_.avail_in == 0) {
                in_.resize(kCompressedRead);
                const qint64 n = file_->read(in_.data(), qint64(in_.size()));
                if (n < 0) {
                    setErrorString(file_->errorString());
                    return -1;
                }
                if (n == 0) {
                    // The end of the file inside a member: cut off.
                    if (inMember_) {
                        setErrorString(QStringLiteral("the compressed file is cut off "
                                                      "before its end"));
                        return produced(max) > 0 ? produced(max) : -1;
                    }
                    ended_ = true;
                    break;
                }
                stream_.next_in = reinterpret_cast<Bytef*>(in_.data());
                stream_.avail_in = uInt(n);
            }
            inMember_ = true;
            const int rc = inflate(&stream_, Z_NO_FLUSH);
            if (rc == Z_STREAM_END) {
                // Another member may follow (files joined with cat).
                inMember_ = false;
                inflateReset(&stream_);
            } else if (rc != Z_OK && rc != Z_BUF_ERROR) {
                setErrorString(QStringLiteral("the compressed data is damaged (%1)")
                                   .arg(QString::fromLatin1(stream_.msg ? stream_.msg : "zlib")));
                return produced(max) > 0 ? produced(max) : -1;
            }
        }
        return produced(max);
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    qint64 produced(qint64 max) const {
        return std::min<qint64>(max, qint64(1) << 30) - qint64(stream_.avail_out);
    }

    std::unique_ptr<QFile> file_;
    z_stream stream_{};
    std::string in_;
    bool ready_ = false;
    bool ended_ = false;
    bool inMember_ = false;
};

bool isPipe(const QString& path) {
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 && S_ISFIFO(st.st_mode);
}

}  // namespace

std::unique_ptr<QIODevice> RestoreInput::open(const QString& path) {
    const auto fail = [&path](const QString& reason) {
        throw ReadError(QStringLiteral("Cannot read %1: %2")
                            .arg(QDir::toNativeSeparators(path), reason),
                        reason);
    };
    const QFileInfo info(path);
    if (info.exists() && !info.isFile() && !isPipe(path)) fail(QStringLiteral("it is not a regular file"));
    auto file = std::make_unique<QFile>(path);
    if (!file->open(QIODevice::ReadOnly)) fail(file->errorString());
    if (file->peek(2) != QByteArray("\x1f\x8b", 2)) return file;
    auto gzip = std::make_unique<GzipDevice>(std::move(file));
    gzip->open(QIODevice::ReadOnly);
    return gzip;
}

bool RestoreInput::compressed(const QIODevice& device) {
    return dynamic_cast<const GzipDevice*>(&device) != nullptr;
}

}  // namespace files
