#include "engine/restore_tasks.h"

#include <algorithm>
#include <future>
#include <map>
#include <mutex>
#include <string>
#include <system_error>
#include <vector>

#include "engine/backup_scan.h"
#include "engine/backup_set_folders.h"
#include "engine/backup_sets.h"
#include "engine/confirm_request.h"
#include "engine/copy_cancel.h"
#include "engine/copy_progress.h"
#include "engine/parallel_staging.h"
#include "engine/restore_copy.h"
#include "engine/restore_state.h"
#include "engine/smart_lists.h"
#include "engine/thread_registry.h"
#include "engine/version_deletion.h"
#include "foundation/app_log.h"
#include "foundation/archive_names.h"
#include "foundation/archive_root.h"
#include "foundation/file_helpers.h"
#include "foundation/file_metadata.h"
#include "foundation/global_defaults.h"
#include "foundation/text_format.h"
#include "foundation/texts.h"
#include "foundation/version_records.h"
#include "foundation/watch_folders.h"
#include "platform/file_copy.h"
#include "platform/paths.h"
#include "platform/safe_folders.h"
#include "platform/text.h"

namespace {

// One backup-set restore at a time. Held while the task asks the user, so it
// guards nothing that a window reads: the set itself is copied out of
// backupSetMutex, which is only ever held for that copy.
std::mutex g_setRestoreMutex;

constexpr const wchar_t* kSetCompletedText = L"Restore operation completed for folder  \"";
constexpr const wchar_t* kSetFailedText = L"FAILED to restore set  \"";

// Every archived file below `folder`, as set entries relative to it.
bool listArchiveFolder(const std::wstring& folder, BackupSetRecord& set) {
    if (!isExistingFolder(folder)) return false;
    ArchivedFileList listed;
    if (!collectArchivedFiles(folder, listed)) return false;
    const std::wstring base = pathKey(withoutTrailingSeparators(folder));
    set = BackupSetRecord{};
    set.name = backupSetNameFromPath(base);
    for (const auto& [keyText, record] : listed.files) {
        const std::wstring path = pathKey(record.path);
        if (isCopyTemporaryName(lastPathComponent(path)) || !pathIsInside(path, base)) continue;
        BackupSetEntry entry;
        entry.sourcePath = L"." + path.substr(base.size());
        entry.archivePath = record.path;
        entry.copied = true;
        entry.restore = true;
        set.files.emplace(entry.sourcePath, std::move(entry));
    }
    return true;
}

// The "All Recent Files" entry stands for its watch folder: the newest copy
// of each file in the folder's archive, as entries relative to the folder.
bool listRecentFiles(const std::wstring& watchFolder, BackupSetRecord& set) {
    WatchFolderArchiveInfo folder;
    if (!findHoldingWatchFolder(watchFolder, folder) || folder.key != pathKey(withoutTrailingSeparators(watchFolder)))
        return false;
    const std::wstring archive = pathKey(folder.archivePath);
    if (archive.empty() || archive.front() != kPathSeparator) return false;
    std::vector<std::wstring> copies;
    scanWatchFolder(folder.key, copies);
    set = BackupSetRecord{};
    set.name = std::wstring(kAllRecentFilesName);
    for (const std::wstring& copy : copies) {
        const std::wstring copyFolder = parentFolder(copy);
        if (isCopyTemporaryName(lastPathComponent(copy)) || !pathIsInside(copyFolder, archive)) continue;
        const std::wstring relative = copyFolder.substr(archive.size());
        BackupSetEntry entry;
        entry.sourcePath = joinPath(L"." + relative, sourceNameOfCopy(copy, folder.key + relative));
        entry.archivePath = copy;
        entry.copied = true;
        entry.restore = true;
        set.files.emplace(entry.sourcePath, std::move(entry));
    }
    return true;
}

bool copiedAndMarked(const BackupSetEntry& entry) { return entry.copied && entry.restore; }

// Applies the restoration window's marks (a copy of the edited set, taken
// under backupSetMutex and released at once); returns the total to restore.
// Marks of another set's edit are left alone: they would decide what this
// set restores by the keys the two sets happen to share.
size_t applyEditedMarks(BackupSetRecord& set, bool listed, const std::wstring& setFilePath) {
    std::map<std::wstring, BackupSetEntry> edited;
    {
        std::lock_guard<std::mutex> lock(backupSetMutex);
        if (editedBackupSetPath == setFilePath) edited = editedBackupSet.files;
    }
    if (edited.empty()) {
        return static_cast<size_t>(
            std::count_if(set.files.begin(), set.files.end(), [](const auto& file) { return copiedAndMarked(file.second); }));
    }
    for (auto& [key, entry] : set.files) entry.restore = listed;
    for (const auto& [key, mark] : edited) {
        auto found = set.files.find(key);
        if (mark.restore && found != set.files.end()) found->second.restore = true;
    }
    return static_cast<size_t>(
        std::count_if(set.files.begin(), set.files.end(), [](const auto& file) { return file.second.restore; }));
}

// The entries to copy back. A set read from an archive may come from another
// machine or another user: an entry whose destination is not below the source
// folder, or whose copy is not below the folder's archive, is never read or
// written, only listed in `outside`.
std::vector<RestoreItem> setItems(const BackupSetRecord& set, const std::wstring& sourceFolder,
                                  const std::wstring& archive, std::vector<std::wstring>& outside) {
    const std::wstring folder = pathKey(withoutTrailingSeparators(sourceFolder));
    std::vector<RestoreItem> items;
    for (const auto& [key, entry] : set.files) {
        if (!copiedAndMarked(entry)) continue;
        const std::wstring destination = resolveRestoreDestination(entry.sourcePath, sourceFolder);
        if (!isPathBelow(pathKey(destination), folder) || !isPathBelow(pathKey(entry.archivePath), archive)) {
            outside.push_back(entry.sourcePath);
            continue;
        }
        items.push_back({entry.archivePath, destination, archiveRootOf(entry.archivePath, archive), folder});
    }
    return items;
}

// The report lines naming the entries that were not restored: `heading`
// after their number, then one line each.
std::wstring unrestoredReport(const std::vector<std::wstring>& paths, const std::string& heading) {
    if (paths.empty()) return L"";
    std::wstring text = std::wstring(kLineSeparatorW) +
                        utf8ToWide(joinReportFields(2, "", std::to_string(paths.size()) + heading, ""));
    for (const std::wstring& path : paths)
        text += std::wstring(kLineSeparatorW) + utf8ToWide(joinReportFields(3, "", wideToUtf8(path), ""));
    return text;
}

// What a backup-set restore holds, each let go once: by the task's own ends
// in their order, or by the destructor when it leaves by an exception.
struct SetRestoreHolds {
    bool active = false;
    bool cancellable = false;
    DestinationGuard guard;

