#include "platform/dir_watch.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <thread>

#include "platform/text.h"
#include "test_env.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

// Upper bound for anything the kernel should deliver promptly, and for the
// burst, whose writing alone takes seconds on a busy disk.
constexpr std::chrono::seconds kPatience = 20s;
constexpr std::chrono::seconds kBurstPatience = 240s;

struct Seen {
    std::vector<DirChange> changes;
    std::vector<std::wstring> problems;
    bool overflow = false;
    bool gone = false;

    bool has(DirChangeAction action, const std::string& path) const {
        for (const auto& c : changes) {
            if (c.action == action && c.path == utf8ToWide(path)) return true;
        }
        return false;
    }
    bool mentions(const std::string& path) const {
        for (const auto& c : changes) {
            if (c.path == utf8ToWide(path)) return true;
        }
        return false;
    }
};

// Gathers batches until `done` holds or patience runs out.
bool collectUntil(DirWatch& w, Seen& seen, const std::function<bool(const Seen&)>& done,
                  std::chrono::seconds patience = kPatience) {
    const auto deadline = std::chrono::steady_clock::now() + patience;
    while (!done(seen)) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        DirChangeBatch batch;
        if (waitDirChanges(w, 500, batch) == DirWaitResult::Stopped) return done(seen);
        for (auto& c : batch.changes) seen.changes.push_back(std::move(c));
        for (auto& p : batch.problems) seen.problems.push_back(std::move(p));
        seen.overflow = seen.overflow || batch.overflow;
        seen.gone = seen.gone || batch.folderGone;
    }
    return true;
}

bool collectUntilSeen(DirWatch& w, Seen& seen, DirChangeAction action, const std::string& path) {
    return collectUntil(w, seen, [&](const Seen& s) { return s.has(action, path); });
}

DirWatchPtr openWatch(const std::string& folder, bool recursive) {
    std::vector<std::wstring> problems;
    DirWatchPtr w = openDirWatch(utf8ToWide(folder), recursive, problems);
    EXPECT_TRUE(w);
    EXPECT_TRUE(problems.empty());
    return w;
}

size_t maxQueuedEvents() {
    std::ifstream in("/proc/sys/fs/inotify/max_queued_events");
    size_t value = 0;
    in >> value;
    return value;
}

std::set<std::string> filesBelow(const std::string& folder) {
    std::set<std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (entry.is_regular_file()) files.insert(entry.path().string());
    }
    return files;
}

}  // namespace

TEST(DirWatch, ReportsFileChangesInFolderAndNewSubFolders) {
    const std::string root = makeTestFolder("watch");
    DirWatchPtr w = openWatch(root + "/", true);  // trailing separator
    ASSERT_TRUE(w);
    Seen seen;

    ASSERT_TRUE(writeTestFile(root + "/a.txt", "one"));
    EXPECT_TRUE(collectUntilSeen(*w, seen, DirChangeAction::Modified, root + "/a.txt"));
    EXPECT_TRUE(seen.has(DirChangeAction::Added, root + "/a.txt"));

    // Written under a temporary name, then renamed into place.
    ASSERT_TRUE(writeTestFile(root + "/b.tmp", "two"));
    fs::rename(root + "/b.tmp", root + "/b.txt");
    EXPECT_TRUE(collectUntilSeen(*w, seen, DirChangeAction::RenamedNewName, root + "/b.txt"));
    EXPECT_TRUE(seen.has(DirChangeAction::RenamedOldName, root + "/b.tmp"));

    fs::remove(root + "/a.txt");
    EXPECT_TRUE(collectUntilSeen(*w, seen, DirChangeAction::Removed, root + "/a.txt"));

    // A folder created after the watch started, written into at once.
    fs::create_directories(root + "/new/deep");
    ASSERT_TRUE(writeTestFile(root + "/new/deep/c.txt", "three"));
    EXPECT_TRUE(collectUntil(*w, seen, [&](const Seen& s) { return s.mentions(root + "/new/deep/c.txt"); }));
    ASSERT_TRUE(writeTestFile(root + "/new/deep/c.txt", "changed"));
    EXPECT_TRUE(collectUntilSeen(*w, seen, DirChangeAction::Modified, root + "/new/deep/c.txt"));
    fs::remove(root + "/new/deep/c.txt");
    EXPECT_TRUE(collectUntilSeen(*w, seen, DirChangeAction::Removed, root + "/new/deep/c.txt"));

    // A folder filled elsewhere and moved in: its files predate any watch.
    const std::string outside = makeTestFolder("outside");
    fs::create_directories(outside + "/filled/inner");
    ASSERT_TRUE(writeTestFile(outside + "/filled/x.txt", "x"));
    ASSERT_TRUE(writeTestFile(outside + "/filled/inner/y.txt", "y"));
    fs::rename(outside + "/filled", root + "/filled");
    EXPECT_TRUE(collectUntilSeen(*w, seen, DirChangeAction::Added, root + "/filled/inner/y.txt"));
    EXPECT_TRUE(seen.has(DirChangeAction::Added, root + "/filled/x.txt"));
    EXPECT_TRUE(seen.has(DirChangeAction::Added, root + "/filled"));  // moved in from outside
    ASSERT_TRUE(writeTestFile(root + "/filled/inner/z.txt", "z"));
    EXPECT_TRUE(collectUntilSeen(*w, seen, DirChangeAction::Modified, root + "/filled/inner/z.txt"));

    EXPECT_EQ(dirWatchFolderCount(*w), 5u);  // root, new, new/deep, filled, filled/inner
    for (const auto& c : seen.changes) EXPECT_EQ(c.path.find(L"//"), std::wstring::npos) << wideToUtf8(c.path);
    EXPECT_TRUE(seen.problems.empty());
}

