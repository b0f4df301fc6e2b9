#include "engine/change_watcher.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <thread>

#include "engine/engine_hooks.h"
#include "engine/thread_registry.h"
#include "foundation/app_log.h"
#include "foundation/global_defaults.h"
#include "foundation/text_format.h"
#include "foundation/watch_folders.h"
#include "platform/dir_watch.h"
#include "platform/text.h"
#include "test_env.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

constexpr auto kPatience = 20s;
constexpr auto kBurstPatience = 240s;

std::wstring wide(const std::string& text) { return utf8ToWide(text); }

void clearWatchLists() {
    std::lock_guard<std::mutex> lock(watchFolderMutex);
    watchFolderMap.clear();
    defaultFolderMap.clear();
}

void addWatchFolder(const std::string& folder, int32_t type, const std::string& archive = "") {
    WatchFolderEntry entry;
    entry.folderType = type;
    entry.archivePath = wide(archive);
    std::lock_guard<std::mutex> lock(watchFolderMutex);
    watchFolderMap[wide(folder)] = entry;
}

// Every record collected so far, merged per path; a path twice in one
// collection fails the test.
struct Collected {
    std::map<std::wstring, ChangeRecord> byPath;

    void collectOnce() {
        std::vector<ChangeRecord> records;
        const size_t count = collectFolderChanges(records);
        EXPECT_EQ(count, records.size());
        std::set<std::wstring> thisTime;
        for (ChangeRecord& record : records) {
            EXPECT_TRUE(thisTime.insert(record.path).second) << wideToUtf8(record.path);
            auto [it, added] = byPath.try_emplace(record.path, record);
            if (!added) {
                it->second.changeCount += record.changeCount;
                it->second.lastChangeTicks = std::max(it->second.lastChangeTicks, record.lastChangeTicks);
            }
        }
    }
    bool has(const std::string& path) const { return byPath.count(wide(path)) != 0; }
    const ChangeRecord& at(const std::string& path) const { return byPath.at(wide(path)); }
};

bool collectUntil(Collected& collected, const std::function<bool()>& done,
                  std::chrono::seconds patience = kPatience) {
    const auto deadline = std::chrono::steady_clock::now() + patience;
    for (;;) {
        collected.collectOnce();
        if (done()) return true;
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(5ms);
    }
}

