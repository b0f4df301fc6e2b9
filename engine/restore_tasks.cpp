#include "engine/restore_tasks.h"

#include <algorithm>
#include <chrono>
#include <future>
#include <map>
#include <mutex>
#include <set>
#include <system_error>
#include <thread>
#include <utility>

#include "engine/archive_copy.h"
#include "foundation/archive_names.h"
#include "engine/backup_scan.h"
#include "engine/backup_set_folders.h"
#include "engine/backup_sets.h"
#include "engine/change_watcher.h"
#include "engine/confirm_request.h"
#include "engine/file_watcher_pass.h"
#include "engine/parallel_staging.h"
#include "engine/restore_folders.h"
#include "engine/restore_state.h"
#include "engine/smart_lists.h"
#include "engine/thread_registry.h"
#include "engine/version_deletion.h"
#include "foundation/app_log.h"
#include "foundation/file_helpers.h"
#include "foundation/file_metadata.h"
#include "foundation/global_defaults.h"
#include "foundation/text_format.h"
#include "foundation/watch_folders.h"
#include "platform/file_copy.h"
#include "platform/file_system.h"
#include "platform/paths.h"
#include "platform/safe_folders.h"
#include "platform/text.h"
#include "foundation/texts.h"

namespace {

// One backup-set restore at a time. Held while the task asks the user, so it
// guards nothing that a window reads: the set itself is copied out of
// backupSetMutex, which is only ever held for that copy.
std::mutex g_setRestoreMutex;

constexpr const wchar_t* kCancelledByUserText = L"Varnholt Restore operation canceled by user!";
constexpr const wchar_t* kSelectedFinishedText = L"Active backup files restoration finished.\"";
constexpr const wchar_t* kSetCompletedText = L"Restore operation completed for folder  \"";
constexpr const wchar_t* kSetFailedText = L"FAILED to restore set  \"";

// One file to copy back, taken out of the shared maps. The copy is read
// below `archiveRoot` and written below `destinationRoot` (the watch or
// source folder), never through a link on the way.
struct RestoreItem {
    std::wstring archivePath;
    std::wstring destination;
    std::wstring archiveRoot;
    std::wstring destinationRoot;
};

enum class RestoreStep { Copied, Failed, StoppedByUser, ShuttingDown };


// The folder an archived copy is read below: the archive folder holding it,
// or else the copy's own folder.
std::wstring archiveRootOf(const std::wstring& archivePath, const std::wstring& archiveFolder) {
    const bool inFolder = !archiveFolder.empty() && pathIsInside(archivePath, archiveFolder);
    return inFolder ? archiveFolder : parentFolder(archivePath);
}

// Makes the missing folders above a restored file, top down, each opened
// below the item's root without following a link: a folder replaced by a
// link fails the file. The root itself (the folder as the user named it) is
// made by its path when it is gone. Each takes the mode of the archive
// folder at the same height above the copy, which mirrors the folder the
// file was archived from: a private folder comes back private.
bool makeRestoreFolders(const RestoreItem& item) {
    const std::wstring folder = parentFolder(item.destination);
    const FolderModeFor modeFor = [&](const std::wstring& made) {
        std::wstring model = parentFolder(item.archivePath);
        for (std::wstring up = folder; up.size() > made.size(); up = parentFolder(up)) model = parentFolder(model);
        return mirroredFolderMode(model);
    };
    std::vector<std::wstring> missing;
    for (std::wstring up = item.destinationRoot; !up.empty() && !isExistingFolder(up); up = parentFolder(up))
        missing.push_back(up);
    for (auto it = missing.rbegin(); it != missing.rend(); ++it)
        if (!makeFolder(*it, modeFor(*it))) return false;
    return openFolderBelow(item.destinationRoot, folder, modeFor).isOpen();
}

double shareOf(size_t copies, size_t total) {
    return total == 0 ? 0.0 : static_cast<double>(copies) / static_cast<double>(total);
}

bool applicationStillRuns() { return isApplicationRunning(); }

// Asks one of the restore questions and waits for its own answer; a question
// given up at shut-down counts as CANCEL.
bool askRestoreQuestion(const ConfirmTemplate& question, const std::vector<std::pair<std::string, std::string>>& values) {
    const std::string body = fillTemplate(question.body, values);
    return askModalQuestion(question.title, question.heading, body, question.buttonMask, applicationStillRuns)
        .confirmed;
}

bool askToStop(const std::string& displayName) {
    return askRestoreQuestion(kCancelRestoreTemplate, {{kPlaceholderDisplayName, displayName}});
}

// The progress routine of the restore copies: the copy's opening call (nothing
// copied yet) only checks for shut-down, since every file starts at 0 in the
// progress set and each update there passes over the whole set.
CopyProgressAnswer onRestoreProgress(const CopyProgress& progress) {
    if (progress.bytesCopied == 0 && progress.totalBytes != 0)
        return isApplicationRunning() ? CopyProgressAnswer::Continue : CopyProgressAnswer::Cancel;
    return onCopyProgress(progress);
}

bool sameContent(const FileState& a, const FileState& b) {
    return a.exists == b.exists && (!a.exists || (a.size == b.size && a.modifiedTicks == b.modifiedTicks));
}

// Keeps a restore from writing over an edit unasked. What each destination
// held when the user confirmed is looked at again before its copy is staged
// and right before the copy takes its name (a group names its copies up to
// its whole size later): a destination changed since is asked about again.
// The restore's own writes are registered from right before each rename, so
// the archiving passes over them and over nothing else.
struct DestinationGuard {
    // A set restore names its copies on a thread of its own meanwhile.
    std::mutex mutex;  // guards `confirmed` and `written`, never held across a question
    std::map<std::wstring, FileState> confirmed;
    std::vector<RestoredWrite> written;
    uint64_t foldersToken = 0;  // the folders noted for the recovery

