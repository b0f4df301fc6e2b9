#include "engine/change_watcher.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <utility>

#include "engine/catch_up_scan.h"
#include "engine/engine_hooks.h"
#include "engine/storage_checker.h"
#include "engine/supervisor.h"
#include "engine/thread_registry.h"
#include "foundation/app_log.h"
#include "foundation/file_helpers.h"
#include "foundation/global_defaults.h"
#include "foundation/text_format.h"
#include "foundation/watch_folders.h"
#include "platform/dir_watch.h"
#include "platform/file_change_time.h"
#include "platform/file_system.h"
#include "platform/folder_walk.h"
#include "platform/paths.h"

namespace {

constexpr uint32_t kLogKindIssue = 4;
constexpr int64_t kTicksPerMs = 10000;
// File times come from the kernel's coarse clock; a rescan looks this much
// further back so a file written just before a reading is not missed.
constexpr int64_t kRescanSlackTicks = 2000 * kTicksPerMs;

struct WatchedFolder {
    std::map<std::wstring, ChangeRecord> pending;  // by full path
    bool recursive = false;
    // Changes may have gone unseen (the watch was rebuilt, or the folder went
    // away): when its watch opens, the folder is compared with its archive
    // for files changed since `catchUpSince` (0: every file).
    bool catchUpOwed = false;
    int64_t catchUpSince = 0;
    bool watchOpen = false;  // its watch is open now
};
using WatchedFolders = std::map<std::wstring, WatchedFolder>;

// One start of the watcher. The threads of a run keep it alive, so a run that
// is being stopped stays valid until its last thread ends.
struct WatcherRun {
    std::atomic<bool> stopRequested{false};
    std::vector<DirWatchPtr> watches;  // guarded by g_stateMutex
    size_t liveThreads = 0;            // guarded by g_stateMutex
    // Per watch: the read mark taken before its last wait that found the queue empty.
    std::map<const DirWatch*, uint64_t> drainedMarks;  // guarded by g_stateMutex
};
using WatcherRunPtr = std::shared_ptr<WatcherRun>;

// A file change to record, with its tick.
struct FileChange {
    std::wstring path;
    int64_t ticks = 0;
};

std::mutex g_startMutex;  // one rebuild at a time

std::mutex g_runMutex;  // never held together with the mutexes below
bool g_running = false;
WatcherRunPtr g_currentRun;

std::mutex g_stateMutex;  // the runs' watches and live counts; before g_watchedMutex
size_t g_liveThreads = 0;

std::mutex g_watchedMutex;
WatchedFolders g_watched;  // by watch-folder key
std::vector<std::wstring> g_excluded;             // no change is recorded inside these
std::wstring g_foregroundApplication;
// Every folder of the next build is owed a whole comparison (asked for
// before the watcher was first built).
bool g_compareNextFolders = false;
// Folders owed a whole comparison that no build has listed yet.
std::set<std::wstring> g_compareWhenListed;

std::atomic<bool> g_holdForTests{false};
std::atomic<uint64_t> g_readMark{0};

bool folderCovers(const std::wstring& folder, const WatchedFolder& entry, const std::wstring& path) {
    const std::wstring trimmed = withoutTrailingSeparators(folder);
    if (path == trimmed) return false;
    if (entry.recursive) return pathIsInside(path, trimmed);
    return parentFolder(path) == trimmed;
}

// The deepest watched folder whose watch reports `path`: where watch folders
// nest, the inner one alone records the change. Caller holds g_watchedMutex.
const std::wstring* owningFolderIn(const WatchedFolders& watched, const std::wstring& path) {
    const std::wstring* owner = nullptr;
    for (const auto& [folder, entry] : watched) {
        if (!folderCovers(folder, entry, path)) continue;
        if (!owner || withoutTrailingSeparators(folder).size() > withoutTrailingSeparators(*owner).size())
            owner = &folder;
    }
    return owner;
}

bool isExcludedLocked(const std::wstring& path) {
    for (const std::wstring& excluded : g_excluded) {
        if (pathIsInside(path, excluded)) return true;
    }
    return false;
}

void recordChangeLocked(WatchedFolder& entry, const std::wstring& folder, const FileChange& change) {
    auto [it, added] = entry.pending.try_emplace(change.path);
    ChangeRecord& record = it->second;
    if (added) {
        record.path = change.path;
        record.watchFolder = folder;
        record.foregroundApplication = g_foregroundApplication;
    }
    ++record.changeCount;
    record.lastChangeTicks = std::max(record.lastChangeTicks, change.ticks);
}

void recordChanges(const std::wstring& folder, const std::vector<FileChange>& changes) {
    if (changes.empty()) return;
    bool first = false;
    {
        std::lock_guard<std::mutex> lock(g_watchedMutex);
        auto entry = g_watched.find(folder);
        if (entry == g_watched.end()) return;  // the watcher was rebuilt without it
        const bool wasEmpty = entry->second.pending.empty();
        for (const FileChange& change : changes) {
            if (isExcludedLocked(change.path)) continue;
            const std::wstring* owner = owningFolderIn(g_watched, change.path);
            if (!owner || *owner != folder) continue;
            recordChangeLocked(entry->second, folder, change);
        }
        first = wasEmpty && !entry->second.pending.empty();
    }
    // The File Watcher pass that takes them starts at once.
    if (first) wakeSupervisor();
}

std::vector<FileChange> batchFileChanges(const DirChangeBatch& batch) {
    std::vector<FileChange> changes;
    changes.reserve(batch.changes.size());
    const int64_t now = currentTimeTicks();
    for (const DirChange& change : batch.changes) {
        if (!change.isFolder) changes.push_back(FileChange{change.path, now});
    }
    return changes;
}

// Finds the files changed since `sinceTicks` below `folder`, for changes the
// kernel dropped.
std::vector<FileChange> rescanFolder(const std::wstring& folder, bool recursive, int64_t sinceTicks) {
    std::vector<FileChange> found;
    const int64_t now = currentTimeTicks();
    walkFolderFiles(folder, recursive, enterEveryFolder, [&](const std::wstring& path) {
        int64_t ticks = 0;
        if (readFileChangeTicks(path, ticks) && ticks >= sinceTicks)
            found.push_back(FileChange{path, std::min(ticks, now)});
        return WalkStep::Go;
    });
    return found;
}

// Each distinct problem goes to the log once per thread, so a folder under a
// lasting flood of changes does not flood the log.
void logProblems(const std::vector<std::wstring>& problems, std::set<std::wstring>& logged) {
    for (const std::wstring& problem : problems) {
        if (logged.insert(problem).second) appendAppLogEntry(problem, kLogKindIssue, false);
    }
}

void addLiveThreads(WatcherRun& run, size_t count) {
    std::lock_guard<std::mutex> lock(g_stateMutex);
    run.liveThreads += count;
    g_liveThreads += count;
}

// The thread's share of its run: its watch while it has one, and its count.
struct WatcherThreadShare {
    WatcherRunPtr run;
    DirWatchPtr watch;

