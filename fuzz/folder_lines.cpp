// Lines of the watch-folder list ("fi").
#include "fuzz/user_list_lines.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzUserList(data, size, "fi", kRecordWideText);
    return 0;
}
