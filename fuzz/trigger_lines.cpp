// Schedule trigger records of a watch folder (base64 of 48 bytes).
#include "fuzz/user_list_lines.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzUserList(data, size, scheduleEntryName(L"/fuzz/folder"), kRecordNarrowText);
    return 0;
}
