#pragma once

#include <QString>
#include <QStringList>

#include "dataset/TableShape.h"

// What a grid's editor may send for a column, checked before anything is sent: numbers as
// numbers, dates and times in the forms the server reads, JSON that parses, ENUM and SET
// members of the column. The server still has the last word; this catches typing slips.
namespace valuecheck {

// The members of an ENUM or SET column ("enum('a','it''s')" -> a, it's); empty for others.
QStringList members(const QString& columnType);
bool isEnum(const TableColumn& column);
bool isSet(const TableColumn& column);
// Long text is edited in a multi-line editor.
bool isLongText(const TableColumn& column);
// Why `text` cannot be the column's value; empty when it can. `json`: the server marks the
// column as JSON (MariaDB's JSON is LONGTEXT with a check).
QString problem(const TableColumn& column, const QString& text, bool json = false);

}  // namespace valuecheck
