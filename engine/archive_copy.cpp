#include "engine/archive_copy.h"

#include <algorithm>
#include <chrono>
#include <mutex>
#include <thread>

#include "engine/archive_changes.h"
#include "engine/archive_target.h"
#include "engine/backup_copy_hooks.h"
#include "engine/backup_sets.h"
#include "engine/copy_cancel.h"
#include "engine/copy_progress.h"
#include "engine/copy_queue.h"
#include "engine/thread_registry.h"
#include "foundation/app_config.h"
#include "foundation/app_log.h"
#include "foundation/archive_root.h"
#include "foundation/file_helpers.h"
#include "foundation/global_defaults.h"
#include "foundation/text_format.h"
#include "foundation/version_records.h"
#include "foundation/watch_folders.h"
#include "platform/file_system.h"
#include "platform/paths.h"
#include "platform/safe_folders.h"
#include "platform/text.h"

namespace {

std::mutex g_copyStepMutex;
bool g_batchFlag = true;
std::atomic<int64_t> g_versionTouchedMs{0};

// Adds one to a 16-bit statistics count (wrapping) and recomputes the ratio.
void countApplicationResult(const std::wstring& application, bool copied, uint8_t* failureCounted) {
    std::lock_guard<std::mutex> lock(statisticsMutex);
    const auto it = applicationStatsMap.find(application);
    if (it == applicationStatsMap.end()) return;
    ApplicationRecord& record = it->second;
    if (copied) {
        record.archivedCount = static_cast<uint16_t>(record.archivedCount + 1);
        record.ratio = record.changeCount == 0 ? 0.0 : double(record.archivedCount) / double(record.changeCount);
    } else if (failureCounted && !*failureCounted) {
        record.failureCount = static_cast<uint16_t>(record.failureCount + 1);
        *failureCounted = 1;
    }
}

void reportToBackup(const CopyQueueItem& item, int32_t code) {
    const BackupCopyHooks hooks = backupCopyHooks();
    if (hooks.recordCopyResult) hooks.recordCopyResult(item.sourcePath, item.finalTargetPath, code);
}

// The folder's given-up count, except while a backup set of that folder is
// being filled.
void countGivenUp(const CopyQueueItem& item) {
    const std::wstring folderKey = findWatchFolderOfFile(item.sourcePath);
    if (folderKey.empty()) return;
    if (fillingBackupSetFolder() == folderKey) return;
    std::lock_guard<std::mutex> lock(watchFolderMutex);
    if (const auto it = watchFolderMap.find(folderKey); it != watchFolderMap.end()) ++it->second.givenUpCount;
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
// mirrors, so a private folder's names stay private in the archive. The
// folders made join the group, whose naming syncs them into their parents.
bool makeFoldersBelowRoot(const std::wstring& root, const std::wstring& target, const std::wstring& folderKey,
                          CopyGroup& group) {
    if (isForeignArchiveFolder(root)) return false;
    const std::wstring sourceFolder = withoutTrailingSeparators(folderKey);
    // Asked for its mode, a folder is about to be made.
    const FolderModeFor modeFor = [&](const std::wstring& folder) {
        group.newFolders.emplace_back(root, folder);
        return mirroredFolderMode(sourceFolder + folder.substr(root.size()));
    };
    return openFolderForWriting(root, parentFolder(target), modeFor).isOpen();
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
    keepUntilArchiveIsBack(folderKey, {item.sourcePath, item.applicationName});
    markArchiveMissing(folderKey);
    item.state = kCopyStateFailedFinal;
    item.finished = 1;
}

// The archive's disk has no room for the file: it leaves its batch without
// an attempt counted and waits until a storage check finds room
// (requeueFilesAwaitingRoom). The full disk is logged once, not per file.
void awaitRoom(CopyQueueItem& item, const std::wstring& folderKey, const std::wstring& root) {
    keepUntilArchiveHasRoom(folderKey, {item.sourcePath, item.applicationName}, root);
    item.state = kCopyStateFailedFinal;
    item.finished = 1;
}

// A file written while it was copied is tried again once it has settled: it
// goes back into the queue with its attempts counted, so the next batch
// copies it after the settle time while this batch goes on with the others.
void retryInNextBatch(CopyQueueItem& item) {
    CopyQueueItem retry = item;
    retry.state = kCopyStateToCopy;
    retry.changeTicks = currentTimeTicks();
    {
        std::lock_guard<std::mutex> lock(copyQueueMutex);
        const auto [queued, inserted] = copyQueue.try_emplace(item.sourcePath, retry);
        if (!inserted) {
            queued->second.attemptCount = std::max(queued->second.attemptCount, retry.attemptCount);
            queued->second.changeTicks = std::max(queued->second.changeTicks, retry.changeTicks);
        }
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
    if (!archiveContextOf(folderKey, root) || !makeFoldersBelowRoot(root, target, folderKey, staged.group)) {
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

bool advanceQueueItem(CopyQueueItem& item) {
    if (item.state == kCopyStateCopied) {
        countApplicationResult(item.applicationName, true, nullptr);
        reportToBackup(item, kBackupResultCopied);
        return true;
    }
    if (item.state != kCopyStateFailed && item.state != kCopyStateFailedFinal) return false;
    configurationSaved = false;
    if (item.finished) return true;
    countApplicationResult(item.applicationName, false, &item.failureCounted);
    ++item.attemptCount;
    if (item.attemptCount >= kMaxCopyAttempts || item.state == kCopyStateFailedFinal) {
        reportToBackup(item, kBackupResultGivenUp);
        item.finished = 1;
        countGivenUp(item);
        // A file still held open by its writer gets one more pass.
        if (isFileLocked(item.sourcePath)) item.state = kCopyStateToCopy;
        return false;
    }
    item.state = kCopyStateToCopy;
    return false;
}

bool copyBatchFlag() {
    std::lock_guard<std::mutex> lock(g_copyStepMutex);
    return g_batchFlag;
}

void setCopyBatchFlag(bool value) {
    std::lock_guard<std::mutex> lock(g_copyStepMutex);
    g_batchFlag = value;
}

void markVersionRecordsTouched() { g_versionTouchedMs = steadyClockMs(); }

int64_t versionRecordsTouchedMs() { return g_versionTouchedMs.load(); }