TEST(DirWatch, ReadingAFileIsNoChange) {
    const std::string root = makeTestFolder("watch");
    ASSERT_TRUE(writeTestFile(root + "/read.txt", "content"));
    DirWatchPtr w = openWatch(root, true);
    ASSERT_TRUE(w);
    EXPECT_EQ(readTestFile(root + "/read.txt"), "content");
    ASSERT_TRUE(writeTestFile(root + "/marker", ""));
    Seen seen;
    // Events arrive in order: once the marker is in, the read would be too.
    EXPECT_TRUE(collectUntilSeen(*w, seen, DirChangeAction::Modified, root + "/marker"));
    EXPECT_FALSE(seen.mentions(root + "/read.txt"));
}

TEST(DirWatch, StopWakesEveryWaitingThreadPromptly) {
    const std::string root = makeTestFolder("watch");
    DirWatchPtr w = openWatch(root, false);
    ASSERT_TRUE(w);

    DirChangeBatch batch;
    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(waitDirChanges(*w, 30, batch), DirWaitResult::TimedOut);
    EXPECT_GE(std::chrono::steady_clock::now() - before, 30ms);

    std::atomic<int> stopped{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 3; ++i) {
        waiters.emplace_back([&] {
            DirChangeBatch b;
            if (waitDirChanges(*w, -1, b) == DirWaitResult::Stopped) ++stopped;
        });
    }
    std::thread stopper([&] { stopDirWatch(*w); });
    const auto stopAt = std::chrono::steady_clock::now();
    stopper.join();
    for (auto& t : waiters) t.join();
    EXPECT_LT(std::chrono::steady_clock::now() - stopAt, 5s);
    EXPECT_EQ(stopped.load(), 3);

    // Stopped stays stopped, even with changes waiting.
    ASSERT_TRUE(writeTestFile(root + "/late.txt", "x"));
    EXPECT_EQ(waitDirChanges(*w, -1, batch), DirWaitResult::Stopped);
    stopDirWatch(*w);
}

