#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <optional>

namespace files {

// The Korean code page of files written by older versions (Microsoft's CP949, a superset of
// EUC-KR). Both directions are strict: bytes that are not CP949, or text with a character
// CP949 cannot hold, give std::nullopt rather than a guess.
std::optional<QString> fromCp949(const QByteArray& bytes);
std::optional<QByteArray> toCp949(const QString& text);

// The text of well-formed UTF-8 bytes, decoded once; std::nullopt for any other bytes
// (QString::fromUtf8 would put replacement characters in their place).
std::optional<QString> fromUtf8Strict(QByteArrayView bytes);

}  // namespace files

#include <iconv.h>

#include <string>
#include <vector>

namespace files {

// A character encoding a text file may be read in: its iconv name and what the user sees.
struct TextEncoding {
    const char* id;     // iconv's name; "UTF-8-BOM" reads as UTF-8 (a byte-order mark is skipped)
    const char* label;  // "Korean (CP949)"
};
// The encodings the readers offer, UTF-8 first.
const std::vector<TextEncoding>& textEncodings();
// The encoding of `id` in textEncodings(); null when it is none of them.
const TextEncoding* findEncoding(const QByteArray& id);

// Converts a byte stream in one encoding to UTF-8 piece by piece: a character split between
// two pieces is kept for the next one. UTF-8 passes through unchanged, without its BOM.
class Utf8Decoder {
public:
    // Throws std::runtime_error (the user's sentence) for an encoding iconv does not know.
    explicit Utf8Decoder(const QByteArray& encoding);
    ~Utf8Decoder();
    Utf8Decoder(const Utf8Decoder&) = delete;
    Utf8Decoder& operator=(const Utf8Decoder&) = delete;

    // Appends the UTF-8 of `bytes` to `out`; `last`: no more bytes follow. False when a byte
    // sequence is not of the encoding (or the input ends inside a character).
    bool decode(QByteArrayView bytes, bool last, std::string& out);

private:
    iconv_t cd_ = iconv_t(-1);
    bool start_ = true;
    std::string carry_;  // the start of a character the last piece ended in
};

}  // namespace files
