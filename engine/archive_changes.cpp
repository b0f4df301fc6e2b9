#include "engine/archive_changes.h"

#include <algorithm>
#include <map>
#include <mutex>
#include <set>

#include "engine/backup_set_folders.h"
#include "engine/copy_queue.h"
#include "engine/supervisor.h"
#include "foundation/app_log.h"
#include "foundation/file_helpers.h"
#include "foundation/global_defaults.h"
#include "foundation/text_format.h"
#include "foundation/watch_folders.h"
#include "platform/file_copy.h"
#include "platform/paths.h"
#include "platform/safe_folders.h"
#include "platform/text.h"

namespace {

std::mutex g_contextMutex;
std::map<std::wstring, std::wstring> g_archiveContext;

// Files whose archive was gone when they were copied, and files refused for
// lack of room on the archive's disk, per watch folder: source path ->
// application. The folders whose full disk has been logged.
std::mutex g_awaitingMutex;
std::map<std::wstring, std::map<std::wstring, std::wstring>> g_awaitingArchive;
std::map<std::wstring, std::map<std::wstring, std::wstring>> g_awaitingRoom;
std::set<std::wstring> g_fullDiskLogged;

std::mutex g_freeSpaceMutex;
FreeSpaceFunction g_freeSpace;

// True when the path lies in the archive of some watch folder: archived
// copies never count as changes, even where the archive sits inside a
// watched folder.
bool isInsideAnArchive(const std::wstring& key) {
    for (const auto& [folderKey, entry] : watchFolderMap) {
        const std::wstring archive = withoutTrailingSeparators(entry.archivePath);
        if (!archive.empty() && pathIsInside(key, archive)) return true;
    }
    return false;
}

// Builds the queue item of one change (steps after the folder tests); false
// when the folder's entries do not archive it.
bool makeQueueItem(const ChangedFile& change, const std::wstring& folderKey, CopyQueueItem& item) {
    const std::wstring fileName = lastPathComponent(change.path);
    bool archived = false;
    std::lock_guard<std::mutex> lock(watchFolderMutex);
    if (isInsideAnArchive(pathKey(change.path))) return false;
    for (const auto* map : {&defaultFolderMap, &watchFolderMap}) {
        const auto it = map->find(folderKey);
        if (it == map->end()) continue;
        const WatchFolderEntry& entry = it->second;
        item.targetPath = joinPath(entry.archivePath, fileName);
        if (!isWatchedFolderType(entry.folderType)) continue;
        archived = true;
        item.collisionOption = entry.collisionOption;
        item.preserveHierarchy = entry.preserveHierarchy ? 1 : 0;
        item.thirdFlag = entry.thirdFlag ? 1 : 0;
    }
    return archived;
}

void archiveOneChange(const ChangedFile& change) {
    const std::wstring folderKey = findWatchFolderOfFile(change.path);
    if (folderKey.empty()) return;
    if (isRestoredWrite(change.path)) return;
    if (isCopyTemporaryName(lastPathComponent(change.path))) return;
    if (!isFileExtensionIncluded(folderKey, change.path)) return;
    const int64_t now = currentTimeTicks();
    const int64_t changeTicks = change.writeTicks > 0 ? std::min(change.writeTicks, now) : now;
    {
        // A file already queued takes the time of its latest change: one seen
        // now is not taken as quiet.
        std::lock_guard<std::mutex> lock(copyQueueMutex);
        const auto queued = copyQueue.find(change.path);
        if (queued != copyQueue.end()) {
            queued->second.changeTicks = std::max(queued->second.changeTicks, changeTicks);
            return;
        }
    }
    const EntryKind kind = sourceKind(folderKey, change.path);
    // A link is never followed out of its watch folder, nor archived as a
    // link: it is passed over with one line in the trace log.
    if (kind == EntryKind::Link) writeLogLine("Link not archived: " + wideToUtf8(change.path), "");
    if (kind != EntryKind::File) return;
    // A folder whose archive has been missing since the start has no context
    // yet: its change waits for the archive, as one of a copy that found the
    // archive gone does.
    std::wstring root;
    if (!ensureArchiveContext(folderKey, root, &change)) return;
    CopyQueueItem item;
    if (!makeQueueItem(change, folderKey, item)) return;
    item.sourcePath = change.path;
    item.applicationName = change.applicationName;
    item.changeTicks = changeTicks;
    bool first = false;
    {
        std::lock_guard<std::mutex> lock(copyQueueMutex);
        first = copyQueue.empty();
        copyQueue.try_emplace(change.path, std::move(item));
    }
    // The Copier starts at once: a burst's settle wait begins when it runs.
    if (first) wakeSupervisor();
}

// The waiting files of one folder that fit into `freeBytes`, taken out of
// the waiting list (files that are gone are taken too: the archiving drops
// them). `all` tells whether none is left waiting.
std::vector<ChangedFile> takeFilesThatFit(const std::wstring& folderKey, uint64_t freeBytes, bool& all) {
    std::vector<ChangedFile> files;
    std::lock_guard<std::mutex> lock(g_awaitingMutex);
    auto& waiting = g_awaitingRoom[folderKey];
    for (auto it = waiting.begin(); it != waiting.end();) {
        uint64_t needed = 0;
        const bool readable = readFileDataBytes(it->first, needed);
        if (readable && needed >= freeBytes) {
            ++it;
            continue;
        }
        freeBytes -= readable ? needed : 0;
        files.push_back({it->first, it->second});
        it = waiting.erase(it);
    }
    all = waiting.empty();
    if (all) g_awaitingRoom.erase(folderKey);
    return files;
}

}  // namespace

bool archiveChangedFile(const std::vector<ChangedFile>& changes) {
    for (const ChangedFile& change : changes) archiveOneChange(change);
    return true;
}

