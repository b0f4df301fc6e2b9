#pragma once
// The restore tasks: archived versions picked in the restore view, and the
// entries of one backup set, copied back over the user's files. Each task
// asks before it writes, publishes its progress in the restore state that the
// windows draw, stops on the cancel request when the user confirms, and ends
// with an application-log entry.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "foundation/version_records.h"

// The restore view's marks: source path -> its versions with their selected
// flags (the shape of versionRecordMap). Handed over by value.
using RestoreSelection = std::map<std::wstring, FileVersionMap>;

// Restores the selected versions of the files in `selection` (the marks are
// first copied into versionRecordMap). Runs to its end on the calling thread.
void restoreSelectedFilesTask(RestoreSelection selection);

// Restores the entries marked for restoring of the backup-set file
// `setFilePath` (or, when that is no set file, every file of that archive
// folder) into `sourceFolder`. Runs to its end on the calling thread.
void restoreBackupSetTask(std::wstring setFilePath, std::wstring sourceFolder);

// What the windows call: each task on its own detached engine thread.
void startRestoreSelectedFiles(RestoreSelection selection);
void startRestoreBackupSet(std::wstring setFilePath, std::wstring sourceFolder);

// Where a backup-set entry is restored to: a source path beginning with "./"
// is relative to `sourceFolder`; others are used as they are. Empty when a
// relative path would leave the source folder ("..") or the result is not
// absolute.
std::wstring resolveRestoreDestination(const std::wstring& sourcePath, const std::wstring& sourceFolder);

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
