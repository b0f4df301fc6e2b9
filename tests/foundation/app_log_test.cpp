#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <thread>
#include <vector>

#include "foundation/app_log.h"
#include "foundation/text_format.h"
#include "test_env.h"

namespace {

// 2026-01-09 07:05:03.042 UTC.
constexpr int64_t kT0 = 1767942303LL * 10'000'000 + 42 * 10'000;
constexpr int64_t kTicksPerMs = 10'000;

void startEmpty() {
    setenv("TZ", "UTC", 1);
    tzset();
    replaceAppLogEntries({});
    clearAppLogChanged();
}

uint32_t unconfirmedKinds(const AppLogState& s) {
    uint32_t mask = 0;
    for (const auto& e : s.entries) {
        if (!e.confirmed) mask |= e.kind;
    }
    return mask;
}

}  // namespace

TEST(AppLog, KeysWithinOneMillisecond) {
    startEmpty();
    appendAppLogEntryAt(L"alpha", 1, false, kT0);
    appendAppLogEntryAt(L"beta", 4, false, kT0);
    AppLogState s = appLogSnapshot();
    ASSERT_EQ(s.entries.size(), 2u);
    EXPECT_EQ(s.entries[0].key, L"2026/01/09 07:05:03.042 alpha    ");
    EXPECT_EQ(s.pendingKinds, 5u);
    EXPECT_TRUE(s.changed);

    // Same text, same millisecond, no refresh: a second entry with 1 blank,
    // then 2, 3 and (4 being taken) 5.
    for (int i = 0; i < 4; ++i) appendAppLogEntryAt(L"alpha", 1, false, kT0);
    s = appLogSnapshot();
    ASSERT_EQ(s.entries.size(), 6u);
    EXPECT_EQ(s.entries[0].key, L"2026/01/09 07:05:03.042 alpha ");
    EXPECT_EQ(s.entries[3].key, L"2026/01/09 07:05:03.042 alpha    ");
    EXPECT_EQ(s.entries[4].key, L"2026/01/09 07:05:03.042 alpha     ");

    // With refresh: the entry is unconfirmed again and takes the new kind.
    startEmpty();
    appendAppLogEntryAt(L"gamma", 1, false, kT0);
    ASSERT_TRUE(setAppLogEntryConfirmed(L"2026/01/09 07:05:03.042 gamma    ", true));
    removeAppLogEntriesOfKind(2);  // a removal settles the mask
    EXPECT_EQ(appLogPendingKinds(), 0u);
    clearAppLogChanged();
    appendAppLogEntryAt(L"gamma", 8, true, kT0);
    s = appLogSnapshot();
    ASSERT_EQ(s.entries.size(), 1u);
    EXPECT_EQ(s.entries[0].kind, 8u);
    EXPECT_EQ(s.entries[0].confirmed, 0);
    EXPECT_EQ(s.pendingKinds, 8u);
    EXPECT_TRUE(s.changed);  // pending again: news
    EXPECT_FALSE(setAppLogEntryConfirmed(L"no such key", true));

    // Later entries sort after earlier ones.
    appendAppLogEntryAt(L"a later one", 2, false, kT0 + 1000 * kTicksPerMs);
    appendAppLogEntryAt(L"the real clock", 2, false, kT0 - 1000 * kTicksPerMs);
    s = appLogSnapshot();
    ASSERT_EQ(s.entries.size(), 3u);
    EXPECT_EQ(s.entries[0].key, L"2026/01/09 07:05:02.042 the real clock    ");
    EXPECT_EQ(s.entries[2].key, L"2026/01/09 07:05:04.042 a later one    ");
}

