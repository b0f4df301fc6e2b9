#pragma once
// The thread-state registry in which every engine worker reports, the engine
// flags the workers and the supervisor read, and the one way to start a
// detached engine thread so that shut-down can wait for all of them.
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>

inline constexpr int32_t kThreadStopped = 0;
inline constexpr int32_t kThreadRunning = 1;
inline constexpr int32_t kThreadError = 2;
inline constexpr int32_t kThreadPaused = 3;

struct ThreadStateEntry {
    int64_t lastPing = 0;        // 100-ns ticks
    int64_t start = 0;           // 100-ns ticks of the last start
    uint64_t pingInterval = 0;   // ms, as registered
    uint64_t timeout = 0;        // ms: a running worker not pinged for longer is stopped
    uint8_t restartable = 1;
    int32_t state = kThreadRunning;
    std::string spare;
    uint64_t pingCount = 0;
    uint64_t pingSumMs = 0;      // sum of the gaps between pings
    uint64_t pingAverageMs = 0;
};

// Keyed by the worker's name; guarded by threadStateMutex.
extern std::map<std::string, ThreadStateEntry> threadStateMap;
extern std::mutex threadStateMutex;

// "Stopped", "Running", "Error", "Paused", or "Unknown" for any other code.
const char* threadStateText(int32_t state);

// Registers the worker (both numbers non-zero) or pings it (0, 0). A stopped
// worker becomes running again; a worker in Error or Paused is left alone and
// the call returns false, as does the ping of an unknown name.
bool getThreadState(const std::string& name, uint64_t pingIntervalMs, uint64_t timeoutMs);
// Sets the state of a registered worker whose state is Stopped, Running or
// Paused (Error is never left here); Running also restarts its clocks.
bool setThreadState(const std::string& name, int32_t state);
// Empties the registry (tests).
void clearThreadStates();

// The clock of the registry and the supervisor: 100-ns ticks since 1970.
// Tests replace it to simulate time passing or the machine sleeping; nullptr
// restores the system clock.
using EngineClock = int64_t (*)();
void setEngineClock(EngineClock clock);
int64_t engineNowTicks();

// The application-running flag: set from the start, cleared once at shut-down;
// every engine loop ends when it is clear.
bool isApplicationRunning();
void setApplicationRunning(bool running);

// Operations in progress that keep the system from being idle (no background
// save of the configuration meanwhile). Set and cleared by the windows and
// tasks that run them.
enum class EngineOperation { BackupSetJob, FolderEdit, Restore, ExtensionChange };
void setOperationInProgress(EngineOperation operation, bool active);
bool isAnyOperationInProgress();

// Set when the watch folders or their problem flags changed, so the change
// watcher must be rebuilt; guarded by its own mutex.
void setWatchListChanged(bool changed);
bool isWatchListChanged();
// Returns the flag and clears it, in one step.
bool takeWatchListChanged();

// Starts `body` on a detached thread counted as a live engine thread until it
// returns. An exception that escapes the body goes to the application log.
// Throws std::system_error when no thread can be created.
void startEngineThread(std::function<void()> body);
size_t liveEngineThreadCount();
// Waits until no engine thread lives or `timeoutMs` passed; true when none lives.
bool waitForEngineThreads(uint32_t timeoutMs);
