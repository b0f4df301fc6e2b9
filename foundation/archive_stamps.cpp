#include "foundation/archive_stamps.h"

#include <algorithm>

#include "foundation/global_defaults.h"

namespace {

bool isDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }

// 0 for no stamp, 1 for a number, 2 for a time stamp.
int stampKind(std::wstring_view stamp) {
    if (stamp.empty()) return 0;
    return isVersionNumberStamp(stamp) ? 1 : 2;
}

}  // namespace

bool isVersionNumberStamp(std::wstring_view stamp) {
    // Zero-filled to four digits, never further: "00042" is no number of ours.
    if (stamp.size() < 4 || (stamp.size() > 4 && stamp.front() == L'0')) return false;
    return std::all_of(stamp.begin(), stamp.end(), isDigit);
}

bool isArchiveTimeStamp(std::wstring_view stamp) {
    // "yyyy_mm_dd_hh_mm_ss.mmm", the hour filled with a blank.
    constexpr std::wstring_view kPattern = L"dddd_dd_dd_hd_dd_dd.ddd";
    if (stamp.size() != kPattern.size()) return false;
    for (size_t i = 0; i < stamp.size(); ++i) {
        const wchar_t want = kPattern[i];
        const bool ok = want == L'd'   ? isDigit(stamp[i])
                        : want == L'h' ? isDigit(stamp[i]) || stamp[i] == L' '
                                       : stamp[i] == want;
        if (!ok) return false;
    }
    return true;
}

ArchiveNameParts splitArchiveName(std::wstring_view fileName) {
    ArchiveNameParts parts;
    const size_t dot = fileName.rfind(L'.');
    if (dot != std::wstring_view::npos) {
        const std::wstring_view head = fileName.substr(0, dot);
        const size_t cut = head.rfind(kArchiveNameSeparator);
        if (cut != std::wstring_view::npos) {
            const std::wstring_view stamp = head.substr(cut + kArchiveNameSeparator.size());
            if (isVersionNumberStamp(stamp) || isArchiveTimeStamp(stamp)) {
                parts.base = head.substr(0, cut);
                parts.stamp = stamp;
                parts.extension = fileName.substr(dot + 1);
                // The "." before an empty extension is the version's, not the name's.
                parts.plainName = parts.extension.empty() ? parts.base : parts.base + L"." + parts.extension;
                return parts;
            }
        }
    }
    parts.base = fileName.substr(0, dot);
    parts.extension = dot == std::wstring_view::npos ? std::wstring_view() : fileName.substr(dot + 1);
    parts.plainName = fileName;
    return parts;
}

bool isArchiveStampBefore(std::wstring_view a, std::wstring_view b) {
    const int kindA = stampKind(a), kindB = stampKind(b);
    if (kindA != kindB) return kindA < kindB;
    // Numbers without leading zeros past four digits: the longer is the greater.
    if (kindA == 1 && a.size() != b.size()) return a.size() < b.size();
    return a < b;
}
