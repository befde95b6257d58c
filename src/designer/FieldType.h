#pragma once

#include <QString>
#include <QStringList>

// What the designer needs to know about a column type name.
struct FieldType {
    // The type takes a length or precision in the Size column (int(11), decimal(10,2)).
    bool takesLength = false;
    // A character type (char, varchar).
    bool isCharacter = false;
    // The default is a string and is written as a quoted value whatever it looks like: the
    // character types, enum, set, binary and varbinary. The server shows these defaults
    // unquoted, so a value that looks like a number or a keyword ("1e3", "null") is still
    // text.
    bool quotedDefault = false;
    // A column of the type has a character set and collation (the character and text
    // types, enum, set).
    bool takesCharset = false;
    // A column of the type takes ON UPDATE (timestamp, datetime).
    bool takesOnUpdate = false;
};

// Classifies a type name by its first word, ignoring case ("int unsigned" is an int). Only
// the eleven integer, fixed-point, float and character types take a length; "real" and
// "double" do not.
FieldType ClassifyType(const QString& typeName);

// The 26 entries of the Type box, in their order. The last one is "set " with its blank.
const QStringList& FieldTypeNames();

// The first word of a type text ("int" for "int unsigned"), and what follows it, trimmed.
QString typeBase(const QString& typeText);
QString typeModifiers(const QString& typeText);
