#include "foundation/watch_folders.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>

#include "foundation/app_log.h"
#include "platform/file_system.h"
#include "platform/folder_walk.h"
#include "platform/paths.h"
#include "platform/text.h"

std::map<std::wstring, WatchFolderEntry> watchFolderMap;
std::map<std::wstring, WatchFolderEntry> defaultFolderMap;
std::mutex watchFolderMutex;
std::map<std::wstring, ExtensionEntry> extensionMap;
std::map<std::wstring, ExtensionEntry> defaultExtensionMap;
std::mutex extensionMapMutex;
std::atomic<bool> configurationSaved{false};
std::atomic<bool> extensionListReady{true};

uint64_t newScheduleTriggerId() {
    static std::atomic<uint64_t> lastId{0};
    return ++lastId;
}

namespace {

uint64_t nowTicks() {
    using namespace std::chrono;
    return static_cast<uint64_t>(duration_cast<nanoseconds>(system_clock::now().time_since_epoch()).count() / 100);
}

WatchFolderEntry* findFolder(const std::wstring& key) {
    auto it = watchFolderMap.find(key);
    return it == watchFolderMap.end() ? nullptr : &it->second;
}

std::wstring trimmedKey(const std::wstring& path) { return withoutTrailingSeparators(pathKey(path)); }

bool isWatchedEntry(const WatchFolderEntry& entry) { return !entry.removed && isWatchedFolderType(entry.folderType); }

// The entry whose folder holds the path most deeply, in either folder map. A
// Folder entry holds only its own files: the files of its sub-folders belong
// to a Folder & Descendents entry around it.
const WatchFolderEntry* deepestFolderEntry(const std::wstring& key, std::wstring& folder) {
    const WatchFolderEntry* best = nullptr;
    for (const auto* map : {&defaultFolderMap, &watchFolderMap}) {
        for (const auto& [folderKey, entry] : *map) {
            const std::wstring trimmed = withoutTrailingSeparators(folderKey);
            if (trimmed == key || !pathIsInside(key, trimmed)) continue;
            if (entry.folderType == kFolderTypeFolder && parentFolder(key) != trimmed) continue;
            if (best && trimmed.size() < withoutTrailingSeparators(folder).size()) continue;
            best = &entry;
            folder = folderKey;
        }
    }
    return best;
}

// One of the two folders holds the other (or they are the same).
bool foldersOverlap(const std::wstring& a, const std::wstring& b) {
    return !a.empty() && !b.empty() && (pathIsInside(a, b) || pathIsInside(b, a));
}

}  // namespace

std::wstring expandEnvironmentPlaceholders(const std::wstring& text) {
    std::wstring out;
    size_t pos = 0;
    while (pos < text.size()) {
        const size_t open = text.find(L"{{", pos);
        const size_t close = open == std::wstring::npos ? open : text.find(L"}}", open + 2);
        if (close == std::wstring::npos) break;
        out += text.substr(pos, open - pos);
        const std::string name = wideToUtf8(text.substr(open + 2, close - open - 2));
        const char* value = std::getenv(name.c_str());
        out += value && *value ? utf8ToWide(value) : L"?";  // empty counts as unset
        pos = close + 2;
    }
    out += text.substr(pos);
    return out;
}

WatchFolderEntry::WatchFolderEntry() : createdTicks(nowTicks()), changedTicks(createdTicks) {}

std::wstring lowerCaseText(std::wstring text) {
    for (wchar_t& c : text)
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
    return text;
}

std::wstring archiveLocationConflictLocked(const std::wstring& folderPath, const std::wstring& archiveFolder) {
    const std::wstring folder = trimmedKey(folderPath);
    const std::wstring archive = trimmedKey(archiveFolder);
    if (isAbsolutePath(archive) && foldersOverlap(archive, folder)) return folder;
    for (const auto& [key, entry] : watchFolderMap) {
        const std::wstring other = trimmedKey(key);
        if (other == folder || !isWatchedEntry(entry)) continue;
        if (isAbsolutePath(archive) && foldersOverlap(archive, other)) return other;
        const std::wstring otherArchive = trimmedKey(entry.archivePath);
        if (isAbsolutePath(otherArchive) && foldersOverlap(folder, otherArchive)) return other;
    }
    return L"";
}

bool isInsideListedWatchFolder(const std::wstring& path) {
    const std::wstring key = trimmedKey(path);
    std::lock_guard lock(watchFolderMutex);
    for (const auto& [folder, entry] : watchFolderMap) {
        if (!entry.removed && entry.folderType != kFolderTypeExclude && pathIsInside(key, trimmedKey(folder)))
            return true;
    }
    return false;
}