TEST(DirWatch, NonRecursiveWatchIgnoresSubFolders) {
    const std::string root = makeTestFolder("watch");
    fs::create_directories(root + "/old");
    DirWatchPtr w = openWatch(root, false);
    ASSERT_TRUE(w);
    fs::create_directories(root + "/new");
    ASSERT_TRUE(writeTestFile(root + "/old/a.txt", "a"));
    ASSERT_TRUE(writeTestFile(root + "/new/b.txt", "b"));
    ASSERT_TRUE(writeTestFile(root + "/top.txt", "t"));
    Seen seen;
    EXPECT_TRUE(collectUntilSeen(*w, seen, DirChangeAction::Modified, root + "/top.txt"));
    EXPECT_FALSE(seen.mentions(root + "/old/a.txt"));
    EXPECT_FALSE(seen.mentions(root + "/new/b.txt"));
    EXPECT_TRUE(seen.has(DirChangeAction::Added, root + "/new"));
    EXPECT_EQ(dirWatchFolderCount(*w), 1u);
}

TEST(DirWatch, RemovedAndRenamedSubFoldersDropTheirWatches) {
    const std::string root = makeTestFolder("watch");
    fs::create_directories(root + "/a/b/c");
    DirWatchPtr w = openWatch(root, true);
    ASSERT_TRUE(w);
    EXPECT_EQ(dirWatchFolderCount(*w), 4u);
    Seen seen;

    // Renamed inside the tree: same number of watches, new names reported.
    fs::rename(root + "/a", root + "/a2");
    ASSERT_TRUE(writeTestFile(root + "/a2/b/c/f.txt", "f"));
    // Written before or after the new name's watch took hold: seen either way.
    EXPECT_TRUE(collectUntil(*w, seen, [&](const Seen& s) { return s.mentions(root + "/a2/b/c/f.txt"); }));
    EXPECT_TRUE(seen.has(DirChangeAction::RenamedOldName, root + "/a"));
    EXPECT_TRUE(seen.has(DirChangeAction::RenamedNewName, root + "/a2"));
    EXPECT_EQ(dirWatchFolderCount(*w), 4u);

    // Moved out of the tree: it is gone from here and no longer watched.
    const std::string outside = makeTestFolder("outside");
    fs::rename(root + "/a2", outside + "/a2");
    ASSERT_TRUE(writeTestFile(outside + "/a2/b/c/g.txt", "g"));
    ASSERT_TRUE(writeTestFile(root + "/marker1", ""));
    EXPECT_TRUE(collectUntilSeen(*w, seen, DirChangeAction::Modified, root + "/marker1"));
    EXPECT_TRUE(seen.has(DirChangeAction::Removed, root + "/a2"));
    for (const auto& c : seen.changes) EXPECT_EQ(c.path.find(L"g.txt"), std::wstring::npos);
    EXPECT_EQ(dirWatchFolderCount(*w), 1u);

    // Created and removed again: the watch goes with it.
    fs::create_directories(root + "/d/e");
    ASSERT_TRUE(writeTestFile(root + "/marker2", ""));
    EXPECT_TRUE(collectUntilSeen(*w, seen, DirChangeAction::Modified, root + "/marker2"));
    EXPECT_EQ(dirWatchFolderCount(*w), 3u);
    fs::remove_all(root + "/d");
    ASSERT_TRUE(writeTestFile(root + "/marker3", ""));
    EXPECT_TRUE(collectUntilSeen(*w, seen, DirChangeAction::Modified, root + "/marker3"));
    EXPECT_TRUE(seen.has(DirChangeAction::Removed, root + "/d"));
    EXPECT_EQ(dirWatchFolderCount(*w), 1u);

    // The watched folder itself removed.
    fs::remove_all(root);
    EXPECT_TRUE(collectUntil(*w, seen, [](const Seen& s) { return s.gone; }));
    EXPECT_EQ(dirWatchFolderCount(*w), 0u);
}

TEST(DirWatch, OutOfWatchesIsOneClearProblemAndTheRestGoesOn) {
    const std::string root = makeTestFolder("watch");
    for (int i = 0; i < 5; ++i) fs::create_directories(root + "/s" + std::to_string(i));
    setDirWatchLimitForTests(3);
    std::vector<std::wstring> problems;
    DirWatchPtr w = openDirWatch(utf8ToWide(root), true, problems);
    ASSERT_TRUE(w);
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_NE(problems[0].find(L"fs.inotify.max_user_watches"), std::wstring::npos);
    EXPECT_EQ(dirWatchFolderCount(*w), 3u);

    // More folders beyond the limit add no further lines; the root still reports.
    fs::create_directories(root + "/t1");
    fs::create_directories(root + "/t2");
    ASSERT_TRUE(writeTestFile(root + "/top.txt", "t"));
    Seen seen;
    EXPECT_TRUE(collectUntilSeen(*w, seen, DirChangeAction::Modified, root + "/top.txt"));
    EXPECT_TRUE(seen.problems.empty());
    setDirWatchLimitForTests(0);

    // A folder that cannot be watched at all.
    problems.clear();
    EXPECT_FALSE(openDirWatch(utf8ToWide(root + "/missing"), true, problems));
    EXPECT_EQ(problems.size(), 1u);
}

