#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "foundation/global_defaults.h"
#include "foundation/text_format.h"

TEST(GlobalDefaults, NamesAndPathsKeepTheirExactTexts) {
    EXPECT_EQ(kDataFolder, L"{{LOCALAPPDATA}}/Morvane/QZR");
    EXPECT_EQ(kDataFolder.substr(0, kDataFolderParent.size()), kDataFolderParent);
    EXPECT_EQ(kDefaultArchiveRoot, L"{{USERPROFILE}}/Documents/Varnholt");
    EXPECT_EQ(kSystemDrive, L"{{SystemDrive}}/");
    EXPECT_EQ(kDataFilePassPhrase.size(), 18u);
    EXPECT_EQ(kStylePassPhrase.size(), 10u);
    EXPECT_EQ(kTraceLogFileName, "logString.txt");
    EXPECT_EQ(kCopierThreadName, "Copier (W)");
    EXPECT_EQ(kStyleNames[3], "Light 2");
    EXPECT_EQ(kSymbolCircle, "\xE2\x97\x8B");  // U+25CB as UTF-8
    EXPECT_EQ(kAboutName, "\xE2\x97\x8F Varnholt");
    EXPECT_EQ(kMonthNames.substr(0, 16), "January,February");
}

TEST(GlobalDefaults, TimingsCanBeShortenedAndReset) {
    EXPECT_EQ(timings().settleMs, 10000u);
    EXPECT_EQ(timings().folderScanMs, 60001u);
    EXPECT_EQ(timings().shutdownGraceMs, 5000u);
    EXPECT_EQ(timings().watcherStopMs, 2000u);

    // Tests shorten the timings while worker threads read them.
    std::vector<std::thread> readers;
    std::atomic<uint64_t> sum{0};
    for (int i = 0; i < 4; ++i) {
        readers.emplace_back([&] {
            for (int k = 0; k < 10000; ++k) sum += timings().settleMs + timings().pollMs;
        });
    }
    timings().settleMs = 5;
    timings().pollMs = 1;
    for (auto& t : readers) t.join();
    EXPECT_EQ(timings().settleMs, 5u);
    EXPECT_GT(sum.load(), 0u);

    resetTimings();
    EXPECT_EQ(timings().settleMs, 10000u);
    EXPECT_EQ(timings().pollMs, 250u);
    EXPECT_EQ(timings().shortPollMs, 125u);

    EXPECT_LE(processStartTicks(), currentTimeTicks());
    EXPECT_GT(processStartTicks(), 0);
}
