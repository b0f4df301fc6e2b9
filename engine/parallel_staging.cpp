#include "engine/parallel_staging.h"

#include <algorithm>
#include <utility>

#include "platform/paths.h"

namespace {

StagingOutcome stageOne(ParallelStaging& staging, StagingJob& job) {
    StagingOutcome outcome;
    outcome.index = job.index;
    CopyGroup group;
    try {
        readFileState(job.target.path, outcome.before);
        outcome.result = stageCopy(group, job.source, job.target, staging.progress, staging.cancel);
    } catch (...) {
        outcome.result = CopyResult::Failed;
    }
    if (outcome.result == CopyResult::Copied && !group.copies.empty()) outcome.staged = std::move(group.copies.front());
    return outcome;
}

// Whether the job's copy fits beside those staged before it and those the
// caller holds; the one the caller waits for always does.
bool fitsBounds(const ParallelStaging& staging, const StagingJob& job) {
    if (job.order == staging.takenOut && staging.callerWaits) return true;
    const size_t files = job.order + 1 - staging.takenOut + staging.heldFiles;
    const uint64_t bytes =
        staging.bytesBefore[job.order + 1] - staging.bytesBefore[staging.takenOut] + staging.heldBytes;
    return files <= kStagingHeldFiles && bytes <= kStagingHeldBytes;
}

bool mayTakeJob(const ParallelStaging& staging) {
    return !staging.waiting.empty() && fitsBounds(staging, staging.waiting.front());
}

// The first job waiting for a folder that no other thread writes into now:
// files made side by side in one folder wait for each other in the kernel.
// When every job waiting within the bounds goes to such a folder, the first
// one.
StagingJob takeJob(ParallelStaging& staging) {
    auto found = staging.waiting.begin();
    for (auto job = found; job != staging.waiting.end() && fitsBounds(staging, *job); ++job) {
        if (std::find(staging.busyFolders.begin(), staging.busyFolders.end(), job->folder) == staging.busyFolders.end()) {
            found = job;
            break;
        }
    }
    StagingJob job = std::move(*found);
    staging.waiting.erase(found);
    staging.busyFolders.push_back(job.folder);
    return job;
}

void stagingThread(ParallelStaging& staging) {
    std::unique_lock<std::mutex> lock(staging.mutex);
    for (;;) {
        staging.changed.wait(lock, [&] { return staging.closing || mayTakeJob(staging); });
        if (staging.closing) return;
        StagingJob job = takeJob(staging);
        lock.unlock();
        StagingOutcome outcome = stageOne(staging, job);
        lock.lock();
        staging.busyFolders.erase(std::find(staging.busyFolders.begin(), staging.busyFolders.end(), job.folder));
        staging.done.emplace(job.order, std::move(outcome));
        staging.changed.notify_all();
    }
}

}  // namespace

ParallelStaging::~ParallelStaging() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        closing = true;
    }
    changed.notify_all();
    for (std::thread& thread : threads) thread.join();
    // Copies staged and never taken out leave no temporary file behind.
    for (const auto& [order, outcome] : done)
        if (outcome.result == CopyResult::Copied) discardStagedCopy(outcome.staged);
}

void addStagingJob(ParallelStaging& staging, StagingJob job) {
    if (staging.threads.empty()) {
        try {
            for (size_t i = 0; i < kStagingThreadCount; ++i)
                staging.threads.emplace_back(stagingThread, std::ref(staging));
        } catch (...) {
            // Fewer threads, or none: then the caller copies itself.
        }
    }
    FileState source;
    readFileState(job.source.path, source);
    std::unique_lock<std::mutex> lock(staging.mutex);
    job.order = staging.bytesBefore.size() - 1;
    staging.bytesBefore.push_back(staging.bytesBefore.back() + source.size);
    if (staging.threads.empty()) {
        lock.unlock();
        StagingOutcome outcome = stageOne(staging, job);
        lock.lock();
        staging.done.emplace(job.order, std::move(outcome));
        return;
    }
    const std::wstring folder = parentFolder(job.target.path);
    if (folder != staging.lastFolder) ++staging.folderCount;
    staging.lastFolder = folder;
    job.folder = staging.folderCount;
    staging.waiting.push_back(std::move(job));
    lock.unlock();
    staging.changed.notify_all();
}

std::vector<StagingOutcome> takeStagingOutcomes(ParallelStaging& staging, bool wait) {
    std::unique_lock<std::mutex> lock(staging.mutex);
    const size_t handedIn = staging.bytesBefore.size() - 1;
    if (wait) {
        staging.callerWaits = true;
        staging.changed.notify_all();
        staging.changed.wait(lock, [&] {
            return staging.takenOut == handedIn || staging.done.count(staging.takenOut) != 0;
        });
        staging.callerWaits = false;
    }
    std::vector<StagingOutcome> taken;
    for (auto next = staging.done.find(staging.takenOut); next != staging.done.end();
         next = staging.done.find(staging.takenOut)) {
        if (next->second.result == CopyResult::Copied) {
            ++staging.heldFiles;
            staging.heldBytes += next->second.staged.bytes;
        }
        taken.push_back(std::move(next->second));
        staging.done.erase(next);
        ++staging.takenOut;
    }
    lock.unlock();
    // The job the caller needs next may go now.
    if (!taken.empty()) staging.changed.notify_all();
    return taken;
}

size_t stagingBacklog(ParallelStaging& staging) {
    std::lock_guard<std::mutex> lock(staging.mutex);
    return staging.bytesBefore.size() - 1 - staging.takenOut;
}

void releaseStagedCopies(ParallelStaging& staging, size_t files, uint64_t bytes) {
    {
        std::lock_guard<std::mutex> lock(staging.mutex);
        staging.heldFiles -= std::min(files, staging.heldFiles);
        staging.heldBytes -= std::min(bytes, staging.heldBytes);
    }
    staging.changed.notify_all();
}
