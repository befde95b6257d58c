#include "dataset/ValueText.h"

#include <QJsonDocument>
#include <QJsonParseError>

#include "files/TextCodec.h"

namespace valuetext {

namespace {

bool binaryType(FieldType type) {
    return type == FieldType::Binary || type == FieldType::Geometry || type == FieldType::Bit;
}

QString moreBytes(std::size_t total, std::string_view shown) {
    return total > shown.size()
               ? QStringLiteral("\n... (%1 more bytes not shown)").arg(total - shown.size())
               : QString();
}

}  // namespace

QString hexDump(std::string_view bytes) {
    static const char digits[] = "0123456789abcdef";
    QString out;
    out.reserve(qsizetype(bytes.size() / 16 + 1) * 78);
    for (std::size_t line = 0; line < bytes.size(); line += 16) {
        out += QStringLiteral("%1  ").arg(line, 8, 16, QLatin1Char('0'));
        QString printable;
        for (std::size_t i = line; i < line + 16; ++i) {
            if (i < bytes.size()) {
                const auto b = static_cast<unsigned char>(bytes[i]);
                out += QLatin1Char(digits[b >> 4]);
                out += QLatin1Char(digits[b & 15]);
                out += QLatin1Char(' ');
                printable += b >= 0x20 && b < 0x7f ? QLatin1Char(char(b)) : QLatin1Char('.');
            } else {
                out += QLatin1String("   ");
            }
            if (i == line + 7) out += QLatin1Char(' ');
        }
        out += QStringLiteral(" |") + printable + QStringLiteral("|\n");
    }
    return out;
}

QString forViewer(FieldType type, std::string_view bytes, bool isNull) {
    if (isNull) return QStringLiteral("NULL");
    const std::size_t total = bytes.size();
    std::string_view shown = bytes.substr(0, kShownBytes);
    if (binaryType(type)) return hexDump(shown) + moreBytes(total, shown);
    // A text cut for the viewer ends before a character, never inside one.
    if (shown.size() < total) {
        while (!shown.empty() && (static_cast<unsigned char>(bytes[shown.size()]) & 0xC0) == 0x80)
            shown.remove_suffix(1);
    }
    // Text whose bytes are not UTF-8 is shown as bytes: a guess would show other characters.
    const std::optional<QString> text =
        files::fromUtf8Strict(QByteArrayView(shown.data(), qsizetype(shown.size())));
    if (!text) return hexDump(shown) + moreBytes(total, shown);
    const QString trimmed = text->trimmed();
    const bool looksLikeJson = !trimmed.isEmpty() && (trimmed.front() == u'{' || trimmed.front() == u'[');
    if (shown.size() == total && (type == FieldType::Json || looksLikeJson)) {
        QJsonParseError error;
        const QJsonDocument json = QJsonDocument::fromJson(
            QByteArray(shown.data(), qsizetype(shown.size())), &error);
        if (error.error == QJsonParseError::NoError && !json.isNull())
            return QString::fromUtf8(json.toJson(QJsonDocument::Indented));
    }
    return *text + moreBytes(total, shown);
}

}  // namespace valuetext
