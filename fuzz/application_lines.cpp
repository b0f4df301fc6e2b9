// Lines of the application list ("ai").
#include "fuzz/user_list_lines.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzUserList(data, size, "ai", kRecordWideText);
    return 0;
}