// Writes `marker` until it is recorded: every change made before it in the
// same watch folder has been recorded by then.
bool writeMarkerUntilRecorded(Collected& collected, const std::string& marker,
                              std::chrono::seconds patience = kPatience) {
    const auto deadline = std::chrono::steady_clock::now() + patience;
    while (!collected.has(marker)) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        EXPECT_TRUE(writeTestFile(marker, "m"));
        collectUntil(collected, [&] { return collected.has(marker); }, 0s);
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

// Waits until the watch of `folder` is in place, then forgets what it saw.
void waitUntilWatching(const std::string& folder) {
    Collected probe;
    ASSERT_TRUE(writeMarkerUntilRecorded(probe, folder + "/.probe"));
}

size_t logLinesContaining(const std::wstring& text) {
    size_t count = 0;
    for (const AppLogEntry& entry : appLogSnapshot().entries) {
        if (entry.key.find(text) != std::wstring::npos) ++count;
    }
    return count;
}

class ChangeWatcherTest : public ::testing::Test {
protected:
    void SetUp() override {
        setApplicationRunning(true);
        resetTimings();
        timings().pollMs = 5;
        clearWatchLists();
        removeAppLogEntriesOfKind(0xFFFFFFFF);
    }
    void TearDown() override {
        holdChangeWatcherForTests(false);
        setDirWatchLimitForTests(0);
        stopChangeWatcher();
        EXPECT_EQ(liveChangeWatcherThreadCount(), 0u);
        std::vector<ChangeRecord> rest;
        collectFolderChanges(rest);
        clearWatchLists();
        resetTimings();
    }
};

TEST_F(ChangeWatcherTest, RecordsEveryChangedFileOnceWithCountAndLastTick) {
    const std::string root = makeTestFolder("cw");
    ASSERT_TRUE(writeTestFile(root + "/old.txt", "old"));
    addWatchFolder(root, kFolderTypeDescendents);
    const int64_t before = currentTimeTicks();
    ASSERT_TRUE(startWatchFolderThreads());
    EXPECT_TRUE(isChangeWatcherRunning());
    waitUntilWatching(root);

    ASSERT_TRUE(writeTestFile(root + "/a.txt", "a"));
    // Written three times, with other changes between the writes.
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(writeTestFile(root + "/b.txt", "b" + std::to_string(i)));
        ASSERT_TRUE(writeTestFile(root + "/between.txt", std::to_string(i)));
    }
    ASSERT_TRUE(writeTestFile(root + "/.part", "c"));
    fs::rename(root + "/.part", root + "/c.txt");
    fs::remove(root + "/old.txt");
    // A sub-folder made after the watch started, files in it at once.
    fs::create_directories(root + "/sub/deep");
    ASSERT_TRUE(writeTestFile(root + "/sub/deep/d.txt", "d"));

    Collected got;
    ASSERT_TRUE(writeMarkerUntilRecorded(got, root + "/sub/deep/end"));
    const int64_t after = currentTimeTicks();
    for (const char* name : {"/a.txt", "/b.txt", "/c.txt", "/old.txt", "/sub/deep/d.txt", "/.part"}) {
        ASSERT_TRUE(got.has(root + name)) << name;
        const ChangeRecord& record = got.at(root + name);
        EXPECT_GE(record.changeCount, 1u) << name;
        EXPECT_GE(record.lastChangeTicks, before) << name;
        EXPECT_LE(record.lastChangeTicks, after) << name;
        EXPECT_EQ(record.watchFolder, wide(root)) << name;
        EXPECT_TRUE(record.applicationName.empty());
        EXPECT_LT(record.ageMs, 60000u);
    }
    EXPECT_GE(got.at(root + "/b.txt").changeCount, 3u);
    EXPECT_GE(got.at(root + "/b.txt").lastChangeTicks, got.at(root + "/a.txt").lastChangeTicks);
    // Folders are not file changes.
    EXPECT_FALSE(got.has(root + "/sub"));
    EXPECT_FALSE(got.has(root + "/sub/deep"));

    // The watch folder of a path: its parent when watched, else the folder above.
    EXPECT_EQ(queryPathAttributes(wide(root + "/a.txt")), wide(root));
    EXPECT_EQ(queryPathAttributes(wide(root + "/sub/deep/d.txt")), wide(root));
    EXPECT_EQ(queryPathAttributes(wide(root + "2/a.txt")), L"");
    EXPECT_EQ(queryPathAttributes(L"/elsewhere/a.txt"), L"");

    // Records put back come out again, unless their folder is not watched. The
    // watch list outlives a stop.
    EXPECT_TRUE(stopChangeWatcher());
    got.collectOnce();
    EXPECT_FALSE(hasPendingChanges());
    ChangeRecord back;
    back.path = wide(root + "/a.txt");
    back.lastChangeTicks = before;
    ChangeRecord stray = back;
    stray.path = L"/elsewhere/x";
    EXPECT_EQ(requeueChangeRecords({back, stray}), 2u);
    EXPECT_TRUE(hasPendingChanges());
    std::vector<ChangeRecord> again;
    ASSERT_EQ(collectFolderChanges(again), 1u);
    EXPECT_EQ(again[0].path, back.path);
    EXPECT_EQ(again[0].watchFolder, wide(root));
}