std::wstring archiveLocationConflict(const std::wstring& folderPath, const std::wstring& archiveFolder) {
    std::lock_guard lock(watchFolderMutex);
    return archiveLocationConflictLocked(folderPath, archiveFolder);
}

bool archiveBelongsToOtherFolder(const std::wstring& folderPath, const std::wstring& archiveFolder) {
    const std::wstring folder = trimmedKey(folderPath);
    const std::wstring archive = trimmedKey(archiveFolder);
    std::lock_guard lock(watchFolderMutex);
    for (const auto& [key, entry] : watchFolderMap) {
        if (trimmedKey(key) == folder) continue;
        const std::wstring otherArchive = trimmedKey(entry.archivePath);
        if (isAbsolutePath(otherArchive) && foldersOverlap(archive, otherArchive)) return true;
    }
    return false;
}

bool isArchiveFolderNameOf(const std::wstring& component, const std::wstring& name) {
    if (component == name) return true;
    if (component.size() < name.size() + 3 || component.compare(0, name.size(), name) != 0) return false;
    if (component[name.size()] != L'(' || component.back() != L')') return false;
    const std::wstring digits = component.substr(name.size() + 1, component.size() - name.size() - 2);
    return std::all_of(digits.begin(), digits.end(), [](wchar_t c) { return c >= L'0' && c <= L'9'; });
}

std::wstring uniqueArchiveFolder(const std::wstring& folderPath, const std::wstring& base) {
    constexpr int kMostNumbers = 1000;
    const std::wstring name = lastPathComponent(pathKey(folderPath));
    if (name.empty() || base.empty()) return L"";
    for (int number = 0; number < kMostNumbers; ++number) {
        const std::wstring suffix = number == 0 ? L"" : L"(" + std::to_wstring(number) + L")";
        const std::wstring candidate = joinPath(base, name + suffix);
        if (!archiveBelongsToOtherFolder(folderPath, candidate)) return candidate;
    }
    return L"";
}

bool updateWatchFolderList(const std::wstring& path, const WatchFolderEntry& entry, bool secondMap) {
    const std::wstring key = pathKey(path);
    const std::wstring name = lastPathComponent(key);
    std::unique_lock lock(watchFolderMutex);
    auto& target = secondMap ? defaultFolderMap : watchFolderMap;
    if (auto it = target.find(key); it != target.end()) {
        if (it->second.removed) {
            it->second.removed = false;
            configurationSaved = false;
            return true;
        }
        it->second.selected = false;
        configurationSaved = false;
        return false;
    }
    WatchFolderEntry copy = entry;
    copy.displayName = lastPathComponent(path);
    size_t sameName = 0;
    for (const auto& [otherKey, other] : target)
        if (lastPathComponent(otherKey) == name) ++sameName;
    if (sameName > 0) copy.displayName += L"(" + std::to_wstring(sameName) + L")";
    copy.archivePath = expandEnvironmentPlaceholders(entry.archivePath);
    copy.selected = false;
    copy.removed = false;
    std::wstring conflict;
    if (!secondMap && isWatchedEntry(copy)) conflict = archiveLocationConflictLocked(key, copy.archivePath);
    if (!conflict.empty()) copy.folderType = kFolderTypeDisable;
    target.emplace(key, std::move(copy));
    configurationSaved = false;
    lock.unlock();
    if (!conflict.empty())
        appendAppLogEntry(L"Watch folder disabled, its archive and a watch folder overlap: " + path + L" (archive " +
                              entry.archivePath + L", watch folder " + conflict + L")",
                          4, false);
    return true;
}

uint32_t getWatchFolderProblems(const std::wstring& path) {
    const std::wstring key = pathKey(path);
    std::lock_guard lock(watchFolderMutex);
    if (const WatchFolderEntry* entry = findFolder(key)) return entry->problemFlags;
    // A path inside a watch folder reports that folder; the deepest one wins.
    const WatchFolderEntry* best = nullptr;
    size_t bestLength = 0;
    for (const auto& [folder, entry] : watchFolderMap) {
        if (folder.size() > bestLength && pathIsInside(key, folder)) {
            best = &entry;
            bestLength = folder.size();
        }
    }
    return best ? best->problemFlags : 0;
}

bool setExtensionEntry(const std::wstring& extension, const std::wstring& text, bool defaultMap) {
    std::lock_guard lock(extensionMapMutex);
    auto& target = defaultMap ? defaultExtensionMap : extensionMap;
    const std::wstring key = lowerCaseText(extension);
    if (auto it = target.find(key); it != target.end())
        it->second.text = text;
    else
        target.emplace(key, ExtensionEntry{text, true, false});
    return true;
}

