#include "engine/storage_checker.h"

#include <chrono>
#include <condition_variable>
#include <thread>
#include <utility>
#include <vector>

#include "engine/engine_hooks.h"
#include "engine/thread_registry.h"
#include "foundation/app_log.h"
#include "foundation/archive_root.h"
#include "foundation/file_helpers.h"
#include "foundation/global_defaults.h"
#include "foundation/watch_folders.h"
#include "platform/paths.h"

namespace {

constexpr uint64_t kPingIntervalMs = 250;
constexpr uint64_t kTimeoutMs = 5000;
constexpr uint32_t kLogKindError = 8;
constexpr uint32_t kMonitorProblems = kProblemMonitorFolderMissing | kProblemCannotMonitor;

std::mutex g_wakeMutex;
std::condition_variable g_wakeSignal;
bool g_wakeRequested = false;

// The pause between checks, cut short by wakeStorageChecker.
void pauseUntilNextCheck() {
    std::unique_lock<std::mutex> lock(g_wakeMutex);
    g_wakeSignal.wait_for(lock, std::chrono::milliseconds(timings().busyPassMs.load()),
                          [] { return g_wakeRequested; });
    g_wakeRequested = false;
}

bool isCheckedEntry(const WatchFolderEntry& entry) {
    return !(entry.folderType & kFolderTypeDisable) && !entry.removed;
}

// Updates one entry's flags; appends the messages it raises and, when its
// archive folder has appeared, the folder to prepare.
void checkEntry(const std::wstring& key, WatchFolderEntry& entry, std::vector<std::wstring>& messages,
                std::vector<std::pair<std::wstring, std::wstring>>& prepares) {
    const std::wstring quoted = L"\"" + lastPathComponent(key) + L"\"";
    // A folder whose way others can change is not monitored; its log line
    // says what to change.
    if (isRefusedRoot(key, L"Watch folder")) {
        entry.problemFlags = (entry.problemFlags & ~kProblemMonitorFolderMissing) | kProblemCannotMonitor;
    } else if (isExistingFolder(key)) {
        entry.problemFlags &= ~kMonitorProblems;
    } else {
        entry.problemFlags |= kMonitorProblems;
        messages.push_back(quoted + L" - Folder does not exist: " + entry.displayName);
        messages.push_back(quoted + L" - Cannot monitor folder: " + entry.displayName);
    }
    // An archive that must not be used waits as a missing one does, and is
    // prepared again once it may be.
    if (isForeignArchiveFolder(entry.archivePath)) {
        entry.problemFlags |= kProblemArchiveMissing;
    } else if (isExistingFolder(entry.archivePath)) {
        // Cleared here, so the archive is prepared once and not every pass.
        if (entry.problemFlags & kProblemArchiveMissing) {
            entry.problemFlags &= ~kProblemArchiveMissing;
            prepares.emplace_back(key, entry.archivePath);
        }
    } else {
        entry.problemFlags |= kProblemArchiveMissing;
        messages.push_back(quoted + L" - Archive Folder does not exist: " + entry.archivePath);
    }
}

}  // namespace

bool checkWatchFolderStorage(std::set<std::wstring>& logged) {
    std::vector<std::wstring> messages;
    std::vector<std::pair<std::wstring, std::wstring>> prepares;
    {
        std::lock_guard<std::mutex> lock(watchFolderMutex);
        if (watchFolderMap.empty()) return false;
        bool changed = false;
        for (auto& [key, entry] : watchFolderMap) {
            if (!isCheckedEntry(entry)) continue;
            const uint32_t before = entry.problemFlags;
            checkEntry(key, entry, messages, prepares);
            changed = changed || before != entry.problemFlags;
        }
        if (changed) setWatchListChanged(true);
    }
    for (const std::wstring& message : messages) {
        if (logged.insert(message).second) appendAppLogEntry(message, kLogKindError, false);
    }
    const EngineHooks hooks = engineHooks();
    if (hooks.requeueFilesAwaitingRoom) hooks.requeueFilesAwaitingRoom();
    if (!hooks.prepareArchiveThread) return true;
    for (const auto& pair : prepares) {
        startEngineThread([prepare = hooks.prepareArchiveThread, folder = pair.first, archive = pair.second] {
            prepare(folder, archive);
        });
    }
    return true;
}

std::wstring advanceFolderScan(FolderScanCursor& cursor, int64_t nowTicks) {
    const int64_t periodTicks = static_cast<int64_t>(timings().folderScanMs.load()) * 10000;
    if (nowTicks - cursor.lastScanTicks < periodTicks) return L"";
    cursor.lastScanTicks = nowTicks;
    std::wstring next;
    {
        std::lock_guard<std::mutex> lock(watchFolderMutex);
        auto it = cursor.atStart ? watchFolderMap.begin() : watchFolderMap.upper_bound(cursor.lastKey);
        for (; it != watchFolderMap.end(); ++it) {
            const WatchFolderEntry& entry = it->second;
            if (!entry.removed && isWatchedFolderType(entry.folderType)) {
                next = it->first;
                break;
            }
        }
    }
    if (next.empty()) {
        cursor.atStart = true;
        return L"";
    }
    cursor.lastKey = next;
    cursor.atStart = false;
    const EngineHooks hooks = engineHooks();
    if (hooks.checkArchiveInstances) startEngineThread([check = hooks.checkArchiveInstances, next] { check(next); });
    return next;
}

void wakeStorageChecker() {
    std::lock_guard<std::mutex> lock(g_wakeMutex);
    g_wakeRequested = true;
    g_wakeSignal.notify_all();
}

void storageCheckerThread() {
    const std::string name(kStorageCheckerThreadName);
    getThreadState(name, kPingIntervalMs, kTimeoutMs);
    std::set<std::wstring> logged;
    FolderScanCursor cursor;
    cursor.lastScanTicks = engineNowTicks();
    while (true) {
        getThreadState(name, 0, 0);
        if (!isApplicationRunning() || !checkWatchFolderStorage(logged)) break;
        advanceFolderScan(cursor, engineNowTicks());
        pauseUntilNextCheck();
    }
    setThreadState(name, kThreadStopped);
}
