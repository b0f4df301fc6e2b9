#pragma once
// Archiving a changed file: the filter that turns changes into copy-queue
// items, the name of the archived version, the copy threads, the progress
// sets, the cancel request and the archive folder of a watch folder.
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/copy_queue.h"
#include "platform/file_copy.h"

// One changed file handed to the archiving: its full path and the
// application the change was attributed to (may be empty).
struct ChangedFile {
    std::wstring path;
    std::wstring applicationName;
};

// Turns the changes into queue items (filtered as below); always true.
bool archiveChangedFile(const std::vector<ChangedFile>& changes);

// The watch folder (its key in watchFolderMap) whose files include `path`:
// the deepest listed folder holding it, when that one is a Folder (direct
// children only) or Folder & Descendents entry and not removed; else "".
std::wstring findWatchFolderOfFile(const std::wstring& path);

// Builds the item's archive path into `target` (and its source into
// `source`); false when the item's folder has no archive.
bool buildArchiveTarget(CopyQueueItem& item, std::wstring& source, std::wstring& target);

// One copy thread's work: items of the Copier's batch and its cancel flag.
struct CopyWorkList {
    std::vector<CopyQueueItem*> items;
    std::atomic<bool> busy{false};        // set while the copy thread runs
    const std::atomic<int>* cancel = nullptr;  // the batch's cancel variable (its backup items)
};
// The copy thread's body: passes over the list until every item is done or
// the application stops. A cancelled batch drops its backup items only.
void copyFileToArchive(CopyWorkList& list);

// Progress of the copies, keyed by pathKey. One global set; each watch
// folder has its own in its entry.
struct ProgressSet {
    std::unordered_map<std::wstring, double> values;
    uint64_t totalBytes = 0;
    double ratio = 0.0;
    double previousRatio = 0.0;
    // Running sum of the values and how many entries it covers, so an update
    // costs O(1); a set whose size no longer matches is summed afresh once.
    double sum = 0.0;
    size_t sumCount = 0;
};
// Guarded by progressMutex. A folder's set is in its WatchFolderEntry and is
// changed with watchFolderMutex held, then progressMutex.
extern ProgressSet globalProgressSet;
extern std::mutex progressMutex;

// Empties the global progress set and enters every path at 0.0.
bool startProgressSet(const std::vector<std::wstring>& paths);
// A copy of the global set, taken under its mutex.
ProgressSet progressSnapshot();
// The progress routine of the archive copies and the restores.
CopyProgressAnswer onCopyProgress(const CopyProgress& progress);

// The tasks that a " Cancel " button stops. Each kind has a request of its
// own, so a stop never reaches another task, nor the archiving of ordinary
// changes: a backup's request stops the backup's own copies only (in the copy
// batches running when it is made), a restore's the restore's copies.
enum class CancelTask { Backup, Restore, Deletion };
bool setCancelRequest(CancelTask task, bool value);
bool isCancelRequested(CancelTask task);
// The cancel variable for copyFileWithProgress of the task's copies.
const std::atomic<int>* cancelMirror(CancelTask task);
// Counts the running tasks of a kind: true for the only one running. The
// last one to end clears its kind's request, never another kind's.
bool beginCancellableTask(CancelTask task);
void endCancellableTask(CancelTask task);
// The cancel variable of a new copy batch, stopped by later backup requests
// only; release it when the batch ends.
std::atomic<int>* acquireBatchCancel();
void releaseBatchCancel(std::atomic<int>* cancel);

// Batch flag (initially set): while set, a file equal to its newest archived
// version is not copied again (backup items excepted).
bool copyBatchFlag();
void setCopyBatchFlag(bool value);

// Files whose copy found the folder's archive gone: handed out (and
// forgotten) once the archive is back, to be archived again. Listed, with
// the files waiting for room, for the copy queue saved at shut-down.
std::vector<ChangedFile> takeFilesAwaitingArchive(const std::wstring& folderKey);
std::vector<ChangedFile> filesAwaitingArchive();
// Files refused for lack of room on their archive's disk: the storage check
// queues again those that its archive has room for now (logging, once all
// of a folder's are queued, that archiving resumed). Returns how many.
size_t requeueFilesAwaitingRoom();

// Watch folder -> archive root, fixed the first time a folder is met.
void clearArchiveContext();
bool archiveContextOf(const std::wstring& folderKey, std::wstring& root);

// The free-space reading of the copies (tests inject a full disk); an empty
// function restores getDiskFreeSpace.
using FreeSpaceFunction = std::function<bool(const std::wstring& path, uint64_t& bytes)>;
void setFreeSpaceFunction(FreeSpaceFunction function);

// Replaces every "{{NAME}}" by the environment variable NAME, "?" when unset.
std::wstring expandPathPlaceholders(const std::wstring& text);

// Under watchFolderMutex: set the folder type / collision option of an entry.
void setFolderType(const std::wstring& path, int32_t type);
void setFolderCollisionOption(const std::wstring& path, int32_t option);

// The archive folder of a watch folder: the archive path + "/" + the folder's
// last component, unless the archive path already ends in that component;
// numbered ("name(1)") where another watch folder archives under that name.
std::wstring archiveFolderFor(const std::wstring& folderPath, const std::wstring& archivePath);
// Creates the folder's archive folder, stores it as the entry's archive path
// and rebuilds the change watcher.
void prepareArchiveThread(const std::wstring& folderPath, const std::wstring& archivePath);
// Logs every archived version of the folder whose archive file is missing;
// returns how many were logged.
size_t checkArchiveInstances(const std::wstring& folderPath);

// The watch folder of the first file of the backup set being filled, or ""
// when no set is being filled (an empty set with no files counts as none).
bool isBackupSetFilling();
std::wstring fillingBackupSetFolder();

// Fills the engine hooks this file and the copy queue serve (the Copier, the
// queue count, archive preparation and consistency scans).
void installArchiveHooks();