    // Caller holds g_stateMutex.
    void dropWatchLocked() {
        auto& watches = run->watches;
        watches.erase(std::remove(watches.begin(), watches.end(), watch), watches.end());
        if (watch) run->drainedMarks.erase(watch.get());
        watch.reset();
    }
    // Makes `next` the watch a stop wakes; false when the run is stopping.
    bool holdWatch(const DirWatchPtr& next) {
        std::lock_guard<std::mutex> lock(g_stateMutex);
        dropWatchLocked();
        if (run->stopRequested.load()) return false;
        run->watches.push_back(next);
        watch = next;
        return true;
    }
    ~WatcherThreadShare() {
        std::lock_guard<std::mutex> lock(g_stateMutex);
        dropWatchLocked();
        --run->liveThreads;
        --g_liveThreads;
    }
};

void noteQueueDrained(WatcherRun& run, const DirWatch& watch, uint64_t readMark) {
    std::lock_guard<std::mutex> lock(g_stateMutex);
    run.drainedMarks[&watch] = readMark;
}

bool keepWatching(const WatcherRun& run) { return !run.stopRequested.load() && isApplicationRunning(); }

// The folder went away: everything in it is compared with the archive when
// it is back, and the Storage Checker looks at once instead of at its next pass.
void noteFolderGone(const std::wstring& folder) {
    {
        std::lock_guard<std::mutex> lock(g_watchedMutex);
        auto entry = g_watched.find(folder);
        if (entry != g_watched.end()) {
            entry->second.catchUpOwed = true;
            entry->second.catchUpSince = 0;
            entry->second.watchOpen = false;
        }
    }
    wakeStorageChecker();
}

// Starts the comparison the folder is owed, now that its watch is open.
void startOwedCatchUp(const std::wstring& folder) {
    int64_t since = 0;
    {
        std::lock_guard<std::mutex> lock(g_watchedMutex);
        auto entry = g_watched.find(folder);
        if (entry == g_watched.end()) return;
        entry->second.watchOpen = true;
        if (!entry->second.catchUpOwed) return;
        entry->second.catchUpOwed = false;
        since = entry->second.catchUpSince;
    }
    requestFolderCatchUp(folder, since);
}

// Waits until the folder exists again (a deleted folder made again, a drive
// mounted again); false when the watcher stops first.
bool waitForFolder(const WatcherRun& run, const std::wstring& folder) {
    int64_t nextLookMs = 0;
    while (keepWatching(run)) {
        if (steadyClockMs() >= nextLookMs) {
            if (isExistingFolder(folder)) return true;
            nextLookMs = steadyClockMs() + timings().pollMs.load();
        }
        // Short slices: a stop must not wait for the next look.
        std::this_thread::sleep_for(std::chrono::milliseconds(std::min<uint32_t>(timings().pollMs.load(), 50)));
    }
    return false;
}

enum class WatchEnd { Stopped, FolderGone };

// Waits for changes until stopped, the application stops or the folder goes.
WatchEnd watchUntilStopped(WatcherRun& run, DirWatch& watch, const std::wstring& folder, bool recursive,
                           int64_t safeSince, std::set<std::wstring>& logged) {
    // safeSince: every change before it was read from the kernel's queue.
    int timeoutMs = 0;
    while (keepWatching(run)) {
        if (g_holdForTests.load()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            continue;
        }
        const int64_t waitStart = currentTimeTicks();
        const uint64_t readMark = g_readMark.load();
        DirChangeBatch batch;
        const DirWaitResult result = waitDirChanges(watch, timeoutMs, batch);
        if (result == DirWaitResult::Stopped) return WatchEnd::Stopped;
        if (result == DirWaitResult::TimedOut) {
            safeSince = waitStart;  // the queue was empty when the wait began
            noteQueueDrained(run, watch, readMark);
            timeoutMs = static_cast<int>(timings().pollMs.load());
            continue;
        }
        timeoutMs = 0;  // more may be queued: look again at once
        logProblems(batch.problems, logged);
        if (run.stopRequested.load()) return WatchEnd::Stopped;
        recordChanges(folder, batchFileChanges(batch));
        if (batch.overflow) {
            const int64_t scanStart = currentTimeTicks();
            recordChanges(folder, rescanFolder(folder, recursive, safeSince - kRescanSlackTicks));
            safeSince = scanStart;
        }
        if (batch.folderGone) return WatchEnd::FolderGone;
    }
    return WatchEnd::Stopped;
}

// Watches one folder for the life of its run. A folder that goes away (its
// own watch reports it) or is missing is waited for and watched again when
// it is back; one that is there but cannot be watched is left (logged).
void watchFolderThread(const WatcherRunPtr& run, const std::wstring& folder, bool recursive) {
    WatcherThreadShare share{run, nullptr};
    std::set<std::wstring> logged;
    while (keepWatching(*run)) {
        std::vector<std::wstring> problems;
        const int64_t openStart = currentTimeTicks();
        DirWatchPtr watch = openDirWatch(folder, recursive, problems);
        logProblems(problems, logged);
        if (watch) {
            if (!share.holdWatch(watch)) return;
            startOwedCatchUp(folder);
            if (watchUntilStopped(*run, *watch, folder, recursive, openStart, logged) == WatchEnd::Stopped) return;
        } else if (isExistingFolder(folder)) {
            return;
        }
        noteFolderGone(folder);
        if (!waitForFolder(*run, folder)) return;
    }
}

struct WatchLists {
    std::vector<std::pair<std::wstring, bool>> folders;  // folder, recursive
    std::vector<std::wstring> excluded;
};

void addListEntry(WatchLists& lists, const std::wstring& folder, const WatchFolderEntry& entry, bool withArchive) {
    const int32_t type = entry.folderType;
    if (isWatchedFolderType(type)) {
        lists.folders.emplace_back(folder, type == kFolderTypeDescendents);
        // Archived copies written below a watched folder are not changes.
        if (withArchive && !entry.archivePath.empty()) lists.excluded.push_back(pathKey(entry.archivePath));
    } else if (type == kFolderTypeExclude) {
        lists.excluded.push_back(folder);
    }
}

WatchLists readWatchLists() {
    WatchLists lists;
    std::lock_guard<std::mutex> lock(watchFolderMutex);
    for (const auto& [folder, entry] : defaultFolderMap) addListEntry(lists, folder, entry, false);
    for (const auto& [folder, entry] : watchFolderMap) addListEntry(lists, folder, entry, true);
    return lists;
}

// Moves what the old lists held into the new ones: pending changes stay
// recorded (a change of a folder no longer listed goes to the folder that
// holds its file now, if any); a folder watched before is owed a comparison
// from `rebuildSince` on, for changes made while no watch was open.
void carryOverWatchedFolders(WatchedFolders& old, WatchedFolders& next, bool rebuilding, int64_t rebuildSince) {
    for (auto& [folder, entry] : old) {
        auto kept = next.find(folder);
        if (kept == next.end()) {
            for (auto& [path, record] : entry.pending) {
                const std::wstring* owner = owningFolderIn(next, path);
                if (!owner) continue;
                record.watchFolder = *owner;
                next[*owner].pending.try_emplace(path, std::move(record));
            }
            continue;
        }
        WatchedFolder& target = kept->second;
        for (auto& [path, record] : entry.pending) target.pending.insert_or_assign(path, std::move(record));
        target.catchUpOwed = entry.catchUpOwed || rebuilding;
        target.catchUpSince = entry.catchUpOwed ? std::min(entry.catchUpSince, rebuildSince) : rebuildSince;
    }
}

void oweWholeComparison(WatchedFolder& entry) {
    entry.catchUpOwed = true;
    entry.catchUpSince = 0;
}

void rebuildWatchedFolders(const WatchLists& lists, bool rebuilding, int64_t rebuildSince) {
    WatchedFolders next;
    for (const auto& [folder, recursive] : lists.folders) next[folder].recursive = recursive;
    std::lock_guard<std::mutex> lock(g_watchedMutex);
    carryOverWatchedFolders(g_watched, next, rebuilding, rebuildSince);
    for (auto& [folder, entry] : next) {
        if (g_compareNextFolders || g_compareWhenListed.erase(folder)) oweWholeComparison(entry);
    }
    g_compareNextFolders = false;
    g_watched.swap(next);
    g_excluded.clear();
    for (const std::wstring& path : lists.excluded) {
        if (!path.empty() && std::find(g_excluded.begin(), g_excluded.end(), path) == g_excluded.end())
            g_excluded.push_back(path);
    }
}

void startFolderThreads(const WatcherRunPtr& run, const std::map<std::wstring, bool>& folders) {
    for (const auto& [folder, recursive] : folders) {
        try {
            startEngineThread([run, folder = folder, recursive = recursive] {
                watchFolderThread(run, folder, recursive);
            });
        } catch (...) {
            std::lock_guard<std::mutex> lock(g_stateMutex);
            --run->liveThreads;
            --g_liveThreads;
            throw;
        }
    }
}

size_t runLiveThreads(const WatcherRun& run) {
    std::lock_guard<std::mutex> lock(g_stateMutex);
    return run.liveThreads;
}

}  // namespace

