#include "engine/monitor_ui.h"

#include <atomic>
#include <chrono>
#include <thread>

#include "engine/archive_changes.h"
#include "engine/backup_scheduler.h"
#include "engine/change_watcher.h"
#include "engine/engine_hooks.h"
#include "engine/storage_checker.h"
#include "engine/thread_registry.h"
#include "foundation/app_config.h"
#include "foundation/foreground_history.h"
#include "foundation/global_defaults.h"
#include "foundation/text_format.h"
#include "foundation/watch_folders.h"
#include "platform/foreground_window.h"
#include "platform/paths.h"

std::map<uint64_t, uint32_t> windowTable;
std::mutex windowTableMutex;
std::map<uint32_t, ProcessTableEntry> processTable;
std::mutex processTableMutex;

namespace {

const std::string kMonitorUiName(kMonitorUiThreadName);
constexpr uint64_t kPingIntervalMs = 500;
constexpr uint64_t kTimeoutMs = 5000;
constexpr int32_t kMinimumWindowSide = 10;

std::atomic<bool> g_workersStarted{false};


const std::wstring& ownImage() {
    static const std::wstring path = ownExecutablePath();
    return path;
}

// Adds the time since the reference to the current application's foreground
// time while it is the one in front, and moves the reference in every case:
// time when no application is credited (no window in front, the program's
// own window, an ignored application) belongs to none. The caller holds
// statisticsMutex.
void addForegroundTime(MonitorUIState& state, int64_t steadyMs) {
    const int64_t elapsed = steadyMs - state.referenceMs;
    state.referenceMs = steadyMs;
    if (!state.crediting || state.currentApplication.empty() || elapsed <= 0) return;
    const auto it = applicationStatsMap.find(state.currentApplication);
    if (it != applicationStatsMap.end()) it->second.foregroundMs += static_cast<uint32_t>(elapsed);
}

// The current application left the front for something that is not credited.
void stopCrediting(MonitorUIState& state, int64_t steadyMs) {
    std::lock_guard<std::mutex> lock(statisticsMutex);
    addForegroundTime(state, steadyMs);
    state.crediting = false;
}

void findForegroundWindow(MonitorUIState& state, int64_t steadyMs) {
    const uint64_t window = currentForegroundWindow();
    if (window == 0) return stopCrediting(state, steadyMs);
    scanWindow(window);
    {
        std::lock_guard<std::mutex> lock(windowTableMutex);
        const auto it = windowTable.find(window);
        if (it != windowTable.end()) {
            state.window = window;
            state.processId = it->second;
            state.phase = 2;
        }
    }
    std::lock_guard<std::mutex> lock(statisticsMutex);
    addForegroundTime(state, steadyMs);
}

void followForegroundProcess(MonitorUIState& state, int64_t nowTicks, int64_t steadyMs) {
    state.phase = 1;
    ProcessTableEntry process;
    {
        std::lock_guard<std::mutex> lock(processTableMutex);
        const auto it = processTable.find(state.processId);
        if (it == processTable.end()) return stopCrediting(state, steadyMs);
        process = it->second;
    }
    const std::wstring& candidate = process.imagePath;
    std::unique_lock<std::mutex> lock(statisticsMutex);
    const auto it = applicationStatsMap.find(candidate);
    if (it != applicationStatsMap.end() && !it->second.monitorFocus) {
        lock.unlock();
        return stopCrediting(state, steadyMs);
    }
    if (it == applicationStatsMap.end() && candidate != ownImage()) {
        ApplicationRecord record;
        record.displayName = lastPathComponent(candidate) + L": " + process.title;
        applicationStatsMap.emplace(candidate, record);
        setChangeWatcherForegroundApplication(candidate);
    }
    addForegroundTime(state, steadyMs);
    state.crediting = true;
    if (candidate == state.currentApplication) return;
    state.currentApplication = candidate;
    recordForegroundApplication(nowTicks, candidate, state.processId);
}


}  // namespace

bool scanWindow(uint64_t window) {
    WindowDescription description;
    if (!describeWindow(window, description)) return false;
    if (description.width <= kMinimumWindowSide || description.height <= kMinimumWindowSide) return false;
    if (!description.visible || description.minimised) return false;
    if (!description.imagePath.empty()) {
        std::lock_guard<std::mutex> lock(processTableMutex);
        processTable[description.processId] = ProcessTableEntry{description.title, description.imagePath};
    }
    std::lock_guard<std::mutex> lock(windowTableMutex);
    windowTable[window] = description.processId;
    return true;
}

void renameApplication(const std::wstring& applicationKey, const std::wstring& newName) {
    std::lock_guard<std::mutex> lock(statisticsMutex);
    const auto it = applicationStatsMap.find(applicationKey);
    if (it == applicationStatsMap.end()) return;
    it->second.persistent = !newName.empty();
    it->second.displayName = newName.empty() ? lastPathComponent(applicationKey) : newName;
}

void monitorUIStep(MonitorUIState& state, int64_t nowTicks, int64_t steadyMs) {
    if (state.phase == 0) {
        state.phase = 1;
        state.referenceMs = steadyMs;
    } else if (state.phase == 1) {
        findForegroundWindow(state, steadyMs);
    } else {
        followForegroundProcess(state, nowTicks, steadyMs);
    }
}

bool startWorkersOnce() {
    if (g_workersStarted.exchange(true)) return false;
    const EngineHooks hooks = engineHooks();
    // The watcher is started here the first time: the supervisor only
    // rebuilds a running one.
    if (hooks.startWatchFolderThreads && !(hooks.isChangeWatcherRunning && hooks.isChangeWatcherRunning()))
        hooks.startWatchFolderThreads();
    if (hooks.copierThread) startEngineThread(hooks.copierThread);
    startEngineThread(storageCheckerThread);
    if (hooks.fileWatcherThread) startEngineThread(hooks.fileWatcherThread);
    startEngineThread(backupSchedulerThread);
    return true;
}

void resetWorkersStarted() { g_workersStarted.store(false); }

void monitorUIThread() {
    startWorkersOnce();
    clearArchiveContext();
    getThreadState(kMonitorUiName, kPingIntervalMs, kTimeoutMs);
    MonitorUIState state;
    while (true) {
        getThreadState(kMonitorUiName, 0, 0);
        if (!isApplicationRunning()) break;
        sleepMs(timings().pollMs.load());
        monitorUIStep(state, engineNowTicks(), steadyClockMs());
    }
    stopChangeWatcher();
    setThreadState(kMonitorUiName, kThreadStopped);
}
