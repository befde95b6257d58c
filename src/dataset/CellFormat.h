#pragma once

#include <QString>
#include <QVariant>
#include <vector>

#include "db/ColumnType.h"
#include "db/Result.h"

// How a result column is presented: the one classification of result columns.
using FieldType = db::ColumnKind;

struct FieldDef {
    QString name;
    FieldType type = FieldType::Unknown;
    unsigned long size = 0;  // the column's defined length as the server reports it
    int fieldNo = 0;         // 1-based position in the result
};

// Column classification and the text a grid shows for a cell. No widget code, so the
// rules can be checked without a view.
class CellFormat {
public:
    // A hex preview shows this many leading bytes.
    static constexpr int kPreviewBytes = 16;
    // Longer texts are cut (at a character boundary) for display; the raw bytes stay whole.
    static constexpr int kDisplayTextBytes = 4096;

    static FieldType typeOf(const db::Column& column);
    static QString typeName(FieldType type);
    // Numbers are right-aligned in a grid.
    static bool isNumeric(FieldType type);
    // Display text of a non-NULL value. `definedLength` is the column's length (the bit
    // count of a BIT column).
    static QString displayText(FieldType type, std::string_view bytes,
                               unsigned long definedLength);
    // "0x00FF10… (300 bytes)"
    static QString hexPreview(std::string_view bytes);
    // b'00000101', padded to the column's bit count.
    static QString bitLiteral(std::string_view bytes, unsigned long bits);
};

// One FieldDef for each column of a result, in its order.
std::vector<FieldDef> fieldDefsOf(const std::vector<db::Column>& columns);

// What a grid shows of one cell for a model role: the display text ("NULL" for NULL, shown
// in grey), numbers right-aligned, a tool tip of at most kToolTipChars characters, and
// `isNullRole` telling NULL from the text "NULL". A tool tip is cut where no tool tip
// could show more.
QVariant cellRoleData(const FieldDef& field, const db::Value& value, int role, int isNullRole);
inline constexpr int kToolTipChars = 1000;

