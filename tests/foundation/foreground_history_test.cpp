#include "foundation/foreground_history.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "foundation/version_records.h"
#include "platform/text.h"
#include "test_env.h"

namespace {
std::wstring attributed(int64_t ticks) {
    ForegroundEntry entry;
    return foregroundApplicationAt(ticks, entry) ? entry.imagePath : L"<none>";
}
}  // namespace

TEST(ForegroundHistory, EachApplicationKeepsOnlyItsNewestEntry) {
    clearForegroundHistory();
    EXPECT_EQ(newestForegroundApplication(), L"");
    recordForegroundApplication(100, L"/usr/bin/a", 1);
    recordForegroundApplication(200, L"/usr/bin/b", 2);
    recordForegroundApplication(300, L"/usr/bin/a", 1);
    const ForegroundHistory history = foregroundHistorySnapshot();
    ASSERT_EQ(history.size(), 2u);
    EXPECT_EQ(history.begin()->first, 200);
    EXPECT_EQ(history.begin()->second.imagePath, L"/usr/bin/b");
    EXPECT_EQ(history.rbegin()->first, 300);
    EXPECT_EQ(newestForegroundApplication(), L"/usr/bin/a");
    // A taken tick keeps its entry; the newcomer's older entry is gone all the same.
    recordForegroundApplication(300, L"/usr/bin/c", 3);
    EXPECT_EQ(foregroundHistorySnapshot().size(), 2u);
    clearForegroundHistory();
}

TEST(ForegroundHistory, AChangeBelongsToTheApplicationThatHadTheForeground) {
    clearForegroundHistory();
    EXPECT_EQ(attributed(50), L"<none>");
    recordForegroundApplication(100, L"/usr/bin/a", 1);
    // One entry older than the change: that application had the foreground.
    EXPECT_EQ(attributed(150), L"/usr/bin/a");
    recordForegroundApplication(200, L"/usr/bin/b", 2);
    EXPECT_EQ(attributed(50), L"/usr/bin/a");   // older than every entry: the first
    EXPECT_EQ(attributed(100), L"/usr/bin/a");  // at an entry's tick: that entry
    EXPECT_EQ(attributed(199), L"/usr/bin/a");
    EXPECT_EQ(attributed(200), L"/usr/bin/b");
    EXPECT_EQ(attributed(999), L"/usr/bin/b");  // newer than every entry: the last
    clearForegroundHistory();
}

TEST(ForegroundHistory, AVersionWithoutOwnerTakesTheNewestForegroundApplication) {
    clearForegroundHistory();
    const std::string folder = makeTestFolder("owner");
    const std::wstring source = utf8ToWide(folder + "/a.txt");
    const std::wstring copy = utf8ToWide(folder + "/a copy.txt");
    ASSERT_TRUE(writeTestFile(folder + "/a copy.txt", "x"));
    ASSERT_TRUE(addVersionRecord(source, copy, L"", false));
    recordForegroundApplication(10, L"/usr/bin/editor", 4);
    const std::wstring second = utf8ToWide(folder + "/a copy 2.txt");
    ASSERT_TRUE(writeTestFile(folder + "/a copy 2.txt", "y"));
    ASSERT_TRUE(addVersionRecord(source, second, L"", false));
    {
        std::lock_guard<std::mutex> lock(versionRecordMutex);
        const FileVersionMap& versions = versionRecordMap.at(source);
        EXPECT_EQ(versions.at(copy).owner, L"");
        EXPECT_EQ(versions.at(second).owner, L"/usr/bin/editor");
        versionRecordMap.clear();
    }
    clearForegroundHistory();
}
