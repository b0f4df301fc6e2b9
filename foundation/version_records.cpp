#include "foundation/version_records.h"

#include <algorithm>
#include <iterator>
#include <optional>
#include <utility>
#include <vector>

#include "foundation/app_log.h"
#include "foundation/archive_names.h"
#include "foundation/archive_stamps.h"
#include "foundation/data_files.h"
#include "foundation/data_packet.h"
#include "foundation/data_record.h"
#include "foundation/file_helpers.h"
#include "foundation/foreground_history.h"
#include "foundation/global_defaults.h"
#include "foundation/watch_folders.h"
#include "platform/file_system.h"
#include "platform/paths.h"
#include "platform/text.h"

std::map<std::wstring, FileVersionMap> versionRecordMap;
std::mutex versionRecordMutex;
std::atomic<bool> versionRecordsChanged{false};

namespace {

using VersionMap = std::map<std::wstring, FileVersionMap>;

const char* const kSection = "abc";
const char* const kItemEntry = "item";
const wchar_t* const kRootName = L"root";

// A watch folder as the records need it: its key and its archive path.
struct FolderArchive {
    std::wstring key;
    std::wstring archivePath;
};

// The only place that reads the watch-folder list, so that the two mutexes
// are never held together.
std::vector<FolderArchive> copyWatchFolderArchives() {
    std::vector<FolderArchive> folders;
    std::lock_guard<std::mutex> lock(watchFolderMutex);
    folders.reserve(watchFolderMap.size());
    for (const auto& [key, entry] : watchFolderMap) folders.push_back({key, entry.archivePath});
    return folders;
}

// The watch folder that holds a path: the longest key the path lies inside
// (bounded at a separator, so /data never claims /data2/x).
const FolderArchive* folderHoldingPath(const std::vector<FolderArchive>& folders, const std::wstring& path) {
    const FolderArchive* best = nullptr;
    for (const FolderArchive& folder : folders) {
        if (pathIsInside(path, folder.key) && (!best || folder.key.size() > best->key.size())) best = &folder;
    }
    return best;
}

// The folder of a source as the records file names it. Sources read against a
// moved folder keep their old folder: that folder is the longest leading part
// of the path whose last component names a listed folder, the same match the
// loader makes, so such records survive the next save and load.
std::optional<FolderArchive> recordFolderOfSource(const std::vector<FolderArchive>& folders, const std::wstring& source) {
    if (const FolderArchive* folder = folderHoldingPath(folders, source)) return *folder;
    for (size_t end = source.rfind(kPathSeparator); end != std::wstring::npos && end > 0;
         end = source.rfind(kPathSeparator, end - 1)) {
        const std::wstring prefix = source.substr(0, end);
        for (const FolderArchive& folder : folders) {
            if (lastPathComponent(folder.key) == lastPathComponent(prefix)) return FolderArchive{prefix, folder.archivePath};
        }
    }
    return std::nullopt;
}

// A saved folder key that is not listed any more: the first listed folder with
// the same last component (the folder was moved), or null.
const FolderArchive* folderForSavedKey(const std::vector<FolderArchive>& folders, const std::wstring& savedKey) {
    for (const FolderArchive& folder : folders) {
        if (folder.key == savedKey) return &folder;
    }
    const std::wstring name = lastPathComponent(savedKey);
    for (const FolderArchive& folder : folders) {
        if (lastPathComponent(folder.key) == name) return &folder;
    }
    return nullptr;
}

void insertVersion(VersionMap& map, const std::wstring& source, const std::wstring& archived, const std::wstring& owner) {
    FileVersionMap& versions = map[pathKey(source)];
    const std::wstring archiveKey = pathKey(archived);
    versions.try_emplace(archiveKey, FileVersionRecord{archiveKey, owner, true, false});
}

// Field 2: the archived copy relative to the archive path. A copy outside the
// archive (the archive path changed since) keeps its full path.
std::wstring archivedField(const std::wstring& archived, const std::wstring& archivePath) {
    if (archivePath.empty() || !pathIsInside(archived, archivePath)) return archived;
    return makePlaceholderPath(archived, archivePath, kRootName);
}

std::wstring expandArchivedField(const std::wstring& field, const std::wstring& archivePath) {
    const std::wstring expanded = expandPlaceholderPath(field, kRootName, archivePath);
    if (!expanded.empty()) return expanded;
    return isAbsolutePath(field) ? field : std::wstring();
}

// Writes the items of every present version straight from the map, one
// line at a time: the caller holds versionRecordMutex.
void streamItems(RecordStreamWriter& writer, const VersionMap& map, const std::vector<FolderArchive>& folders) {
    std::wstring lastFolder;
    bool first = true;
    for (const auto& [source, versions] : map) {
        // Records outside every listed folder would be dropped on loading anyway.
        const std::optional<FolderArchive> folder = recordFolderOfSource(folders, source);
        if (!folder) continue;
        const std::wstring sourceField = makePlaceholderPath(source, folder->key, kRootName);
        for (const auto& [archived, record] : versions) {
            if (!record.present) continue;
            std::vector<std::wstring> fields = {record.owner, archivedField(archived, folder->archivePath), sourceField};
            if (first || folder->key != lastFolder) fields.push_back(folder->key);
            first = false;
            lastFolder = folder->key;
            appendRecordStreamText(writer, wideToUtf8(joinListFields(fields)));
        }
    }
}

// A copy that lies outside the folder's archive was made before the folder's
// archive location changed: it stays restorable where it lies, but only when
// its name is a copy of its own file's name, so a record cannot hand some
// other file of the user's to a restore or a deletion. Archives written
// before kept a file's own name even where it reads as a version.
bool isCopyInOlderArchive(const std::wstring& archived, const std::wstring& source) {
    if (!isAbsolutePath(archived) || hasDotComponent(archived)) return false;
    const std::wstring fileName = lastPathComponent(archived);
    const std::wstring copyName = splitArchiveName(fileName).plainName;
    const std::wstring name = lastPathComponent(source);
    return !name.empty() && (fileName == name || copyName == name || copyName == archiveGroupName(name));
}

// Reads the items of a loaded section into `map` (see loadVersionRecords).
void readItems(RecordSectionHandle section, const std::vector<FolderArchive>& folders, VersionMap& map) {
    std::wstring currentFolder;
    std::wstring currentArchive;
    size_t skipped = 0;
    std::wstring firstSkipped;
    const size_t count = getRecordValueCount(section, kItemEntry);
    for (size_t i = 0; i < count; ++i) {
        std::wstring line;
        if (!getRecordWString(section, kItemEntry, line, static_cast<uint32_t>(i))) continue;
        const std::vector<std::wstring> fields = splitListFields(line);
        if (fields.size() >= 4) {
            currentFolder = fields[3];
            const FolderArchive* folder = folderForSavedKey(folders, currentFolder);
            currentArchive = folder ? folder->archivePath : std::wstring();
            if (!folder)
                appendAppLogEntry(L"records found for missing watch folder " + lastPathComponent(currentFolder), 4, false);
        }
        if (currentArchive.empty() || fields.size() < 3) continue;
        const std::wstring source = expandPlaceholderPath(fields[2], kRootName, currentFolder);
        const std::wstring archived = expandArchivedField(fields[1], currentArchive);
        if (source.empty() || archived.empty()) continue;
        // A restore writes the copy over the source and a deletion removes
        // the copy: neither may lead outside the folder or an archive.
        if (!isPathBelow(source, currentFolder) ||
            (!isPathBelow(archived, currentArchive) && !isCopyInOlderArchive(archived, source))) {
            if (skipped++ == 0) firstSkipped = archived + L" for " + source;
            continue;
        }
        insertVersion(map, source, archived, fields[0]);
    }
    if (skipped > 0)
        appendAppLogEntry(L"Version records outside their watch folder or archive skipped: " + std::to_wstring(skipped) +
                              L", the first: " + firstSkipped,
                          4, false);
}

// Archive order: oldest first.
bool archivedBefore(const std::wstring& a, const std::wstring& b) {
    const std::wstring stampA = splitArchiveName(lastPathComponent(a)).stamp;
    const std::wstring stampB = splitArchiveName(lastPathComponent(b)).stamp;
    if (stampA != stampB) return isArchiveStampBefore(stampA, stampB);
    return a < b;
}

std::wstring metadataFolderPath() { return dataFolderPath() + L"/FileMetaData"; }

}  // namespace

