#include "engine/file_watcher_pass.h"

#include <atomic>
#include <mutex>
#include <string>
#include <utility>

#include "engine/archive_copy.h"
#include "engine/copy_queue.h"
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

// The queued items not counted in their folder yet, with their folders.
std::vector<std::pair<std::wstring, std::wstring>> uncountedQueueItems() {
    std::vector<std::wstring> sources;
    {
        std::lock_guard<std::mutex> lock(copyQueueMutex);
        for (const auto& [source, item] : copyQueue)
            if (!item.folderCounted) sources.push_back(source);
    }
    std::vector<std::pair<std::wstring, std::wstring>> items;
    for (const std::wstring& source : sources) {
        std::wstring folder = findWatchFolderOfFile(source);
        if (folder.empty()) continue;
        std::lock_guard<std::mutex> lock(watchFolderMutex);
        if (watchFolderMap.count(folder)) items.emplace_back(source, std::move(folder));
    }
    return items;
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

bool addChangedFiles(WatchFolderEntry& entry, const std::vector<std::wstring>& paths) {
    std::lock_guard<std::mutex> lock(progressMutex);
    for (const std::wstring& path : paths) {
        if (!entry.progressSet.try_emplace(pathKey(path), 0.0).second) continue;
        ++entry.progressSumCount;  // entered at 0.0: the running sum stays right
        uint64_t size = 0;
        if (getFileSize(path, size)) entry.totalByteCount += size;
    }
    return true;
}

size_t countQueuedChangesInFolders() {
    std::vector<std::pair<std::wstring, std::wstring>> items = uncountedQueueItems();
    if (items.empty()) return 0;
    // Marked first, so an item is never counted twice; an item that left the
    // queue meanwhile is not counted.
    std::vector<std::pair<std::wstring, std::wstring>> marked;
    {
        std::lock_guard<std::mutex> lock(copyQueueMutex);
        for (auto& [source, folder] : items) {
            const auto it = copyQueue.find(source);
            if (it == copyQueue.end() || it->second.folderCounted) continue;
            it->second.folderCounted = 1;
            marked.emplace_back(std::move(source), std::move(folder));
        }
    }
    size_t counted = 0;
    std::lock_guard<std::mutex> lock(watchFolderMutex);
    for (const auto& [source, folder] : marked) {
        const auto it = watchFolderMap.find(folder);
        if (it == watchFolderMap.end()) continue;
        it->second.changesDetected += 1;
        addChangedFiles(it->second, {source});
        ++counted;
    }
    return counted;
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
    setThreadState(kFileWatcherName, kThreadStopped);
    setThreadState(kMonitorFilesName, kThreadStopped);
}
