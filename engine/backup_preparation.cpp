// Listing a folder, comparing its files with their archived copies and
// choosing the ones to copy.
#include <map>
#include <vector>

#include "engine/archive_changes.h"
#include "engine/backup_run.h"
#include "engine/backup_scan.h"
#include "engine/backup_set_folders.h"
#include "engine/copy_cancel.h"
#include "engine/copy_progress.h"
#include "engine/copy_queue.h"
#include "foundation/app_log.h"
#include "foundation/file_helpers.h"
#include "foundation/global_defaults.h"
#include "foundation/text_format.h"
#include "platform/file_copy.h"

namespace {

// Comparisons queued ahead of the scan workers before the engine waits.
constexpr uint64_t kMaxQueuedScans = 2048;
// Longest wait for the comparisons between looks at a stop request.
constexpr uint32_t kScanWaitMs = 20;
// Comparisons handed to the scan workers at once.
constexpr size_t kScanChunk = 64;

// The "backup" list exists and is empty afterwards.
void resetBackupList() {
    std::lock_guard<std::mutex> lock(backupPathMapMutex);
    backupPathMap[backupListKey()].clear();
}

// Whether the archiving takes the file as one of this folder's: inside the
// folder and not its archive, not claimed by a deeper watch folder, an
// included extension, not a restore's own write, not a copy's temporary file.
// The watch folder that claims a file depends on its folder only, so it is
// looked up once per folder.
bool meetsCriteria(const BackupRun& run, const std::wstring& file, std::map<std::wstring, bool>& ownedFolders) {
    if (file == run.key || !pathIsInside(file, run.key)) return false;
    if (!run.archivePath.empty() && pathIsInside(file, run.archivePath)) return false;
    if (isCopyTemporaryName(lastPathComponent(file))) return false;
    const std::wstring folder = parentFolder(file);
    auto owned = ownedFolders.find(folder);
    if (owned == ownedFolders.end()) {
        const std::wstring owner = withoutTrailingSeparators(pathKey(findWatchFolderOfFile(file)));
        owned = ownedFolders.emplace(folder, owner == run.key).first;
    }
    if (!owned->second) return false;
    return isFileExtensionIncluded(run.mapKey, file) && !isRestoredWrite(file);
}

void findEligibleFiles(BackupRun& run) {
    std::map<std::wstring, bool> ownedFolders;
    run.eligible.reserve(run.files.size());
    for (const std::wstring& file : run.files) run.eligible.push_back(meetsCriteria(run, file, ownedFolders) ? 1 : 0);
}

// The archived name of a file: the archive path and the file's path below
// the watch folder.
std::wstring archiveNameOf(const BackupRun& run, const std::wstring& file) {
    return run.archivePath + file.substr(run.key.size());
}

// Waits until the queued comparisons are done; false on a stop or shut-down.
bool waitForScans(BackupRun& run) {
    while (waitForBackupScans(0, kScanWaitMs).running > 0) {
        if (!isApplicationRunning() || isCancelRequested(CancelTask::Backup)) return false;
        run.ping();
    }
    return true;
}

// Hands a chunk of comparisons over, then waits while too many are queued.
// Sets `pending` when some comparison is not done; false on a stop request
// or shut-down.
bool queueScans(BackupRun& run, std::vector<BackupScanRequest>& chunk, bool& pending) {
    for (const std::wstring& result : startBackupScans(chunk)) pending = pending || result == L"-";
    chunk.clear();
    // Keeps the queue of comparisons short: the workers take them in order.
    while (waitForBackupScans(kMaxQueuedScans, kScanWaitMs).running > kMaxQueuedScans) {
        if (!isApplicationRunning() || isCancelRequested(CancelTask::Backup)) return false;
        run.ping();
    }
    return true;
}

// One pass over the files, queueing them in chunks. Sets `pending` when some
// comparison is not done. False when the run must end (stop request or
// shut-down).
bool scanPass(BackupRun& run, bool& pending) {
    pending = false;
    const double total = static_cast<double>(run.files.size());
    std::vector<BackupScanRequest> chunk;
    for (size_t i = 0; i < run.files.size(); ++i) {
        if (i % kScanChunk == 0) {
            if (!isApplicationRunning() || isCancelRequested(CancelTask::Backup)) return false;
            setBackupProgress(run, static_cast<double>(backupScanCounts().finished) / total);
            run.ping();
        }
        if (!run.eligible[i]) continue;
        chunk.push_back({run.files[i], archiveNameOf(run, run.files[i])});
        if (chunk.size() >= kScanChunk && !queueScans(run, chunk, pending)) return false;
    }
    return queueScans(run, chunk, pending);
}

// Compares every file with its newest archived copy, until one whole pass
// finds every result ready.
bool scanFolder(BackupRun& run) {
    resetBackupScan();
    bool pending = true;
    while (pending) {
        if (!scanPass(run, pending) || (pending && !waitForScans(run))) {
            resetBackupScan();  // drops the comparisons still queued
            if (isApplicationRunning())
                logIncomplete(run);
            else
                setBackupResult(run, kBackupResultInterrupted);
            endEarly(run);
            return false;
        }
    }
    return true;
}

void selectFile(BackupRun& run, const std::wstring& file) {
    BackupChecklistItem item;
    item.sourcePath = file;
    item.time = run.startTicks;
    changeEntry(run, [&](WatchFolderEntry& entry) { entry.checklist[file] = item; });
    addCurrentBackupSetFile(file);
    run.toCopy.push_back(file);
    CopyStatusRecord record;
    record.status = kCopyStatusQueued;
    setCopyStatus(std::wstring(kCopyStatusListBackup), file, record);
}

void removeQueuedBackupItems(const std::vector<std::wstring>& files) {
    std::lock_guard<std::mutex> lock(copyQueueMutex);
    for (const std::wstring& file : files) {
        const auto found = copyQueue.find(file);
        if (found != copyQueue.end() && found->second.applicationName == kBackupNameUpper) copyQueue.erase(found);
    }
}

void clearChecklist(const BackupRun& run) {
    changeEntry(run, [](WatchFolderEntry& entry) { entry.checklist.clear(); });
}

}  // namespace

