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
