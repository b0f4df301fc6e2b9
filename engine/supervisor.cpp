#include "engine/supervisor.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/engine_hooks.h"
#include "engine/storage_checker.h"
#include "engine/thread_registry.h"
#include "foundation/global_defaults.h"
#include "foundation/watch_folders.h"
#include "foundation/text_format.h"

namespace {

constexpr int64_t kTicksPerMs = 10000;
constexpr int64_t kStallGapMs = 60000;

std::atomic<int64_t> g_previousPassTicks{0};
std::atomic<bool> g_saveRunning{false};

std::mutex g_wakeMutex;
std::condition_variable g_wake;
bool g_wakeAsked = false;

// Waits `ms`, or less when a wake is asked for (or was since the last pass).
void waitForNextPass(uint32_t ms) {
    std::unique_lock<std::mutex> lock(g_wakeMutex);
    g_wake.wait_for(lock, std::chrono::milliseconds(ms), [] { return g_wakeAsked; });
    g_wakeAsked = false;
}

// What the restart rules need to know, read before the registry is locked.
struct WorkOutlook {
    bool hasWatchFolders = false;
    bool hasPendingChanges = false;
    bool copyQueueHasItems = false;
    bool applicationRunning = true;
};

WorkOutlook readWorkOutlook(const EngineHooks& hooks) {
    WorkOutlook outlook;
    {
        std::lock_guard<std::mutex> lock(watchFolderMutex);
        outlook.hasWatchFolders = !watchFolderMap.empty();
    }
    outlook.hasPendingChanges = hooks.hasPendingChanges && hooks.hasPendingChanges();
    outlook.copyQueueHasItems = hooks.copyQueueCount && hooks.copyQueueCount() > 0;
    outlook.applicationRunning = isApplicationRunning();
    return outlook;
}

// The body that restarts the named worker when it has work; empty otherwise.
std::function<void()> restartBody(const std::string& name, const WorkOutlook& work, const EngineHooks& hooks) {
    if (name == kStorageCheckerThreadName && work.hasWatchFolders) return storageCheckerThread;
    if (name == kMonitorUiThreadName) return hooks.monitorUIThread;
    if (name == kFileWatcherThreadName && work.hasWatchFolders && work.hasPendingChanges) return hooks.fileWatcherThread;
    if (name == kCopierThreadName && work.copyQueueHasItems) return hooks.copierThread;
    return {};
}

bool keepsSystemBusy(const std::string& name) {
    return name == kFileWatcherThreadName || name == kCopierThreadName || name == kBackupProcedureThreadName;
}

void rebuildWatcherWhenListChanged(const EngineHooks& hooks) {
    if (!hooks.isChangeWatcherRunning || !hooks.isChangeWatcherRunning()) return;
    if (hooks.hasPendingChanges && hooks.hasPendingChanges()) return;
    // Taken and cleared first: a change made during the rebuild asks for another.
    if (takeWatchListChanged() && hooks.startWatchFolderThreads) hooks.startWatchFolderThreads();
}

bool startBackgroundSave(const EngineHooks& hooks) {
    if (!hooks.saveAppConfiguration || g_saveRunning.exchange(true)) return false;
    startEngineThread([save = hooks.saveAppConfiguration] {
        save();
        g_saveRunning.store(false);
    });
    return true;
}

}  // namespace

SupervisorPass runSupervisorPass(int64_t nowTicks) {
    const int64_t previous = g_previousPassTicks.exchange(nowTicks);
    const bool stalled = previous != 0 && (nowTicks - previous) / kTicksPerMs > kStallGapMs;
    const EngineHooks hooks = engineHooks();
    const WorkOutlook work = readWorkOutlook(hooks);

    SupervisorPass pass;
    bool idle = !isAnyOperationInProgress();
    size_t live = 0;
    std::vector<std::function<void()>> starts;
    {
        std::lock_guard<std::mutex> lock(threadStateMutex);
        for (auto& [name, entry] : threadStateMap) {
            if (stalled) entry.lastPing = nowTicks, entry.pingCount = 0, entry.pingSumMs = 0;
            if (entry.state != kThreadStopped) {
                const bool wasRunning = entry.state == kThreadRunning;
                const int64_t silentMs = (nowTicks - entry.lastPing) / kTicksPerMs;
                if (wasRunning && silentMs > static_cast<int64_t>(entry.timeout)) entry.state = kThreadStopped;
                if (wasRunning && keepsSystemBusy(name)) idle = false;
                // A worker held in Error or Paused has no thread to wait for.
                if (wasRunning) ++live;
            }
            if (entry.state == kThreadStopped && work.applicationRunning && entry.restartable) {
                std::function<void()> body = restartBody(name, work, hooks);
                if (!body) continue;
                entry.state = kThreadRunning;
                entry.lastPing = entry.start = nowTicks;
                starts.push_back(std::move(body));
            }
        }
    }
    for (auto& body : starts) {
        startEngineThread(std::move(body));
        sleepMs(timings().shortPollMs.load());
    }
    pass.restarted = static_cast<int>(starts.size());
    if (!work.applicationRunning && live == 0) {
        pass.keepRunning = false;
        return pass;
    }
    rebuildWatcherWhenListChanged(hooks);
    // No background save once shut-down began: the shut-down path saves itself.
    if (idle && work.applicationRunning && !configurationSaved.load()) pass.saveStarted = startBackgroundSave(hooks);
    return pass;
}

void resetSupervisorClock() {
    g_previousPassTicks.store(0);
    std::lock_guard<std::mutex> lock(g_wakeMutex);
    g_wakeAsked = false;
}

void startWorkerThreads() {
    while (true) {
        const SupervisorPass pass = runSupervisorPass(engineNowTicks());
        if (!pass.keepRunning) break;
        waitForNextPass(pass.saveStarted ? timings().idlePassMs.load() : timings().busyPassMs.load());
    }
}

void wakeSupervisor() {
    {
        std::lock_guard<std::mutex> lock(g_wakeMutex);
        g_wakeAsked = true;
    }
    g_wake.notify_one();
}

void endSupervisedWorker(const std::string& name, std::atomic<bool>* active) {
    const EngineHooks hooks = engineHooks();
    if (hooks.workerEnding) hooks.workerEnding(name);
    {
        std::lock_guard<std::mutex> lock(threadStateMutex);
        const auto found = threadStateMap.find(name);
        if (found != threadStateMap.end() && found->second.state != kThreadError) found->second.state = kThreadStopped;
        if (active) active->store(false);
    }
    const WorkOutlook work = readWorkOutlook(hooks);
    if (work.applicationRunning && restartBody(name, work, hooks)) wakeSupervisor();
}

void startEngine() {
    startEngineThread(startWorkerThreads);
    const EngineHooks hooks = engineHooks();
    if (hooks.monitorUIThread) startEngineThread(hooks.monitorUIThread);
}
