#include "engine/copier.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "engine/archive_copy.h"
#include "engine/backup_sets.h"
#include "engine/copy_cancel.h"
#include "engine/copy_queue.h"
#include "engine/copy_queue_file.h"
#include "engine/supervisor.h"
#include "engine/thread_registry.h"
#include "foundation/app_log.h"
#include "foundation/global_defaults.h"
#include "foundation/version_records.h"
#include "foundation/text_format.h"
#include "foundation/watch_folders.h"

namespace {

std::atomic<bool> g_copierActive{false};

const std::string kCopierName(kCopierThreadName);

// Sleeps `ms` in short slices, pinging, and wakes as soon as the application
// stops. False when it stopped.
bool waitWhileRunning(uint32_t ms) {
    const int64_t end = steadyClockMs() + ms;
    while (isApplicationRunning()) {
        const int64_t left = end - steadyClockMs();
        if (left <= 0) return true;
        getThreadState(kCopierName, 0, 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(std::min<int64_t>(left, 20)));
    }
    return false;
}

// Saves the version records when they changed and have been quiet for the
// settle time (or at once when `now` is set).
void saveQuietVersionRecords(bool now) {
    const int64_t quietMs = steadyClockMs() - versionRecordsTouchedMs();
    if (!versionRecordsChanged || isBackupSetFilling()) return;
    if (now || quietMs > int64_t(timings().settleMs.load())) saveVersionRecords();
}

struct Batch {
    CopyQueueMap items;
    std::array<CopyWorkList, kCopyThreadCount> lists;
    std::vector<std::thread> threads;
    std::atomic<int>* cancel = nullptr;
    std::mutex endMutex;
    std::condition_variable threadEnded;

