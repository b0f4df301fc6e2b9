#include "engine/parallel_staging.h"

#include <algorithm>
#include <utility>

#include "platform/paths.h"
#include "platform/safe_folders.h"

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

// The first job waiting for a folder that no other thread writes into now:
// files made side by side in one folder wait for each other in the kernel.
// When every job waiting goes to such a folder, the first one.
StagingJob takeJob(ParallelStaging& staging) {
    auto found = std::find_if(staging.waiting.begin(), staging.waiting.end(), [&](const StagingJob& job) {
        return std::find(staging.busyFolders.begin(), staging.busyFolders.end(), job.folder) == staging.busyFolders.end();
    });
    if (found == staging.waiting.end()) found = staging.waiting.begin();
    StagingJob job = std::move(*found);
    staging.waiting.erase(found);
    staging.busyFolders.push_back(job.folder);
    return job;
}

void stagingThread(ParallelStaging& staging) {
    std::unique_lock<std::mutex> lock(staging.mutex);
    for (;;) {
        staging.changed.wait(lock, [&] { return staging.closing || !staging.waiting.empty(); });
        if (staging.waiting.empty()) return;
        StagingJob job = takeJob(staging);
        lock.unlock();
        StagingOutcome outcome = stageOne(staging, job);
        lock.lock();
        staging.busyFolders.erase(std::find(staging.busyFolders.begin(), staging.busyFolders.end(), job.folder));
        staging.done.push_back(std::move(outcome));
        --staging.unfinished;
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
    for (const StagingOutcome& outcome : done)
        if (outcome.result == CopyResult::Copied) removeFileBelow(outcome.staged.root, outcome.staged.tempPath);
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
    if (staging.threads.empty()) {
        StagingOutcome outcome = stageOne(staging, job);
        std::lock_guard<std::mutex> lock(staging.mutex);
        staging.done.push_back(std::move(outcome));
        return;
    }
    {
        std::lock_guard<std::mutex> lock(staging.mutex);
        const std::wstring folder = parentFolder(job.target.path);
        if (folder != staging.lastFolder) ++staging.folderCount;
        staging.lastFolder = folder;
        job.folder = staging.folderCount;
        staging.waiting.push_back(std::move(job));
        ++staging.unfinished;
    }
    staging.changed.notify_all();
}

std::vector<StagingOutcome> takeStagingOutcomes(ParallelStaging& staging, bool all) {
    std::unique_lock<std::mutex> lock(staging.mutex);
    if (all) staging.changed.wait(lock, [&] { return staging.unfinished == 0; });
    return std::exchange(staging.done, {});
}

void waitForStagingBelow(ParallelStaging& staging, size_t count) {
    std::unique_lock<std::mutex> lock(staging.mutex);
    staging.changed.wait(lock, [&] { return staging.unfinished < count; });
}
