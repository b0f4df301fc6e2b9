#include <chrono>
#include <filesystem>
#include <thread>

#include "engine_test_support.h"
#include "platform/text.h"
#include "test_env.h"

namespace {

const std::string kCopier(kCopierThreadName);
const std::string kMonitorUi(kMonitorUiThreadName);
const std::string kFileWatcher(kFileWatcherThreadName);
const std::string kStorage(kStorageCheckerThreadName);

struct HookCounters {
    std::atomic<int> copierStarts{0};
    std::atomic<int> monitorStarts{0};
    std::atomic<int> fileWatcherStarts{0};
    std::atomic<int> watcherRebuilds{0};
    std::atomic<int> saves{0};
    std::atomic<size_t> queueCount{0};
    std::atomic<bool> pendingChanges{false};
    std::atomic<bool> watcherRunning{false};
    std::atomic<bool> copierReportsEnd{false};
};

void installHooks(HookCounters& c) {
    EngineHooks hooks;
    hooks.copierThread = [&c] {
        ++c.copierStarts;
        if (c.copierReportsEnd) setThreadState(kCopier, kThreadStopped);  // as the real worker does
    };
    hooks.monitorUIThread = [&c] { ++c.monitorStarts; };
    hooks.fileWatcherThread = [&c] { ++c.fileWatcherStarts; };
    hooks.copyQueueCount = [&c] { return c.queueCount.load(); };
    hooks.hasPendingChanges = [&c] { return c.pendingChanges.load(); };
    hooks.isChangeWatcherRunning = [&c] { return c.watcherRunning.load(); };
    hooks.startWatchFolderThreads = [&c] { ++c.watcherRebuilds; };
    hooks.saveAppConfiguration = [&c] {
        ++c.saves;
        configurationSaved = true;
        return true;
    };
    setEngineHooks(hooks);
}

void registerWorkers(std::initializer_list<std::string> names) {
    for (const auto& name : names) ASSERT_TRUE(getThreadState(name, 500, 5000));
}

void addWatchFolder(const std::wstring& path) {
    std::lock_guard<std::mutex> lock(watchFolderMutex);
    WatchFolderEntry entry;
    entry.archivePath = path + L"_archive";
    watchFolderMap[path] = entry;
}

}  // namespace

using SupervisorTest = EngineTest;

TEST_F(SupervisorTest, TimeOutStopsAndRestartOnlyWithWork) {
    HookCounters c;
    installHooks(c);
    registerWorkers({kCopier, kMonitorUi, kFileWatcher, kStorage});
    runSupervisorPass(fakeNowTicks);

    advanceFakeClockMs(5000);  // silent for exactly the time-out: still running
    EXPECT_EQ(runSupervisorPass(fakeNowTicks).restarted, 0);
    EXPECT_EQ(threadEntry(kCopier).state, kThreadRunning);

    advanceFakeClockMs(500);  // now past it: every silent worker is stopped
    SupervisorPass pass = runSupervisorPass(fakeNowTicks);
    EXPECT_EQ(threadEntry(kCopier).state, kThreadStopped);
    EXPECT_EQ(threadEntry(kFileWatcher).state, kThreadStopped);
    EXPECT_EQ(threadEntry(kStorage).state, kThreadStopped);
    // Monitor UI always restarts; the others have no work yet.
    EXPECT_EQ(pass.restarted, 1);
    EXPECT_EQ(threadEntry(kMonitorUi).state, kThreadRunning);
    EXPECT_EQ(threadEntry(kMonitorUi).start, fakeNowTicks.load());

    advanceFakeClockMs(500);
    c.queueCount = 3;
    c.pendingChanges = true;  // but no watch folder: the File Watcher stays down
    EXPECT_EQ(runSupervisorPass(fakeNowTicks).restarted, 1);
    EXPECT_EQ(threadEntry(kCopier).state, kThreadRunning);
    EXPECT_EQ(threadEntry(kFileWatcher).state, kThreadStopped);
    EXPECT_EQ(threadEntry(kStorage).state, kThreadStopped);

    addWatchFolder(utf8ToWide(makeTestFolder("sup")));
    advanceFakeClockMs(500);
    EXPECT_EQ(runSupervisorPass(fakeNowTicks).restarted, 2);  // File Watcher and Storage Checker
    EXPECT_EQ(threadEntry(kFileWatcher).state, kThreadRunning);

    setApplicationRunning(false);
    ASSERT_TRUE(waitForEngineThreads(5000));
    EXPECT_EQ(c.copierStarts, 1);
    EXPECT_EQ(c.monitorStarts, 1);
    EXPECT_EQ(c.fileWatcherStarts, 1);
}

