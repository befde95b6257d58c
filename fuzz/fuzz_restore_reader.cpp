// Restore input: any bytes cut into statements without crashing; statements and the
// leftover together never exceed the input.
#include <QBuffer>
#include <cstdint>
#include <cstdlib>

#include "dump/StatementReader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    dump::StatementReader reader(buffer);
    std::string_view statement;
    size_t total = 0;
    while (reader.next(statement)) total += statement.size();
    if (total + reader.leftover().size() > size) std::abort();
    return 0;
}
