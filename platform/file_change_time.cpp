#include "platform/file_change_time.h"

#include <sys/stat.h>

#include <algorithm>

#include "platform/text.h"

namespace {

int64_t toTicks(const timespec& time) {
    return static_cast<int64_t>(time.tv_sec) * 10000000 + time.tv_nsec / 100;
}

}  // namespace

bool readFileChangeTicks(const std::wstring& path, int64_t& ticks) {
    struct stat st {};
    if (lstat(wideToUtf8(path).c_str(), &st) != 0) return false;
    ticks = std::max(toTicks(st.st_mtim), toTicks(st.st_ctim));
    return true;
}
