#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

namespace files {

// The Korean code page of files written by older versions (Microsoft's CP949, a superset of
// EUC-KR). Both directions are strict: bytes that are not CP949, or text with a character
// CP949 cannot hold, give std::nullopt rather than a guess.
std::optional<QString> fromCp949(const QByteArray& bytes);
std::optional<QByteArray> toCp949(const QString& text);

// Whether the bytes are well-formed UTF-8.
bool isUtf8(const QByteArray& bytes);

}  // namespace files