std::wstring versionRecordsFilePath() { return metadataFolderPath() + L"/abc.md"; }

bool loadVersionRecords() {
    {
        std::lock_guard<std::mutex> lock(versionRecordMutex);
        versionRecordMap.clear();
    }
    DataRecord document;
    if (!loadDataRecordFile(document, kSection, versionRecordsFilePath(), "")) return false;
    VersionMap loaded;
    readItems(getRecordSection(document, kSection), copyWatchFolderArchives(), loaded);
    std::lock_guard<std::mutex> lock(versionRecordMutex);
    versionRecordMap = std::move(loaded);
    versionRecordsChanged = false;
    return true;
}

bool saveVersionRecords() {
    const std::vector<FolderArchive> folders = copyWatchFolderArchives();
    const std::wstring folder = metadataFolderPath();
    RecordStreamWriter writer;
    bool saved = (isExistingFolder(folder) || makeDirectoryPathWithSD(folder + kPathSeparatorText)) &&
                 beginRecordStream(writer, versionRecordsFilePath(), kItemEntry, kRecordWideText);
    if (saved) {
        // Written from the map itself, under its lock: no copy of the map and
        // never the whole text in memory. Cleared under the same lock: an
        // addition made after it sets it again and is saved next time.
        std::lock_guard<std::mutex> lock(versionRecordMutex);
        versionRecordsChanged = false;
        streamItems(writer, versionRecordMap, folders);
    }
    saved = finishRecordStream(writer) && saved;
    if (!saved) versionRecordsChanged = true;
    return saved;
}

