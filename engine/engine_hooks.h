#pragma once
// Entry points of engine workers that live in other files, reached through
// hooks so the supervisor and the Storage Checker can start them. The file
// that implements a worker installs its hook at start-up, before the engine
// starts. An empty hook means: nothing to start, no pending changes, an empty
// queue, the watcher not running.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

struct EngineHooks {
    // Change watcher.
    std::function<bool()> hasPendingChanges;
    std::function<bool()> isChangeWatcherRunning;   // its running flag, read under its run mutex
    std::function<void()> startWatchFolderThreads;   // rebuilds and starts the watcher
    // Worker bodies the supervisor restarts.
    std::function<void()> monitorUIThread;
    std::function<void()> fileWatcherThread;
    std::function<void()> copierThread;
    std::function<size_t()> copyQueueCount;
    // Archive preparation and the per-folder consistency scan.
    std::function<void(const std::wstring& folderPath, const std::wstring& archivePath)> prepareArchiveThread;
    std::function<void(const std::wstring& folderPath)> checkArchiveInstances;
    // Queues again the files that waited for room on a full archive disk,
    // where there is room now.
    std::function<size_t()> requeueFilesAwaitingRoom;
    // The backup engine's thread body: folder key, start ticks, recursion.
    using BackupThreadMain = std::function<void(const std::wstring& folderKey, int64_t startTicks, bool recursive)>;
    BackupThreadMain backupThreadMain;
    // Background save of the configuration when the system is idle.
    std::function<bool()> saveAppConfiguration;
    // A task posted a question: the shell shows its window, so that a question
    // asked while it is hidden (a scheduled backup at night) can be answered.
    // Called on the task's thread.
    std::function<void()> questionPosted;
    // Tests: called as the Copier or the File Watcher pass ends, after its
    // last look at its work and before it is marked stopped.
    std::function<void(const std::string& worker)> workerEnding;
};

// A copy of the hooks, taken under their mutex.
EngineHooks engineHooks();
void setEngineHooks(const EngineHooks& hooks);
