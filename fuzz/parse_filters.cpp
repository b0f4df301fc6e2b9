// Parses any text as the file dialog's filter text, then lists a few names
// through the parsed filters. Nothing may crash or hang.
#include <cstddef>
#include <cstdint>
#include <string>

#include "filedialog/file_filters.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    VFD::FilterManager manager;
    VFD::parseFilters(manager, text.c_str());
    for (const VFD::FilterInfos& filter : manager.filters) {
        if (filter.extensions.size() < filter.regexes.size()) __builtin_trap();
        for (const char* name : {"a.txt", "x.tar.gz", "noext", ".hidden", "report_2024.TXT",
                                 "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa!"}) {
            VFD::FileInfos entry;
            entry.fileName = name;
            VFD::setExtensionLevels(entry, filter.greatestDotCount);
            VFD::filterTakesEntry(filter, entry, true);
            VFD::filterTakesEntry(filter, entry, false);
        }
    }
    VFD::selectFilterForExtension(manager, ".txt");
    return 0;
}
