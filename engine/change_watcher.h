#pragma once
// The change watcher: one thread per watch folder waits for file changes and
// records each changed file once, with the number of notifications merged
// into its record and the tick of the last one. The File Watcher pass takes
// the records; nothing is copied here.
//
// The watcher threads are engine threads: they end when the application stops
// running or the watcher is stopped, and shut-down waits for them with the
// other engine threads.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct ChangeRecord {
    std::wstring path;                   // full path of the changed file, as reported
    uint64_t changeCount = 0;            // notifications merged into this record
    int64_t lastChangeTicks = 0;         // 100-ns ticks since 1970 of the last one
    std::wstring applicationName;        // empty when recorded; set by the File Watcher pass
    std::wstring watchFolder;            // the watch folder that recorded it (its list key)
    std::wstring foregroundApplication;  // foreground application at the change
    uint64_t ageMs = 0;                  // set when handed out: time since the last change
};

// Rebuilds the watcher from the watch-folder lists and starts it: stops the
// running watcher (its uncollected changes are dropped), watches every Folder
// and Folder & Descendents entry of both lists, and never records a change
// under an Exclude entry or under a watched folder's archive path. Returns true.
bool startWatchFolderThreads();

// Stops the watcher: wakes every watcher thread at once and waits for them
// (at most timings().watcherStopMs). False when no watcher was running.
bool stopChangeWatcher();

// True from a start until the next stop.
bool isChangeWatcherRunning();

// True when some watch folder holds at least one recorded change.
bool hasPendingChanges();

// Appends every recorded change to `records` (with its age) and empties the
// watcher's lists; returns the number appended.
size_t collectFolderChanges(std::vector<ChangeRecord>& records);

// Puts records back as recorded changes of the watch folder that holds each
// path (a path recorded meanwhile keeps its newer record). Returns the number
// of records given.
size_t requeueChangeRecords(const std::vector<ChangeRecord>& records);

// The watch folder that holds `path`: its parent folder when that is watched,
// else the deepest watched folder, existing as a folder, that lies above it;
// empty when none.
std::wstring queryPathAttributes(const std::wstring& path);

// Compares every watched folder whole with its archive (catch-up scan) as
// soon as its watch is open, so that no change falls between the comparison
// and the watch: at once for a folder watched now, else when its watch opens.
void compareEveryFolderOnceWatched();
// The same for one folder (its key), one whose archive was just prepared: a
// folder not watched yet is compared when its first watch opens.
void compareFolderOnceWatched(const std::wstring& folderKey);

// The application that was last in the foreground; copied into new records.
void setChangeWatcherForegroundApplication(const std::wstring& application);

// A mark taken after some files were written, for changeWatcherHasReadThrough.
uint64_t changeWatcherReadMark();
// True when every watcher thread has found its kernel queue empty since `mark`
// was taken, so every change made before it is recorded (or no watcher runs).
bool changeWatcherHasReadThrough(uint64_t mark);

// Number of watcher threads alive now (all runs, a stopping one included).
size_t liveChangeWatcherThreadCount();

// Puts the watcher's entries into the engine hooks (pending changes, running
// flag, rebuild); the start-up calls it before the engine starts.
void installChangeWatcherHooks();

// While held, watcher threads leave the kernel's queue unread, so tests can
// make it overflow.
void holdChangeWatcherForTests(bool hold);
