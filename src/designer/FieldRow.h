#pragma once

#include <QString>

// One row of the designer's grid, column by column.
struct FieldRow {
    QString key;            // "Index Key": "PRI", or the server's other key texts when loaded
    QString field;          // "Field"
    QString type;           // "Type": the type name, with modifiers such as "unsigned"
    QString size;           // "Size": length or precision of a type that takes one
    QString defaultValue;   // "Default"
    QString null;           // "Null": "YES" when NULL is allowed
    QString autoIncrement;  // "Auto Increment": "YES"
    // Not shown: the arguments of a loaded type whose Size the designer does not edit
    // ("'a','b'" of an enum, "6" of datetime(6)), kept while the type stays the same so that
    // changing another part of the column does not lose them.
    QString typeArgs;

    bool isPrimary() const { return key == QLatin1String("PRI"); }
    bool allowsNull() const { return null.trimmed() == QLatin1String("YES"); }
    bool isAutoIncrement() const { return autoIncrement.trimmed() == QLatin1String("YES"); }
};
