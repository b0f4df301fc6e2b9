#include <gtest/gtest.h>

#include "foundation/app_version.h"

TEST(AppVersion, NewerIsDecidedNumericallyGroupByGroup) {
    struct Case {
        const char* other;
        bool newer;
    };
    for (const Case& c : {Case{"2.000.0006", true}, Case{"10.000.0000", true}, Case{"2.000.0005.1", true},
                          Case{"2.1", true}, Case{" 2.000.0010\r\n", true}, Case{"2.000.0005", false},
                          Case{"2.000.0005\n", false}, Case{"2.0.5", false}, Case{"02.000.05", false},
                          Case{"1.999.9999", false}, Case{"1.000.0000", false}, Case{"<html>", false},
                          Case{"3.0-beta", false}, Case{"3..0", false}, Case{"", false}, Case{".3", false},
                          Case{"99999999999999999999999.0", true}})
        EXPECT_EQ(isNewerVersion(kOwnAppVersion, c.other), c.newer) << c.other;
    EXPECT_FALSE(isNewerVersion(kOwnAppVersion, std::string(kMaxVersionTextLength + 1, '9')));
    EXPECT_EQ(compareVersions("1.2", "1.2.0"), 0);
    EXPECT_LT(compareVersions("1.2", "1.10"), 0);
    EXPECT_EQ(trimVersionText("\t 1.2 \r\n"), "1.2");
}