TEST(DirWatch, OverflowIsReportedAndWatchingGoesOnInNewFolders) {
    const size_t queued = maxQueuedEvents();
    if (queued == 0 || queued > 200000) GTEST_SKIP() << "event queue too large to fill: " << queued;
    const std::string root = makeTestFolder("watch");
    DirWatchPtr w = openWatch(root, true);
    ASSERT_TRUE(w);
    // Each small file gives at least two events; nobody reads meanwhile.
    const size_t files = queued / 2 + 100;
    for (size_t i = 0; i < files; ++i) {
        if (i == files / 2) fs::create_directories(root + "/during");
        ASSERT_TRUE(writeTestFile(root + "/f" + std::to_string(i), "x"));
    }
    Seen seen;
    EXPECT_TRUE(collectUntil(*w, seen, [](const Seen& s) { return s.overflow; }));
    EXPECT_EQ(seen.problems.size(), 1u);
    // The folder made while events were lost is watched now.
    ASSERT_TRUE(writeTestFile(root + "/during/after.txt", "a"));
    EXPECT_TRUE(collectUntilSeen(*w, seen, DirChangeAction::Modified, root + "/during/after.txt"));
    EXPECT_EQ(dirWatchFolderCount(*w), 2u);
}

TEST(DirWatch, BurstOfFilesLosesNothing) {
    const std::string root = makeTestFolder("burst");
    DirWatchPtr w = openWatch(root, true);
    ASSERT_TRUE(w);
    const std::string marker = root + "/end-marker";

    Seen seen;
    std::atomic<bool> finished{false};
    std::atomic<bool> readerDone{false};
    std::thread reader([&] {
        size_t checked = 0;
        finished = collectUntil(*w, seen, [&](const Seen& s) {
            for (; checked < s.changes.size(); ++checked) {
                if (s.changes[checked].path == utf8ToWide(marker)) return true;
            }
            return false;
        }, kBurstPatience);
        readerDone = true;
    });
    std::set<std::string> written;
    std::string folder = root;
    for (int i = 0; i < 20000; ++i) {
        if (i % 2500 == 1250) {
            folder = root + "/sub" + std::to_string(i) + "/inner";
            fs::create_directories(folder);
        }
        const std::string path = folder + "/f" + std::to_string(i);
        EXPECT_TRUE(writeTestFile(path, "burst"));
        written.insert(path);
    }
    // Events come in order: the marker arrives after every earlier event. It
    // is written again until seen, since an overflow may drop it.
    const auto deadline = std::chrono::steady_clock::now() + kBurstPatience;
    while (!readerDone && std::chrono::steady_clock::now() < deadline) {
        EXPECT_TRUE(writeTestFile(marker, ""));
        std::this_thread::sleep_for(20ms);
    }
    reader.join();
    ASSERT_TRUE(finished.load());

    std::set<std::wstring> reported;
    for (const auto& c : seen.changes) reported.insert(c.path);
    std::set<std::string> found;
    if (seen.overflow) found = filesBelow(root);  // what the watcher's rescan would find
    size_t lost = 0;
    for (const auto& path : written) {
        if (!reported.count(utf8ToWide(path)) && !found.count(path)) ++lost;
    }
    EXPECT_EQ(lost, 0u) << "overflow: " << seen.overflow;
    if (!seen.overflow) {
        EXPECT_TRUE(seen.problems.empty());
    }
    EXPECT_EQ(dirWatchFolderCount(*w), 1u + 2u * 8u);
}
