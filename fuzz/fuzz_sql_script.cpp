#include <cstdint>
#include <cstdlib>

#include "FuzzChecks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (!fuzzcheck::sqlScript(QByteArray(reinterpret_cast<const char*>(data), qsizetype(size))))
        std::abort();
    return 0;
}
