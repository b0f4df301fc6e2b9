#include "foundation/archive_names.h"

#include <cstdint>

#include "foundation/archive_stamps.h"
#include "foundation/global_defaults.h"
#include "platform/file_system.h"
#include "platform/paths.h"
#include "platform/text.h"

namespace {

// Room kept for " ~ " and the longest stamp: a time stamp
// ("2024_05_06_ 7_08_09.123") is 23 bytes, a version number at most 20.
constexpr size_t kStampRoomBytes = 3 + 23;
constexpr size_t kHashMarkBytes = 9;  // "~" and eight hex digits

size_t utf8Bytes(const std::wstring& text) { return wideToUtf8(text).size(); }

std::wstring hashText(const std::wstring& base) {
    uint32_t hash = 2166136261u;  // FNV-1a over the UTF-8 bytes
    for (const unsigned char byte : wideToUtf8(base)) hash = (hash ^ byte) * 16777619u;
    static const wchar_t digits[] = L"0123456789abcdef";
    std::wstring text = L"~";
    for (int shift = 28; shift >= 0; shift -= 4) text += digits[(hash >> shift) & 15];
    return text;
}

bool isLongName(const std::wstring& base, const std::wstring& extension) {
    return utf8Bytes(base) + kStampRoomBytes + 1 + utf8Bytes(extension) > kArchiveNameMaxBytes;
}

bool isHashMark(const std::wstring& base) {
    if (base.size() < kHashMarkBytes || base[base.size() - kHashMarkBytes] != L'~') return false;
    for (size_t i = base.size() - kHashMarkBytes + 1; i < base.size(); ++i)
        if (!((base[i] >= L'0' && base[i] <= L'9') || (base[i] >= L'a' && base[i] <= L'f'))) return false;
    return true;
}

bool readsAsVersion(const std::wstring& name) { return !splitArchiveName(name).stamp.empty(); }

}  // namespace

void splitOwnName(const std::wstring& name, std::wstring& base, std::wstring& extension) {
    const size_t dot = name.rfind(L'.');
    const bool whole = dot == std::wstring::npos || dot + 1 == name.size();
    base = whole ? name : name.substr(0, dot);
    extension = whole ? std::wstring() : name.substr(dot + 1);
}

std::wstring firstCopyName(const std::wstring& name) {
    if (!readsAsVersion(name)) return name;
    std::wstring base, extension;
    splitOwnName(name, base, extension);
    return archiveVersionName(base, L"0000", extension);
}

std::wstring shortenedArchiveBase(const std::wstring& base, const std::wstring& extension) {
    if (!isLongName(base, extension)) return L"";
    const size_t fixed = kStampRoomBytes + 1 + utf8Bytes(extension) + kHashMarkBytes;
    if (fixed >= kArchiveNameMaxBytes) return L"";
    const size_t budget = kArchiveNameMaxBytes - fixed;
    // Whole characters only: a character's bytes are never split.
    size_t used = 0, kept = 0;
    for (; kept < base.size(); ++kept) {
        const size_t bytes = utf8Bytes(base.substr(kept, 1));
        if (used + bytes > budget) break;
        used += bytes;
    }
    return base.substr(0, kept) + hashText(base);
}

std::wstring archiveVersionName(const std::wstring& base, const std::wstring& stamp, const std::wstring& extension) {
    const std::wstring tail = std::wstring(kArchiveNameSeparator) + stamp + L"." + extension;
    const std::wstring name = base + tail;
    if (utf8Bytes(name) <= kArchiveNameMaxBytes) return name;
    const std::wstring shortened = shortenedArchiveBase(base, extension);
    return shortened.empty() ? name : shortened + tail;
}

std::wstring archiveGroupName(const std::wstring& plainName) {
    std::wstring base, extension;
    splitOwnName(plainName, base, extension);
    const std::wstring shortened = shortenedArchiveBase(base, extension);
    return shortened.empty() ? plainName : shortened + plainName.substr(base.size());
}

bool isShortenedPlainName(const std::wstring& plainName) {
    std::wstring base, extension;
    splitOwnName(plainName, base, extension);
    return isHashMark(base);
}

std::wstring longPlainName(const std::wstring& plainName, const std::vector<std::wstring>& folders) {
    if (!isShortenedPlainName(plainName)) return plainName;
    std::vector<FolderEntry> entries;
    for (const std::wstring& folder : folders) {
        entries.clear();
        listFolderEntries(folder, entries);
        for (const FolderEntry& entry : entries) {
            if (entry.isFolder) continue;
            // A source folder lists own names, also those that read as versions.
            for (const std::wstring& name : {entry.name, splitArchiveName(entry.name).plainName})
                if (name != plainName && archiveGroupName(name) == plainName) return name;
        }
    }
    return plainName;
}
