#include "files/TextCodec.h"

#include <iconv.h>

#include <QStringDecoder>
#include <cerrno>
#include <cstring>
#include <stdexcept>

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

const std::vector<TextEncoding>& textEncodings() {
    static const std::vector<TextEncoding> all{
        {"UTF-8", "UTF-8"},
        {"UTF-8-BOM", "UTF-8 with BOM"},
        {"UTF-16LE", "UTF-16 (little endian)"},
        {"UTF-16BE", "UTF-16 (big endian)"},
        {"ISO-8859-1", "Western European (Latin-1, ISO-8859-1)"},
        {"WINDOWS-1252", "Western European (Windows-1252)"},
        {"ISO-8859-15", "Western European (Latin-9, ISO-8859-15)"},
        {"ISO-8859-2", "Central European (Latin-2, ISO-8859-2)"},
        {"WINDOWS-1250", "Central European (Windows-1250)"},
        {"WINDOWS-1251", "Cyrillic (Windows-1251)"},
        {"KOI8-R", "Cyrillic (KOI8-R)"},
        {"WINDOWS-1253", "Greek (Windows-1253)"},
        {"WINDOWS-1254", "Turkish (Windows-1254)"},
        {"WINDOWS-1257", "Baltic (Windows-1257)"},
        {"EUC-KR", "Korean (EUC-KR)"},
        {"CP949", "Korean (CP949)"},
        {"SHIFT_JIS", "Japanese (Shift-JIS)"},
        {"CP932", "Japanese (Windows-31J, CP932)"},
        {"EUC-JP", "Japanese (EUC-JP)"},
        {"GB18030", "Chinese Simplified (GB18030)"},
        {"BIG5", "Chinese Traditional (Big5)"},
    };
    return all;
}

const TextEncoding* findEncoding(const QByteArray& id) {
    for (const TextEncoding& e : textEncodings())
        if (id.compare(e.id, Qt::CaseInsensitive) == 0) return &e;
    return nullptr;
}

namespace {
bool isUtf8(const QByteArray& encoding) {
    return encoding.compare("UTF-8", Qt::CaseInsensitive) == 0 ||
           encoding.compare("UTF-8-BOM", Qt::CaseInsensitive) == 0;
}
}  // namespace

Utf8Decoder::Utf8Decoder(const QByteArray& encoding) {
    if (isUtf8(encoding)) return;
    cd_ = iconv_open("UTF-8", encoding.constData());
    if (cd_ == iconv_t(-1))
        throw std::runtime_error("The encoding \"" + encoding.toStdString() +
                                 "\" is not known on this system: choose another one.");
}

Utf8Decoder::~Utf8Decoder() {
    if (cd_ != iconv_t(-1)) iconv_close(cd_);
}

bool Utf8Decoder::decode(QByteArrayView bytes, bool last, std::string& out) {
    if (cd_ == iconv_t(-1)) {
        // A BOM is the file's first three bytes, so it may come split over pieces.
        if (start_) {
            carry_.append(bytes.data(), std::size_t(bytes.size()));
            if (carry_.size() < 3 && !last) return true;
            start_ = false;
            const std::size_t skip = carry_.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
            out.append(carry_, skip);
            carry_.clear();
            return true;
        }
        out.append(bytes.data(), std::size_t(bytes.size()));
        return true;
    }
    const std::size_t from = out.size();
    std::string input = std::move(carry_);
    carry_.clear();
    input.append(bytes.data(), std::size_t(bytes.size()));
    char* in = input.data();
    std::size_t inLeft = input.size();
    char buffer[16384];
    while (inLeft > 0) {
        char* o = buffer;
        std::size_t outLeft = sizeof buffer;
        const std::size_t r = iconv(cd_, &in, &inLeft, &o, &outLeft);
        const int error = errno;
        out.append(buffer, std::size_t(o - buffer));
        if (r != std::size_t(-1)) continue;
        if (error == E2BIG) continue;
        if (error == EINVAL && !last) {  // a character split at the end of this piece
            carry_.assign(in, inLeft);
            return true;
        }
        return false;
    }
    if (last) {
        char* o = buffer;
        std::size_t outLeft = sizeof buffer;
        iconv(cd_, nullptr, nullptr, &o, &outLeft);
        out.append(buffer, std::size_t(o - buffer));
    }
    // UTF-16 and the like start with their own BOM, which iconv keeps as U+FEFF.
    if (start_) {
        start_ = false;
        if (out.compare(from, 3, "\xEF\xBB\xBF") == 0) out.erase(from, 3);
    }
    return true;
}

}  // namespace files
