#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <mutex>
#include <vector>

#include "engine/storage_checker.h"
#include "engine_test_support.h"
#include "foundation/app_log.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "test_env.h"

namespace {

void putWatchFolder(const std::wstring& key, const std::wstring& archive, int32_t type, bool removed = false) {
    std::lock_guard<std::mutex> lock(watchFolderMutex);
    WatchFolderEntry entry;
    entry.displayName = L"Shown " + lastPathComponent(key);
    entry.archivePath = archive;
    entry.folderType = type;
    entry.removed = removed;
    watchFolderMap[key] = entry;
}

uint32_t problemsOf(const std::wstring& key) {
    std::lock_guard<std::mutex> lock(watchFolderMutex);
    return watchFolderMap.at(key).problemFlags;
}

size_t logCount(const std::wstring& text) {
    size_t count = 0;
    for (const AppLogEntry& entry : appLogSnapshot().entries) count += entry.key.find(text) != std::wstring::npos;
    return count;
}

}  // namespace

using StorageCheckerTest = EngineTest;

TEST_F(StorageCheckerTest, ProblemFlagsLogOnceAndArchivePreparedOnce) {
    const std::wstring root = utf8ToWide(makeTestFolder("storage"));
    const std::wstring present = root + L"/present", missing = root + L"/gone", archive = root + L"/arch";
    std::filesystem::create_directories(wideToUtf8(present));
    putWatchFolder(present, archive, kFolderTypeDescendents);
    putWatchFolder(missing, present, kFolderTypeFolder);
    putWatchFolder(root + L"/off", root + L"/nowhere", kFolderTypeDisable);

    std::vector<std::pair<std::wstring, std::wstring>> prepared;
    std::mutex preparedMutex;
    EngineHooks hooks;
    hooks.prepareArchiveThread = [&](const std::wstring& folder, const std::wstring& archivePath) {
        std::lock_guard<std::mutex> lock(preparedMutex);
        prepared.emplace_back(folder, archivePath);
    };
    setEngineHooks(hooks);

    std::set<std::wstring> logged;
    ASSERT_TRUE(checkWatchFolderStorage(logged));
    ASSERT_TRUE(checkWatchFolderStorage(logged));
    EXPECT_EQ(problemsOf(present), kProblemArchiveMissing);
    EXPECT_EQ(problemsOf(missing), kProblemMonitorFolderMissing | kProblemCannotMonitor);
    EXPECT_EQ(problemsOf(root + L"/off"), 0u);  // disabled: not checked
    EXPECT_TRUE(takeWatchListChanged());
    EXPECT_EQ(logCount(L"\"gone\" - Folder does not exist: Shown gone"), 1u);
    EXPECT_EQ(logCount(L"\"gone\" - Cannot monitor folder: Shown gone"), 1u);
    EXPECT_EQ(logCount(L"\"present\" - Archive Folder does not exist: " + archive), 1u);
    EXPECT_EQ(logCount(L"\"off\""), 0u);

    // The archive appears: prepared once, the flag clears, the list changed.
    std::filesystem::create_directories(wideToUtf8(archive));
    ASSERT_TRUE(checkWatchFolderStorage(logged));
    ASSERT_TRUE(checkWatchFolderStorage(logged));
    ASSERT_TRUE(waitForEngineThreads(5000));
    EXPECT_EQ(problemsOf(present), 0u);
    EXPECT_TRUE(takeWatchListChanged());
    ASSERT_EQ(prepared.size(), 1u);
    EXPECT_EQ(prepared[0].first, present);
    EXPECT_EQ(prepared[0].second, archive);

    // The missing folder appears.
    std::filesystem::create_directories(wideToUtf8(missing));
    ASSERT_TRUE(checkWatchFolderStorage(logged));
    EXPECT_EQ(problemsOf(missing), 0u);

    std::lock_guard<std::mutex> lock(watchFolderMutex);
    watchFolderMap.clear();
}

