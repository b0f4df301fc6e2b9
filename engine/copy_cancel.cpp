#include "engine/copy_cancel.h"

#include <array>
#include <memory>
#include <mutex>
#include <vector>

namespace {

constexpr size_t kCancelTaskCount = 3;
std::mutex g_cancelMutex;
std::array<bool, kCancelTaskCount> g_cancelFlags{};
std::array<std::atomic<int>, kCancelTaskCount> g_cancelMirrors{};
std::array<int, kCancelTaskCount> g_cancelTasksRunning{};
std::vector<std::unique_ptr<std::atomic<int>>> g_batchCancels;

}  // namespace

bool setCancelRequest(CancelTask task, bool value) {
    const size_t index = static_cast<size_t>(task);
    std::lock_guard<std::mutex> lock(g_cancelMutex);
    const bool changed = g_cancelFlags[index] != value;
    g_cancelFlags[index] = value;
    g_cancelMirrors[index] = value ? 1 : 0;
    // A backup's request stops the batches running now; later batches start clear.
    if (value && task == CancelTask::Backup)
        for (const auto& batchCancel : g_batchCancels) *batchCancel = 1;
    return changed;
}

bool isCancelRequested(CancelTask task) {
    std::lock_guard<std::mutex> lock(g_cancelMutex);
    return g_cancelFlags[static_cast<size_t>(task)];
}

const std::atomic<int>* cancelMirror(CancelTask task) { return &g_cancelMirrors[static_cast<size_t>(task)]; }

bool beginCancellableTask(CancelTask task) {
    std::lock_guard<std::mutex> lock(g_cancelMutex);
    return ++g_cancelTasksRunning[static_cast<size_t>(task)] == 1;
}

void endCancellableTask(CancelTask task) {
    const size_t index = static_cast<size_t>(task);
    std::lock_guard<std::mutex> lock(g_cancelMutex);
    if (g_cancelTasksRunning[index] > 0 && --g_cancelTasksRunning[index] > 0) return;
    g_cancelFlags[index] = false;
    g_cancelMirrors[index] = 0;
}

std::atomic<int>* acquireBatchCancel() {
    std::lock_guard<std::mutex> lock(g_cancelMutex);
    g_batchCancels.push_back(std::make_unique<std::atomic<int>>(0));
    return g_batchCancels.back().get();
}

void releaseBatchCancel(std::atomic<int>* cancel) {
    std::lock_guard<std::mutex> lock(g_cancelMutex);
    std::erase_if(g_batchCancels, [cancel](const auto& owned) { return owned.get() == cancel; });
}
