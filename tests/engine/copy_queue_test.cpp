#include <atomic>
#include <chrono>
#include <thread>

#include "archive_test_support.h"

TEST_F(ArchiveTest, QueueFileHoldsTheItemsAndIsDeletedWhenEmptyOrLoaded) {
    EXPECT_TRUE(saveCopyQueue());
    EXPECT_FALSE(exists(copyQueueFilePath()));
    EXPECT_FALSE(loadCopyQueue());

    const std::wstring a = write(L"a.txt", "a"), b = write(L"sub/b [|] c.txt", "b");
    queue(a, L"/usr/bin/editor");
    queue(b, L"");
    ASSERT_TRUE(saveCopyQueue());
    ASSERT_TRUE(exists(copyQueueFilePath()));
    {
        std::lock_guard<std::mutex> lock(copyQueueMutex);
        copyQueue.clear();
    }
    const std::wstring c = write(L"c.txt", "c");
    queue(c);  // queued in this run before the Copier started: stays
    ASSERT_TRUE(loadCopyQueue());
    EXPECT_FALSE(exists(copyQueueFilePath()));
    EXPECT_EQ(copyQueueCount(), 3u);
    std::lock_guard<std::mutex> lock(copyQueueMutex);
    EXPECT_EQ(copyQueue.at(a).applicationName, L"/usr/bin/editor");
    EXPECT_EQ(copyQueue.at(b).applicationName, L"");  // a name holding the separator survives
}

TEST_F(ArchiveTest, QueueEntriesLeavingTheirWatchFolderAreSkipped) {
    const std::wstring inside = write(L"in.txt", "in"), outside = folders.watch + L"/../outside.txt";
    ASSERT_TRUE(writeTestFile(wideToUtf8(outside), "not the folder's"));
    for (const std::wstring& path : {inside, outside}) {
        std::lock_guard<std::mutex> lock(copyQueueMutex);
        copyQueue[path].sourcePath = path;
    }
    ASSERT_TRUE(saveCopyQueue());
    {
        std::lock_guard<std::mutex> lock(copyQueueMutex);
        copyQueue.clear();
    }
    ASSERT_TRUE(loadCopyQueue());
    EXPECT_TRUE(queued(inside));
    EXPECT_FALSE(queued(outside));
    EXPECT_EQ(logCount(L"Copy queue entries outside every watch folder skipped: 1, the first: " + outside), 1u);
}

TEST_F(ArchiveTest, ShutdownTextCountsItems) {
    EXPECT_EQ(copyQueueShutdownText(1),
              L"000: Not all files were copied before the last application shutdown.\n1 item remain. Copy queue "
              L"saved to resume on restart.");
    EXPECT_NE(copyQueueShutdownText(2).find(L"\n2 items remain."), std::wstring::npos);
}

