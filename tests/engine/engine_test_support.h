#pragma once
// Common set-up of the engine tests: a clock the test moves, short timings,
// empty registry, hooks and watch lists, and a wait for every engine thread.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>

#include "engine/engine_hooks.h"
#include "engine/supervisor.h"
#include "engine/thread_registry.h"
#include "foundation/global_defaults.h"
#include "foundation/watch_folders.h"

inline std::atomic<int64_t> fakeNowTicks{0};
inline int64_t readFakeClock() { return fakeNowTicks.load(); }
inline constexpr int64_t kTestTicksPerMs = 10000;
inline constexpr int64_t kTestStartTicks = 17000000000000000;  // 2023

inline void advanceFakeClockMs(int64_t ms) { fakeNowTicks += ms * kTestTicksPerMs; }

class EngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        resetEngineState();
        fakeNowTicks = kTestStartTicks;
        setEngineClock(readFakeClock);
    }
    void TearDown() override {
        setApplicationRunning(false);
        EXPECT_TRUE(waitForEngineThreads(10000));
        resetEngineState();
    }
    static void resetEngineState() {
        setEngineClock(nullptr);
        setApplicationRunning(true);
        resetTimings();
        timings().shortPollMs = 1;
        timings().pollMs = 5;
        timings().busyPassMs = 10;
        timings().idlePassMs = 20;
        clearThreadStates();
        setEngineHooks({});
        resetSupervisorClock();
        setWatchListChanged(false);
        for (auto op : {EngineOperation::BackupSetJob, EngineOperation::FolderEdit, EngineOperation::Restore,
                        EngineOperation::ExtensionChange})
            setOperationInProgress(op, false);
        configurationSaved = true;
        std::lock_guard<std::mutex> lock(watchFolderMutex);
        watchFolderMap.clear();
        defaultFolderMap.clear();
    }
};

inline ThreadStateEntry threadEntry(const std::string& name) {
    std::lock_guard<std::mutex> lock(threadStateMutex);
    return threadStateMap.at(name);
}

inline bool waitUntil(const std::function<bool()>& done, int timeoutMs = 20000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

// A worker held as it ends (after its last look at its work, before it is
// marked stopped) and a supervisor that passes only when woken: the moment a
// change comes while the worker ends. Passes are counted where each one
// asks whether the change watcher runs, after it has started what it starts.
class WorkerEndingHold {
public:
    explicit WorkerEndingHold(const std::string& worker) : worker_(worker) {
        EngineHooks hooks = engineHooks();
        hooks.workerEnding = [this](const std::string& name) {
            if (name != worker_ || held_.exchange(true)) return;
            while (!released_.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        };
        hooks.isChangeWatcherRunning = [this, running = hooks.isChangeWatcherRunning] {
            ++passes_;
            return running && running();
        };
        setEngineHooks(hooks);
        timings().busyPassMs = timings().idlePassMs = 600000;
    }
    // Ends the engine while this object (and its hooks) still lives.
    ~WorkerEndingHold() {
        released_ = true;
        setApplicationRunning(false);
        EXPECT_TRUE(waitUntil([] {
            wakeSupervisor();
            return liveEngineThreadCount() == 0;
        })) << "an engine thread is still running";
    }
    bool waitUntilHeld() { return waitUntil([this] { return held_.load(); }); }
    void release() { released_ = true; }
    // Starts the supervisor, without the wakes asked before, and waits for its first pass.
    bool startSupervisor() {
        resetSupervisorClock();
        startEngineThread(startWorkerThreads);
        return waitForPasses(1);
    }
    bool waitForPasses(int count) { return waitUntil([&] { return passes_.load() >= count; }); }

private:
    std::string worker_;
    std::atomic<bool> held_{false};
    std::atomic<bool> released_{false};
    std::atomic<int> passes_{0};
};
