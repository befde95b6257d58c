// The server registry file: any bytes parse to records or to "does not parse", never crash.
#include <cstdint>

#include "registry/ServerRegistry.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The XML parser slows down quadratically on deep nesting; a registry is a few KB.
    if (size > 64 * 1024) return 0;
    const auto records =
        parseRegistryText(QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)));
    if (records) {
        for (const RegistryRecord& r : *records) (void)r.entry.IP.size();
    }
    return 0;
}