    void releaseActive() {
        if (active) releaseRestoreActive();
        active = false;
    }
    void releasePaths() { releaseRestoreWrites(guard); }
    void endCancel() {
        if (cancellable) endCancellableTask(CancelTask::Restore);
        cancellable = false;
    }
    void releaseAll() {
        releasePaths();
        releaseActive();
        endCancel();
    }
    ~SetRestoreHolds() { releaseAll(); }
};

// A backup set's copies are staged on several threads (see ParallelStaging)
// while this task hands out the next files and checks what each destination
// held before its copy was staged. A full group is named on one more thread,
// each copy checked right before its rename there. A question asked on either
// thread waits until any other one of the restore is answered.
struct ParallelRestore {
    explicit ParallelRestore(DestinationGuard& guard) : group(guard) {
        staging.progress = onRestoreProgress;
        staging.cancel = cancelMirror(CancelTask::Restore);
    }
    RestoreGroup group;
    ParallelStaging staging;
    std::vector<const RestoreItem*> handed;     // by job number
    std::vector<const RestoreItem*> cancelled;  // stopped halfway by a cancel request
    std::vector<std::wstring> failed;           // destinations not written
    // A full group is named on a thread of its own while the next one is
    // staged, one group at a time and in order. Its copies are checked right
    // before their renames there as anywhere.
    CopyGroup namingGroup;  // touched by the naming thread alone meanwhile
    size_t namingCount = 0;
    std::future<std::vector<StagedCopy>> naming;

    // Files staged and not yet named.
    size_t pending() const { return group.staged() + namingCount; }
    // Names a group and lets the staging threads stage as many copies again.
    std::vector<StagedCopy> name(CopyGroup& copies) {
        std::vector<StagedCopy> named = finishCopyGroup(copies, group.guard.renameSteps());
        uint64_t bytes = 0;
        for (const StagedCopy& copy : named) bytes += copy.bytes;
        releaseStagedCopies(staging, named.size(), bytes);
        return named;
    }
    void takeNamed() {
        if (naming.valid()) group.count(naming.get());
        namingCount = 0;
    }
    void nameGroupMeanwhile() {
        takeNamed();
        namingCount = group.staged();
        namingGroup = std::exchange(group.group, CopyGroup());
        try {
            naming = std::async(std::launch::async, [this] { return name(namingGroup); });
        } catch (const std::system_error&) {
            group.count(name(namingGroup));  // no thread: named here
            namingCount = 0;
        }
    }

