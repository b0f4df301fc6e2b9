#include "foundation/app_version.h"

#include <vector>

namespace {

bool isTrimmable(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::vector<std::string_view> versionGroups(std::string_view text) {
    std::vector<std::string_view> groups;
    size_t first = 0;
    for (;;) {
        const size_t dot = text.find('.', first);
        groups.push_back(text.substr(first, dot == std::string_view::npos ? std::string_view::npos : dot - first));
        if (dot == std::string_view::npos) return groups;
        first = dot + 1;
    }
}

std::string_view withoutLeadingZeros(std::string_view digits) {
    while (!digits.empty() && digits.front() == '0') digits.remove_prefix(1);
    return digits;
}

int compareNumbers(std::string_view a, std::string_view b) {
    a = withoutLeadingZeros(a);
    b = withoutLeadingZeros(b);
    if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
    const int order = a.compare(b);
    return order < 0 ? -1 : (order > 0 ? 1 : 0);
}

}  // namespace

std::string trimVersionText(std::string_view text) {
    while (!text.empty() && isTrimmable(text.front())) text.remove_prefix(1);
    while (!text.empty() && isTrimmable(text.back())) text.remove_suffix(1);
    return std::string(text);
}

bool isVersionText(std::string_view text) {
    if (text.empty() || text.size() > kMaxVersionTextLength) return false;
    for (const std::string_view group : versionGroups(text)) {
        if (group.empty()) return false;
        for (const char c : group)
            if (c < '0' || c > '9') return false;
    }
    return true;
}

int compareVersions(std::string_view a, std::string_view b) {
    const std::vector<std::string_view> left = versionGroups(a), right = versionGroups(b);
    for (size_t i = 0; i < left.size() || i < right.size(); ++i) {
        const int order = compareNumbers(i < left.size() ? left[i] : "0", i < right.size() ? right[i] : "0");
        if (order != 0) return order;
    }
    return 0;
}

bool isNewerVersion(std::string_view own, std::string_view other) {
    const std::string mine = trimVersionText(own), theirs = trimVersionText(other);
    return isVersionText(mine) && isVersionText(theirs) && compareVersions(mine, theirs) < 0;
}
