#pragma once

#include <QString>
#include <string_view>

#include "dataset/CellFormat.h"

// The whole of one cell as the value viewer shows it: text as it is, JSON indented, binary
// values as a hex dump with offsets and printable characters. No widget code.
namespace valuetext {

// The viewer shows at most this many bytes of a value, and says how many more there are.
inline constexpr std::size_t kShownBytes = 1 << 20;

QString forViewer(FieldType type, std::string_view bytes, bool isNull);
// "00000000  48 65 6c 6c 6f  |Hello|", sixteen bytes a line.
QString hexDump(std::string_view bytes);

}  // namespace valuetext