    // Hands a file out; with a group's worth handed out and not taken in,
    // takes in what is staged first.
    void hand(const RestoreItem& item) {
        addStagingJob(staging, {handed.size(), {item.archiveRoot, item.archivePath},
                                {item.destinationRoot, item.destination}});
        handed.push_back(&item);
        while (stagingBacklog(staging) >= kStagingJobsAhead) take(takeStagingOutcomes(staging, true));
    }
    // Takes the copies staged so far into the group, naming it whenever it is
    // full; with `all`, until every file handed out is taken in. The copies
    // come in the order the files were handed out, whatever order the threads
    // finish them in: questions come and copies take their names in the
    // set's order, as when one thread copied them.
    void collect(bool all) {
        take(takeStagingOutcomes(staging, false));
        while (all && stagingBacklog(staging) > 0) take(takeStagingOutcomes(staging, true));
    }
    void take(std::vector<StagingOutcome> outcomes) {
        for (StagingOutcome& outcome : outcomes) {
            const RestoreItem& item = *handed[outcome.index];
            if (outcome.result == CopyResult::Copied && !mayOverwrite(item.destination, outcome.before)) {
                discardStagedCopy(outcome.staged);
                releaseStagedCopies(staging, 1, outcome.staged.bytes);
                failed.push_back(item.destination);
            } else if (outcome.result == CopyResult::Copied) {
                group.group.bytes += outcome.staged.bytes;
                group.group.copies.push_back(std::move(outcome.staged));
                if (isCopyGroupFull(group.group)) nameGroupMeanwhile();
            } else if (outcome.result == CopyResult::Cancelled && isApplicationRunning() &&
                       isCancelRequested(CancelTask::Restore)) {
                cancelled.push_back(&item);
            } else {
                failed.push_back(item.destination);
            }
        }
    }
    // A destination that no longer matches what the user confirmed when its
    // copy was staged is looked at again: an earlier copy to the same place
    // may have been named meanwhile.
    bool mayOverwrite(const std::wstring& destination, FileState state) {
        if (!group.guard.matchesConfirmed(destination, state)) readFileState(destination, state);
        return group.guard.mayOverwrite(destination, state);
    }
    void finishAll() {
        collect(true);
        takeNamed();
        group.count(name(group.group));
    }
};

// A cancel request: once the copies under way have stopped, asks whether to
// stop; CANCEL clears the request and hands the files stopped halfway out
// again (the old files stay as they were until then).
RestoreStep answerCancelRequest(ParallelRestore& restore, const std::string& displayName) {
    restore.collect(true);
    const bool stop = askToStop(displayName);
    if (!isApplicationRunning()) return RestoreStep::ShuttingDown;
    if (stop) return RestoreStep::StoppedByUser;
    setCancelRequest(CancelTask::Restore, false);
    for (const RestoreItem* item : std::exchange(restore.cancelled, {})) restore.hand(*item);
    return RestoreStep::Copied;
}

// restoreOneFile for a backup set: the copy is handed out (Copied) instead
// of written on the task's thread.
RestoreStep handOutRestoreFile(const RestoreItem& item, const std::string& displayName, ParallelRestore& restore) {
    if (!isApplicationRunning()) return RestoreStep::ShuttingDown;
    if (isCancelRequested(CancelTask::Restore)) {
        const RestoreStep answer = answerCancelRequest(restore, displayName);
        if (answer != RestoreStep::Copied) return answer;
    }
    if (item.destination.empty()) return RestoreStep::Failed;
    std::set<std::wstring>& made = restore.group.madeFolders;
    const std::wstring folder = parentFolder(item.destination);
    if (!made.count(folder) && makeRestoreFolders(item, restore.group.group.newFolders)) made.insert(folder);
    restore.hand(item);
    return RestoreStep::Copied;
}

// After the last file is handed out: files stopped halfway by a cancel
// request are asked about and handed out again until none is left, then the
// last group is named.
RestoreStep finishParallelRestore(ParallelRestore& restore, const std::string& displayName) {
    RestoreStep step = RestoreStep::Copied;
    for (;;) {
        restore.collect(true);
        if (restore.cancelled.empty() || !isApplicationRunning()) break;
        if (!isCancelRequested(CancelTask::Restore)) {
            for (const RestoreItem* item : std::exchange(restore.cancelled, {}))
                restore.failed.push_back(item->destination);
            break;
        }
        step = answerCancelRequest(restore, displayName);
        if (step != RestoreStep::Copied) break;
    }
    restore.finishAll();
    return step;
}

}  // namespace

std::wstring resolveRestoreDestination(const std::wstring& sourcePath, const std::wstring& sourceFolder) {
    std::wstring destination = sourcePath;
    if (sourcePath.size() >= 2 && sourcePath[0] == L'.' && sourcePath[1] == kPathSeparator) {
        const std::wstring rest = sourcePath.substr(1);
        const std::wstring folder = withoutTrailingSeparators(sourceFolder);
        if (hasDotComponent(rest) || folder.empty() || folder.front() != kPathSeparator) return std::wstring();
        destination = (folder == kPathSeparatorText ? L"" : folder) + rest;
    }
    if (destination.empty() || destination.front() != kPathSeparator) return std::wstring();
    return destination;
}