TEST_F(ChangeWatcherTest, ArchiveAndExcludedFoldersAreNeverRecorded) {
    const std::string root = makeTestFolder("cw");
    fs::create_directories(root + "/archive");
    fs::create_directories(root + "/archive2");
    fs::create_directories(root + "/skip");
    fs::create_directories(root + "/skipped");
    addWatchFolder(root, kFolderTypeDescendents, root + "/archive");
    addWatchFolder(root + "/skip", kFolderTypeExclude);
    ASSERT_TRUE(startWatchFolderThreads());
    waitUntilWatching(root);

    ASSERT_TRUE(writeTestFile(root + "/archive/a.txt", "a"));
    ASSERT_TRUE(writeTestFile(root + "/skip/s.txt", "s"));
    fs::create_directories(root + "/skip/new");
    ASSERT_TRUE(writeTestFile(root + "/skip/new/s.txt", "s"));
    // Names that only begin like an excluded folder are recorded.
    ASSERT_TRUE(writeTestFile(root + "/archive2/b.txt", "b"));
    ASSERT_TRUE(writeTestFile(root + "/skipped/c.txt", "c"));
    ASSERT_TRUE(writeTestFile(root + "/archive.txt", "d"));

    Collected got;
    ASSERT_TRUE(writeMarkerUntilRecorded(got, root + "/end"));
    EXPECT_TRUE(got.has(root + "/archive2/b.txt"));
    EXPECT_TRUE(got.has(root + "/skipped/c.txt"));
    EXPECT_TRUE(got.has(root + "/archive.txt"));
    for (const auto& [path, record] : got.byPath) {
        EXPECT_FALSE(path.find(wide(root + "/archive/")) == 0) << wideToUtf8(path);
        EXPECT_FALSE(path.find(wide(root + "/skip/")) == 0) << wideToUtf8(path);
    }
}

TEST_F(ChangeWatcherTest, TrailingSeparatorAndNestedWatchFolders) {
    const std::string root = makeTestFolder("cw");
    fs::create_directories(root + "/inner");
    fs::create_directories(root + "/flat/below");
    addWatchFolder(root + "/", kFolderTypeDescendents);
    addWatchFolder(root + "/inner", kFolderTypeDescendents);
    addWatchFolder(root + "/flat", kFolderTypeFolder);
    ASSERT_TRUE(startWatchFolderThreads());
    waitUntilWatching(root);
    waitUntilWatching(root + "/inner");
    waitUntilWatching(root + "/flat");

    ASSERT_TRUE(writeTestFile(root + "/top.txt", "t"));
    ASSERT_TRUE(writeTestFile(root + "/inner/in.txt", "i"));
    ASSERT_TRUE(writeTestFile(root + "/flat/f.txt", "f"));
    ASSERT_TRUE(writeTestFile(root + "/flat/below/b.txt", "b"));
    Collected got;
    ASSERT_TRUE(writeMarkerUntilRecorded(got, root + "/inner/end"));
    ASSERT_TRUE(writeMarkerUntilRecorded(got, root + "/flat/end"));
    ASSERT_TRUE(writeMarkerUntilRecorded(got, root + "/end"));
    for (const auto& [path, record] : got.byPath) {
        EXPECT_EQ(path.find(L"//"), std::wstring::npos) << wideToUtf8(path);
    }
    // Each file once, under the deepest folder whose watch reports it.
    EXPECT_EQ(got.at(root + "/top.txt").watchFolder, wide(root + "/"));
    EXPECT_EQ(got.at(root + "/inner/in.txt").watchFolder, wide(root + "/inner"));
    EXPECT_EQ(got.at(root + "/flat/f.txt").watchFolder, wide(root + "/flat"));
    EXPECT_EQ(got.at(root + "/flat/below/b.txt").watchFolder, wide(root + "/"));
    EXPECT_EQ(queryPathAttributes(wide(root + "/top.txt")), wide(root + "/"));
    EXPECT_EQ(queryPathAttributes(wide(root + "/inner/x/y.txt")), wide(root + "/inner"));
}

