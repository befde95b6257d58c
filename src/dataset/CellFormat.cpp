#include "dataset/CellFormat.h"

#include <QBrush>

namespace {

// Cuts UTF-8 text for display without splitting a character.
QString cutText(std::string_view bytes) {
    if (bytes.size() <= std::size_t(CellFormat::kDisplayTextBytes))
        return QString::fromUtf8(bytes.data(), qsizetype(bytes.size()));
    std::size_t end = CellFormat::kDisplayTextBytes;
    while (end > 0 && (static_cast<unsigned char>(bytes[end]) & 0xC0) == 0x80) --end;
    return QString::fromUtf8(bytes.data(), qsizetype(end)) + QChar(0x2026);
}

}  // namespace

FieldType CellFormat::typeOf(const db::Column& column) { return db::classify(column); }

QString CellFormat::typeName(FieldType type) {
    switch (type) {
    case FieldType::Integer: return QStringLiteral("integer");
    case FieldType::Decimal: return QStringLiteral("decimal");
    case FieldType::Float: return QStringLiteral("float");
    case FieldType::Date: return QStringLiteral("date");
    case FieldType::Time: return QStringLiteral("time");
    case FieldType::DateTime: return QStringLiteral("datetime");
    case FieldType::Year: return QStringLiteral("year");
    case FieldType::Bit: return QStringLiteral("bit");
    case FieldType::String: return QStringLiteral("string");
    case FieldType::Text: return QStringLiteral("text");
    case FieldType::Json: return QStringLiteral("json");
    case FieldType::Binary: return QStringLiteral("binary");
    case FieldType::Geometry: return QStringLiteral("geometry");
    case FieldType::Unknown: break;
    }
    return QStringLiteral("unknown");
}

bool CellFormat::isNumeric(FieldType type) {
    switch (type) {
    case FieldType::Integer:
    case FieldType::Decimal:
    case FieldType::Float:
    case FieldType::Year:
    case FieldType::Bit:
        return true;
    default:
        return false;
    }
}

QString CellFormat::displayText(FieldType type, std::string_view bytes,
                                unsigned long definedLength) {
    switch (type) {
    case FieldType::Integer:
    case FieldType::Decimal:
    case FieldType::Float:
    case FieldType::Date:
    case FieldType::Time:
    case FieldType::DateTime:
    case FieldType::Year:
        // The server's own text: exact for BIGINT UNSIGNED and DECIMAL(65), and zero
        // dates stay visible instead of turning into NULL.
        return QString::fromLatin1(bytes.data(), qsizetype(bytes.size()));
    case FieldType::Bit:
        return bitLiteral(bytes, definedLength);
    case FieldType::Binary:
    case FieldType::Geometry:
        return hexPreview(bytes);
    case FieldType::String:
    case FieldType::Text:
    case FieldType::Json:
    case FieldType::Unknown:
        break;
    }
    return cutText(bytes);
}

QString CellFormat::hexPreview(std::string_view bytes) {
    if (bytes.empty()) return {};
    const std::size_t shown = std::min(bytes.size(), std::size_t(kPreviewBytes));
    const QByteArray hex = QByteArray(bytes.data(), qsizetype(shown)).toHex().toUpper();
    QString text = QStringLiteral("0x") + QString::fromLatin1(hex);
    if (shown < bytes.size()) text += QChar(0x2026);
    text += bytes.size() == 1 ? QStringLiteral(" (1 byte)")
                              : QStringLiteral(" (%1 bytes)").arg(bytes.size());
    return text;
}

QString CellFormat::bitLiteral(std::string_view bytes, unsigned long bits) {
    // The server sends BIT(M) as big-endian bytes; show the M low bits.
    QString digits;
    digits.reserve(qsizetype(bytes.size() * 8));
    for (char byte : bytes)
        for (int bit = 7; bit >= 0; --bit)
            digits += (static_cast<unsigned char>(byte) >> bit) & 1 ? u'1' : u'0';
    if (bits > 0 && bits < static_cast<unsigned long>(digits.size()))
        digits = digits.right(qsizetype(bits));
    return QStringLiteral("b'") + digits + u'\'';
}

std::vector<FieldDef> fieldDefsOf(const std::vector<db::Column>& columns) {
    std::vector<FieldDef> fields;
    fields.reserve(columns.size());
    for (std::size_t i = 0; i < columns.size(); ++i) {
        const db::Column& column = columns[i];
        fields.push_back({QString::fromUtf8(column.name.data(), qsizetype(column.name.size())),
                          CellFormat::typeOf(column), column.length, int(i) + 1});
    }
    return fields;
}

QVariant cellRoleData(const FieldDef& field, const db::Value& value, int role, int isNullRole) {
    if (role == isNullRole) return value.isNull();
    switch (role) {
    case Qt::DisplayRole:
        if (value.isNull()) return QStringLiteral("NULL");
        return CellFormat::displayText(field.type, value.view(), field.size);
    case Qt::TextAlignmentRole:
        if (CellFormat::isNumeric(field.type)) return (Qt::AlignRight | Qt::AlignVCenter).toInt();
        return {};
    case Qt::ForegroundRole:
        if (value.isNull()) return QBrush(Qt::gray);
        return {};
    case Qt::ToolTipRole: {
        if (value.isNull()) return QStringLiteral("NULL");
        QString text = CellFormat::displayText(field.type, value.view(), field.size);
        if (text.size() > kToolTipChars) text = text.left(kToolTipChars) + QStringLiteral("…");
        return text;
    }
    default:
        return {};
    }
}

