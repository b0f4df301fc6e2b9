#pragma once
// The copying both restores share: the files to copy back, the folders made
// above them, the guard that keeps a restore from writing over an edit
// unasked, the group in which the copies take their names, the questions,
// and the pacing of the progress bar.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "engine/backup_set_folders.h"
#include "engine/confirm_request.h"
#include "foundation/texts.h"
#include "platform/file_copy.h"
#include "platform/file_system.h"

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

    void confirmAll(const std::vector<RestoreItem>& items);
    // False when the destination changed since it was confirmed and the user
    // does not want it overwritten.
    bool mayOverwrite(const std::wstring& destination, const FileState& now);
    bool matchesConfirmed(const std::wstring& destination, const FileState& state);
    bool mayStage(const std::wstring& destination);
    bool beforeRename(const StagedCopy& copy, const FileState& now);
    void afterRename(const StagedCopy& copy, const FileState& state);
    CopyRenameSteps renameSteps();
    // Before the first copy is staged: the folders the copies go into.
    void noteFolders(const std::vector<RestoreItem>& items);
    void forgetFolders();
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
    // Counts copies named by finishCopyGroup.
    void count(const std::vector<StagedCopy>& named);
    // Names the staged copies (see CopyGroup) and counts them.
    void finish();
};

// The folder an archived copy is read below: the archive folder holding it,
// or else the copy's own folder.
std::wstring archiveRootOf(const std::wstring& archivePath, const std::wstring& archiveFolder);
// Makes the missing folders above a restored file, top down, each opened
// below the item's root without following a link: a folder replaced by a
// link fails the file. Each takes the mode of the archive folder it mirrors.
// The folders made are added to `newFolders` (a group's, which syncs them).
bool makeRestoreFolders(const RestoreItem& item, std::vector<FilePlace>& newFolders);
// A restore starting: its progress reads 0 until its copying begins, never
// what the last task left in the progress set (its 100%).
void resetRestoreProgress();
// Called after the roots passed their check and before the folders are
// made, so tests can change the way meanwhile (empty: nothing).
void setRestoreFoldersHookForTests(std::function<void()> hook);
double shareOf(size_t copies, size_t total);
// Asks one of the restore questions and waits for its own answer; a question
// given up at shut-down counts as CANCEL.
bool askRestoreQuestion(const ConfirmTemplate& question, const std::vector<std::pair<std::string, std::string>>& values);
bool askToStop(const std::string& displayName);
// The progress routine of the restore copies.
CopyProgressAnswer onRestoreProgress(const CopyProgress& progress);
// Writes one file back under a temporary name beside it, added to the group.
// A cancel request, met before the copy or stopping it halfway (the old file
// then stays as it was), asks whether to stop; CANCEL clears the request and
// the file is copied (again).
RestoreStep restoreOneFile(const RestoreItem& item, const std::string& displayName, RestoreGroup& group);
std::vector<std::wstring> archivePathsOf(const std::vector<RestoreItem>& items);
// Waits up to `ms`, ending early at shut-down.
void pauseWhileRunning(uint32_t ms);
// At the end of a restore, whichever way it ends: the restore's own writes
// stay registered until the watcher has seen them, and its folders noted for
// the recovery are forgotten.
void releaseRestoreWrites(DestinationGuard& guard);

// The pacing of the copies: a budget of timings().restorePaceMs spread over
// the files of a fast run, so that the progress bar can be seen moving; the
// waits of one run add up to about the budget.
struct RestorePacing {
    uint32_t budgetMs = 0;
    int64_t referenceMs = 0;  // steady clock
};
// When copying begins.
void startRestorePacing(RestorePacing& pacing);
// After every successful copy; `progress` is the share copied so far.
void paceRestoreCopy(RestorePacing& pacing, double progress);
