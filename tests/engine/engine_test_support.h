#pragma once
// Common set-up of the engine tests: a clock the test moves, short timings,
// empty registry, hooks and watch lists, and a wait for every engine thread.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>

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