    void confirmAll(const std::vector<RestoreItem>& items) {
        for (const RestoreItem& item : items) readFileState(item.destination, confirmed[item.destination]);
    }
    // False when the destination changed since it was confirmed and the user
    // does not want it overwritten.
    bool mayOverwrite(const std::wstring& destination, const FileState& now) {
        if (matchesConfirmed(destination, now)) return true;
        if (!askRestoreQuestion(kRestoreOverwriteTemplate, {{kPlaceholderDisplayName, wideToUtf8(destination)}}))
            return false;
        std::lock_guard<std::mutex> lock(mutex);
        confirmed[destination] = now;
        return true;
    }
    bool matchesConfirmed(const std::wstring& destination, const FileState& state) {
        std::lock_guard<std::mutex> lock(mutex);
        const auto found = confirmed.find(destination);
        return found == confirmed.end() || sameContent(found->second, state);
    }
    bool mayStage(const std::wstring& destination) {
        FileState now;
        readFileState(destination, now);
        return mayOverwrite(destination, now);
    }
    bool beforeRename(const StagedCopy& copy, const FileState& now) {
        if (!mayOverwrite(copy.target, now)) return false;
        FileState write;
        write.exists = true;
        write.device = copy.device;
        write.inode = copy.inode;
        write.size = copy.bytes;
        write.modifiedTicks = copy.modifiedTicks;
        addRestoredWrite(copy.target, write);
        std::lock_guard<std::mutex> lock(mutex);
        written.push_back({copy.target, write});
        return true;
    }
    void afterRename(const StagedCopy& copy, const FileState& state) {
        if (!state.exists) return;
        addRestoredWrite(copy.target, state);  // now with its change time
        std::lock_guard<std::mutex> lock(mutex);
        confirmed[copy.target] = state;  // a second version of it is not asked about
    }
    CopyRenameSteps renameSteps() {
        return {[this](const StagedCopy& copy, const FileState& now) { return beforeRename(copy, now); },
                [this](const StagedCopy& copy, const FileState& state) { afterRename(copy, state); }};
    }
    // Before the first copy is staged: the folders the copies go into.
    void noteFolders(const std::vector<RestoreItem>& items) {
        std::set<std::pair<std::wstring, std::wstring>> folders;
        for (const RestoreItem& item : items)
            if (!item.destination.empty()) folders.emplace(item.destinationRoot, parentFolder(item.destination));
        std::vector<RestoreFolder> noted;
        for (const auto& [root, folder] : folders) noted.push_back({root, folder});
        if (!noted.empty()) foldersToken = noteRestoreFolders(noted);
    }
    void forgetFolders() {
        if (foldersToken != 0) forgetRestoreFolders(foldersToken);
        foldersToken = 0;
    }
};

// The restore's copies take their names a group at a time (see CopyGroup):
// the files count as restored once named.
struct RestoreGroup {
    explicit RestoreGroup(DestinationGuard& destinationGuard) : guard(destinationGuard) {}
    DestinationGuard& guard;
    CopyGroup group;
    size_t copies = 0;
    std::vector<std::string> failed;
    std::set<std::wstring> madeFolders;  // made once, not once per file

