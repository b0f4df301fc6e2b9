#pragma once
// Progress of the copies, keyed by pathKey: one global set, which the window
// shows for a backup or a restore, and one set per watch folder in its entry,
// which counts the folder's queued changes until they are copied.
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "foundation/watch_folders.h"
#include "platform/file_copy.h"

struct ProgressSet {
    std::unordered_map<std::wstring, double> values;
    uint64_t totalBytes = 0;
    double ratio = 0.0;
    double previousRatio = 0.0;
    // Running sum of the values and how many entries it covers, so an update
    // costs O(1); a set whose size no longer matches is summed afresh once.
    double sum = 0.0;
    size_t sumCount = 0;
};
// Guarded by progressMutex. A folder's set is in its WatchFolderEntry and is
// changed with watchFolderMutex held, then progressMutex.
extern ProgressSet globalProgressSet;
extern std::mutex progressMutex;

// Empties the global progress set and enters every path at 0.0.
bool startProgressSet(const std::vector<std::wstring>& paths);
// A copy of the global set, taken under its mutex.
ProgressSet progressSnapshot();
// Sets a file's share (0 to 1) in the global set, or else in its folder's set.
void setFileProgress(const std::wstring& source, double value);
// The progress routine of the archive copies and the restores.
CopyProgressAnswer onCopyProgress(const CopyProgress& progress);

// Enters each path (at 0.0, its size added to the folder's byte count) in
// the folder's progress set unless it is there. The caller holds
// watchFolderMutex; progressMutex is taken here.
bool addChangedFiles(WatchFolderEntry& entry, const std::vector<std::wstring>& paths);

// Counts every queued item not counted yet in its watch folder's changes and
// progress set; returns how many were counted.
size_t countQueuedChangesInFolders();
