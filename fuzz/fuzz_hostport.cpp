// The registry's host field: a valid result never carries a port outside 1..65535.
#include <cstdint>
#include <cstdlib>

#include "db/HostPort.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const db::HostPort hp = db::parseHostPort(
        QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size)));
    if (hp.valid && hp.port > 65535) std::abort();
    return 0;
}
