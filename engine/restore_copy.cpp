#include "engine/restore_copy.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "engine/change_watcher.h"
#include "engine/copy_cancel.h"
#include "engine/copy_progress.h"
#include "engine/file_watcher_pass.h"
#include "engine/restore_folders.h"
#include "engine/restore_state.h"
#include "engine/thread_registry.h"
#include "foundation/archive_root.h"
#include "foundation/file_helpers.h"
#include "foundation/file_metadata.h"
#include "foundation/global_defaults.h"
#include "foundation/text_format.h"
#include "foundation/texts.h"
#include "platform/paths.h"
#include "platform/safe_folders.h"
#include "platform/text.h"

namespace {

bool applicationStillRuns() { return isApplicationRunning(); }

std::mutex g_foldersHookMutex;
std::function<void()> g_foldersHook;

void runFoldersHook() {
    std::function<void()> hook;
    {
        std::lock_guard<std::mutex> lock(g_foldersHookMutex);
        hook = g_foldersHook;
    }
    if (hook) hook();
}

bool sameContent(const FileState& a, const FileState& b) {
    return a.exists == b.exists && (!a.exists || (a.size == b.size && a.modifiedTicks == b.modifiedTicks));
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

}  // namespace

std::wstring archiveRootOf(const std::wstring& archivePath, const std::wstring& archiveFolder) {
    const bool inFolder = !archiveFolder.empty() && pathIsInside(archivePath, archiveFolder);
    return inFolder ? archiveFolder : parentFolder(archivePath);
}

// Makes the missing folders above a restored file, top down, each opened
// below the item's root without following a link: a folder replaced by a
// link fails the file. The root itself (the folder as the user named it)
// and the folders above it are made when they are gone, on the walk from
// "/" that checks their way, each in the folder above it. Each takes the
// mode of the archive folder at the same height above the copy, which
// mirrors the folder the file was archived from: a private folder comes
// back private.
bool makeRestoreFolders(const RestoreItem& item, std::vector<FilePlace>& newFolders) {
    // A root whose way others can change is never opened: its files are not
    // restored, and the log names it and what to change.
    if (isRefusedRoot(item.archiveRoot, L"Archive folder")) return false;
    runFoldersHook();
    const std::wstring folder = parentFolder(item.destination);
    const FolderModeFor modeFor = [&](const std::wstring& made) {
        // A folder reached through a link has no height to go by.
        if (!pathIsInside(folder, made)) return kPrivateFolderMode;
        std::wstring model = parentFolder(item.archivePath);
        for (std::wstring up = folder; up.size() > made.size(); up = parentFolder(up)) model = parentFolder(model);
        return mirroredFolderMode(model);
    };
    // Asked for its mode, a folder is about to be made: below the root, or
    // on the way to it (synced into the folder above as one of its own).
    const FolderModeFor notedModeFor = [&](const std::wstring& made) {
        newFolders.emplace_back(item.destinationRoot, made);
        return modeFor(made);
    };
    const FolderModeFor notedRootModeFor = [&](const std::wstring& made) {
        newFolders.emplace_back(made);
        return modeFor(made);
    };
    // The destination's check and its making are one walk.
    RootRefusal refusal;
    if (!openRootFolder(item.destinationRoot, &refusal, notedRootModeFor).isOpen()) {
        logRefusedFolder(refusal, L"Restore folder", item.destinationRoot);
        return false;
    }
    // A folder another user made where others can write (the user's watch
    // folder at 01777, a team folder) gets nothing; the log names it once.
    if (openFolderForWriting(item.destinationRoot, folder, notedModeFor, &refusal).isOpen()) return true;
    logRefusedFolder(refusal, L"Restore folder", refusal.place);
    return false;
}

void setRestoreFoldersHookForTests(std::function<void()> hook) {
    std::lock_guard<std::mutex> lock(g_foldersHookMutex);
    g_foldersHook = std::move(hook);
}

void resetRestoreProgress() {
    restoreProgress = 0.0;
    startProgressSet({});
}

double shareOf(size_t copies, size_t total) {
    return total == 0 ? 0.0 : static_cast<double>(copies) / static_cast<double>(total);
}

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
        if (!group.madeFolders.count(folder) && makeRestoreFolders(item, group.group.newFolders))
            group.madeFolders.insert(folder);
        const CopyResult result =
            stageCopy(group.group, {item.archiveRoot, item.archivePath}, {item.destinationRoot, item.destination},
                      onRestoreProgress, cancelMirror(CancelTask::Restore));
        if (result == CopyResult::Copied) return RestoreStep::Copied;
        if (!isApplicationRunning()) return RestoreStep::ShuttingDown;
        if (result != CopyResult::Cancelled || !isCancelRequested(CancelTask::Restore)) return RestoreStep::Failed;
    }
}

