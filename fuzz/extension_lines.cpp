// Lines of the extension list ("ei").
#include "fuzz/user_list_lines.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzUserList(data, size, "ei", kRecordWideText);
    return 0;
}
