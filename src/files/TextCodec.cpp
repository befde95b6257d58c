#include "files/TextCodec.h"

#include <iconv.h>

#include <QStringDecoder>
#include <cerrno>

namespace files {

namespace {

// One whole conversion through the C library's iconv; std::nullopt on any byte it cannot
// convert.
std::optional<QByteArray> convert(const char* to, const char* from, const QByteArray& input) {
    iconv_t cd = iconv_open(to, from);
    if (cd == iconv_t(-1)) return std::nullopt;
    // Korean text grows at most from 2 to 3 bytes a character, and ASCII stays 1 to 1.
    QByteArray output(input.size() * 2 + 16, Qt::Uninitialized);
    char* in = const_cast<char*>(input.constData());
    std::size_t inLeft = std::size_t(input.size());
    char* out = output.data();
    std::size_t outLeft = std::size_t(output.size());
    bool ok = true;
    while (inLeft > 0) {
        if (iconv(cd, &in, &inLeft, &out, &outLeft) != std::size_t(-1)) continue;
        if (errno != E2BIG) {
            ok = false;
            break;
        }
        const std::ptrdiff_t used = out - output.data();
        output.resize(output.size() * 2);
        out = output.data() + used;
        outLeft = std::size_t(output.size() - used);
    }
    if (ok && iconv(cd, nullptr, nullptr, &out, &outLeft) == std::size_t(-1)) ok = false;
    iconv_close(cd);
    if (!ok) return std::nullopt;
    output.resize(out - output.data());
    return output;
}

}  // namespace

std::optional<QString> fromCp949(const QByteArray& bytes) {
    const std::optional<QByteArray> utf8 = convert("UTF-8", "CP949", bytes);
    if (!utf8) return std::nullopt;
    return QString::fromUtf8(*utf8);
}

std::optional<QByteArray> toCp949(const QString& text) {
    return convert("CP949", "UTF-8", text.toUtf8());
}

std::optional<QString> fromUtf8Strict(QByteArrayView bytes) {
    QStringDecoder decoder(QStringDecoder::Utf8);
    QString text = decoder.decode(bytes);  // decodes only when taken as a QString
    if (decoder.hasError()) return std::nullopt;
    return text;
}

}  // namespace files