std::vector<std::wstring> archivePathsOf(const std::vector<RestoreItem>& items) {
    std::vector<std::wstring> archives;
    for (const RestoreItem& item : items) archives.push_back(item.archivePath);
    return archives;
}

void pauseWhileRunning(uint32_t ms) {
    const int64_t end = steadyClockMs() + ms;
    while (isApplicationRunning() && steadyClockMs() < end) {
        const int64_t left = end - steadyClockMs();
        std::this_thread::sleep_for(std::chrono::milliseconds(std::clamp<int64_t>(left, 0, 50)));
    }
}

void releaseRestoreWrites(DestinationGuard& guard) {
    if (isApplicationRunning())
        releaseRestoredWritesAfterWatch(std::move(guard.written));
    else
        removeRestoredWrites(guard.written);
    guard.written.clear();
    guard.forgetFolders();
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

void DestinationGuard::confirmAll(const std::vector<RestoreItem>& items) {
    for (const RestoreItem& item : items) readFileState(item.destination, confirmed[item.destination]);
}

bool DestinationGuard::mayOverwrite(const std::wstring& destination, const FileState& now) {
    if (matchesConfirmed(destination, now)) return true;
    if (!askRestoreQuestion(kRestoreOverwriteTemplate, {{kPlaceholderDisplayName, wideToUtf8(destination)}}))
        return false;
    std::lock_guard<std::mutex> lock(mutex);
    confirmed[destination] = now;
    return true;
}

bool DestinationGuard::matchesConfirmed(const std::wstring& destination, const FileState& state) {
    std::lock_guard<std::mutex> lock(mutex);
    const auto found = confirmed.find(destination);
    return found == confirmed.end() || sameContent(found->second, state);
}

bool DestinationGuard::mayStage(const std::wstring& destination) {
    FileState now;
    readFileState(destination, now);
    return mayOverwrite(destination, now);
}

bool DestinationGuard::beforeRename(const StagedCopy& copy, const FileState& now) {
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

void DestinationGuard::afterRename(const StagedCopy& copy, const FileState& state) {
    if (!state.exists) return;
    addRestoredWrite(copy.target, state);  // now with its change time
    std::lock_guard<std::mutex> lock(mutex);
    confirmed[copy.target] = state;  // a second version of it is not asked about
}

CopyRenameSteps DestinationGuard::renameSteps() {
    return {[this](const StagedCopy& copy, const FileState& now) { return beforeRename(copy, now); },
            [this](const StagedCopy& copy, const FileState& state) { afterRename(copy, state); }};
}

void DestinationGuard::noteFolders(const std::vector<RestoreItem>& items) {
    std::set<std::pair<std::wstring, std::wstring>> folders;
    for (const RestoreItem& item : items)
        if (!item.destination.empty()) folders.emplace(item.destinationRoot, parentFolder(item.destination));
    std::vector<RestoreFolder> noted;
    for (const auto& [root, folder] : folders) noted.push_back({root, folder});
    if (!noted.empty()) foldersToken = noteRestoreFolders(noted);
}

void DestinationGuard::forgetFolders() {
    if (foldersToken != 0) forgetRestoreFolders(foldersToken);
    foldersToken = 0;
}

void RestoreGroup::count(const std::vector<StagedCopy>& named) {
    for (const StagedCopy& copy : named) {
        if (copy.result == CopyResult::Copied)
            ++copies;
        else
            failed.push_back(wideToUtf8(copy.target));
    }
}

void RestoreGroup::finish() { count(finishCopyGroup(group, guard.renameSteps())); }