EntryKind sourceKind(const std::wstring& folderKey, const std::wstring& path) {
    return entryKindBelow(withoutTrailingSeparators(folderKey), path);
}

void clearArchiveContext() {
    std::lock_guard<std::mutex> lock(g_contextMutex);
    g_archiveContext.clear();
}

void forgetArchiveContext(const std::wstring& folderKey) {
    std::lock_guard<std::mutex> lock(g_contextMutex);
    g_archiveContext.erase(folderKey);
}

bool archiveContextOf(const std::wstring& folderKey, std::wstring& root) {
    std::lock_guard<std::mutex> lock(g_contextMutex);
    const auto it = g_archiveContext.find(folderKey);
    if (it == g_archiveContext.end()) return false;
    root = it->second;
    return true;
}

bool ensureArchiveContext(const std::wstring& folderKey, std::wstring& root, const ChangedFile* waiting) {
    if (archiveContextOf(folderKey, root)) return true;
    root = expandPathPlaceholders(std::wstring(kDefaultArchiveRoot));
    {
        std::lock_guard<std::mutex> lock(watchFolderMutex);
        const auto it = watchFolderMap.find(folderKey);
        if (it != watchFolderMap.end()) {
            if (it->second.problemFlags & kProblemArchiveMissing) {
                if (waiting) {
                    std::lock_guard<std::mutex> awaiting(g_awaitingMutex);
                    g_awaitingArchive[folderKey][waiting->path] = waiting->applicationName;
                }
                return false;
            }
            root = it->second.archivePath;
        }
    }
    root = withoutTrailingSeparators(root);
    if (!isAbsolutePath(root)) return false;
    std::lock_guard<std::mutex> lock(g_contextMutex);
    root = g_archiveContext.try_emplace(folderKey, root).first->second;
    return true;
}

void keepUntilArchiveIsBack(const std::wstring& folderKey, const ChangedFile& file) {
    std::lock_guard<std::mutex> lock(g_awaitingMutex);
    g_awaitingArchive[folderKey][file.path] = file.applicationName;
}

void keepUntilArchiveHasRoom(const std::wstring& folderKey, const ChangedFile& file, const std::wstring& root) {
    bool first = false;
    {
        std::lock_guard<std::mutex> lock(g_awaitingMutex);
        g_awaitingRoom[folderKey][file.path] = file.applicationName;
        first = g_fullDiskLogged.insert(folderKey).second;
    }
    if (first)
        appendAppLogEntry(L"The archive disk is full, changed files wait until it has room: " + root, 4, false);
}

std::vector<ChangedFile> takeFilesAwaitingArchive(const std::wstring& folderKey) {
    std::vector<ChangedFile> files;
    std::lock_guard<std::mutex> lock(g_awaitingMutex);
    const auto it = g_awaitingArchive.find(folderKey);
    if (it == g_awaitingArchive.end()) return files;
    for (const auto& [source, application] : it->second) files.push_back({source, application});
    g_awaitingArchive.erase(it);
    return files;
}

std::vector<ChangedFile> filesAwaitingArchive() {
    std::vector<ChangedFile> files;
    std::lock_guard<std::mutex> lock(g_awaitingMutex);
    for (const auto* waiting : {&g_awaitingArchive, &g_awaitingRoom})
        for (const auto& [folder, sources] : *waiting)
            for (const auto& [source, application] : sources) files.push_back({source, application});
    return files;
}

size_t requeueFilesAwaitingRoom() {
    std::vector<std::wstring> folders;
    {
        std::lock_guard<std::mutex> lock(g_awaitingMutex);
        for (const auto& [folder, sources] : g_awaitingRoom) folders.push_back(folder);
    }
    size_t queued = 0;
    for (const std::wstring& folderKey : folders) {
        std::wstring root;
        uint64_t freeBytes = 0;
        if (!archiveContextOf(folderKey, root)) continue;
        // Unreadable, as for a copy: the copies are tried.
        if (!readFreeSpaceForCopy(root, freeBytes)) freeBytes = UINT64_MAX;
        bool all = false;
        const std::vector<ChangedFile> files = takeFilesThatFit(folderKey, freeBytes, all);
        if (files.empty()) continue;
        archiveChangedFile(files);
        queued += files.size();
        if (!all) continue;
        {
            std::lock_guard<std::mutex> lock(g_awaitingMutex);
            g_fullDiskLogged.erase(folderKey);
        }
        appendAppLogEntry(L"The archive disk has room again, archiving resumed: " + root, 4, false);
    }
    return queued;
}

void setFreeSpaceFunction(FreeSpaceFunction function) {
    std::lock_guard<std::mutex> lock(g_freeSpaceMutex);
    g_freeSpace = std::move(function);
}

bool readFreeSpaceForCopy(const std::wstring& path, uint64_t& bytes) {
    FreeSpaceFunction function;
    {
        std::lock_guard<std::mutex> lock(g_freeSpaceMutex);
        function = g_freeSpace;
    }
    return function ? function(path, bytes) : getDiskFreeSpace(path, bytes);
}

std::wstring expandPathPlaceholders(const std::wstring& text) { return expandEnvironmentPlaceholders(text); }

void setFolderType(const std::wstring& path, int32_t type) {
    std::lock_guard<std::mutex> lock(watchFolderMutex);
    if (const auto it = watchFolderMap.find(pathKey(path)); it != watchFolderMap.end()) it->second.folderType = type;
}

void setFolderCollisionOption(const std::wstring& path, int32_t option) {
    std::lock_guard<std::mutex> lock(watchFolderMutex);
    if (const auto it = watchFolderMap.find(pathKey(path)); it != watchFolderMap.end())
        it->second.collisionOption = option;
}