void restoreBackupSetTask(std::wstring setFilePath, std::wstring sourceFolder) {
    // A second restore waits here, before it touches the state the first one shows.
    std::lock_guard<std::mutex> serial(g_setRestoreMutex);
    SetRestoreHolds holds;
    // A stop left over is cleared, never one meant for a restore still running.
    holds.cancellable = true;
    if (beginCancellableTask(CancelTask::Restore)) setCancelRequest(CancelTask::Restore, false);
    resetRestoreProgress();
    holdRestoreActive();
    holds.active = true;
    restoreStartTicks = currentTimeTicks();

    BackupSetRecord set;
    bool listed = false;
    if (!loadBackupSetFile(setFilePath, set)) {
        listed = listRecentFiles(setFilePath, set) || listArchiveFolder(setFilePath, set);
        if (!listed) return;
    }
    const std::string displayName = wideToUtf8(lastPathComponent(sourceFolder));
    size_t total = applyEditedMarks(set, listed, setFilePath);
    std::vector<std::wstring> outside;
    // Copies are read only below an archive folder that may hold them, as
    // copies are written only into one: another user's, or one others can
    // write, holds no copy of the user's (its log line says what to change).
    WatchFolderArchiveInfo holder;
    const bool usable = findHoldingWatchFolder(sourceFolder, holder) && !isForeignArchiveFolder(holder.archivePath);
    const std::wstring archive = usable ? holder.archivePath : L"";
    const std::vector<RestoreItem> items = setItems(set, sourceFolder, archive, outside);
    holds.guard.confirmAll(items);
    if (!askRestoreQuestion(kRestoreOverwriteTemplate, {{kPlaceholderDisplayName, displayName}})) {
        holds.releaseAll();
        if (isApplicationRunning()) appendAppLogEntry(kUserCancelledRestoreText, 2, false);
        return;
    }

    const int64_t startMs = steadyClockMs();
    restoreStartTicks = currentTimeTicks();
    total -= std::min(total, outside.size());
    startProgressSet(archivePathsOf(items));
    holds.guard.noteFolders(items);

    RestorePacing pacing;
    startRestorePacing(pacing);
    ParallelRestore restore(holds.guard);
    bool stopped = false;
    for (const RestoreItem& item : items) {
        const RestoreStep step = handOutRestoreFile(item, displayName, restore);
        if (step == RestoreStep::ShuttingDown) return restore.finishAll();
        if (step == RestoreStep::StoppedByUser) {
            stopped = true;
            break;
        }
        if (step != RestoreStep::Copied) {
            restore.failed.push_back(item.destination);
            continue;
        }
        restore.collect(false);
        restoreProgress = shareOf(restore.group.copies + restore.pending(), total);
        paceRestoreCopy(pacing, restoreProgress);
    }
    if (stopped)
        restore.finishAll();
    else if (finishParallelRestore(restore, displayName) == RestoreStep::ShuttingDown)
        return;
    std::vector<std::wstring> failed = std::move(restore.failed);
    for (const std::string& path : restore.group.failed) failed.push_back(utf8ToWide(path));
    const size_t copies = restore.group.copies;
    restoreProgress = shareOf(copies, total);
    holds.releaseActive();

    std::wstring logText = kSetFailedText + escapeLogText(set.name) + L"\"";
    const bool restored = total > 0 && copies >= total;
    if (restored) {
        const std::wstring duration = formatDurationMs(static_cast<uint64_t>(std::max<int64_t>(steadyClockMs() - startMs, 0)));
        logText = kSetCompletedText + utf8ToWide(escapeLogText(displayName)) + L"\" + " + duration + L" ";
        askRestoreQuestion(kRestoreSuccessTemplate, {{kPlaceholderDisplayName, displayName},
                                                     {kPlaceholderDuration, wideToUtf8(duration)},
                                                     {kPlaceholderFileCount, std::to_string(copies)}});
    }
    holds.releaseAll();
    appendAppLogMarkup(logText + unrestoredReport(outside, " outside the folder or its archive, not restored:") +
                           unrestoredReport(failed, " not restored:"),
                       restored ? 2 : 8, false);
}

void startRestoreBackupSet(std::wstring setFilePath, std::wstring sourceFolder) {
    startEngineThread([path = std::move(setFilePath), folder = std::move(sourceFolder)]() mutable {
        restoreBackupSetTask(std::move(path), std::move(folder));
    });
}
