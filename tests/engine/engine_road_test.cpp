// The whole road of a change through the real engine threads: configuration
// load starts the engine, the watcher sees the file, the File Watcher pass
// queues it, the Copier archives it and the version records list it; then
// the engine stops within its bounded wait.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <thread>

#include "deletion_test_support.h"
#include "engine/archive_changes.h"
#include "engine/archive_prepare.h"
#include "engine/change_watcher.h"
#include "engine/copy_queue.h"
#include "engine/copy_queue_file.h"
#include "engine/engine_wiring.h"
#include "engine/monitor_ui.h"
#include "engine/restore_selected.h"
#include "engine_test_support.h"
#include "foundation/app_config.h"
#include "foundation/foreground_history.h"
#include "foundation/version_records.h"
#include "platform/foreground_window.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "test_env.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr auto kPatience = 30s;
constexpr uint32_t kStopBoundMs = 5000;

bool waitFor(const std::function<bool()>& done, std::chrono::seconds patience = kPatience) {
    const auto deadline = std::chrono::steady_clock::now() + patience;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

std::map<std::wstring, FileVersionRecord> versionsOf(const std::wstring& source) {
    std::lock_guard<std::mutex> lock(versionRecordMutex);
    const auto it = versionRecordMap.find(source);
    return it == versionRecordMap.end() ? FileVersionMap() : it->second;
}

class EngineRoadTest : public ::testing::Test {
protected:
    void SetUp() override {
        reset();
        timings().shortPollMs = 1;
        timings().pollMs = 5;
        timings().busyPassMs = 10;
        timings().idlePassMs = 20;
        timings().settleMs = 50;
        timings().watcherStopMs = 500;
        const std::string root = makeTestFolder("road");
        watch = utf8ToWide(root + "/Watch");
        // An archive inside its watch folder is refused: it lies beside it.
        archive = utf8ToWide(root + "/Archive");
        fs::create_directories(wideToUtf8(watch) + "/sub");
        fs::create_directories(wideToUtf8(archive));
    }
    void TearDown() override {
        setApplicationRunning(false);
        EXPECT_TRUE(waitForEngineThreads(10000));
        setForegroundWindowSource({});
        reset();
    }
    static void reset() {
        setApplicationRunning(true);
        resetTimings();
        clearThreadStates();
        setEngineHooks({});
        setEngineStarter({});
        resetSupervisorClock();
        resetWorkersStarted();
        clearArchiveContext();
        clearForegroundHistory();
        setWatchListChanged(false);
        {
            std::lock_guard<std::mutex> lock(watchFolderMutex);
            watchFolderMap.clear();
            defaultFolderMap.clear();
        }
        {
            std::lock_guard<std::mutex> lock(copyQueueMutex);
            copyQueue.clear();
        }
        {
            std::lock_guard<std::mutex> lock(versionRecordMutex);
            versionRecordMap.clear();
        }
        std::lock_guard<std::mutex> lock(statisticsMutex);
        applicationStatsMap.clear();
    }
    // Saves a configuration holding the watch folder, then forgets it, so
    // that the engine starts from what loading reads.
    void saveConfigurationWithWatchFolder() {
        // A first load without an engine builds the configuration's paths.
        ASSERT_TRUE(loadAppConfiguration());
        {
            std::lock_guard<std::mutex> lock(watchFolderMutex);
            WatchFolderEntry entry;
            entry.displayName = L"Watch";
            entry.archivePath = archive;
            entry.folderType = kFolderTypeDescendents;
            entry.collisionOption = kCollisionAppendVersion;
            entry.extensionMap[L"txt"] = ExtensionEntry{L"txt", true, false};
            watchFolderMap[watch] = entry;
        }
        ASSERT_TRUE(saveAppConfiguration());
        std::lock_guard<std::mutex> lock(watchFolderMutex);
        watchFolderMap.clear();
    }
    void startEngineThroughConfiguration() {
        saveConfigurationWithWatchFolder();
        wireEngine();
        ASSERT_TRUE(loadAppConfiguration());
        {
            std::lock_guard<std::mutex> lock(watchFolderMutex);
            ASSERT_EQ(watchFolderMap.count(watch), 1u);
            EXPECT_EQ(watchFolderMap.at(watch).archivePath, archive);
        }
        ASSERT_TRUE(waitFor([] { return isChangeWatcherRunning(); }));
    }
    // Writes the file until its archived copy appears: the watch may not be
    // in place at the first write.
    static bool writeUntilArchived(const std::wstring& file, const std::string& content, const std::wstring& copy) {
        return waitFor([&] {
            if (fs::exists(wideToUtf8(copy))) return true;
            // Written outside and renamed in: a rewrite never shows the file
            // empty, which a loaded machine's Copier could catch as a version.
            const std::string staged = testRoot() + "/road-staged";
            writeTestFile(staged, content);
            fs::rename(staged, wideToUtf8(file));
            std::this_thread::sleep_for(100ms);
            return fs::exists(wideToUtf8(copy));
        });
    }
    void expectEveryWorkerStops() {
        setApplicationRunning(false);
        EXPECT_TRUE(waitForEngineThreads(kStopBoundMs));
        EXPECT_FALSE(isChangeWatcherRunning());
        std::lock_guard<std::mutex> lock(threadStateMutex);
        for (const std::string name : {"Monitor UI (W)", "Copier (W)", "File Watcher (W)", "Monitor Files (W)",
                                       "Storage Checker (W)", "Backup Scheduler (W)"}) {
            const auto it = threadStateMap.find(name);
            ASSERT_NE(it, threadStateMap.end()) << name;
            EXPECT_EQ(it->second.state, kThreadStopped) << name;
        }
    }

    std::wstring watch;
    std::wstring archive;
};

TEST_F(EngineRoadTest, AChangedFileIsArchivedRecordedVersionedAndTheEngineStops) {
    startEngineThroughConfiguration();
    const std::wstring file = watch + L"/sub/report.txt";
    const std::wstring first = archive + L"/sub/report.txt";
    ASSERT_TRUE(writeUntilArchived(file, "first", first));
    EXPECT_TRUE(waitFor([&] { return versionsOf(file).count(first) == 1; }));
    EXPECT_EQ(readTestFile(wideToUtf8(first)), "first");
    // Without a display nobody had the foreground: the version has no owner.
    EXPECT_EQ(versionsOf(file)[first].owner, L"");

    const std::wstring second = archive + L"/sub/report ~ 0000.txt";
    ASSERT_TRUE(writeTestFile(wideToUtf8(file), "second"));
    ASSERT_TRUE(waitFor([&] { return versionsOf(file).count(second) == 1; }));
    EXPECT_EQ(readTestFile(wideToUtf8(second)), "second");
    EXPECT_EQ(readTestFile(wideToUtf8(first)), "first");

    // Give the archived copies time to come back, then look: they never do.
    std::this_thread::sleep_for(300ms);
    {
        std::lock_guard<std::mutex> lock(versionRecordMutex);
        for (const auto& [source, versions] : versionRecordMap)
            EXPECT_FALSE(pathIsInside(source, archive)) << wideToUtf8(source);
        EXPECT_EQ(versionRecordMap.size(), 1u);
    }
    EXPECT_FALSE(fs::exists(wideToUtf8(archive + L"/sub/report ~ 0001.txt")));
    EXPECT_FALSE(fs::exists(wideToUtf8(archive + L"/Archive")));

    // Once the Copier has worked off the queue and ended, a stop leaves no
    // saved queue behind.
    EXPECT_TRUE(waitFor([] {
        std::lock_guard<std::mutex> lock(threadStateMutex);
        const auto it = threadStateMap.find("Copier (W)");
        return copyQueueCount() == 0 && it != threadStateMap.end() && it->second.state == kThreadStopped;
    }));
    expectEveryWorkerStops();
    EXPECT_FALSE(fs::exists(wideToUtf8(copyQueueFilePath())));
}

TEST_F(EngineRoadTest, TheForegroundApplicationOwnsTheChangesMadeWhileItIsInFront) {
    ForegroundWindowSource desktop;
    desktop.foregroundWindow = [] { return uint64_t{5}; };
    desktop.describeWindow = [](uint64_t, WindowDescription& window) {
        window.processId = 4321;
        window.imagePath = L"/usr/bin/writer";
        window.title = L"Report";
        window.width = window.height = 500;
        window.visible = true;
        return true;
    };
    setForegroundWindowSource(desktop);
    startEngineThroughConfiguration();
    ASSERT_TRUE(waitFor([] { return newestForegroundApplication() == L"/usr/bin/writer"; }));

    const std::wstring file = watch + L"/notes.txt";
    const std::wstring copy = archive + L"/notes.txt";
    ASSERT_TRUE(writeUntilArchived(file, "draft", copy));
    ASSERT_TRUE(waitFor([&] { return versionsOf(file).count(copy) == 1; }));
    EXPECT_EQ(versionsOf(file)[copy].owner, L"/usr/bin/writer");
    ASSERT_TRUE(waitFor([] {
        std::lock_guard<std::mutex> lock(statisticsMutex);
        const auto it = applicationStatsMap.find(L"/usr/bin/writer");
        return it != applicationStatsMap.end() && it->second.archivedCount >= 1;
    }));
    {
        std::lock_guard<std::mutex> lock(statisticsMutex);
        const ApplicationRecord& writer = applicationStatsMap.at(L"/usr/bin/writer");
        EXPECT_EQ(writer.displayName, L"writer: Report");
        EXPECT_GE(writer.changeCount, 1);
    }
    expectEveryWorkerStops();
}

TEST_F(EngineRoadTest, AWatchFolderThatGoesAndComesBackIsWatchedAgain) {
    archive = utf8ToWide(makeTestFolder("road-archive"));
    startEngineThroughConfiguration();
    ASSERT_TRUE(writeUntilArchived(watch + L"/before.txt", "before", archive + L"/before.txt"));
    // Made again empty, with a new inode, as a re-plugged drive's folder is:
    // once after more than one storage check, once at once.
    for (const auto pause : {std::chrono::milliseconds(timings().busyPassMs * 5), 0ms}) {
        fs::remove_all(wideToUtf8(watch));
        std::this_thread::sleep_for(pause);
        fs::create_directories(wideToUtf8(watch));
        const std::wstring name = L"/back" + std::to_wstring(pause.count()) + L".txt";
        ASSERT_TRUE(writeTestFile(wideToUtf8(watch + name), "back"));
        ASSERT_TRUE(waitFor([&] { return fs::exists(wideToUtf8(archive + name)); })) << wideToUtf8(name);
        EXPECT_EQ(readTestFile(wideToUtf8(archive + name)), "back");
    }
    expectEveryWorkerStops();
}

TEST_F(EngineRoadTest, AChangeAfterAnotherArchiveLocationWasChosenIsArchivedThere) {
    startEngineThroughConfiguration();
    const std::wstring file = watch + L"/sub/report.txt";
    ASSERT_TRUE(writeUntilArchived(file, "first", archive + L"/sub/report.txt"));
    // As the folder's popup does: another archive location, prepared in the background.
    std::thread([&] { prepareArchiveThread(watch, utf8ToWide(makeTestFolder("road-moved"))); }).join();
    std::wstring moved;
    {
        std::lock_guard<std::mutex> lock(watchFolderMutex);
        moved = watchFolderMap.at(watch).archivePath;
    }
    ASSERT_NE(moved, archive);
    EXPECT_TRUE(writeUntilArchived(file, "second", moved + L"/sub/report.txt"));
    EXPECT_FALSE(fs::exists(wideToUtf8(archive + L"/sub/report ~ 0000.txt"))) << "written into the old archive";
    expectEveryWorkerStops();
}

TEST_F(EngineRoadTest, AFolderAddedWhileTheEngineRunsKeepsItsFilesAsTheyWereWhenAdded) {
    startEngineThroughConfiguration();
    const std::wstring work = parentFolder(watch) + L"/Work";
    const std::wstring report = work + L"/report.txt";
    fs::create_directories(wideToUtf8(work));
    ASSERT_TRUE(writeTestFile(wideToUtf8(report), "as added"));
    // Made long before it is added, with the product's long settle time: it
    // is kept at once, not when a change may have replaced it.
    fs::last_write_time(wideToUtf8(report), fs::file_time_type::clock::now() - 1h);
    timings().settleMs = 60000;
    // As " Add " does: listed with an archive root, then prepared in the background.
    WatchFolderEntry entry;
    entry.archivePath = utf8ToWide(makeTestFolder("road-archives"));
    entry.collisionOption = kCollisionAppendVersion;
    ASSERT_TRUE(updateWatchFolderList(work, entry, false));
    addWatchFolderExtension(pathKey(work), L"*");
    std::thread([&] { prepareArchiveThread(work, entry.archivePath); }).join();
    ASSERT_TRUE(waitFor([&] { return versionsOf(report).size() == 1; })) << "kept before any change";
    timings().settleMs = 50;
    ASSERT_TRUE(writeTestFile(wideToUtf8(report), "changed"));
    ASSERT_TRUE(waitFor([&] { return versionsOf(report).size() == 2; }));

    timings().restorePaceMs = 0;
    timings().progressHoldMs = 0;
    deletion_test::ModalAnswerer user(true);
    std::set<std::string> restored;
    for (const auto& [copy, version] : versionsOf(report)) {
        restoreSelectedFilesTask({{report, {{copy, FileVersionRecord{copy, L"", true, true}}}}});
        restored.insert(readTestFile(wideToUtf8(report)));
    }
    EXPECT_EQ(restored, (std::set<std::string>{"as added", "changed"}));
    expectEveryWorkerStops();
}

}  // namespace
