#include <chrono>
#include <thread>

#include "engine_test_support.h"

using RegistryTest = EngineTest;

TEST_F(RegistryTest, RegisterPingAndStateRules) {
    EXPECT_FALSE(getThreadState("w", 0, 0));    // unknown name, a ping
    EXPECT_FALSE(getThreadState("w", 500, 0));  // a zero number never registers
    EXPECT_TRUE(getThreadState("w", 500, 5000));
    ThreadStateEntry entry = threadEntry("w");
    EXPECT_EQ(entry.state, kThreadRunning);
    EXPECT_EQ(entry.start, kTestStartTicks);
    EXPECT_EQ(entry.timeout, 5000u);
    EXPECT_EQ(entry.restartable, 1);

    advanceFakeClockMs(300);
    EXPECT_TRUE(getThreadState("w", 0, 0));
    advanceFakeClockMs(500);
    EXPECT_TRUE(getThreadState("w", 0, 0));
    entry = threadEntry("w");
    EXPECT_EQ(entry.pingCount, 2u);
    EXPECT_EQ(entry.pingSumMs, 800u);
    EXPECT_EQ(entry.pingAverageMs, 400u);
    EXPECT_EQ(entry.lastPing, kTestStartTicks + 800 * kTestTicksPerMs);

    // A clock that moves back adds no negative gap.
    advanceFakeClockMs(-1000);
    EXPECT_TRUE(getThreadState("w", 0, 0));
    EXPECT_EQ(threadEntry("w").pingSumMs, 800u);

    // Stopped comes back to Running on a ping; Paused and Error are left alone.
    EXPECT_TRUE(setThreadState("w", kThreadStopped));
    EXPECT_TRUE(getThreadState("w", 0, 0));
    EXPECT_EQ(threadEntry("w").state, kThreadRunning);
    EXPECT_TRUE(setThreadState("w", kThreadPaused));
    const int64_t pausedPing = threadEntry("w").lastPing;
    advanceFakeClockMs(100);
    EXPECT_FALSE(getThreadState("w", 0, 0));
    EXPECT_EQ(threadEntry("w").lastPing, pausedPing);
    EXPECT_TRUE(setThreadState("w", kThreadRunning));  // Paused may resume
    EXPECT_EQ(threadEntry("w").start, fakeNowTicks.load());
    EXPECT_TRUE(setThreadState("w", kThreadError));
    EXPECT_FALSE(getThreadState("w", 0, 0));
    EXPECT_FALSE(setThreadState("w", kThreadRunning));  // Error is never left
    EXPECT_EQ(threadEntry("w").state, kThreadError);
    EXPECT_FALSE(setThreadState("missing", kThreadRunning));

    EXPECT_STREQ(threadStateText(0), "Stopped");
    EXPECT_STREQ(threadStateText(3), "Paused");
    EXPECT_STREQ(threadStateText(7), "Unknown");
}

TEST_F(RegistryTest, EngineFlags) {
    EXPECT_FALSE(isAnyOperationInProgress());
    setOperationInProgress(EngineOperation::Restore, true);
    EXPECT_TRUE(isAnyOperationInProgress());
    setOperationInProgress(EngineOperation::Restore, false);
    EXPECT_FALSE(isAnyOperationInProgress());

    setWatchListChanged(true);
    EXPECT_TRUE(isWatchListChanged());
    EXPECT_TRUE(takeWatchListChanged());
    EXPECT_FALSE(takeWatchListChanged());
}

TEST_F(RegistryTest, EngineThreadsAreCountedAndWaitIsBounded) {
    std::atomic<bool> release{false};
    for (int i = 0; i < 3; ++i) {
        startEngineThread([&] {
            while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        });
    }
    startEngineThread([] { throw std::runtime_error("boom"); });  // logged, still counted down
    EXPECT_GE(liveEngineThreadCount(), 3u);
    const auto before = std::chrono::steady_clock::now();
    EXPECT_FALSE(waitForEngineThreads(50));
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(5));
    release = true;
    EXPECT_TRUE(waitForEngineThreads(5000));
    EXPECT_EQ(liveEngineThreadCount(), 0u);
}
