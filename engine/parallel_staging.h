#pragma once
// Copies staged on a few threads while the task that hands them out goes on.
// A restore of many small files spends its time in the kernel's work per
// file (making the file, reaching its folders), which one thread does one
// file after the other; several threads do it side by side, as the Copier's
// threads do for the archive. The task keeps everything else: the order of
// its questions, its progress, its pacing and the naming of its copies.
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/file_copy.h"
#include "platform/file_system.h"

struct StagingJob {
    size_t index = 0;  // the caller's own number for the copy
    FilePlace source;
    FilePlace target;
    size_t folder = 0;  // set when handed in: the same number for the same target folder in a row
};

struct StagingOutcome {
    size_t index = 0;
    CopyResult result = CopyResult::Failed;
    FileState before;   // the target as it was right before the copy began
    StagedCopy staged;  // the copy under its temporary name, when Copied
};

struct ParallelStaging {
    CopyProgressRoutine progress;
    const std::atomic<int>* cancel = nullptr;
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<StagingJob> waiting;
    std::vector<StagingOutcome> done;
    size_t unfinished = 0;  // jobs handed in and not yet in `done`
    std::wstring lastFolder;   // the target folder of the job handed in last
    size_t folderCount = 0;
    std::vector<size_t> busyFolders;  // being written by a thread now
    bool closing = false;
    std::vector<std::thread> threads;
    ~ParallelStaging();
};

inline constexpr size_t kStagingThreadCount = 4;
// Files handed out ahead of the copying: enough to keep the threads busy
// while the task names a full group; the temporary files stay within two
// groups.
inline constexpr size_t kStagingJobsAhead = kCopyGroupMaxFiles;
// Hands a copy to the threads (started with the first job).
void addStagingJob(ParallelStaging& staging, StagingJob job);
// The outcomes finished so far; with `all`, waits until every job handed in
// is finished first.
std::vector<StagingOutcome> takeStagingOutcomes(ParallelStaging& staging, bool all);
// Waits until fewer than `count` jobs are unfinished.
void waitForStagingBelow(ParallelStaging& staging, size_t count);
