#pragma once
// The "Storage Checker (W)" worker: keeps the watch folders' problem flags in
// step with the disk, logs each missing folder once per thread life, prepares
// an archive folder that appeared, and starts one folder's consistency scan
// per scan period.
#include <cstdint>
#include <set>
#include <string>

// One check of every watch folder that is neither disabled nor removed, and
// of the room on the archive disks that files wait for.
// Returns false when there are no watch folders (the worker then ends).
// `logged` holds the messages already written in this thread's life.
bool checkWatchFolderStorage(std::set<std::wstring>& logged);

// Where the folder scans stand: the folder scanned last and when.
struct FolderScanCursor {
    std::wstring lastKey;
    bool atStart = true;
    int64_t lastScanTicks = 0;
};
// Once the scan period has passed since the last scan, moves to the next
// Folder or Folder & Descendents entry and starts its consistency scan;
// passing the end goes back to the start without a scan. Returns the folder
// whose scan was started, or "" when none.
std::wstring advanceFolderScan(FolderScanCursor& cursor, int64_t nowTicks);

// Asks the worker for its next check now instead of after its pause (a watch
// folder went away). Kept until a check takes it when the worker is not running.
void wakeStorageChecker();

// The worker's thread body.
void storageCheckerThread();