    size_t staged() const { return group.copies.size(); }
    void count(const std::vector<StagedCopy>& named) {
        for (const StagedCopy& copy : named) {
            if (copy.result == CopyResult::Copied)
                ++copies;
            else
                failed.push_back(wideToUtf8(copy.target));
        }
    }
    void finish() { count(finishCopyGroup(group, guard.renameSteps())); }
};

// Writes one file back under a temporary name beside it, added to the group.
// A cancel request, met before the copy or stopping it halfway (the old file
// then stays as it was), asks whether to stop; CANCEL clears the request and
// the file is copied (again).
RestoreStep restoreOneFile(const RestoreItem& item, const std::string& displayName, RestoreGroup& group) {
    for (;;) {
        if (!isApplicationRunning()) return RestoreStep::ShuttingDown;
        if (isCancelRequested(CancelTask::Restore)) {
            const bool stop = askToStop(displayName);
            if (!isApplicationRunning()) return RestoreStep::ShuttingDown;
            if (stop) return RestoreStep::StoppedByUser;
            setCancelRequest(CancelTask::Restore, false);
        }
        if (item.destination.empty()) return RestoreStep::Failed;
        const std::wstring folder = parentFolder(item.destination);
        if (!group.madeFolders.count(folder) && makeRestoreFolders(item)) group.madeFolders.insert(folder);
        const CopyResult result =
            stageCopy(group.group, {item.archiveRoot, item.archivePath}, {item.destinationRoot, item.destination},
                      onRestoreProgress, cancelMirror(CancelTask::Restore));
        if (result == CopyResult::Copied) return RestoreStep::Copied;
        if (!isApplicationRunning()) return RestoreStep::ShuttingDown;
        if (result != CopyResult::Cancelled || !isCancelRequested(CancelTask::Restore)) return RestoreStep::Failed;
    }
}

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
    ~ParallelRestore() {
        for (const auto& [index, outcome] : early)
            if (outcome.result == CopyResult::Copied) removeFileBelow(outcome.staged.root, outcome.staged.tempPath);
    }
    RestoreGroup group;
    ParallelStaging staging;
    std::vector<const RestoreItem*> handed;     // by job number
    std::vector<const RestoreItem*> cancelled;  // stopped halfway by a cancel request
    std::vector<std::wstring> failed;           // destinations not written
    // Outcomes are taken in the order the files were handed out, whatever
    // order the threads finish them in: questions come and copies take their
    // names in the set's order, as when one thread copied them.
    std::map<size_t, StagingOutcome> early;
    size_t nextOutcome = 0;
    // A full group is named on a thread of its own while the next one is
    // staged, one group at a time and in order. Its copies are checked right
    // before their renames there as anywhere.
    CopyGroup namingGroup;  // touched by the naming thread alone meanwhile
    size_t namingCount = 0;
    std::future<std::vector<StagedCopy>> naming;

    // Files staged and not yet named.
    size_t pending() const { return group.staged() + namingCount; }
    void takeNamed() {
        if (naming.valid()) group.count(naming.get());
        namingCount = 0;
    }
    void nameGroupMeanwhile() {
        takeNamed();
        namingCount = group.staged();
        namingGroup = std::exchange(group.group, CopyGroup());
        try {
            naming = std::async(std::launch::async,
                                [this] { return finishCopyGroup(namingGroup, group.guard.renameSteps()); });
        } catch (const std::system_error&) {
            group.count(finishCopyGroup(namingGroup, group.guard.renameSteps()));  // no thread: named here
            namingCount = 0;
        }
    }

