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

size_t fixedVersionBytes(const std::wstring& extension) {
    return kStampRoomBytes + 1 + utf8Bytes(extension) + kHashMarkBytes;
}

// A name cut at its last "."; without one, or ending in one, the whole name
// is the base: "notes." has the versions "notes. ~ 0001.", which read back
// as its own, while "notes ~ 0001." is a version of "notes" (on Linux a
// second file).
void splitAtLastDot(const std::wstring& name, std::wstring& base, std::wstring& extension) {
    const size_t dot = name.rfind(L'.');
    const bool whole = dot == std::wstring::npos || dot + 1 == name.size();
    base = whole ? name : name.substr(0, dot);
    extension = whole ? std::wstring() : name.substr(dot + 1);
}

// The base and extension a long name's shortened versions keep. An extension
// that alone leaves no room for a stamp and the hash mark (a hidden ".hhh…",
// "a.eee…" of 255 bytes) is not kept apart: the whole name is the base, so
// such versions are "shortened~hash ~ 0001." and fit.
void splitOwnName(const std::wstring& name, std::wstring& base, std::wstring& extension) {
    splitAtLastDot(name, base, extension);
    if (isLongName(base, extension) && fixedVersionBytes(extension) >= kArchiveNameMaxBytes) {
        base = name;
        extension.clear();
    }
}

// The short base the versions of a long name take; "" for a name whose
// versions always fit.
std::wstring shortenedArchiveBase(const std::wstring& base, const std::wstring& extension) {
    if (!isLongName(base, extension)) return L"";
    const size_t fixed = fixedVersionBytes(extension);
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

std::wstring stampedName(const std::wstring& base, const std::wstring& stamp, const std::wstring& extension) {
    return base + std::wstring(kArchiveNameSeparator) + stamp + L"." + extension;
}

}  // namespace

std::wstring archiveVersionName(const std::wstring& name, const std::wstring& stamp) {
    // Where it fits, the name is cut at its last "." as versions always were.
    std::wstring base, extension;
    splitAtLastDot(name, base, extension);
    const std::wstring version = stampedName(base, stamp, extension);
    if (utf8Bytes(version) <= kArchiveNameMaxBytes) return version;
    splitOwnName(name, base, extension);
    const std::wstring shortened = shortenedArchiveBase(base, extension);
    return shortened.empty() ? version : stampedName(shortened, stamp, extension);
}

std::wstring firstCopyName(const std::wstring& name) {
    return readsAsVersion(name) ? archiveVersionName(name, L"0000") : name;
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
    // The group of a long name kept whole ends in the hash mark, wherever
    // its dots lie.
    return isHashMark(base) || isHashMark(plainName);
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
