#pragma once
// The backup scan: whether a file already has an equal copy in its archive.
// Archived copies are named folder/base ~ stamp.extension, the plain copy
// folder/base.extension. Comparisons run on a small pool of engine threads;
// their results are cached per source path for the whole backup.
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// The parts of an archive file name.
struct ArchivePathParts {
    std::wstring folder;     // up to the last "/" ("" when there is none)
    std::wstring fileName;   // the whole last component
    std::wstring stamp;      // a version's number or time stamp, "" for a file's own name
    std::wstring extension;  // after the last "." of the last component
    std::wstring plainName;  // the file's own name, without the stamp
};

// The last component is read by splitArchiveName (foundation/archive_stamps.h),
// so dotted folder names never cut a path. Always true.
bool splitArchivePath(const std::wstring& path, ArchivePathParts& parts);

// True when the copy `a` is newer than `b`, two copies of one archive name:
// numbered versions by their number, so " ~ 1000" follows " ~ 0999" and
// " ~ 10000" follows " ~ 9999"; a time stamp counts newer than a number, two
// other stamps compare by their text.
bool isNewerArchiveCopy(const std::wstring& a, const std::wstring& b);
// The number of a numbered version's stamp ("0042" gives 42); false for any
// other stamp.
bool archiveVersionNumber(const std::wstring& stamp, uint64_t& number);

// The file's last-write time in whole seconds, as 100-ns ticks since 1970.
bool getFileWriteTicks(const std::wstring& path, int64_t& ticks);

// The archived copies of `archiveName` (a file's own name in its archive
// folder) in its folder: its stamped copies, newest first, then the exact
// copy when it exists.
// Fills `copies` (path keys) and returns their number.
size_t scanFolderExtensions(const std::wstring& archiveName, std::vector<std::wstring>& copies);

// The newest copy of `archiveName` when it equals `sourceFile`, else "".
std::wstring findArchivedVersion(const std::wstring& sourceFile, const std::wstring& archiveName);

// One archive folder's files grouped by archive name, kept for a pass over
// many files: the folder is listed again only when the pass moves on to
// another one.
struct ArchiveFolderListing {
    std::wstring folder;
    std::shared_ptr<const std::map<std::wstring, std::vector<std::wstring>>> copiesByName;
};
// The newest archived copy of `archiveName` (the first of scanFolderExtensions),
// "" when there is none; its folder is read through `listing`.
std::wstring newestArchivedCopy(const std::wstring& archiveName, ArchiveFolderListing& listing);

// The cached result for `sourceFile`: the equal copy's path, "" when there is
// none, or "-" while its comparison is pending. A first call queues the
// comparison and returns "-".
std::wstring startBackupScanThread(const std::wstring& sourceFile, const std::wstring& archiveName);
// The same for many files under one lock: their results, in order.
struct BackupScanRequest {
    std::wstring sourceFile;
    std::wstring archiveName;
};
std::vector<std::wstring> startBackupScans(const std::vector<BackupScanRequest>& requests);

// One comparison queued by startBackupScanThread in the scan round
// `generation`. A result of an earlier round (before resetBackupScan) and a
// result finished after the application stopped are not stored.
void backupScanThreadMain(const std::wstring& sourceFile, const std::wstring& archiveName, uint64_t generation);

// Start of a backup: empties the cache and the queue of comparisons, sets
// both counters to 0 and starts a new round.
void resetBackupScan();

struct BackupScanCounts {
    uint64_t running = 0;   // comparisons queued or in progress
    uint64_t finished = 0;  // comparisons stored in this round
};
BackupScanCounts backupScanCounts();
// Scan workers in the pool now (at most eight). A worker that has left the
// pool may still be ending its thread, so the engine's thread count can be
// briefly higher.
size_t backupScanWorkerCount();
// Waits until at most `running` comparisons are queued or in progress, or
// `ms` passed; returns the counts then.
BackupScanCounts waitForBackupScans(uint64_t running, uint32_t ms);

// Appends every file of a watch folder's archive (path keys), sub-folders
// included, but not its ".backupsets" folder: the set files there are no
// archived copies. Returns the list's size.
size_t listArchiveFiles(const std::wstring& archive, std::vector<std::wstring>& files);

// The newest archived copy of every file in the archive of the watch folder
// that holds `watchFolderPath`, in ascending path order; returns the count.
size_t scanWatchFolder(const std::wstring& watchFolderPath, std::vector<std::wstring>& copies);