TEST_F(ChangeWatcherTest, StopEndsEveryThreadPromptlyAndRestartWatchesTheNewList) {
    const std::string first = makeTestFolder("cw");
    const std::string second = makeTestFolder("cw");
    const std::string third = makeTestFolder("cw");
    // Only the stop itself can end these waits early.
    timings().pollMs = 600000;
    addWatchFolder(first, kFolderTypeDescendents);
    addWatchFolder(second, kFolderTypeFolder);
    ASSERT_TRUE(startWatchFolderThreads());
    waitUntilWatching(first);
    waitUntilWatching(second);
    EXPECT_EQ(liveChangeWatcherThreadCount(), 2u);

    const auto stopStart = std::chrono::steady_clock::now();
    EXPECT_TRUE(stopChangeWatcher());
    EXPECT_LT(std::chrono::steady_clock::now() - stopStart, 1s);
    EXPECT_EQ(liveChangeWatcherThreadCount(), 0u);
    EXPECT_FALSE(isChangeWatcherRunning());
    EXPECT_FALSE(stopChangeWatcher());

    clearWatchLists();
    addWatchFolder(third, kFolderTypeDescendents);
    ASSERT_TRUE(startWatchFolderThreads());
    waitUntilWatching(third);
    EXPECT_EQ(liveChangeWatcherThreadCount(), 1u);
    ASSERT_TRUE(writeTestFile(first + "/gone.txt", "x"));
    Collected got;
    ASSERT_TRUE(writeMarkerUntilRecorded(got, third + "/end"));
    EXPECT_FALSE(got.has(first + "/gone.txt"));
    EXPECT_EQ(queryPathAttributes(wide(first + "/gone.txt")), L"");

    // A restart while running replaces the run; an empty list starts no thread.
    // The supervisor reaches the watcher through the engine hooks.
    clearWatchLists();
    setEngineHooks({});
    installChangeWatcherHooks();
    const EngineHooks hooks = engineHooks();
    ASSERT_TRUE(hooks.startWatchFolderThreads && hooks.hasPendingChanges && hooks.isChangeWatcherRunning);
    hooks.startWatchFolderThreads();
    EXPECT_TRUE(hooks.isChangeWatcherRunning());
    EXPECT_FALSE(hooks.hasPendingChanges());
    EXPECT_EQ(liveChangeWatcherThreadCount(), 0u);
    EXPECT_TRUE(isChangeWatcherRunning());
    EXPECT_TRUE(stopChangeWatcher());
    setEngineHooks({});
}

