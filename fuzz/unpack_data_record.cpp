// Unpacks any text as a data file, with and without a pass phrase. Whatever
// reads must pack again and read back.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "foundation/data_packet.h"

namespace {

void unpackAndRepack(std::string_view text, std::string_view passPhrase) {
    DataRecord document;
    addRecordSection(document, "s");
    RecordSectionHandle section = getRecordSection(document, "s");
    if (!unpackDataRecord(section, text, passPhrase)) return;
    std::string packed;
    if (!packDataRecord(section, passPhrase, packed)) __builtin_trap();  // parsed values always fit
    const std::string image = serializeRecordSection(section);
    addRecordSection(document, "back");
    RecordSectionHandle back = getRecordSection(document, "back");
    if (!image.empty() && !unpackDataRecord(back, packed, passPhrase)) __builtin_trap();
    // Also read the text as a bare section image.
    parseRecordSection(back, text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    unpackAndRepack(text, kDataFilePassPhrase);
    unpackAndRepack(text, "");
    return 0;
}
