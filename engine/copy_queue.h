#pragma once
// The copy queue: the files that must be copied into their archive, keyed by
// source path. It holds the items only; the archiving fills it, the Copier
// empties it, and "CopyQueue.dat" keeps it across a stop (copy_queue_file).
#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>

// States of a queue item.
inline constexpr int32_t kCopyStateToCopy = 0;
inline constexpr int32_t kCopyStateStarted = 1;
inline constexpr int32_t kCopyStateCopied = 2;
inline constexpr int32_t kCopyStateFailed = 3;       // may retry
inline constexpr int32_t kCopyStateFailedFinal = 4;  // no retry

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
    int64_t changeTicks = 0;       // 100-ns ticks since 1970: when queued, or last written where a comparison found it
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

// The text logged when the program stops with items left.
std::wstring copyQueueShutdownText(size_t remaining);