bool addVersionRecord(const std::wstring& sourcePath, const std::wstring& archivedPath, std::wstring owner,
                      bool loading) {
    if (!loading && !isExistingFile(archivedPath)) return false;
    if (owner.empty()) owner = newestForegroundApplication();
    std::lock_guard<std::mutex> lock(versionRecordMutex);
    insertVersion(versionRecordMap, sourcePath, archivedPath, owner);
    versionRecordsChanged = true;
    return true;
}

bool isSameAsNewestVersion(const std::wstring& sourcePath, const std::wstring& /*unused*/) {
    std::vector<std::wstring> archived;
    {
        std::lock_guard<std::mutex> lock(versionRecordMutex);
        const auto it = versionRecordMap.find(pathKey(sourcePath));
        if (it == versionRecordMap.end()) return false;
        for (const auto& [path, record] : it->second) archived.push_back(path);
    }
    // The newest: the first copy whose time is strictly above every earlier one.
    const std::wstring* newest = nullptr;
    int64_t newestTicks = 0;
    for (const std::wstring& path : archived) {
        int64_t ticks = 0;
        if (getFileWriteTime(path, ticks) && (!newest || ticks > newestTicks)) {
            newest = &path;
            newestTicks = ticks;
        }
    }
    return newest && filesAreEqual(sourcePath, *newest);
}

void selectGroupVersions(FileVersionMap& group, GroupSelection mode) {
    for (auto& [path, record] : group) record.selected = false;
    if (group.empty() || mode == GroupSelection::Clear) return;
    const auto before = [](const auto& a, const auto& b) { return archivedBefore(a.first, b.first); };
    auto chosen = mode == GroupSelection::First ? std::min_element(group.begin(), group.end(), before)
                                                : std::max_element(group.begin(), group.end(), before);
    chosen->second.selected = true;
}

void selectGroupVersions(const std::vector<std::wstring>& sourceKeys, GroupSelection mode) {
    std::lock_guard<std::mutex> lock(versionRecordMutex);
    for (const std::wstring& key : sourceKeys) {
        auto it = versionRecordMap.find(key);
        if (it != versionRecordMap.end()) selectGroupVersions(it->second, mode);
    }
}
