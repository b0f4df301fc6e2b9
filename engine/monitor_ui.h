#pragma once
// "Monitor UI (W)": starts the other workers once, follows the foreground
// window and its process, measures how long each application has the
// foreground and keeps the foreground history that the File Watcher pass
// reads. Also the Applications tab's renaming of an application.
#include <cstdint>
#include <map>
#include <mutex>
#include <string>

// Filled by scanWindow: window -> owning process id, and process id -> its
// window title and image path. Each is guarded by its own mutex.
struct ProcessTableEntry {
    std::wstring title;
    std::wstring imagePath;
};
extern std::map<uint64_t, uint32_t> windowTable;
extern std::mutex windowTableMutex;
extern std::map<uint32_t, ProcessTableEntry> processTable;
extern std::mutex processTableMutex;

// Records one window when it is visible, not minimised and larger than 10 by
// 10 pixels; its process enters the process table only when its image can be
// read. True when the window was recorded.
bool scanWindow(uint64_t window);

// Gives the application a name of its own; an empty name goes back to the
// file name of its image and clears the persistent flag.
void renameApplication(const std::wstring& applicationKey, const std::wstring& newName);

// What Monitor UI carries from one step to the next.
struct MonitorUIState {
    int phase = 0;
    std::wstring currentApplication;
    int64_t referenceMs = 0;   // monotonic milliseconds of the last foreground-time update
    bool crediting = false;    // the current application is the one in front
    uint64_t window = 0;       // the window found in phase 1
    uint32_t processId = 0;    // its process
};

// One step of the phase counter at `nowTicks` (history) and `steadyMs`
// (foreground time).
void monitorUIStep(MonitorUIState& state, int64_t nowTicks, int64_t steadyMs);

// Starts "Copier (W)", "Storage Checker (W)", the File Watcher pass and
// "Backup Scheduler (W)" (and the change watcher when it is not running):
// only the first time it is called in the process, until reset.
bool startWorkersOnce();
void resetWorkersStarted();  // tests

// The thread body.
void monitorUIThread();