bool startWatchFolderThreads() {
    std::lock_guard<std::mutex> startLock(g_startMutex);
    // Changes made from here until the new watches open are found again by
    // comparing each folder with its archive.
    const int64_t rebuildSince = currentTimeTicks() - kRescanSlackTicks;
    const bool rebuilding = stopChangeWatcher();
    // A rebuild asked for while the program stops (the Storage Checker's last
    // pass, an archive prepared late) would outlive the engine's stop.
    if (!isApplicationRunning()) return true;
    rebuildWatchedFolders(readWatchLists(), rebuilding, rebuildSince);
    std::map<std::wstring, bool> folders;
    {
        std::lock_guard<std::mutex> lock(g_watchedMutex);
        for (const auto& [folder, entry] : g_watched) folders[folder] = entry.recursive;
    }
    auto run = std::make_shared<WatcherRun>();
    addLiveThreads(*run, folders.size());  // counted before anyone can stop the run
    {
        std::lock_guard<std::mutex> lock(g_runMutex);
        g_currentRun = run;
        g_running = true;
    }
    startFolderThreads(run, folders);
    return true;
}

bool stopChangeWatcher() {
    WatcherRunPtr run;
    {
        std::lock_guard<std::mutex> lock(g_runMutex);
        run = std::move(g_currentRun);
        g_currentRun.reset();
        g_running = false;
    }
    if (!run) return false;
    run->stopRequested.store(true);
    {
        std::lock_guard<std::mutex> lock(g_stateMutex);
        for (const DirWatchPtr& watch : run->watches) stopDirWatch(*watch);
    }
    // A thread still setting up its watch notices the stop when it is done.
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(timings().watcherStopMs.load());
    while (runLiveThreads(*run) != 0 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

bool isChangeWatcherRunning() {
    std::lock_guard<std::mutex> lock(g_runMutex);
    return g_running;
}

bool hasPendingChanges() {
    std::lock_guard<std::mutex> lock(g_watchedMutex);
    for (const auto& [folder, entry] : g_watched) {
        if (!entry.pending.empty()) return true;
    }
    return false;
}

size_t collectFolderChanges(std::vector<ChangeRecord>& records) {
    const int64_t now = currentTimeTicks();
    size_t count = 0;
    std::lock_guard<std::mutex> lock(g_watchedMutex);
    for (auto& [folder, entry] : g_watched) {
        for (auto& [path, record] : entry.pending) {
            record.ageMs = now > record.lastChangeTicks
                               ? static_cast<uint64_t>((now - record.lastChangeTicks) / kTicksPerMs)
                               : 0;
            records.push_back(std::move(record));
            ++count;
        }
        entry.pending.clear();
    }
    return count;
}

size_t requeueChangeRecords(const std::vector<ChangeRecord>& records) {
    for (const ChangeRecord& record : records) {
        const std::wstring folder = pathKey(queryPathAttributes(record.path));
        std::lock_guard<std::mutex> lock(g_watchedMutex);
        auto entry = g_watched.find(folder);
        if (entry == g_watched.end()) continue;
        ChangeRecord copy = record;
        copy.watchFolder = folder;
        entry->second.pending.try_emplace(record.path, std::move(copy));
    }
    return records.size();
}

std::wstring queryPathAttributes(const std::wstring& path) {
    std::vector<std::wstring> candidates;
    {
        std::lock_guard<std::mutex> lock(g_watchedMutex);
        const std::wstring parent = parentFolder(path);
        if (g_watched.count(parent)) return parent;
        // A folder watched without its sub-folders holds only its own files;
        // deeper ones belong to a folder around it watched with them.
        for (const auto& [folder, entry] : g_watched) {
            if (folderCovers(folder, entry, path)) candidates.push_back(folder);
        }
    }
    // Deepest first: nested watch folders own what lies inside them.
    std::sort(candidates.begin(), candidates.end(), [](const std::wstring& a, const std::wstring& b) {
        return withoutTrailingSeparators(a).size() > withoutTrailingSeparators(b).size();
    });
    for (const std::wstring& folder : candidates) {
        if (isExistingFolder(folder)) return folder;
    }
    return L"";
}

void compareEveryFolderOnceWatched() {
    const bool built = isChangeWatcherRunning();
    std::vector<std::wstring> open;
    {
        std::lock_guard<std::mutex> lock(g_watchedMutex);
        // Not built yet: its first build owes it to every folder it lists.
        g_compareNextFolders = !built && g_watched.empty();
        for (auto& [folder, entry] : g_watched) {
            if (entry.watchOpen) {
                open.push_back(folder);
            } else {
                oweWholeComparison(entry);
            }
        }
    }
    for (const std::wstring& folder : open) requestFolderCatchUp(folder, 0);
}

void compareFolderOnceWatched(const std::wstring& folderKey) {
    {
        std::lock_guard<std::mutex> lock(g_watchedMutex);
        auto entry = g_watched.find(folderKey);
        if (entry == g_watched.end()) {
            g_compareWhenListed.insert(folderKey);
            return;
        }
        if (!entry->second.watchOpen) return oweWholeComparison(entry->second);
    }
    requestFolderCatchUp(folderKey, 0);
}

void setChangeWatcherForegroundApplication(const std::wstring& application) {
    std::lock_guard<std::mutex> lock(g_watchedMutex);
    g_foregroundApplication = application;
}

uint64_t changeWatcherReadMark() { return ++g_readMark; }

bool changeWatcherHasReadThrough(uint64_t mark) {
    WatcherRunPtr run;
    {
        std::lock_guard<std::mutex> lock(g_runMutex);
        run = g_currentRun;
    }
    if (!run) return true;
    std::lock_guard<std::mutex> lock(g_stateMutex);
    size_t drained = 0;
    for (const auto& [watch, drainedMark] : run->drainedMarks) drained += drainedMark >= mark ? 1 : 0;
    return drained >= run->liveThreads;
}

size_t liveChangeWatcherThreadCount() {
    std::lock_guard<std::mutex> lock(g_stateMutex);
    return g_liveThreads;
}

void installChangeWatcherHooks() {
    EngineHooks hooks = engineHooks();
    hooks.hasPendingChanges = hasPendingChanges;
    hooks.isChangeWatcherRunning = isChangeWatcherRunning;
    hooks.startWatchFolderThreads = [] { startWatchFolderThreads(); };
    setEngineHooks(hooks);
}

void holdChangeWatcherForTests(bool hold) { g_holdForTests.store(hold); }