TEST(AppLog, RemovalsKeepTheMaskInStepWithTheMap) {
    startEmpty();
    removeConfirmedAppLogEntries();
    EXPECT_FALSE(appLogChanged());
    for (uint32_t kind : {1u, 2u, 4u, 8u}) appendAppLogEntryAt(L"k" + std::to_wstring(kind), kind, false, kT0);
    EXPECT_EQ(appLogPendingKinds(), 15u);

    removeAppLogEntriesOfKind(8);
    AppLogState s = appLogSnapshot();
    EXPECT_EQ(s.entries.size(), 3u);
    EXPECT_EQ(s.pendingKinds, 7u);
    EXPECT_TRUE(s.changed);

    // A tick is not final: the kind stays pending (and can be unticked)
    // until entries are removed; then a confirmed entry no longer counts.
    std::wstring important;
    for (const auto& e : s.entries) {
        if (e.kind == 2) important = e.key;
    }
    setAppLogEntryConfirmed(important, true);
    EXPECT_EQ(appLogPendingKinds(), 7u);
    removeAppLogEntriesOfKind(4);
    EXPECT_EQ(appLogPendingKinds(), 1u);
    setAppLogEntryConfirmed(important, false);
    EXPECT_EQ(appLogPendingKinds(), 3u);
    EXPECT_EQ(appLogSnapshot().entries.size(), 2u);

    // Every entry confirmed and the confirmed ones removed: mask 0 (the tray
    // hides its item), the log empty.
    for (const auto& e : appLogSnapshot().entries) setAppLogEntryConfirmed(e.key, true);
    EXPECT_EQ(appLogPendingKinds(), 3u);
    removeConfirmedAppLogEntries();
    EXPECT_EQ(appLogPendingKinds(), 0u);
    EXPECT_TRUE(appLogSnapshot().entries.empty());

    // Loading replaces the log and derives the mask from it.
    replaceAppLogEntries({{L"x", 1, 4, 0}, {L"y", 2, 2, 1}});
    EXPECT_EQ(appLogPendingKinds(), 4u);
    removeAppLogEntriesOfKind(0xFFFFFFFFu);
    EXPECT_EQ(appLogPendingKinds(), 0u);
    EXPECT_TRUE(appLogChanged());
}

TEST(AppLog, ConcurrentAppendsRemovalsAndConfirmations) {
    startEmpty();
    std::atomic<bool> stop{false};
    std::atomic<int> inconsistent{0};
    std::vector<std::thread> threads;
    for (int w = 0; w < 6; ++w) {
        threads.emplace_back([w] {
            for (int i = 0; i < 400; ++i) {
                appendAppLogEntry(L"worker " + std::to_wstring(w) + L" line " + std::to_wstring(i % 7),
                                  1u << (i % 4), (i % 3) == 0);
            }
        });
    }
    threads.emplace_back([&] {
        for (uint32_t k = 0; !stop; k = (k + 1) % 4) removeAppLogEntriesOfKind(1u << k);
    });
    threads.emplace_back([&] {
        while (!stop) {
            for (const auto& e : appLogSnapshot().entries) setAppLogEntryConfirmed(e.key, true);
            removeConfirmedAppLogEntries();
        }
    });
    threads.emplace_back([&] {
        while (!stop) {
            const AppLogState s = appLogSnapshot();
            if ((unconfirmedKinds(s) & ~s.pendingKinds) != 0) ++inconsistent;
        }
    });
    for (int w = 0; w < 6; ++w) threads[w].join();
    stop = true;
    for (size_t i = 6; i < threads.size(); ++i) threads[i].join();
    EXPECT_EQ(inconsistent.load(), 0);
    const AppLogState s = appLogSnapshot();
    EXPECT_EQ(s.pendingKinds, unconfirmedKinds(s));
}

TEST(TraceLog, AnchorThenElapsedLines) {
    setenv("TZ", "UTC", 1);
    tzset();
    const std::string folder = makeTestFolder("trace");
    const std::string path = folder + "/logString.txt";
    ASSERT_TRUE(writeTestFile(path, "old content of the last run\n"));

    // An unexpanded placeholder gives a relative path: nothing is written
    // there, and the real path can still be named.
    const std::string cwd = std::filesystem::current_path().string();
    std::filesystem::current_path(folder);
    writeLogLineAt("unexpanded", "?/Morvane/QZR/ConfigData/logString.txt", kT0 - kTicksPerMs);
    writeLogLineAt("no path yet", "", kT0 - kTicksPerMs);
    EXPECT_FALSE(std::filesystem::exists(folder + "/?"));
    std::filesystem::current_path(cwd);

    writeLogLineAt("start", path, kT0);
    writeLogLineAt("step", "", kT0 + 1234 * kTicksPerMs);
    writeLogLineAt("ignored path", folder + "/other.txt", kT0 + 3'723'004 * kTicksPerMs);
    writeLogLineAt("late", "", kT0 + 100'000'000 * kTicksPerMs);
    writeLogLineAt("clock set back", "", kT0 - 5 * kTicksPerMs);
    EXPECT_EQ(readTestFile(path),
              "ANCHOR: 2026/01/09 07:05:03.042\n"
              "00:00:00.000: start\n"
              "00:00:01.234: step\n"
              "01:02:03.004: ignored path\n"
              "27:46:40.0000: late\n"
              "00:00:00.000: clock set back\n");
    EXPECT_FALSE(readTestFile(folder + "/other.txt").size());
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 077, 0u);

    // The file gone with its folder: the call writes nothing and does not fail.
    std::remove(path.c_str());
    rmdir(folder.c_str());
    writeLogLine("no folder", "");
    EXPECT_EQ(readTestFile(path), "");
}
