#include "engine/file_watcher_pass.h"

#include <gtest/gtest.h>

#include "archive_test_support.h"
#include "engine/copy_progress.h"
#include "engine/copy_queue.h"
#include "foundation/foreground_history.h"

namespace {

class FileWatcherPassTest : public ArchiveTest {
protected:
    void SetUp() override {
        ArchiveTest::SetUp();
        clearForegroundHistory();
    }
    void TearDown() override {
        clearForegroundHistory();
        ArchiveTest::TearDown();
    }
    static ApplicationRecord stats(const std::wstring& key) {
        std::lock_guard<std::mutex> lock(statisticsMutex);
        return applicationStatsMap.at(key);
    }
};

ChangeRecord changeAt(const std::wstring& path, int64_t ticks) {
    ChangeRecord record;
    record.path = path;
    record.lastChangeTicks = ticks;
    return record;
}

TEST_F(FileWatcherPassTest, ChangesAreAttributedFromTheForegroundHistory) {
    std::vector<ChangeRecord> records = {changeAt(L"/w/a", 50), changeAt(L"/w/b", 150), changeAt(L"/w/c", 250)};
    attributeChangeRecords(records);  // no history (no display): nobody
    for (const ChangeRecord& record : records) EXPECT_EQ(record.applicationName, L"");

    recordForegroundApplication(100, L"/usr/bin/a", 1);
    recordForegroundApplication(200, L"/usr/bin/b", 2);
    attributeChangeRecords(records);
    EXPECT_EQ(records[0].applicationName, L"/usr/bin/a");  // before every entry: the first
    EXPECT_EQ(records[1].applicationName, L"/usr/bin/a");  // a had the foreground then
    EXPECT_EQ(records[2].applicationName, L"/usr/bin/b");  // after every entry: the last
}

TEST_F(FileWatcherPassTest, ApplicationStatisticsCountChangesWithWrappingAndRatios) {
    {
        std::lock_guard<std::mutex> lock(statisticsMutex);
        ApplicationRecord& editor = applicationStatsMap[L"/usr/bin/editor"];
        editor.changeCount = 3;
        editor.archivedCount = 2;
        ApplicationRecord& full = applicationStatsMap[L"/usr/bin/full"];
        full.changeCount = 65535;
        full.archivedCount = 7;
        ApplicationRecord& named = applicationStatsMap[L"/opt/viewer"];
        named.displayName = L"viewer: picture";
        named.changeCount = 4;
        named.archivedCount = 1;
    }
    countApplicationChange(L"/usr/bin/editor");
    EXPECT_EQ(stats(L"/usr/bin/editor").changeCount, 4);
    EXPECT_DOUBLE_EQ(stats(L"/usr/bin/editor").ratio, 0.5);
    countApplicationChange(L"/usr/bin/full");
    EXPECT_EQ(stats(L"/usr/bin/full").changeCount, 0);
    EXPECT_DOUBLE_EQ(stats(L"/usr/bin/full").ratio, 0.0);
    // Another image of the same name: only the named record's ratio is redone.
    countApplicationChange(L"/usr/local/bin/viewer");
    EXPECT_EQ(stats(L"/opt/viewer").changeCount, 4);
    EXPECT_DOUBLE_EQ(stats(L"/opt/viewer").ratio, 0.25);
    countApplicationChange(L"");
    std::lock_guard<std::mutex> lock(statisticsMutex);
    EXPECT_EQ(applicationStatsMap.size(), 3u);
}

TEST_F(FileWatcherPassTest, QueuedChangesAreCountedOnceInTheirFolder) {
    const std::wstring a = write(L"a.txt", "12345");
    const std::wstring b = write(L"sub/b.txt", "123");
    queue(a);
    queue(b);
    EXPECT_EQ(countQueuedChangesInFolders(), 2u);
    EXPECT_EQ(countQueuedChangesInFolders(), 0u);
    {
        std::lock_guard<std::mutex> lock(watchFolderMutex);
        const WatchFolderEntry& entry = watchFolderMap.at(folders.watch);
        EXPECT_EQ(entry.changesDetected, 2u);
        EXPECT_EQ(entry.progressSet.size(), 2u);
        EXPECT_EQ(entry.totalByteCount, 8u);
        EXPECT_EQ(entry.progressSet.at(a), 0.0);
    }
    std::lock_guard<std::mutex> lock(copyQueueMutex);
    for (const auto& [path, item] : copyQueue) EXPECT_EQ(item.folderCounted, 1) << wideToUtf8(path);
}

TEST_F(FileWatcherPassTest, ThePassEndsAtOnceWithoutPendingChanges) {
    fileWatcherThread();
    EXPECT_EQ(threadEntry(std::string(kFileWatcherThreadName)).state, kThreadStopped);
    EXPECT_EQ(threadEntry(std::string(kMonitorFilesThreadName)).state, kThreadStopped);
    EXPECT_EQ(runFileWatcherCycle(), 0u);
}

// A change recorded as the pass ends: the wake it sends finds the pass still
// running; its end starts it again at once, not a whole pass later.
TEST_F(FileWatcherPassTest, AChangeRecordedAsThePassEndsIsTakenAtOnce) {
    installChangeWatcherHooks();
    EngineHooks hooks = engineHooks();
    hooks.fileWatcherThread = fileWatcherThread;
    setEngineHooks(hooks);
    WorkerEndingHold hold{std::string(kFileWatcherThreadName)};
    ASSERT_TRUE(startWatchFolderThreads());
    startEngineThread(fileWatcherThread);  // finds no change and ends
    ASSERT_TRUE(hold.waitUntilHeld());
    ASSERT_TRUE(hold.startSupervisor());
    const std::wstring late = write(L"late.txt", "late");
    // Written again until the watch, opening meanwhile, records it.
    ASSERT_TRUE(waitUntil([&] {
        if (hasPendingChanges()) return true;
        EXPECT_TRUE(writeTestFile(wideToUtf8(late), "later"));
        return false;
    }));
    ASSERT_TRUE(hold.waitForPasses(2));  // the pass it woke
    hold.release();
    EXPECT_TRUE(waitUntil([&] { return queued(late); }));
    stopChangeWatcher();
}

}  // namespace