TEST_F(StorageCheckerTest, FoldersOnAWayOthersCanChangeWaitAsMissingOnes) {
    const std::string disk = makeTestFolder("disk");
    const std::wstring watch = utf8ToWide(disk + "/watch"), archive = utf8ToWide(disk + "/archive");
    for (const std::wstring& folder : {watch, archive}) std::filesystem::create_directories(wideToUtf8(folder));
    putWatchFolder(watch, archive, kFolderTypeDescendents);
    std::atomic<int> prepared{0};
    EngineHooks hooks;
    hooks.prepareArchiveThread = [&](const std::wstring&, const std::wstring&) { ++prepared; };
    setEngineHooks(hooks);
    ASSERT_EQ(chmod(disk.c_str(), 0777), 0);
    std::set<std::wstring> logged;
    ASSERT_TRUE(checkWatchFolderStorage(logged));
    ASSERT_TRUE(checkWatchFolderStorage(logged));
    EXPECT_EQ(problemsOf(watch), kProblemCannotMonitor | kProblemArchiveMissing);
    const std::wstring way = L" not used, group or others can change the folder " + utf8ToWide(disk) + L" on its way (mode 0777): ";
    EXPECT_EQ(logCount(L"Watch folder" + way + watch), 1u);
    EXPECT_EQ(logCount(L"Archive folder" + way + archive), 1u);
    EXPECT_EQ(logCount(L"does not exist"), 0u);

    // Closed to others again: monitored, and the archive is prepared.
    ASSERT_EQ(chmod(disk.c_str(), 0755), 0);
    ASSERT_TRUE(checkWatchFolderStorage(logged));
    ASSERT_TRUE(waitForEngineThreads(5000));
    EXPECT_EQ(problemsOf(watch), 0u);
    EXPECT_EQ(prepared, 1);

    // In a sticky folder open to all, folders another user made in place of
    // the user's wait as well; the user's own are used.
    ASSERT_EQ(chmod(disk.c_str(), 01777), 0);
    for (uid_t owner : {65534u, geteuid()}) {
        if (geteuid() != 0) break;
        for (const std::wstring& folder : {watch, archive}) ASSERT_EQ(chown(wideToUtf8(folder).c_str(), owner, owner), 0);
        ASSERT_TRUE(checkWatchFolderStorage(logged));
        EXPECT_EQ(problemsOf(watch), owner == geteuid() ? 0u : kProblemCannotMonitor | kProblemArchiveMissing);
    }
    ASSERT_TRUE(waitForEngineThreads(5000));
    EXPECT_EQ(logCount(L"Watch folder not used, it belongs to another user (uid 65534) and lies in a folder group or "
                       L"others can change (mode 1777): " + watch + L" - choose a folder of your own"),
              geteuid() == 0 ? 1u : 0u);
    std::lock_guard<std::mutex> lock(watchFolderMutex);
    watchFolderMap.clear();
}

TEST_F(StorageCheckerTest, FolderScansVisitWatchedFoldersInTurn) {
    timings().folderScanMs = 100;
    putWatchFolder(L"/a", L"/x", kFolderTypeFolder);
    putWatchFolder(L"/b", L"/x", kFolderTypeExclude);
    putWatchFolder(L"/c", L"/x", kFolderTypeDescendents, true);
    putWatchFolder(L"/d", L"/x", kFolderTypeDescendents);
    std::atomic<int> scans{0};
    EngineHooks hooks;
    hooks.checkArchiveInstances = [&](const std::wstring&) { ++scans; };
    setEngineHooks(hooks);

    FolderScanCursor cursor;
    cursor.lastScanTicks = fakeNowTicks;
    EXPECT_EQ(advanceFolderScan(cursor, fakeNowTicks + 99 * kTestTicksPerMs), L"");  // not yet
    std::vector<std::wstring> visited;
    for (int i = 1; i <= 5; ++i) visited.push_back(advanceFolderScan(cursor, fakeNowTicks + i * 100 * kTestTicksPerMs));
    EXPECT_EQ(visited, (std::vector<std::wstring>{L"/a", L"/d", L"", L"/a", L"/d"}));
    ASSERT_TRUE(waitForEngineThreads(5000));
    EXPECT_EQ(scans, 4);
}

TEST_F(StorageCheckerTest, WorkerEndsWithoutWatchFoldersOrAtShutdown) {
    setEngineClock(nullptr);
    const std::string name(kStorageCheckerThreadName);
    storageCheckerThread();  // no watch folders: registers, then ends at once
    EXPECT_EQ(threadEntry(name).state, kThreadStopped);

    const std::wstring folder = utf8ToWide(makeTestFolder("checked"));
    putWatchFolder(folder, folder, kFolderTypeFolder);
    startEngineThread(storageCheckerThread);
    for (int i = 0; i < 500 && threadEntry(name).pingCount < 3; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    EXPECT_EQ(threadEntry(name).state, kThreadRunning);
    setApplicationRunning(false);
    ASSERT_TRUE(waitForEngineThreads(5000));
    EXPECT_EQ(threadEntry(name).state, kThreadStopped);
}
