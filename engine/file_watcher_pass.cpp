#include "engine/file_watcher_pass.h"

#include <atomic>
#include <mutex>
#include <string>
#include <utility>

#include "engine/archive_changes.h"
#include "engine/copy_progress.h"
#include "engine/supervisor.h"
#include "engine/thread_registry.h"
#include "foundation/app_config.h"
#include "foundation/file_helpers.h"
#include "foundation/foreground_history.h"
#include "foundation/global_defaults.h"
#include "platform/file_system.h"
#include "platform/paths.h"

namespace {

const std::string kFileWatcherName(kFileWatcherThreadName);
const std::string kMonitorFilesName(kMonitorFilesThreadName);
constexpr uint64_t kPingIntervalMs = 250;
constexpr uint64_t kTimeoutMs = 5000;

bool isRegularFile(const std::wstring& path) {
    const uint32_t attributes = readFileAttributes(path);
    return attributes != kInvalidFileAttributes && !(attributes & kFileAttributeDirectory);
}

void updateRatio(ApplicationRecord& record) {
    record.ratio = record.changeCount == 0 ? 0.0 : static_cast<double>(record.archivedCount) / record.changeCount;
}

// Follows the change watcher: "File Watcher (W)" runs while the watcher runs.
void followChangeWatcher() {
    if (!isChangeWatcherRunning()) {
        setThreadState(kFileWatcherName, kThreadStopped);
        return;
    }
    bool running = false;
    {
        std::lock_guard<std::mutex> lock(threadStateMutex);
        const auto it = threadStateMap.find(kFileWatcherName);
        running = it != threadStateMap.end() && it->second.state == kThreadRunning;
    }
    if (!running) setThreadState(kFileWatcherName, kThreadRunning);
    getThreadState(kFileWatcherName, 0, 0);
}

}  // namespace

void attributeChangeRecords(std::vector<ChangeRecord>& records) {
    for (ChangeRecord& record : records) {
        ForegroundEntry entry;
        if (foregroundApplicationAt(record.lastChangeTicks, entry)) record.applicationName = entry.imagePath;
    }
}

void countApplicationChange(const std::wstring& application) {
    if (application.empty()) return;
    std::lock_guard<std::mutex> lock(statisticsMutex);
    const auto it = applicationStatsMap.find(application);
    if (it != applicationStatsMap.end()) {
        it->second.changeCount = static_cast<uint16_t>(it->second.changeCount + 1);
        updateRatio(it->second);
        return;
    }
    const std::wstring name = lastPathComponent(application);
    for (auto& [key, record] : applicationStatsMap) {
        if (record.displayName.find(name) == std::wstring::npos) continue;
        updateRatio(record);
        return;
    }
}

namespace {

std::atomic<uint64_t> g_cyclesStarted{0};
std::atomic<uint64_t> g_cyclesEnded{0};

struct CycleCount {
    CycleCount() { ++g_cyclesStarted; }
    ~CycleCount() { ++g_cyclesEnded; }
};

}  // namespace

uint64_t fileWatcherCycleMark() { return g_cyclesStarted.load(); }

bool fileWatcherHandledChangesSince(uint64_t mark) {
    if (g_cyclesEnded.load() > mark) return true;
    const uint64_t started = g_cyclesStarted.load();
    const uint64_t ended = g_cyclesEnded.load();
    return started == ended && !hasPendingChanges() && g_cyclesStarted.load() == started;
}

size_t runFileWatcherCycle() {
    const CycleCount counted;
    std::vector<ChangeRecord> records;
    if (collectFolderChanges(records) == 0) return 0;
    attributeChangeRecords(records);
    std::vector<ChangedFile> changes;
    changes.reserve(records.size());
    for (const ChangeRecord& record : records) {
        // A file that vanished before the pass is dropped without a word.
        if (isRegularFile(record.path)) countApplicationChange(record.applicationName);
        changes.push_back({record.path, record.applicationName});
    }
    archiveChangedFile(changes);
    countQueuedChangesInFolders();
    return records.size();
}

void fileWatcherThread() {
    getThreadState(kMonitorFilesName, kPingIntervalMs, kTimeoutMs);
    getThreadState(kFileWatcherName, kPingIntervalMs, kTimeoutMs);
    setThreadState(kMonitorFilesName, kThreadRunning);
    setThreadState(kFileWatcherName, kThreadRunning);
    getThreadState(kMonitorFilesName, 0, 0);
    while (isApplicationRunning()) {
        followChangeWatcher();
        if (runFileWatcherCycle() == 0) break;
        getThreadState(kMonitorFilesName, 0, 0);
    }
    setThreadState(kMonitorFilesName, kThreadStopped);
    endSupervisedWorker(kFileWatcherName);
}