void dropRunState(BackupRun& run) {
    clearChecklist(run);
    clearCurrentBackupSet();
    removeBackupPathEntry(std::wstring(kCopyStatusListBackup));
    removeQueuedBackupItems(run.toCopy);
}

bool loadFolder(BackupRun& run, const std::wstring& folderKey) {
    run.key = withoutTrailingSeparators(pathKey(folderKey));
    std::lock_guard<std::mutex> lock(watchFolderMutex);
    for (const std::wstring& key : {pathKey(folderKey), run.key, run.key + kPathSeparatorText}) {
        const auto found = watchFolderMap.find(key);
        if (found == watchFolderMap.end() || found->second.removed) continue;
        run.mapKey = key;
        run.displayName = found->second.displayName.empty() ? lastPathComponent(run.key) : found->second.displayName;
        run.archivePath = withoutTrailingSeparators(pathKey(found->second.archivePath));
        return true;
    }
    return false;
}

bool prepareBackup(BackupRun& run) {
    setBackupState(run, kBackupStateStarting);
    pauseStep();
    setBackupResult(run, kBackupResultSuccess);
    std::vector<std::wstring> listed;
    listFilesRecursive(run.key, listed, run.recursive);
    for (std::wstring& file : listed) run.files.push_back(pathKey(file));
    if (run.files.empty()) {
        setBackupState(run, kBackupStateIdle);
        pauseStep();
        appendAppLogEntry(L"No files to backup!", 4, false);
        return false;
    }
    changeEntry(run, [&run](WatchFolderEntry& entry) {
        entry.backupStartTime = run.startTicks;
        entry.checklist.clear();
        entry.backupState = kBackupStatePreparing;
        entry.backupProgress = 0.0;
    });
    pauseStep();
    run.setName = formatTimestamp(run.startTicks, true) + std::wstring(kFileSetSuffix);
    startCurrentBackupSet(run.setName);
    run.report.push_back(reportLine(kReportInformation, "Details:"));
    findEligibleFiles(run);
    return scanFolder(run);
}

bool selectFiles(BackupRun& run) {
    resetBackupList();
    const double total = static_cast<double>(run.files.size());
    for (size_t i = 0; i < run.files.size(); ++i) {
        const std::wstring& file = run.files[i];
        if (!isApplicationRunning()) {
            dropRunState(run);
            setBackupResult(run, kBackupResultInterrupted);
            endEarly(run);
            return false;
        }
        run.ping();
        if (isCancelRequested(CancelTask::Backup)) {
            setBackupState(run, kBackupStateIdle);
            pauseStep();
            setBackupResult(run, kBackupResultUserCancelled);
            dropRunState(run);
            logIncomplete(run);
            return false;
        }
        if (!run.eligible[i]) continue;
        ++run.meetingCriteria;
        const std::wstring found = startBackupScanThread(file, archiveNameOf(run, file));
        if (found == L"-") continue;
        // The comparison has just read the copy: it is there.
        if (!found.empty()) {
            ++run.unchanged;
            continue;
        }
        selectFile(run, file);
        setBackupProgress(run, static_cast<double>(run.unchanged) / total);
    }
    startProgressSet(run.toCopy);
    return true;
}

void handOverBatch(const BackupRun& run) {
    std::vector<ChangedFile> batch;
    batch.reserve(run.toCopy.size());
    for (const std::wstring& file : run.toCopy) batch.push_back({file, std::wstring(kBackupNameUpper)});
    archiveChangedFile(batch);
}
