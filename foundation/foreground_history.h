#pragma once
// The foreground history: which application came to the foreground when.
// The engine's Monitor UI adds to it as the user moves between applications;
// the File Watcher pass reads it to attribute each change to the application
// that had the foreground, and the version records name the newest entry
// when a version has no owner. Each application has at most one entry.
#include <cstdint>
#include <map>
#include <string>

struct ForegroundEntry {
    std::wstring imagePath;
    uint32_t processId = 0;
};

// Tick (100-ns since 1970) -> the application that came to the foreground.
using ForegroundHistory = std::map<int64_t, ForegroundEntry>;

// The application came to the foreground at `ticks`: its older entry goes,
// the new one is added unless the tick is taken already.
void recordForegroundApplication(int64_t ticks, const std::wstring& imagePath, uint32_t processId);

// The application that had the foreground at `ticks`: the newest entry at or
// before it; a change older than every entry gets the oldest one. False when
// the history is empty.
bool foregroundApplicationAt(int64_t ticks, ForegroundEntry& entry);

// The image path of the newest entry; empty when the history is empty.
std::wstring newestForegroundApplication();

// A copy of the whole history, and its reset (tests).
ForegroundHistory foregroundHistorySnapshot();
void clearForegroundHistory();