    bool anyBusy() const {
        return std::any_of(lists.begin(), lists.end(), [](const CopyWorkList& list) { return list.busy.load(); });
    }
    // Waits up to `ms` for the copy threads to end; the last one to end
    // wakes it, so the batch's records are saved as soon as it is copied.
    void waitForThreads(uint32_t ms) {
        std::unique_lock<std::mutex> lock(endMutex);
        threadEnded.wait_for(lock, std::chrono::milliseconds(ms), [this] { return !anyBusy(); });
    }
    void noteThreadEnded() {
        { std::lock_guard<std::mutex> lock(endMutex); }
        threadEnded.notify_all();
    }
    void join() {
        for (std::thread& thread : threads) thread.join();
        threads.clear();
    }
    void clear() {
        join();
        items.clear();
        for (CopyWorkList& list : lists) list.items.clear();
        if (cancel) releaseBatchCancel(cancel);
        cancel = nullptr;
    }
};

// How long ago (ms) the newest file of the queue changed: when it was queued,
// or when it was last written where a comparison found it.
int64_t newestQueuedAgeMs() {
    int64_t newest = 0;
    {
        std::lock_guard<std::mutex> lock(copyQueueMutex);
        for (const auto& [source, item] : copyQueue) newest = std::max(newest, item.changeTicks);
    }
    return (currentTimeTicks() - newest) / 10000;
}

// The settle wait. A file queued in its last moments may be in the middle of
// being written: the wait goes on until the newest file has been quiet for a
// tenth of the settle time, never longer than one more settle time. A queue
// holding only files a comparison found unwritten for the settle time is
// taken at once: nothing is writing them, and a change made next must not
// replace the state they were found in. False when the application stopped.
bool waitForBurstToSettle() {
    const uint32_t settleMs = timings().settleMs;
    if (newestQueuedAgeMs() < int64_t(settleMs) && !waitWhileRunning(settleMs)) return false;
    const int64_t end = steadyClockMs() + settleMs;
    for (int64_t young = settleMs / 10 - newestQueuedAgeMs(); young > 0 && steadyClockMs() < end;
         young = settleMs / 10 - newestQueuedAgeMs()) {
        if (!waitWhileRunning(static_cast<uint32_t>(young))) return false;
    }
    return true;
}

// Moves the queue into the batch and deals it over the work lists. Called
// after the settle wait, so a whole burst lands in one batch.
bool takeBatch(Batch& batch) {
    {
        std::lock_guard<std::mutex> lock(copyQueueMutex);
        batch.items.swap(copyQueue);
    }
    if (batch.items.empty()) return false;
    size_t n = 0;
    for (auto& [source, item] : batch.items) batch.lists[n++ % kCopyThreadCount].items.push_back(&item);
    return true;
}

void startCopyThreads(Batch& batch) {
    for (CopyWorkList& list : batch.lists) {
        list.cancel = batch.cancel;
        list.busy = true;
        batch.threads.emplace_back([&list, &batch] {
            copyFileToArchive(list);
            batch.noteThreadEnded();
        });
    }
}

// After the loop: the batch's unfinished items go back into the queue, and
// the queue is kept in "CopyQueue.dat" when the program stops.
void finishCopier(Batch& batch, bool stopping, int64_t startMs) {
    batch.join();
    // Copied items are done whatever happens next.
    std::erase_if(batch.items, [](const auto& entry) { return entry.second.state == kCopyStateCopied; });
    const bool allFinished =
        std::all_of(batch.items.begin(), batch.items.end(), [](const auto& entry) { return entry.second.finished; });
    if (steadyClockMs() - startMs > 2 * int64_t(timings().settleMs.load()) && allFinished) batch.items.clear();
    // A stop during the settle wait leaves the files in the queue, not the batch.
    const bool queueLeft = stopping && copyQueueCount() > 0;
    if (batch.items.empty() && !queueLeft) {
        std::lock_guard<std::mutex> lock(watchFolderMutex);
        for (auto& [key, entry] : watchFolderMap) entry.changesDetected = entry.givenUpCount = 0;
    } else {
        size_t remaining = 0;
        {
            std::lock_guard<std::mutex> lock(copyQueueMutex);
            for (auto& [source, item] : batch.items) copyQueue.try_emplace(source, std::move(item));
            remaining = copyQueue.size();
        }
        if (stopping) appendAppLogEntry(copyQueueShutdownText(remaining), 2, false);
    }
    batch.clear();
    // Files queued after the last batch are kept as well.
    if (stopping) saveCopyQueue();
    saveQuietVersionRecords(true);
}

}  // namespace

void copierThread() {
    if (g_copierActive.exchange(true)) return;
    getThreadState(kCopierName, 1000, 10000);
    const int64_t startMs = steadyClockMs();
    loadCopyQueue();
    Batch batch;
    bool stopping = false;
    for (;;) {
        getThreadState(kCopierName, 0, 0);
        if (!isApplicationRunning()) {
            stopping = true;
            break;
        }
        if (batch.items.empty()) {
            if (copyQueueCount() == 0) break;
            // Taken before the settle wait: a cancel request made from now on
            // stops the batch. Waiting first lets the rest of a burst join it;
            // files still changing are caught by the next round.
            if (!batch.cancel) batch.cancel = acquireBatchCancel();
            if (!waitForBurstToSettle()) continue;
            // A stop withdrawn meanwhile ("continue") leaves the batch clear:
            // its files were still queued, so nothing queued them again.
            if (batch.cancel->load() != 0 && !isCancelRequested(CancelTask::Backup)) {
                releaseBatchCancel(batch.cancel);
                batch.cancel = acquireBatchCancel();
            }
            if (!takeBatch(batch)) break;
            startCopyThreads(batch);
        }
        saveQuietVersionRecords(false);
        if (batch.anyBusy()) {
            batch.waitForThreads(timings().pollMs.load());
            continue;
        }
        batch.clear();
    }
    finishCopier(batch, stopping, startMs);
    endSupervisedWorker(kCopierName, &g_copierActive);
}
