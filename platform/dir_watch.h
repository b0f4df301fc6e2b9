#pragma once
// Watching one folder for changed files (inotify). A recursive watch follows
// every sub-folder, including sub-folders created or moved in after it
// started; files already inside such a new sub-folder are reported as added,
// so nothing written before its watch took hold is lost.
//
// One thread waits (`waitDirChanges`), any other thread may stop the watch
// (`stopDirWatch`), which wakes every waiting thread at once. Problems are
// handed back as text lines; the caller decides how to log them.
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// Same values as the FILE_ACTION_* codes the change records were built on.
enum class DirChangeAction {
    Added = 1,
    Removed = 2,
    Modified = 3,
    RenamedOldName = 4,
    RenamedNewName = 5,
};

struct DirChange {
    DirChangeAction action = DirChangeAction::Modified;
    std::wstring path;      // watched folder, separator, name below it
    bool isFolder = false;  // the entry itself is a folder
};

struct DirChangeBatch {
    std::vector<DirChange> changes;
    // The kernel dropped events: files may have changed unseen, rescan.
    bool overflow = false;
    // The watched folder was removed or moved away; no more changes follow.
    bool folderGone = false;
    // One line per problem (overflow, out of watches, ...), for the log.
    std::vector<std::wstring> problems;
};

enum class DirWaitResult {
    Reported,  // the batch holds changes, problems or flags
    TimedOut,
    Stopped,
};

struct DirWatch;
using DirWatchPtr = std::shared_ptr<DirWatch>;

// Starts watching `folder` (a trailing separator is fine), with every
// sub-folder when `recursive`. Returns null when the folder cannot be watched;
// `problems` receives a line for that and for sub-folders left unwatched.
DirWatchPtr openDirWatch(std::wstring_view folder, bool recursive, std::vector<std::wstring>& problems);

// Waits up to `timeoutMs` (negative: no limit) for changes and reports every
// event read. `batch` is emptied first. After a stop it returns Stopped at once.
DirWaitResult waitDirChanges(DirWatch& watch, int timeoutMs, DirChangeBatch& batch);

// Wakes every thread waiting on `watch`; later waits return Stopped. Safe from
// any thread, any number of times.
void stopDirWatch(DirWatch& watch);

// Number of folders that hold a watch now (the folder and its sub-folders).
size_t dirWatchFolderCount(DirWatch& watch);

// Folders per watch object before adding one fails as if the system's limit
// was reached (0: no limit of our own). Lets tests meet the limit.
void setDirWatchLimitForTests(size_t maxFolders);
