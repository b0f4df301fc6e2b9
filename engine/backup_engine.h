#pragma once
// The backup engine: one backup of a watch folder, from start to report,
// without a window. Every file that has no equal copy in the folder's archive
// yet is handed to the copy queue in one batch; the engine follows the
// copies, asks the user when the archive is gone, the disk is full, the copy
// stalls or the user asked to stop, saves what was copied as a backup set in
// the staging folder, mirrors it into the archive's ".backupsets" folder and
// logs the report "FILE BACKUP REPORT (<folder>)." in the application log.
//
// One backup runs at a time. The windows read a folder's backup state,
// progress and result in its WatchFolderEntry (under watchFolderMutex).
#include <cstdint>
#include <string>

#include "engine/backup_status.h"

// The thread body the Backup button and the scheduler start, after they set
// the backup running flag: registers "Backup Procedure", clears the backup's
// cancel request, runs the backup, and at its end clears that request again
// (so a stop left over never cancels the next backup's copies) and the
// running flag; never another task's request. A second call while a backup
// runs returns at once and leaves the flag to the running one.
void backupThreadMain(const std::wstring& folderKey, int64_t startTicks, bool recursive);

// The backup itself. False when it ended without a report (unknown folder,
// no files, a stop before copying, or the application stopping).
bool runBackup(const std::wstring& folderKey, int64_t startTicks, bool recursive);

// The copier's word on a file of the running backup: code 2 copied, 3 given
// up. Updates the copy status, the current backup set and the folder's
// checklist; false when the checklist does not hold the file.
bool recordBackupCopyResult(const std::wstring& sourcePath, const std::wstring& archiveCopyPath, int32_t code);

// Plugs the engine into the copier (copy results and statuses) and into the
// engine hooks (the thread body the scheduler starts). Call at start-up.
void installBackupEngineHooks();