TEST_F(ArchiveTest, StopDuringSettleWaitSavesQueueAndNextStartArchivesIt) {
    timings().settleMs = 600000;
    const std::wstring a = write(L"one.txt", "1"), b = write(L"two.txt", "2"), c = write(L"three.txt", "3");
    for (const std::wstring& path : {a, b, c}) queue(path);
    std::atomic<bool> ended{false};
    std::thread copier([&] {
        copierThread();
        ended = true;
    });
    // The Copier waits before it takes the queue, so the late file joins the batch.
    const auto copierRunning = [] {
        std::lock_guard<std::mutex> lock(threadStateMutex);
        const auto it = threadStateMap.find("Copier (W)");
        return it != threadStateMap.end() && it->second.state == kThreadRunning;
    };
    while (!copierRunning()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const std::wstring late = write(L"late.txt", "4");
    queue(late);  // queued while the batch settles
    EXPECT_EQ(copyQueueCount(), 4u);
    const auto stoppedAt = std::chrono::steady_clock::now();
    setApplicationRunning(false);
    copier.join();
    EXPECT_LT(std::chrono::steady_clock::now() - stoppedAt, std::chrono::seconds(2));
    EXPECT_EQ(threadEntry("Copier (W)").state, kThreadStopped);
    EXPECT_TRUE(std::filesystem::is_empty(wideToUtf8(folders.archive)));
    ASSERT_TRUE(exists(copyQueueFilePath()));
    EXPECT_EQ(logCount(L"\n4 items remain. Copy queue saved to resume on restart."), 1u);

    // The next start: the queue re-enters and is archived; the file goes.
    {
        std::lock_guard<std::mutex> lock(copyQueueMutex);
        copyQueue.clear();
    }
    clearArchiveContext();
    setApplicationRunning(true);
    timings().settleMs = 10;
    runCopier();
    EXPECT_FALSE(exists(copyQueueFilePath()));
    for (const wchar_t* name : {L"one.txt", L"two.txt", L"three.txt", L"late.txt"})
        EXPECT_TRUE(exists(archived(name))) << wideToUtf8(name);
    EXPECT_EQ(copyQueueCount(), 0u);
}

TEST_F(ArchiveTest, StopWhileIdleQueueSavedByCopierOnly) {
    // A Copier that finds nothing leaves no file behind, and resets the
    // folders' counts.
    {
        std::lock_guard<std::mutex> lock(watchFolderMutex);
        watchFolderMap.at(folders.watch).changesDetected = 5;
        watchFolderMap.at(folders.watch).givenUpCount = 2;
    }
    runCopier();
    EXPECT_FALSE(exists(copyQueueFilePath()));
    std::lock_guard<std::mutex> lock(watchFolderMutex);
    EXPECT_EQ(watchFolderMap.at(folders.watch).changesDetected, 0u);
    EXPECT_EQ(watchFolderMap.at(folders.watch).givenUpCount, 0u);
}

TEST_F(ArchiveTest, FilesQueuedAfterTheCopierEndedAreSavedAtShutdown) {
    runCopier();  // the Copier has ended; then a change arrives
    const std::wstring late = write(L"late.txt", "late");
    queue(late);
    ASSERT_EQ(liveEngineThreadCount(), 0u);
    ASSERT_TRUE(saveUnattendedCopyQueue());
    ASSERT_TRUE(exists(copyQueueFilePath()));
    {
        std::lock_guard<std::mutex> lock(copyQueueMutex);
        copyQueue.clear();
    }
    ASSERT_TRUE(loadCopyQueue());
    EXPECT_EQ(copyQueueCount(), 1u);

    // While an engine thread still runs, its Copier saves the queue itself.
    std::atomic<bool> release{false};
    startEngineThread([&release] {
        while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    });
    EXPECT_FALSE(saveUnattendedCopyQueue());
    release = true;
    EXPECT_TRUE(waitForEngineThreads(5000));
}

TEST_F(ArchiveTest, CopiedItemCountsForItsApplication) {
    {
        std::lock_guard<std::mutex> lock(statisticsMutex);
        applicationStatsMap[L"app"].changeCount = 4;
        applicationStatsMap[L"app"].archivedCount = 0xFFFF;
    }
    CopyQueueItem item;
    item.applicationName = L"app";
    item.state = kCopyStateCopied;
    EXPECT_TRUE(advanceQueueItem(item));
    {
        std::lock_guard<std::mutex> lock(statisticsMutex);
        EXPECT_EQ(applicationStatsMap[L"app"].archivedCount, 0u);  // wraps
        EXPECT_DOUBLE_EQ(applicationStatsMap[L"app"].ratio, 0.0);
    }
    item.state = kCopyStateFailedFinal;
    item.sourcePath = folders.watch + L"/missing.txt";
    EXPECT_FALSE(advanceQueueItem(item));
    EXPECT_TRUE(item.finished);
    EXPECT_EQ(item.attemptCount, 1u);
    item.state = kCopyStateFailed;
    EXPECT_TRUE(advanceQueueItem(item));
    item.state = kCopyStateStarted;
    EXPECT_FALSE(advanceQueueItem(item));
}

TEST_F(ArchiveTest, EngineStartsTheCopierThroughItsHooksAndOnlyOneRuns) {
    installArchiveHooks();
    const EngineHooks hooks = engineHooks();
    ASSERT_TRUE(hooks.copierThread && hooks.copyQueueCount && hooks.prepareArchiveThread && hooks.checkArchiveInstances);
    timings().settleMs = 200;
    std::vector<std::wstring> sources;
    for (int i = 0; i < 5; ++i) sources.push_back(write(L"h" + std::to_wstring(i) + L".txt", "x"));
    for (const std::wstring& source : sources) queue(source);
    EXPECT_EQ(hooks.copyQueueCount(), 5u);
    startEngineThread(hooks.copierThread);
    startEngineThread(hooks.copierThread);  // finds one running and returns
    ASSERT_TRUE(waitForEngineThreads(20000));
    for (const std::wstring& source : sources) EXPECT_EQ(versionsOf(source).size(), 1u);
    EXPECT_EQ(hooks.copyQueueCount(), 0u);
}

// A file queued as the Copier ends: the wake it sends finds the Copier still
// running; the Copier's end starts it again at once, not a whole pass later,
// and the Copier started then runs rather than meeting the last one's flag.
TEST_F(ArchiveTest, AFileQueuedAsTheCopierEndsIsCopiedAtOnce) {
    installArchiveHooks();
    WorkerEndingHold hold{std::string(kCopierThreadName)};
    startEngineThread(copierThread);  // finds the queue empty and ends
    ASSERT_TRUE(hold.waitUntilHeld());
    ASSERT_TRUE(hold.startSupervisor());
    const std::wstring late = write(L"late.txt", "late");
    queue(late);
    ASSERT_TRUE(hold.waitForPasses(2));  // the pass it woke
    hold.release();
    EXPECT_TRUE(waitUntil([&] { return versionsOf(late).size() == 1; }));
}
