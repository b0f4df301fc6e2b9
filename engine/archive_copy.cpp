#include "engine/archive_copy.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <map>
#include <memory>
#include <thread>

#include "foundation/archive_names.h"
#include "engine/backup_scan.h"
#include "engine/backup_set_folders.h"
#include "engine/backup_sets.h"
#include "engine/thread_registry.h"
#include "foundation/app_log.h"
#include "foundation/archive_root.h"
#include "foundation/archive_stamps.h"
#include "foundation/file_helpers.h"
#include "foundation/global_defaults.h"
#include "foundation/text_format.h"
#include "foundation/version_records.h"
#include "foundation/watch_folders.h"
#include "platform/file_system.h"
#include "platform/folder_walk.h"
#include "platform/paths.h"
#include "platform/safe_folders.h"
#include "platform/text.h"

ProgressSet globalProgressSet;
std::mutex progressMutex;

namespace {

std::mutex g_contextMutex;
std::map<std::wstring, std::wstring> g_archiveContext;

std::mutex g_copyStepMutex;
bool g_batchFlag = true;

constexpr size_t kCancelTaskCount = 3;
std::mutex g_cancelMutex;
std::array<bool, kCancelTaskCount> g_cancelFlags{};
std::array<std::atomic<int>, kCancelTaskCount> g_cancelMirrors{};
std::array<int, kCancelTaskCount> g_cancelTasksRunning{};
std::vector<std::unique_ptr<std::atomic<int>>> g_batchCancels;

// Files whose archive was gone when they were copied, and files refused for
// lack of room on the archive's disk, per watch folder: source path ->
// application. The folders whose full disk has been logged.
std::mutex g_awaitingMutex;
std::map<std::wstring, std::map<std::wstring, std::wstring>> g_awaitingArchive;
std::map<std::wstring, std::map<std::wstring, std::wstring>> g_awaitingRoom;
std::set<std::wstring> g_fullDiskLogged;

std::mutex g_freeSpaceMutex;
FreeSpaceFunction g_freeSpace;

// Archive names taken by copies not yet named, with the item each belongs
// to: a copy takes its name only at the end of its group, so until then the
// folder does not show it, and a second copy must not choose it too.
std::mutex g_stagedNamesMutex;
std::map<std::wstring, const CopyQueueItem*> g_stagedNames;

void releaseArchiveName(const std::wstring& name, const CopyQueueItem& item) {
    std::lock_guard<std::mutex> lock(g_stagedNamesMutex);
    const auto it = g_stagedNames.find(name);
    if (it != g_stagedNames.end() && it->second == &item) g_stagedNames.erase(it);
}

// Takes `name` for `item`; false when another item's copy is to take it or,
// with `mustBeFree`, a file has it. The name is taken before the folder is
// looked at, and a copy frees its name only once renamed, so two copy
// threads never both find a name free.
bool claimArchiveName(const std::wstring& name, const CopyQueueItem& item, bool mustBeFree) {
    {
        std::lock_guard<std::mutex> lock(g_stagedNamesMutex);
        const auto [it, inserted] = g_stagedNames.try_emplace(name, &item);
        if (!inserted && it->second != &item) return false;
    }
    if (!mustBeFree || !isExistingFile(name)) return true;
    releaseArchiveName(name, item);
    return false;
}

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

bool isWatchedType(int32_t type) { return type == kFolderTypeFolder || type == kFolderTypeDescendents; }

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

// Makes the folder's archive context the first time it is met. False when
// the folder's archive is missing or has no usable path. A change handed in
// (`waiting`) while the archive is missing waits for its return: the test
// and the entry are made under watchFolderMutex, so the archive's
// preparation, which clears the flag there first, hands it out.
bool ensureArchiveContext(const std::wstring& folderKey, std::wstring& root, const ChangedFile* waiting = nullptr) {
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

// What lies at a file's path, looked at from its watch folder down without
// following a link: only a regular file is ever queued or copied.
EntryKind sourceKind(const std::wstring& folderKey, const std::wstring& path) {
    return entryKindBelow(withoutTrailingSeparators(folderKey), path);
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
        if (!isWatchedType(entry.folderType)) continue;
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
    {
        std::lock_guard<std::mutex> lock(copyQueueMutex);
        if (copyQueue.count(change.path)) return;
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
    item.changeTicks = currentTimeTicks();
    std::lock_guard<std::mutex> lock(copyQueueMutex);
    copyQueue.try_emplace(change.path, std::move(item));
}

// At least four digits: " ~ 0042", " ~ 1000", " ~ 12345".
std::wstring versionNumberText(uint64_t n) {
    std::wstring text = std::to_wstring(n);
    return text.size() < 4 ? std::wstring(4 - text.size(), L'0') + text : text;
}

// One past the highest number taken by a numbered version of base.extension.
// Never a number freed by a deletion below it: the numbers keep the order in
// which the versions were made, which is how the newest is found.
// A long name's versions may take its own base or its shortened one.
uint64_t nextVersionNumber(const std::wstring& base, const std::wstring& extension) {
    const size_t slash = base.rfind(kPathSeparator);
    const std::wstring folder = slash == std::wstring::npos ? std::wstring() : base.substr(0, slash);
    const std::wstring name = base.substr(slash + 1);
    const std::wstring shortened = shortenedArchiveBase(name, extension);
    uint64_t next = 0;
    const std::wstring listed = folder.empty() ? kPathSeparatorText : folder;
    walkFolderFiles(listed, false, enterEveryFolder, [&](const std::wstring& path) {
        const ArchiveNameParts parts = splitArchiveName(lastPathComponent(path));
        if ((parts.base != name && (shortened.empty() || parts.base != shortened)) || parts.extension != extension)
            return WalkStep::Go;
        uint64_t number = 0;
        if (archiveVersionNumber(parts.stamp, number) && number + 1 > next) next = number + 1;
        return WalkStep::Go;
    });
    return next;
}

// The name of a taken archive name under the item's collision option,
// claimed for the item. The extension is looked for in the file name only,
// so a dotted folder never splits the path.
std::wstring resolveTakenName(const std::wstring& target, const CopyQueueItem& item) {
    const int32_t option = item.collisionOption;
    const size_t slash = target.rfind(kPathSeparator);
    const size_t dot = target.rfind(L'.');
    const bool hasDot = dot != std::wstring::npos && (slash == std::wstring::npos || dot > slash);
    const std::wstring base = hasDot ? target.substr(0, dot) : target;
    const std::wstring extension = hasDot ? target.substr(dot + 1) : std::wstring();
    const std::wstring folder = target.substr(0, slash == std::wstring::npos ? 0 : slash + 1);
    const std::wstring name = base.substr(folder.size());
    if (option == kCollisionAppendVersion) {
        std::wstring candidate;
        for (uint64_t n = nextVersionNumber(base, extension);; ++n) {
            candidate = folder + archiveVersionName(name, versionNumberText(n), extension);
            if (claimArchiveName(candidate, item, true)) return candidate;
        }
    }
    // Overwrite and Single Backup replace the plain name itself.
    const std::wstring chosen = option == kCollisionAppendTimeStamp
                                    ? folder + archiveVersionName(name, formatArchiveTimestamp(), extension)
                                    : target;
    claimArchiveName(chosen, item, false);
    return chosen;
}

// The share-of-copy bookkeeping shared by the global and the folder sets.
// The sum runs along with the values, so an update costs O(1) however large
// the set: the adders count each entry they put in at 0.0, and a set changed
// any other way (cleared, replaced, trimmed) no longer matches `sumCount` and
// is summed afresh once. True when the set completed.
bool updateProgressValues(std::unordered_map<std::wstring, double>& values, double& sum, size_t& sumCount,
                          uint64_t& totalBytes, double& ratio, double& previousRatio, const std::wstring& key,
                          double value) {
    if (sumCount != values.size()) {
        sum = 0.0;
        for (const auto& entry : values) sum += entry.second;
        sumCount = values.size();
    }
    const auto [it, inserted] = values.try_emplace(key, 0.0);
    if (inserted) ++sumCount;
    sum += value - it->second;
    it->second = value;
    previousRatio = ratio;
    ratio = sum / static_cast<double>(values.size());
    if (ratio + 0.05 < 1.0) return false;
    ratio = previousRatio = 1.0;
    totalBytes = 0;
    return true;
}

// Sets a file's share in the global set, or else in its folder's set.
void setFileProgress(const std::wstring& source, double value) {
    const std::wstring key = pathKey(source);
    {
        std::lock_guard<std::mutex> lock(progressMutex);
        ProgressSet& set = globalProgressSet;
        if (set.values.count(key)) {
            updateProgressValues(set.values, set.sum, set.sumCount, set.totalBytes, set.ratio, set.previousRatio, key,
                                 value);
            return;
        }
    }
    const std::wstring folderKey = findWatchFolderOfFile(source);
    std::lock_guard<std::mutex> folderLock(watchFolderMutex);
    const auto it = watchFolderMap.find(folderKey);
    if (it == watchFolderMap.end()) return;
    WatchFolderEntry& entry = it->second;
    std::lock_guard<std::mutex> lock(progressMutex);
    if (!entry.progressSet.count(key)) return;
    if (!updateProgressValues(entry.progressSet, entry.progressSum, entry.progressSumCount, entry.totalByteCount,
                              entry.progressRatio, entry.previousProgressRatio, key, value))
        return;
    entry.progressSet.clear();
    entry.progressSum = 0.0;
    entry.progressSumCount = 0;
}

bool readFreeSpaceForCopy(const std::wstring& path, uint64_t& bytes) {
    FreeSpaceFunction function;
    {
        std::lock_guard<std::mutex> lock(g_freeSpaceMutex);
        function = g_freeSpace;
    }
    return function ? function(path, bytes) : getDiskFreeSpace(path, bytes);
}

enum class CopyOutcome { Copied, NotCopied, DiskFull, SourceChanged, Staged };

// A copy thread's copies waiting in its group for their names, with their items.
struct StagedItems {
    CopyGroup group;
    std::vector<CopyQueueItem*> items;
};

// Copy status written for the backup's files.
int32_t copyStatusOf(CopyOutcome outcome) {
    if (outcome == CopyOutcome::Copied) return 4;
    return outcome == CopyOutcome::DiskFull ? 3 : 2;
}

// Creates the target's folders below the archive root, one by one and never
// through a link, never the root itself: a root that is gone (a drive
// unplugged) makes every mkdir fail instead of growing a new archive under
// the empty mount point. Each takes the mode of the source folder it
// mirrors, so a private folder's names stay private in the archive.
bool makeFoldersBelowRoot(const std::wstring& root, const std::wstring& target, const std::wstring& folderKey) {
    if (isForeignArchiveFolder(root)) return false;
    const std::wstring sourceFolder = withoutTrailingSeparators(folderKey);
    const FolderModeFor modeFor = [&](const std::wstring& folder) {
        return mirroredFolderMode(sourceFolder + folder.substr(root.size()));
    };
    return openFolderBelow(root, parentFolder(target), modeFor).isOpen();
}

// Writes the item's copy into the thread's group (Staged), or says why not.
// The source is read below its watch folder, the copy written below the
// archive root: neither side ever follows a link.
CopyOutcome copyIntoArchive(const CopyQueueItem& item, const FilePlace& target, const std::wstring& folderKey,
                            bool batchFlag, const std::atomic<int>* cancel, CopyGroup& group) {
    const std::wstring& source = item.sourcePath;
    uint64_t size = 0;
    const bool sizeKnown = getFileSize(source, size);
    if (batchFlag && item.applicationName != kBackupNameUpper && isSameAsNewestVersion(source)) {
        if (sizeKnown) setFileProgress(source, 1.0);
        return CopyOutcome::NotCopied;
    }
    // A sparse file's copy keeps its holes: only its data needs room.
    uint64_t needed = size, freeBytes = 0;
    if (!readFileDataBytes(source, needed)) needed = size;
    if (readFreeSpaceForCopy(target.path, freeBytes) && needed >= freeBytes) return CopyOutcome::DiskFull;
    const CopyResult result =
        stageCopy(group, {withoutTrailingSeparators(folderKey), source}, target, onCopyProgress, cancel);
    if (result == CopyResult::SourceChanged) return CopyOutcome::SourceChanged;
    if (result == CopyResult::Copied) return CopyOutcome::Staged;
    // A copy that ran out of room on its way was refused for lack of room too.
    if (result == CopyResult::Failed && readFreeSpaceForCopy(target.path, freeBytes) && needed >= freeBytes)
        return CopyOutcome::DiskFull;
    return CopyOutcome::NotCopied;
}

void recordCopyOutcome(const CopyQueueItem& item, const std::wstring& target, CopyOutcome outcome) {
    // Nothing was written: a backup's file stays queued for its next try.
    if (outcome == CopyOutcome::SourceChanged) return;
    const BackupCopyHooks hooks = backupCopyHooks();
    // The backup's own files belong to its set; every other copy is a version,
    // whichever backup runs meanwhile.
    if (hooks.setCopyStatus && hooks.setCopyStatus(item.sourcePath, copyStatusOf(outcome))) return;
    addVersionRecord(item.sourcePath, target, item.applicationName, false);
}

void failItem(CopyQueueItem& item) {
    item.state = kCopyStateFailed;
    markVersionRecordsTouched();
    advanceQueueItem(item);
}

// Marks the folder's archive missing (problem flag 0x2), as the Storage
// Checker does, which prepares the archive again once it is back.
void markArchiveMissing(const std::wstring& folderKey) {
    std::lock_guard<std::mutex> lock(watchFolderMutex);
    const auto it = watchFolderMap.find(folderKey);
    if (it == watchFolderMap.end() || (it->second.problemFlags & kProblemArchiveMissing)) return;
    it->second.problemFlags |= kProblemArchiveMissing;
    setWatchListChanged(true);
}

// The archive is gone: the item leaves its batch without an attempt counted
// and waits for the archive's return (takeFilesAwaitingArchive).
void awaitArchive(CopyQueueItem& item, const std::wstring& folderKey) {
    {
        std::lock_guard<std::mutex> lock(g_awaitingMutex);
        g_awaitingArchive[folderKey][item.sourcePath] = item.applicationName;
    }
    markArchiveMissing(folderKey);
    item.state = kCopyStateFailedFinal;
    item.finished = 1;
}

// The archive's disk has no room for the file: it leaves its batch without
// an attempt counted and waits until a storage check finds room
// (requeueFilesAwaitingRoom). The full disk is logged once, not per file.
void awaitRoom(CopyQueueItem& item, const std::wstring& folderKey, const std::wstring& root) {
    bool first = false;
    {
        std::lock_guard<std::mutex> lock(g_awaitingMutex);
        g_awaitingRoom[folderKey][item.sourcePath] = item.applicationName;
        first = g_fullDiskLogged.insert(folderKey).second;
    }
    if (first)
        appendAppLogEntry(L"The archive disk is full, changed files wait until it has room: " + root, 4, false);
    item.state = kCopyStateFailedFinal;
    item.finished = 1;
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

// A file written while it was copied is tried again once it has settled: it
// goes back into the queue with its attempts counted, so the next batch
// copies it after the settle time while this batch goes on with the others.
void retryInNextBatch(CopyQueueItem& item) {
    CopyQueueItem retry = item;
    retry.state = kCopyStateToCopy;
    {
        std::lock_guard<std::mutex> lock(copyQueueMutex);
        const auto [queued, inserted] = copyQueue.try_emplace(item.sourcePath, retry);
        if (!inserted) queued->second.attemptCount = std::max(queued->second.attemptCount, retry.attemptCount);
    }
    item.state = kCopyStateFailedFinal;
    item.finished = 1;
}

// The item's copy is over: its state, its record and its next attempt.
void settleItem(CopyQueueItem& item, const std::wstring& target, CopyOutcome outcome) {
    item.state = outcome == CopyOutcome::Copied ? kCopyStateCopied : kCopyStateFailed;
    recordCopyOutcome(item, target, outcome);
    markVersionRecordsTouched();
    const bool givenUpBefore = item.finished != 0;
    advanceQueueItem(item);
    if (outcome != CopyOutcome::SourceChanged) return;
    if (item.finished) {
        if (!givenUpBefore)
            appendAppLogEntry(L"File kept changing while it was copied, not archived: " + item.sourcePath, 4, false);
        return;
    }
    retryInNextBatch(item);
}

// Names the group's copies once their data is durable, and only then records
// them: a version record never names a copy that a crash could take back.
// A source whose size no longer matches its copy is not counted as copied.
void finishStagedItems(StagedItems& staged) {
    const std::vector<StagedCopy> copies = finishCopyGroup(staged.group);
    for (size_t i = 0; i < copies.size(); ++i) {
        uint64_t sourceSize = 0;
        const bool equal = copies[i].result == CopyResult::Copied && getFileSize(staged.items[i]->sourcePath, sourceSize) &&
                           sourceSize == copies[i].bytes;
        settleItem(*staged.items[i], copies[i].target, equal ? CopyOutcome::Copied : CopyOutcome::NotCopied);
        releaseArchiveName(copies[i].target, *staged.items[i]);
    }
    staged.items.clear();
}

// Copies a named item into the thread's group, or settles it.
void copyNamedItem(CopyQueueItem& item, const std::wstring& target, bool batchFlag, const std::atomic<int>* cancel,
                   StagedItems& staged) {
    item.state = kCopyStateStarted;
    const std::wstring folderKey = findWatchFolderOfFile(item.sourcePath);
    if (sourceKind(folderKey, item.sourcePath) != EntryKind::File) return failItem(item);
    std::wstring root;
    if (!archiveContextOf(folderKey, root) || !makeFoldersBelowRoot(root, target, folderKey)) {
        if (!root.empty() && (!isExistingFolder(root) || isForeignArchiveFolder(root)))
            return awaitArchive(item, folderKey);
        return failItem(item);
    }
    const CopyOutcome outcome = copyIntoArchive(item, {root, target}, folderKey, batchFlag, cancel, staged.group);
    // A backup's own file is the backup's to report; a change waits for room.
    if (outcome == CopyOutcome::DiskFull && item.applicationName != kBackupNameUpper)
        return awaitRoom(item, folderKey, root);
    if (outcome != CopyOutcome::Staged) return settleItem(item, target, outcome);
    staged.items.push_back(&item);
}

void copyOneItem(CopyQueueItem& item, bool batchFlag, const std::atomic<int>* cancel, StagedItems& staged) {
    std::wstring source;
    std::wstring target;
    // A file whose archive cannot be named counts as a failed attempt, so the
    // batch ends after the last attempt instead of passing over it forever.
    if (!buildArchiveTarget(item, source, target)) return failItem(item);
    copyNamedItem(item, target, batchFlag, cancel, staged);
    // The name stays taken until its copy has it, or is free again at once
    // when nothing was staged.
    if (staged.items.empty() || staged.items.back() != &item) return releaseArchiveName(target, item);
    if (isCopyGroupFull(staged.group)) finishStagedItems(staged);
}

// A backup item of a cancelled backup leaves the batch uncopied and unreported.
void dropCancelledItem(CopyQueueItem& item) {
    if (item.state != kCopyStateToCopy) return;
    item.state = kCopyStateFailedFinal;
    item.finished = 1;
}

bool isItemDone(const CopyQueueItem* item) {
    return item->state == kCopyStateCopied || item->state == kCopyStateFailed || item->state == kCopyStateFailedFinal;
}

// Pause between passes that left items to retry; false when the application stops.
bool pauseBeforeRetry() {
    for (uint32_t waited = 0; waited < timings().pollMs.load(); waited += 10) {
        if (!isApplicationRunning()) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(std::min<uint32_t>(10, timings().pollMs.load())));
    }
    return isApplicationRunning();
}

}  // namespace

std::wstring findWatchFolderOfFile(const std::wstring& path) {
    const std::wstring key = pathKey(path);
    std::wstring folder;
    std::lock_guard<std::mutex> lock(watchFolderMutex);
    const WatchFolderEntry* entry = deepestFolderEntry(key, folder);
    if (!entry || entry->removed || !isWatchedType(entry->folderType)) return std::wstring();
    if (entry->folderType == kFolderTypeFolder && parentFolder(key) != withoutTrailingSeparators(folder))
        return std::wstring();
    return folder;
}

bool archiveChangedFile(const std::vector<ChangedFile>& changes) {
    for (const ChangedFile& change : changes) archiveOneChange(change);
    return true;
}

bool buildArchiveTarget(CopyQueueItem& item, std::wstring& source, std::wstring& target) {
    const std::wstring folderKey = findWatchFolderOfFile(item.sourcePath);
    std::wstring root;
    if (folderKey.empty() || !ensureArchiveContext(folderKey, root)) return false;
    source = pathKey(item.sourcePath);
    target = pathKey(item.targetPath);
    const std::wstring folder = withoutTrailingSeparators(folderKey);
    if (source.size() <= folder.size()) return false;
    const std::wstring below = root + source.substr(folder.size());
    const size_t slash = below.rfind(kPathSeparator);
    if (slash == std::wstring::npos) return false;
    target = below.substr(0, slash) + kPathSeparatorText + lastPathComponent(source);
    if (item.state != kCopyStateToCopy) return true;
    if (!item.finalTargetPath.empty() && claimArchiveName(item.finalTargetPath, item, false)) {
        // A retry keeps the name of its first attempt: nothing was written
        // under it, and an older version under the plain name stays intact.
        // Unless another copy is to take that name meanwhile.
        target = item.finalTargetPath;
    } else if (!claimArchiveName(target, item, true)) {
        target = resolveTakenName(target, item);
    }
    target = pathKey(target);
    item.finalTargetPath = target;
    item.targetPath = target;
    return true;
}

void copyFileToArchive(CopyWorkList& list) {
    bool batchFlag = true;
    {
        std::lock_guard<std::mutex> lock(g_copyStepMutex);
        batchFlag = g_batchFlag;
    }
    const std::atomic<int>* backupCancel = list.cancel ? list.cancel : cancelMirror(CancelTask::Backup);
    // Copies that were written before a stop still take their names.
    StagedItems staged;
    const auto stop = [&] {
        finishStagedItems(staged);
        list.busy = false;
    };
    bool done = false;
    while (!done) {
        if (!isApplicationRunning()) return stop();
        done = true;
        for (CopyQueueItem* item : list.items) {
            if (!isApplicationRunning()) return stop();
            const bool backupItem = item->applicationName == kBackupNameUpper;
            if (backupItem && backupCancel->load() != 0) {
                dropCancelledItem(*item);
            } else if (item->state == kCopyStateToCopy) {
                copyOneItem(*item, batchFlag, backupItem ? backupCancel : nullptr, staged);
            }
        }
        finishStagedItems(staged);
        done = std::all_of(list.items.begin(), list.items.end(), isItemDone);
        if (!done && !pauseBeforeRetry()) return void(list.busy = false);
    }
    list.items.clear();
    list.busy = false;
}

bool startProgressSet(const std::vector<std::wstring>& paths) {
    std::lock_guard<std::mutex> lock(progressMutex);
    globalProgressSet = ProgressSet();
    for (const std::wstring& path : paths) {
        const std::wstring key = pathKey(path);
        if (!globalProgressSet.values.try_emplace(key, 0.0).second) continue;
        ++globalProgressSet.sumCount;
        uint64_t size = 0;
        if (getFileSize(path, size)) globalProgressSet.totalBytes += size;
    }
    return true;
}

ProgressSet progressSnapshot() {
    std::lock_guard<std::mutex> lock(progressMutex);
    return globalProgressSet;
}

CopyProgressAnswer onCopyProgress(const CopyProgress& progress) {
    if (!isApplicationRunning()) return CopyProgressAnswer::Cancel;
    if (progress.source.empty() || progress.target.empty()) return CopyProgressAnswer::Continue;
    const double share = progress.totalBytes == 0
                             ? 1.0
                             : static_cast<double>(progress.bytesCopied) / static_cast<double>(progress.totalBytes);
    setFileProgress(progress.source, std::min(share, 1.0));
    return CopyProgressAnswer::Continue;
}

bool setCancelRequest(CancelTask task, bool value) {
    const size_t index = static_cast<size_t>(task);
    std::lock_guard<std::mutex> lock(g_cancelMutex);
    const bool changed = g_cancelFlags[index] != value;
    g_cancelFlags[index] = value;
    g_cancelMirrors[index] = value ? 1 : 0;
    // A backup's request stops the batches running now; later batches start clear.
    if (value && task == CancelTask::Backup)
        for (const auto& batchCancel : g_batchCancels) *batchCancel = 1;
    return changed;
}

bool isCancelRequested(CancelTask task) {
    std::lock_guard<std::mutex> lock(g_cancelMutex);
    return g_cancelFlags[static_cast<size_t>(task)];
}

const std::atomic<int>* cancelMirror(CancelTask task) { return &g_cancelMirrors[static_cast<size_t>(task)]; }

bool beginCancellableTask(CancelTask task) {
    std::lock_guard<std::mutex> lock(g_cancelMutex);
    return ++g_cancelTasksRunning[static_cast<size_t>(task)] == 1;
}

void endCancellableTask(CancelTask task) {
    const size_t index = static_cast<size_t>(task);
    std::lock_guard<std::mutex> lock(g_cancelMutex);
    if (g_cancelTasksRunning[index] > 0 && --g_cancelTasksRunning[index] > 0) return;
    g_cancelFlags[index] = false;
    g_cancelMirrors[index] = 0;
}

std::atomic<int>* acquireBatchCancel() {
    std::lock_guard<std::mutex> lock(g_cancelMutex);
    g_batchCancels.push_back(std::make_unique<std::atomic<int>>(0));
    return g_batchCancels.back().get();
}

void releaseBatchCancel(std::atomic<int>* cancel) {
    std::lock_guard<std::mutex> lock(g_cancelMutex);
    std::erase_if(g_batchCancels, [cancel](const auto& owned) { return owned.get() == cancel; });
}

bool copyBatchFlag() {
    std::lock_guard<std::mutex> lock(g_copyStepMutex);
    return g_batchFlag;
}

void setCopyBatchFlag(bool value) {
    std::lock_guard<std::mutex> lock(g_copyStepMutex);
    g_batchFlag = value;
}

bool isBackupSetFilling() {
    std::lock_guard<std::mutex> lock(backupSetMutex);
    return !currentBackupSet.files.empty();
}

std::wstring fillingBackupSetFolder() {
    std::wstring first;
    {
        std::lock_guard<std::mutex> lock(backupSetMutex);
        if (currentBackupSet.files.empty()) return std::wstring();
        first = currentBackupSet.files.begin()->first;
    }
    return findWatchFolderOfFile(first);
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

void clearArchiveContext() {
    std::lock_guard<std::mutex> lock(g_contextMutex);
    g_archiveContext.clear();
}

bool archiveContextOf(const std::wstring& folderKey, std::wstring& root) {
    std::lock_guard<std::mutex> lock(g_contextMutex);
    const auto it = g_archiveContext.find(folderKey);
    if (it == g_archiveContext.end()) return false;
    root = it->second;
    return true;
}

void setFreeSpaceFunction(FreeSpaceFunction function) {
    std::lock_guard<std::mutex> lock(g_freeSpaceMutex);
    g_freeSpace = std::move(function);
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
