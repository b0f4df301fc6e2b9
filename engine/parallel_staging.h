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
#include <map>
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
    size_t order = 0;   // set when handed in: how many were handed in before it
};

struct StagingOutcome {
    size_t index = 0;
    CopyResult result = CopyResult::Failed;
    FileState before;   // the target as it was right before the copy began
    StagedCopy staged;  // the copy under its temporary name, when Copied
};

// Copies staged and not yet named, at most: two groups, the one being named
// and the one being filled. A thread takes a job only while the copies the
// caller holds and those of the jobs not yet taken out, up to and with this
// one, stay within both (a job counts with its source's size when handed
// in); the job whose outcome the caller waits for is always taken, so the
// caller never waits for a copy that waits for it.
inline constexpr size_t kStagingHeldFiles = 2 * kCopyGroupMaxFiles;
inline constexpr uint64_t kStagingHeldBytes = 2 * kCopyGroupMaxBytes;

struct ParallelStaging {
    CopyProgressRoutine progress;
    const std::atomic<int>* cancel = nullptr;
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<StagingJob> waiting;
    std::map<size_t, StagingOutcome> done;  // by order, until taken out
    std::vector<uint64_t> bytesBefore{0};   // by order: the sources' bytes of the jobs handed in before
    size_t takenOut = 0;  // outcomes taken out, all of the first jobs handed in
    bool callerWaits = false;  // for the outcome of job `takenOut`
    // Copies taken out and not yet released by the caller.
    size_t heldFiles = 0;
    uint64_t heldBytes = 0;
    std::wstring lastFolder;   // the target folder of the job handed in last
    size_t folderCount = 0;
    std::vector<size_t> busyFolders;  // being written by a thread now
    bool closing = false;
    std::vector<std::thread> threads;
    ~ParallelStaging();
};

inline constexpr size_t kStagingThreadCount = 4;
// Files handed out and not yet taken out, at most: enough to keep the
// threads busy while the task names a full group.
inline constexpr size_t kStagingJobsAhead = kCopyGroupMaxFiles;
// Hands a copy to the threads (started with the first job).
void addStagingJob(ParallelStaging& staging, StagingJob job);
// The outcomes finished so far, in the order the jobs were handed in (up to
// the first one not finished); with `wait`, waits for the next one first,
// unless every job handed in was taken out.
std::vector<StagingOutcome> takeStagingOutcomes(ParallelStaging& staging, bool wait);
// Jobs handed in whose outcomes were not taken out yet.
size_t stagingBacklog(ParallelStaging& staging);
// The caller is done with copies it took out (named, or removed): the
// threads may stage as many again.
void releaseStagedCopies(ParallelStaging& staging, size_t files, uint64_t bytes);