bool addWatchFolderExtension(const std::wstring& folderKey, const std::wstring& extension) {
    std::lock_guard lock(watchFolderMutex);
    WatchFolderEntry* entry = findFolder(pathKey(folderKey));
    if (!entry) return false;
    entry->extensionMap.emplace(lowerCaseText(extension), ExtensionEntry{L"", true, true});
    return true;
}

bool isFileExtensionIncluded(const std::wstring& folderKey, const std::wstring& fileName) {
    // Extensions are folded (unlike paths), so report.PDF counts as pdf.
    const std::wstring name = lastPathComponent(fileName);
    const size_t dot = name.rfind(L'.');
    const std::wstring extension = dot == std::wstring::npos ? L"" : lowerCaseText(name.substr(dot + 1));
    std::lock_guard lock(watchFolderMutex);
    const WatchFolderEntry* entry = findFolder(folderKey);
    if (!entry) return false;
    if (auto it = entry->extensionMap.find(extension); it != entry->extensionMap.end()) return it->second.included;
    if (auto it = entry->extensionMap.find(L"*"); it != entry->extensionMap.end()) return it->second.included;
    return false;
}

bool collectFolderExtensions(WatchFolderEntry& entry, const std::wstring& folder, bool recursive) {
    const uint32_t attributes = readFileAttributes(folder);
    if (attributes == kInvalidFileAttributes || !(attributes & kFileAttributeDirectory)) return false;
    walkFolderFiles(folder, recursive, enterEveryFolder, [&entry](const std::wstring& path) {
        const std::wstring name = lastPathComponent(path);
        const size_t dot = name.rfind(L'.');
        if (dot == std::wstring::npos) return WalkStep::Go;
        const std::wstring extension = lowerCaseText(name.substr(dot + 1));
        setExtensionEntry(extension, L"", false);
        entry.extensionMap.emplace(extension, ExtensionEntry{extension, true, false});
        return WalkStep::Go;
    });
    return true;
}

void scanWatchFolderExtensions(const std::wstring& folderKey, bool recursive) {
    const std::wstring key = pathKey(folderKey);
    {
        std::lock_guard lock(watchFolderMutex);
        if (!findFolder(key)) return;
    }
    // The folder walk can take long: collect without the lock, then merge.
    WatchFolderEntry found;
    collectFolderExtensions(found, key, recursive);
    std::lock_guard lock(watchFolderMutex);
    WatchFolderEntry* entry = findFolder(key);
    if (!entry) return;
    for (const auto& [extension, item] : found.extensionMap) entry->extensionMap.emplace(extension, item);
}

void selectAllFolderExtensions(const std::wstring& folderKey, bool value) {
    std::lock_guard lock(watchFolderMutex);
    if (WatchFolderEntry* entry = findFolder(pathKey(folderKey)))
        for (auto& [extension, item] : entry->extensionMap) item.selected = value;
}

bool extensionShownByFilter(const ExtensionEntry& extension, int32_t filter) {
    if (filter == kExtensionFilterAny) return true;
    if (filter == kExtensionFilterIncluded) return extension.included;
    if (filter == kExtensionFilterExcluded) return !extension.included;
    return false;
}

void setSelectedExtensionsIncluded(const std::wstring& folderKey, bool value, int32_t filter) {
    std::lock_guard lock(watchFolderMutex);
    if (WatchFolderEntry* entry = findFolder(pathKey(folderKey)))
        for (auto& [extension, item] : entry->extensionMap)
            if (item.selected && extensionShownByFilter(item, filter)) item.included = value;
}

void removeSelectedExtensions(const std::wstring& folderKey, int32_t filter) {
    extensionListReady = false;
    {
        std::lock_guard lock(watchFolderMutex);
        if (WatchFolderEntry* entry = findFolder(pathKey(folderKey)))
            std::erase_if(entry->extensionMap, [filter](const auto& item) {
                return item.second.selected && extensionShownByFilter(item.second, filter);
            });
    }
    extensionListReady = true;
}

bool isWatchedFolderType(int32_t type) { return type == kFolderTypeFolder || type == kFolderTypeDescendents; }

std::wstring findWatchFolderOfFile(const std::wstring& path) {
    const std::wstring key = pathKey(path);
    std::wstring folder;
    std::lock_guard<std::mutex> lock(watchFolderMutex);
    const WatchFolderEntry* entry = deepestFolderEntry(key, folder);
    if (!entry || entry->removed || !isWatchedFolderType(entry->folderType)) return std::wstring();
    if (entry->folderType == kFolderTypeFolder && parentFolder(key) != withoutTrailingSeparators(folder))
        return std::wstring();
    return folder;
}
