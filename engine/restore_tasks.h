#pragma once
// The restore of a backup set: its entries marked for restoring, copied back
// over the user's files. Like the restore of chosen versions
// (restore_selected), it asks before it writes, publishes its progress in the
// restore state that the windows draw, stops on the cancel request when the
// user confirms, and ends with an application-log entry.
#include <string>

// Restores the entries marked for restoring of the backup-set file
// `setFilePath` (or, when that is no set file, every file of that archive
// folder) into `sourceFolder`. Runs to its end on the calling thread.
void restoreBackupSetTask(std::wstring setFilePath, std::wstring sourceFolder);

// What the windows call: the task on its own detached engine thread.
void startRestoreBackupSet(std::wstring setFilePath, std::wstring sourceFolder);

// Where a backup-set entry is restored to: a source path beginning with "./"
// is relative to `sourceFolder`; others are used as they are. Empty when a
// relative path would leave the source folder ("..") or the result is not
// absolute.
std::wstring resolveRestoreDestination(const std::wstring& sourcePath, const std::wstring& sourceFolder);
