#pragma once
// The copy queue: the files that must be copied into their archive, keyed by
// source path, and the "Copier (W)" worker that empties it in batches. Files
// still queued when the program stops are kept in "CopyQueue.dat" and
// archived at the next start.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

// States of a queue item.
inline constexpr int32_t kCopyStateToCopy = 0;
inline constexpr int32_t kCopyStateStarted = 1;
inline constexpr int32_t kCopyStateCopied = 2;
inline constexpr int32_t kCopyStateFailed = 3;       // may retry
inline constexpr int32_t kCopyStateFailedFinal = 4;  // no retry

// Attempts before a file that cannot be copied is given up.
inline constexpr uint64_t kMaxCopyAttempts = 25;
// Codes handed to the backup bookkeeping.
inline constexpr int32_t kBackupResultCopied = 2;
inline constexpr int32_t kBackupResultGivenUp = 3;
// Number of copy threads per batch.
inline constexpr size_t kCopyThreadCount = 4;

struct CopyQueueItem {
    std::wstring sourcePath;
    std::wstring targetPath;       // archive folder + "/" + file name, later the final name
    std::wstring applicationName;  // foreground application of the change, or "BACKUP"
    std::wstring finalTargetPath;  // empty until the archive name is built
    uint8_t preserveHierarchy = 1;
    uint8_t thirdFlag = 1;
    int32_t collisionOption = 0;
    uint64_t attemptCount = 0;
    uint8_t failureCounted = 0;    // the failure was counted in the application statistics
    uint8_t finished = 0;          // given up after the last attempt
    uint8_t folderCounted = 0;     // counted in its watch folder's changes and progress
    int64_t changeTicks = 0;       // 100-ns ticks since 1970
    int32_t state = kCopyStateToCopy;
    uint64_t spareValue = 0;
};

using CopyQueueMap = std::map<std::wstring, CopyQueueItem>;

// The queue, keyed by source path; guarded by copyQueueMutex, which is held
// only while items move in or out and never together with another lock.
extern CopyQueueMap copyQueue;
extern std::mutex copyQueueMutex;

// Number of queued items (what the supervisor reads to restart the Copier).
size_t copyQueueCount();

// The backup engine's bookkeeping, reached through hooks it installs. Empty
// hooks mean no backup is running.
struct BackupCopyHooks {
    // A file of the backup's run was copied (code 2) or given up (code 3).
    std::function<void(const std::wstring& source, const std::wstring& target, int32_t code)> recordCopyResult;
    // Writes the copy status of a file of the backup's run: 4 copied, 3 disk
    // full, 2 not copied. False when the file is not part of the run.
    std::function<bool(const std::wstring& source, int32_t status)> setCopyStatus;
};
void setBackupCopyHooks(const BackupCopyHooks& hooks);
BackupCopyHooks backupCopyHooks();

// "<configuration folder>/CopyQueue.dat".
std::wstring copyQueueFilePath();
// Reads "CopyQueue.dat" (when it exists), archives its files again as
// changes and deletes it. False when there was no file or it did not load.
bool loadCopyQueue();
// Writes the queued files to "CopyQueue.dat", or deletes it when the queue is
// empty. False when the file could not be written (the old one stays).
bool saveCopyQueue();
// At shut-down, once the engine's threads have ended: files queued after the
// Copier's last run have no Copier left to save them, so they are saved here.
// Does nothing while any engine thread still runs (a Copier saves its own).
bool saveUnattendedCopyQueue();

// The step after a copy attempt (state 2 or 3 or 4): statistics, retries and
// giving up. True when the item is done.
bool advanceQueueItem(CopyQueueItem& item);

// The text logged when the program stops with items left.
std::wstring copyQueueShutdownText(size_t remaining);

// The "Copier (W)" thread body. A second Copier started while one runs
// returns at once.
void copierThread();

// Milliseconds of the steady clock when the version records last changed
// through a copy attempt; the Copier saves them once they are quiet.
void markVersionRecordsTouched();
