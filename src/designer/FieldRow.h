#pragma once

#include <QMetaType>
#include <QString>
#include <optional>
#include <string>

// What the server holds of a loaded column beyond the grid's cells. An alteration built from
// the grid alone would drop it: a comment, ON UPDATE, the column's own character set and
// collation (a latin1_bin column would turn into the table's default, its data converted),
// and a default the grid cannot tell from none (DEFAULT '').
struct KeptColumn {
    QString type;         // the Type cell as loaded, to tell whether the type changed
    QString defaultText;  // the Default cell as loaded, to tell whether it was edited
    std::optional<std::string> defaultSql;  // the default as SQL; none when it has none
    QString charset;
    QString collation;
    QString onUpdate;  // the expression after ON UPDATE
    QString comment;
    // A generated column: its expression and how it is kept (VIRTUAL, STORED, PERSISTENT).
    // Without them an alteration would turn the column into a plain one.
    QString generation;
    QString generationKind;
};
Q_DECLARE_METATYPE(KeptColumn)

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
    // Of a loaded column only: what an alteration carries over (see KeptColumn).
    std::optional<KeptColumn> kept;

    bool isPrimary() const { return key == QLatin1String("PRI"); }
    bool allowsNull() const { return null.trimmed() == QLatin1String("YES"); }
    bool isAutoIncrement() const { return autoIncrement.trimmed() == QLatin1String("YES"); }
};
