#pragma once
// Finding changes again after the engine lost sight of them (a watch that was
// rebuilt, a folder that went and came back, an unclean end): a watch folder
// is compared with its archive, as the backup scan compares (size and write
// time, else the bytes, against the newest archived copy), and every file
// whose newest state is not archived is queued for archiving.
#include <cstddef>
#include <cstdint>
#include <string>

struct CatchUpCounts {
    uint64_t compared = 0;  // files compared with their archive
    uint64_t queued = 0;    // of them, handed to the archiving as changed
};

// Compares the files that belong to the watch folder `folderKey` (its key in
// watchFolderMap) with their newest archived copies and queues every one that
// has none or differs. With `sinceTicks` > 0 only files whose change time is
// at or after it are looked at. Runs on the calling thread and stops early
// when the application stops; a folder that is not listed, not watched or
// whose archive is missing is left alone until its archive is back.
CatchUpCounts queueUnarchivedFiles(const std::wstring& folderKey, int64_t sinceTicks);

// The archive of the folder is back: a scan that found it away runs now,
// over every file of the folder (on the engine thread of the scans).
void requestCatchUpOwedUntilArchiveIsBack(const std::wstring& folderKey);

// The same on an engine thread, one folder after the other, so the caller
// (a watcher thread) never waits for it. A folder asked for again before its
// scan began is scanned once, from the earlier time.
void requestFolderCatchUp(const std::wstring& folderKey, int64_t sinceTicks);

// Scans asked for and not yet finished.
size_t pendingFolderCatchUps();
