// Saved expansion lists: whatever split() reads, writing it back and reading again gives the
// same items.
#include <cstdint>
#include <cstdlib>

#include "app/CommaText.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString text =
        QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    const QStringList items = commatext::split(text);
    if (items.isEmpty()) return 0;
    // A final empty item is how a trailing comma reads; the writer never produces it alone.
    QStringList kept = items;
    if (kept.last().isEmpty()) kept.removeLast();
    if (kept.isEmpty()) return 0;
    QStringList again = commatext::split(commatext::joinWithTrailingCommas(kept));
    if (!again.isEmpty() && again.last().isEmpty()) again.removeLast();
    if (again != kept) std::abort();
    return 0;
}
