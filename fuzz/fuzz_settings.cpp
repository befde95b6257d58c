// The settings file: any bytes parse into lines and sections whose indexes stay in range.
#include <cstdint>
#include <cstdlib>

#include "app/IniFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const IniFile::Document doc =
        IniFile::parse(QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)));
    for (const IniFile::Section& section : doc.sections) {
        if (section.line < 0 || section.line >= doc.lines.size()) std::abort();
        if (section.lastLine < section.line || section.lastLine >= doc.lines.size()) std::abort();
        for (const IniFile::Key& key : section.keys)
            if (key.line <= section.line || key.line > section.lastLine) std::abort();
    }
    return 0;
}