TEST_F(ChangeWatcherTest, ARebuildKeepsTheChangesNotYetCollected) {
    const std::string root = makeTestFolder("cw");
    const std::string other = makeTestFolder("cw");
    addWatchFolder(root, kFolderTypeDescendents);
    ASSERT_TRUE(startWatchFolderThreads());
    waitUntilWatching(root);
    // The probe's late events are drained, so the change pending next is kept.txt.
    for (int quiet = 0; quiet < 3;) {
        std::this_thread::sleep_for(50ms);
        quiet = hasPendingChanges() ? 0 : quiet + 1;
        Collected probe;
        probe.collectOnce();
    }
    ASSERT_TRUE(writeTestFile(root + "/kept.txt", "k"));
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (!hasPendingChanges() && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(1ms);
    ASSERT_TRUE(hasPendingChanges());
    addWatchFolder(other, kFolderTypeFolder);  // a folder added: the watcher is rebuilt
    ASSERT_TRUE(startWatchFolderThreads());
    Collected got;
    got.collectOnce();
    EXPECT_TRUE(got.has(root + "/kept.txt"));
}

TEST_F(ChangeWatcherTest, ThreadsEndWhenTheApplicationStops) {
    const std::string root = makeTestFolder("cw");
    addWatchFolder(root, kFolderTypeDescendents);
    ASSERT_TRUE(startWatchFolderThreads());
    waitUntilWatching(root);
    setApplicationRunning(false);
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (liveChangeWatcherThreadCount() != 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(1ms);
    EXPECT_EQ(liveChangeWatcherThreadCount(), 0u);
    EXPECT_TRUE(waitForEngineThreads(10000));
    setApplicationRunning(true);
}

TEST_F(ChangeWatcherTest, OutOfWatchesIsOneClearLineAndOtherFoldersGoOn) {
    const std::string big = makeTestFolder("cw");
    const std::string small = makeTestFolder("cw");
    for (int i = 0; i < 4; ++i) fs::create_directories(big + "/s" + std::to_string(i));
    setDirWatchLimitForTests(2);
    addWatchFolder(big, kFolderTypeDescendents);
    addWatchFolder(small, kFolderTypeDescendents);
    ASSERT_TRUE(startWatchFolderThreads());
    waitUntilWatching(small);
    Collected got;
    ASSERT_TRUE(writeTestFile(small + "/a.txt", "a"));
    ASSERT_TRUE(writeMarkerUntilRecorded(got, small + "/end"));
    EXPECT_TRUE(got.has(small + "/a.txt"));
    EXPECT_TRUE(collectUntil(got, [] { return logLinesContaining(L"fs.inotify.max_user_watches") > 0; }));
    EXPECT_EQ(logLinesContaining(L"fs.inotify.max_user_watches"), 1u);
}

size_t maxQueuedEvents() {
    std::ifstream in("/proc/sys/fs/inotify/max_queued_events");
    size_t value = 0;
    in >> value;
    return value;
}

TEST_F(ChangeWatcherTest, OverflowRescansTheFolderAndLogsOneLine) {
    const size_t queued = maxQueuedEvents();
    if (queued == 0 || queued > 200000) GTEST_SKIP() << "event queue too large to fill: " << queued;
    const std::string root = makeTestFolder("cw");
    addWatchFolder(root, kFolderTypeDescendents);
    ASSERT_TRUE(startWatchFolderThreads());
    waitUntilWatching(root);
    holdChangeWatcherForTests(true);
    std::this_thread::sleep_for(50ms);  // let a wait in progress return
    const size_t files = queued / 2 + 200;
    std::set<std::string> written;
    for (size_t i = 0; i < files; ++i) {
        if (i == files / 2) fs::create_directories(root + "/during");
        const std::string path = root + "/f" + std::to_string(i);
        ASSERT_TRUE(writeTestFile(path, "x"));
        written.insert(path);
    }
    holdChangeWatcherForTests(false);
    Collected got;
    ASSERT_TRUE(writeMarkerUntilRecorded(got, root + "/end", kBurstPatience));
    ASSERT_TRUE(collectUntil(got, [&] {
        for (const std::string& path : written) {
            if (!got.has(path)) return false;
        }
        return true;
    }));
    EXPECT_EQ(logLinesContaining(L"overflowed"), 1u);
    // The folder made while notifications were lost is watched now.
    ASSERT_TRUE(writeTestFile(root + "/during/after.txt", "a"));
    ASSERT_TRUE(writeMarkerUntilRecorded(got, root + "/during/end"));
    EXPECT_TRUE(got.has(root + "/during/after.txt"));
}

TEST_F(ChangeWatcherTest, BurstOfTwentyThousandFilesLeavesARecordForEach) {
    const std::string root = makeTestFolder("cw");
    addWatchFolder(root, kFolderTypeDescendents);
    ASSERT_TRUE(startWatchFolderThreads());
    waitUntilWatching(root);
    std::set<std::string> written;
    std::string folder = root;
    for (int i = 0; i < 20000; ++i) {
        if (i % 2500 == 1250) {
            folder = root + "/sub" + std::to_string(i) + "/inner";
            fs::create_directories(folder);
        }
        const std::string path = folder + "/f" + std::to_string(i);
        ASSERT_TRUE(writeTestFile(path, "burst"));
        written.insert(path);
    }
    Collected got;
    ASSERT_TRUE(writeMarkerUntilRecorded(got, root + "/end", kBurstPatience));
    size_t missing = 0;
    // After an overflow the rescan may still be running when the marker shows.
    collectUntil(got, [&] {
        missing = 0;
        for (const std::string& path : written) missing += got.has(path) ? 0 : 1;
        return missing == 0;
    });
    EXPECT_EQ(missing, 0u);
}

}  // namespace