    void hand(const RestoreItem& item) {
        addStagingJob(staging, {handed.size(), {item.archiveRoot, item.archivePath},
                                {item.destinationRoot, item.destination}});
        handed.push_back(&item);
        waitForStagingBelow(staging, kStagingJobsAhead);
    }
    // Takes the copies staged so far into the group, naming it whenever it is
    // full; with `all`, once every file handed out is staged.
    void collect(bool all) {
        for (StagingOutcome& outcome : takeStagingOutcomes(staging, all)) early.emplace(outcome.index, std::move(outcome));
        for (auto next = early.begin(); next != early.end() && next->first == nextOutcome; next = early.begin()) {
            StagingOutcome outcome = std::move(next->second);
            early.erase(next);
            ++nextOutcome;
            const RestoreItem& item = *handed[outcome.index];
            if (outcome.result == CopyResult::Copied && !mayOverwrite(item.destination, outcome.before)) {
                removeFileBelow(outcome.staged.root, outcome.staged.tempPath);
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
        group.finish();
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
    if (!made.count(folder) && makeRestoreFolders(item)) made.insert(folder);
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

std::vector<std::wstring> archivePathsOf(const std::vector<RestoreItem>& items) {
    std::vector<std::wstring> archives;
    for (const RestoreItem& item : items) archives.push_back(item.archivePath);
    return archives;
}

// Waits up to `ms`, ending early at shut-down.
void pauseWhileRunning(uint32_t ms) {
    const int64_t end = steadyClockMs() + ms;
    while (isApplicationRunning() && steadyClockMs() < end) {
        const int64_t left = end - steadyClockMs();
        std::this_thread::sleep_for(std::chrono::milliseconds(std::clamp<int64_t>(left, 0, 50)));
    }
}

// Waits until the watcher has read the changes made before `readMark` and
// the File Watcher pass has handed them on, while both run. No time limit: a
// registered write matches the restore's own file only, so holding it longer
// never hides an edit, while letting it go early archives the restore's write.
void waitUntilWatcherSawWrites(uint64_t readMark) {
    const auto waitUntil = [](const auto& done) {
        while (isApplicationRunning() && isChangeWatcherRunning() && !done())
            std::this_thread::sleep_for(std::chrono::milliseconds(timings().shortPollMs.load()));
    };
    waitUntil([readMark] { return changeWatcherHasReadThrough(readMark); });
    const uint64_t cycleMark = fileWatcherCycleMark();
    waitUntil([cycleMark] { return fileWatcherHandledChangesSince(cycleMark); });
}

// The files a restore wrote stay registered until the watcher has seen the
// writes: a change of a restored file still queued in the kernel or in the
// watcher would otherwise come back as a new version of it.
void releaseRestoredWritesAfterWatch(std::vector<RestoredWrite> writes) {
    if (writes.empty()) return;
    const uint64_t readMark = changeWatcherReadMark();
    try {
        startEngineThread([writes, readMark] {
            waitUntilWatcherSawWrites(readMark);
            removeRestoredWrites(writes);
        });
    } catch (...) {
        removeRestoredWrites(writes);
    }
}

// At the end of a restore, whichever way it ends.
void releaseRestoreWrites(DestinationGuard& guard) {
    if (isApplicationRunning())
        releaseRestoredWritesAfterWatch(std::move(guard.written));
    else
        removeRestoredWrites(guard.written);
    guard.written.clear();
    guard.forgetFolders();
}

// ---- restore of selected versions ----

struct RestoreWatchFolder {
    std::wstring key;      // the watch folder holding the first file
    std::wstring archive;  // its archive folder ("" without a watch folder)
};

// The deepest watch folder holding `path`, which names the restore, and its
// archive folder; without one, the file's own folder. Versions are restored
// from wherever their record keeps them: those archived before the folder's
// archive location changed lie in its old archive folder.
RestoreWatchFolder restoreFolderOf(const std::wstring& path) {
    RestoreWatchFolder found;
    {
        std::lock_guard<std::mutex> lock(watchFolderMutex);
        for (const auto& [key, entry] : watchFolderMap) {
            const std::wstring folder = withoutTrailingSeparators(key);
            if (!pathIsInside(path, folder) || folder.size() <= found.key.size()) continue;
            found.key = folder;
            found.archive = pathKey(withoutTrailingSeparators(entry.archivePath));
        }
    }
    if (found.key.empty()) found.key = parentFolder(path);
    return found;
}

// Copies the marks into versionRecordMap (a version the selection lacks
// becomes unselected); returns the first source path marked.
std::wstring markSelection(const RestoreSelection& selection) {
    std::wstring first;
    std::lock_guard<std::mutex> lock(versionRecordMutex);
    for (const auto& [source, versions] : selection) {
        auto file = versionRecordMap.find(pathKey(source));
        if (file == versionRecordMap.end()) continue;
        if (first.empty()) first = file->first;
        for (auto& [archive, record] : file->second) {
            const auto mark = versions.find(archive);
            record.selected = mark != versions.end() && mark->second.selected;
        }
    }
    return first;
}

// The selected versions of the selection's files, in map order, copied out
// of versionRecordMap. They are written below the watch folder (a file
// outside it fails); without one, below their own folder. A copy is read
// below the folder's archive, or below its own folder when it lies in an
// older archive.
std::vector<RestoreItem> selectedItems(const RestoreSelection& selection, const RestoreWatchFolder& folder) {
    std::vector<RestoreItem> items;
    std::lock_guard<std::mutex> lock(versionRecordMutex);
    for (const auto& [source, versions] : selection) {
        const auto file = versionRecordMap.find(pathKey(source));
        if (file == versionRecordMap.end()) continue;
        const std::wstring root = folder.archive.empty() ? parentFolder(file->first) : folder.key;
        for (const auto& [archive, record] : file->second)
            if (record.selected) items.push_back({archive, file->first, archiveRootOf(archive, folder.archive), root});
    }
    return items;
}

struct SelectedOutcome {
    size_t total = 0;
    size_t attempts = 0;
    size_t copies = 0;
    std::vector<std::string> notCopied;
};

std::wstring selectedReportText(const SelectedOutcome& outcome, const std::wstring& folderKey,
                                const std::string& displayName) {
    std::vector<std::string> lines;
    if (outcome.total > 0 && outcome.copies == outcome.total)
        lines.push_back(joinReportFields(3, "", "all selected files restored, " + std::to_string(outcome.copies) + " copied.", ""));
    else
        lines.push_back(joinReportFields(3, "",
                                   "one or more files not restored, " + std::to_string(outcome.attempts) +
                                       " selected, " + std::to_string(outcome.copies) + " copied.",
                                   ""));
    if (!outcome.notCopied.empty()) {
        lines.push_back(joinReportFields(2, "", std::to_string(outcome.notCopied.size()) + " not copied:", ""));
        for (const std::string& path : outcome.notCopied) lines.push_back(joinReportFields(3, "", path, ""));
    }
    lines.push_back(joinReportFields(1, "6", wideToUtf8(folderKey), "Open \"" + displayName + "\""));
    std::wstring text = std::wstring(kSelectedFinishedText) + utf8ToWide(escapeLogText(displayName)) + L"\"";
    for (const std::string& line : lines) text += std::wstring(kLineSeparatorW) + utf8ToWide(line);
    return text;
}

void endSelectedRestore(DestinationGuard& guard, const SelectedOutcome& outcome) {
    releaseRestoreWrites(guard);
    restoreProgress = shareOf(outcome.copies, outcome.total);
    releaseRestoreActive();
    releaseRestoreWorkBusy();
    setOperationInProgress(EngineOperation::Restore, false);
    endCancellableTask(CancelTask::Restore);
}

// Ends the restore of selected versions exactly once, whichever way the task
// leaves (an exception included), so that its flags and paths never stay held.
struct SelectedRestoreRun {
    DestinationGuard guard;
    SelectedOutcome outcome;
    bool ended = false;
    void end() {
        ended = true;
        endSelectedRestore(guard, outcome);
    }
    ~SelectedRestoreRun() {
        if (ended) return;
        try {
            end();
        } catch (...) {
        }
    }
};

// ---- restore of a backup set ----

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
        ArchivePathParts parts;
        splitArchivePath(copy, parts);
        const std::wstring relative = copyFolder.substr(archive.size());
        const std::wstring plain = longPlainName(parts.plainName, {folder.key + relative, copyFolder});
        BackupSetEntry entry;
        entry.sourcePath = joinPath(L"." + relative, plain);
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

void startRestorePacing(RestorePacing& pacing) {
    pacing.budgetMs = static_cast<uint16_t>(std::min<uint32_t>(timings().restorePaceMs.load(), UINT16_MAX));
    pacing.referenceMs = steadyClockMs();
}

void paceRestoreCopy(RestorePacing& pacing, double progress) {
    const int64_t now = steadyClockMs();
    const int64_t elapsed = now - pacing.referenceMs;
    if (elapsed < 0 || elapsed >= pacing.budgetMs) return;
    // The wait is part of the next copy's elapsed time, so the waits of a run
    // use the budget up instead of adding to each other.
    pacing.budgetMs -= static_cast<uint32_t>(elapsed);
    pacing.referenceMs = now;
    const double wait = static_cast<double>(pacing.budgetMs) * std::clamp(progress, 0.0, 1.0);
    pauseWhileRunning(static_cast<uint16_t>(wait));
}

void restoreSelectedFilesTask(RestoreSelection selection) {
    restoreProgress = 0.0;
    holdRestoreActive();
    holdRestoreWorkBusy();
    SelectedRestoreRun run;
    beginCancellableTask(CancelTask::Restore);
    setOperationInProgress(EngineOperation::Restore, true);

    const std::wstring first = markSelection(selection);
    const RestoreWatchFolder folder = restoreFolderOf(first);
    const std::string displayName = wideToUtf8(lastPathComponent(folder.key));
    run.guard.confirmAll(selectedItems(selection, folder));
    if (!askRestoreQuestion(kRestoreOverwriteTemplate, {{kPlaceholderDisplayName, displayName}})) {
        run.end();
        if (isApplicationRunning()) appendAppLogEntry(kUserCancelledRestoreText, 2, false);
        return;
    }

    const std::vector<RestoreItem> items = selectedItems(selection, folder);
    SelectedOutcome& outcome = run.outcome;
    outcome.total = items.size();
    startProgressSet(archivePathsOf(items));
    run.guard.noteFolders(items);

    RestorePacing pacing;
    startRestorePacing(pacing);
    RestoreGroup group(run.guard);
    const auto finishGroup = [&] {
        group.finish();
        outcome.copies = group.copies;
        outcome.notCopied.insert(outcome.notCopied.end(), group.failed.begin(), group.failed.end());
        group.failed.clear();
    };
    for (const RestoreItem& item : items) {
        const RestoreStep step =
            run.guard.mayStage(item.destination) ? restoreOneFile(item, displayName, group) : RestoreStep::Failed;
        if (step == RestoreStep::ShuttingDown || step == RestoreStep::StoppedByUser) finishGroup();
        if (step == RestoreStep::ShuttingDown) return run.end();
        if (step == RestoreStep::StoppedByUser) {
            run.end();
            appendAppLogEntry(kCancelledByUserText, 1, false);
            return;
        }
        ++outcome.attempts;
        if (step == RestoreStep::Failed) {
            outcome.notCopied.push_back(wideToUtf8(item.destination));
            continue;
        }
        if (isCopyGroupFull(group.group)) finishGroup();
        restoreProgress = shareOf(group.copies + group.staged(), outcome.total);
        paceRestoreCopy(pacing, restoreProgress);
    }
    finishGroup();

    pauseWhileRunning(timings().restorePaceMs.load());
    // A restore that left files behind is an issue to look at, not a message.
    const bool complete = outcome.total > 0 && outcome.copies == outcome.total;
    appendAppLogMarkup(selectedReportText(outcome, folder.key, displayName), complete ? 1 : 4, false);
    run.end();
}

void restoreBackupSetTask(std::wstring setFilePath, std::wstring sourceFolder) {
    // A second restore waits here, before it touches the state the first one shows.
    std::lock_guard<std::mutex> serial(g_setRestoreMutex);
    SetRestoreHolds holds;
    // A stop left over is cleared, never one meant for a restore still running.
    holds.cancellable = true;
    if (beginCancellableTask(CancelTask::Restore)) setCancelRequest(CancelTask::Restore, false);
    restoreProgress = 0.0;
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
    WatchFolderArchiveInfo holder;
    const std::wstring archive = findHoldingWatchFolder(sourceFolder, holder) ? holder.archivePath : L"";
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

void startRestoreSelectedFiles(RestoreSelection selection) {
    startEngineThread([selection = std::move(selection)]() mutable { restoreSelectedFilesTask(std::move(selection)); });
}

void startRestoreBackupSet(std::wstring setFilePath, std::wstring sourceFolder) {
    startEngineThread([path = std::move(setFilePath), folder = std::move(sourceFolder)]() mutable {
        restoreBackupSetTask(std::move(path), std::move(folder));
    });
}
