#pragma once

#include <QString>
#include <QStringList>

// Lists kept in one text value, in the comma-text form of the classic Delphi TStrings.
namespace commatext {

// Items are separated by commas or by characters up to and including the blank; an item in
// double quotes may hold both, with "" standing for one quote. A comma that ends the text
// adds an empty last item, so "a,b," reads as a, b and an empty item.
QStringList split(const QString& text);

// Each item followed by a comma ("a,b,"); an item that split() would break up or change is
// written in double quotes. An empty list gives an empty text.
QString joinWithTrailingCommas(const QStringList& items);

}  // namespace commatext