TEST_F(SupervisorTest, MachineSleepResetsPingsInsteadOfTimingOut) {
    HookCounters c;
    installHooks(c);
    registerWorkers({kCopier, kMonitorUi});
    getThreadState(kCopier, 0, 0);
    runSupervisorPass(fakeNowTicks);

    advanceFakeClockMs(2 * 60 * 1000);  // the machine slept two minutes
    EXPECT_EQ(runSupervisorPass(fakeNowTicks).restarted, 0);
    ThreadStateEntry copier = threadEntry(kCopier);
    EXPECT_EQ(copier.state, kThreadRunning);
    EXPECT_EQ(copier.lastPing, fakeNowTicks.load());
    EXPECT_EQ(copier.pingCount, 0u);
    EXPECT_EQ(copier.pingSumMs, 0u);

    // A gap under a minute is no sleep: the silent workers time out.
    advanceFakeClockMs(59 * 1000);
    runSupervisorPass(fakeNowTicks);
    EXPECT_EQ(threadEntry(kCopier).state, kThreadStopped);
    // Workers the passes started use the counters on this stack: they end first.
    setApplicationRunning(false);
    ASSERT_TRUE(waitForEngineThreads(5000));
}

TEST_F(SupervisorTest, ErrorAndPausedAreNeitherPingedNorRestarted) {
    HookCounters c;
    installHooks(c);
    c.queueCount = 5;
    registerWorkers({kCopier, kMonitorUi});
    ASSERT_TRUE(setThreadState(kCopier, kThreadError));
    ASSERT_TRUE(setThreadState(kMonitorUi, kThreadPaused));
    runSupervisorPass(fakeNowTicks);
    advanceFakeClockMs(30000);
    EXPECT_EQ(runSupervisorPass(fakeNowTicks).restarted, 0);
    EXPECT_FALSE(getThreadState(kCopier, 0, 0));
    EXPECT_EQ(threadEntry(kCopier).state, kThreadError);
    EXPECT_EQ(threadEntry(kMonitorUi).state, kThreadPaused);
    EXPECT_EQ(threadEntry(kCopier).lastPing, kTestStartTicks);

    // They hold no thread, so they do not keep a stopping supervisor alive.
    setApplicationRunning(false);
    EXPECT_FALSE(runSupervisorPass(fakeNowTicks).keepRunning);
    EXPECT_EQ(c.copierStarts, 0);
}

TEST_F(SupervisorTest, IdleSaveAndWatcherRebuild) {
    HookCounters c;
    installHooks(c);
    registerWorkers({kCopier});
    configurationSaved = false;

    setOperationInProgress(EngineOperation::FolderEdit, true);
    EXPECT_FALSE(runSupervisorPass(fakeNowTicks).saveStarted);
    setOperationInProgress(EngineOperation::FolderEdit, false);
    EXPECT_FALSE(runSupervisorPass(fakeNowTicks).saveStarted);  // the Copier runs
    ASSERT_TRUE(setThreadState(kCopier, kThreadStopped));
    EXPECT_TRUE(runSupervisorPass(fakeNowTicks).saveStarted);
    ASSERT_TRUE(waitForEngineThreads(5000));
    EXPECT_EQ(c.saves, 1);
    EXPECT_FALSE(runSupervisorPass(fakeNowTicks).saveStarted);  // saved now

    setWatchListChanged(true);
    runSupervisorPass(fakeNowTicks);  // watcher not running: wait
    c.watcherRunning = true;
    c.pendingChanges = true;
    runSupervisorPass(fakeNowTicks);  // changes pending: wait
    EXPECT_EQ(c.watcherRebuilds, 0);
    c.pendingChanges = false;
    runSupervisorPass(fakeNowTicks);
    EXPECT_EQ(c.watcherRebuilds, 1);
    EXPECT_FALSE(isWatchListChanged());
    runSupervisorPass(fakeNowTicks);
    EXPECT_EQ(c.watcherRebuilds, 1);
}

TEST_F(SupervisorTest, SupervisorThreadEndsAfterShutdown) {
    setEngineClock(nullptr);
    HookCounters c;
    installHooks(c);
    c.copierReportsEnd = true;
    c.queueCount = 1;
    registerWorkers({kCopier});
    setThreadState(kCopier, kThreadStopped);
    startEngine();  // supervisor and Monitor UI
    for (int i = 0; i < 500 && (c.copierStarts == 0 || c.monitorStarts == 0); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    EXPECT_GE(c.copierStarts, 1);
    EXPECT_GE(c.monitorStarts, 1);
    setApplicationRunning(false);
    EXPECT_TRUE(waitForEngineThreads(5000));
}
