#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <limits>
#include <string>

#include "foundation/text_format.h"

namespace {

void pinTimeZone(const char* zone) {
    setenv("TZ", zone, 1);
    tzset();
}

// 2026-01-09 07:05:03.042 UTC.
constexpr int64_t kJan9 = 1767942303LL * 10'000'000 + 42 * 10'000;
constexpr int64_t kTicksPerHour = 3600LL * 10'000'000;

}  // namespace

TEST(TextFormat, TimestampsUseLocalTimeAndTheirFieldWidths) {
    pinTimeZone("UTC");
    EXPECT_EQ(formatArchiveTimestampAt(kJan9), L"2026_01_09_ 7_05_03.042");
    EXPECT_EQ(formatTimestamp(kJan9, true), L"2026/01/09 07:05:03.042");
    EXPECT_EQ(formatTimestamp(kJan9, false), L"2026/01/09 07:05:03");

    // Midnight: a blank and 0 for the hour; 13:07 keeps two digits.
    const int64_t midnight = kJan9 - 7 * kTicksPerHour - (5 * 60 + 3) * 10'000'000LL - 42 * 10'000;
    EXPECT_EQ(formatArchiveTimestampAt(midnight), L"2026_01_09_ 0_00_00.000");
    EXPECT_EQ(formatArchiveTimestampAt(midnight + 13 * kTicksPerHour + 7 * 60 * 10'000'000LL),
              L"2026_01_09_13_07_00.000");

    // Another zone moves the fields (POSIX zone text: UTC+1, no database needed).
    pinTimeZone("XYZ-1");
    EXPECT_EQ(formatTimestamp(kJan9, true), L"2026/01/09 08:05:03.042");
    EXPECT_EQ(formatArchiveTimestampAt(kJan9), L"2026_01_09_ 8_05_03.042");
    pinTimeZone("UTC");

    // Before 1970 the millisecond part stays in 0..999.
    EXPECT_EQ(formatTimestamp(-1, true), L"1969/12/31 23:59:59.999");
    // Extreme tick counts never crash.
    EXPECT_FALSE(formatTimestamp(INT64_MAX, true).empty());
    EXPECT_FALSE(formatTimestamp(INT64_MIN, true).empty());

    // The current time has the archive layout.
    const std::wstring now = formatArchiveTimestamp();
    ASSERT_EQ(now.size(), 23u);
    EXPECT_EQ(now[4], L'_');
    EXPECT_EQ(now[19], L'.');
    EXPECT_GT(currentTimeTicks(), kJan9 - 365 * 24 * kTicksPerHour);
}

TEST(TextFormat, DurationsAndPaddedNumbers) {
    EXPECT_EQ(formatDurationMs(0), L"00:00:00");
    EXPECT_EQ(formatDurationMs(59'999), L"00:00:59");
    EXPECT_EQ(formatDurationMs(3'661'000), L"01:01:01");
    EXPECT_EQ(formatDurationMs(100'000'000), L"27:46:40");
    EXPECT_EQ(formatDurationMs(UINT32_MAX), L"1193:02:47");

    EXPECT_EQ(formatScaledDuration(1, 2, 120'000), L"00:01:00");
    EXPECT_EQ(formatScaledDuration(5, 0, 120'000), L"00:00:00");  // no total: no division by zero
    EXPECT_EQ(formatScaledDuration(0, 10, 120'000), L"00:00:00");
    EXPECT_FALSE(formatScaledDuration(UINT32_MAX, 1, UINT64_MAX).empty());

    EXPECT_EQ(formatZeroPadded(42, 4), L"0042");
    EXPECT_EQ(formatZeroPadded(12345, 2), L"12345");
    EXPECT_EQ(formatZeroPadded(7, 0), L"7");
    EXPECT_EQ(formatZeroPadded(7, -5), L"7");
    EXPECT_EQ(formatZeroPadded(7, 1 << 30).size(), 64u);
}

TEST(TextFormat, DecimalGroupsDigitsAndCutsDecimals) {
    EXPECT_EQ(formatDecimal(1234567.5, 2), L"1,234,567.50");
    EXPECT_EQ(formatDecimal(1234567.5, 0), L"1,234,567");
    EXPECT_EQ(formatDecimal(999.0, 0), L"999");
    EXPECT_EQ(formatDecimal(1000.0, 3), L"1,000.000");
    EXPECT_EQ(formatDecimal(0.125, 1), L"0.1");
    EXPECT_EQ(formatDecimal(0.5, 100), L"0.500000");
    EXPECT_EQ(formatDecimal(123456.0, 0), L"123,456");
    EXPECT_EQ(formatDecimal(-1234.5, 1), L"-1,234.5");
    EXPECT_EQ(formatDecimal(-123.0, 0), L"-123");
    // Very large values print in full (no fixed buffer to overrun).
    EXPECT_EQ(formatDecimal(1e300, 0).size(), 301u + 100u);
    EXPECT_EQ(formatDecimal(std::numeric_limits<double>::infinity(), 2), L"inf");
    EXPECT_EQ(formatDecimal(std::numeric_limits<double>::quiet_NaN(), 2), L"nan");
}

TEST(TextFormat, ReplaceAllReplacesEveryOccurrenceOnce) {
    std::wstring w = L"aaa";
    EXPECT_EQ(replaceAllW(w, L"a", L"b"), 3u);
    EXPECT_EQ(w, L"bbb");

    std::string n = "abab";
    EXPECT_EQ(replaceAll(n, "ab", ""), 2u);
    EXPECT_EQ(n, "");

    w = L"keep";
    EXPECT_EQ(replaceAllW(w, L"", L"x"), 0u);
    EXPECT_EQ(w, L"keep");

    // A replacement holding the searched text ends and is not searched again.
    n = "a-a";
    EXPECT_EQ(replaceAll(n, "a", "xxa"), 2u);
    EXPECT_EQ(n, "xxa-xxa");

    w = L"Done in {{duration}} ({{duration}})";
    EXPECT_EQ(replaceAllW(w, L"{{duration}}", L"00:01:00"), 2u);
    EXPECT_EQ(w, L"Done in 00:01:00 (00:01:00)");

    n = "no match";
    EXPECT_EQ(replaceAll(n, "zz", "y"), 0u);
    EXPECT_EQ(n, "no match");
}

TEST(TextFormat, WrapMovesWholeWordsAt72Columns) {
    EXPECT_EQ(wrapTextLines(""), "");
    EXPECT_EQ(wrapTextLines("one  two\r\n\nthree"), "one two three");

    // Words that fit stay on the line; the one that would end past 72 moves.
    std::string text;
    for (int i = 0; i < 20; ++i) text += "word ";
    const std::string wrapped = wrapTextLines(text);
    const size_t firstBreak = wrapped.find("\r\n");
    ASSERT_NE(firstBreak, std::string::npos);
    EXPECT_EQ(firstBreak, 69u);  // 14 words and 13 blanks; a 15th would end at 74
    EXPECT_EQ(wrapped.substr(firstBreak - 4, 6), "word\r\n");
    // A word ending exactly at column 72 stays.
    const std::string exact = std::string(67, 'a') + " bcde fg";
    EXPECT_EQ(wrapTextLines(exact), std::string(67, 'a') + " bcde\r\nfg");
    // Punctuation does not break before column 73.
    EXPECT_EQ(wrapTextLines(std::string(72, 'a') + "."), std::string(72, 'a') + ".");
    EXPECT_EQ(wrapped.find(" \r\n"), std::string::npos);

    // A word longer than a line is preceded by CR LF, even at the start, and
    // is not split.
    const std::string longWord(80, 'x');
    EXPECT_EQ(wrapTextLines(longWord), "\r\n" + longWord);
    EXPECT_EQ(wrapTextLines("ab " + longWord + " cd"), "ab\r\n" + longWord + "\r\ncd");

    // Bytes above 0x7F (UTF-8) are not letters; passing them to isalnum as
    // negative chars would be undefined.
    const std::string utf8 = "caf\xC3\xA9 na\xC3\xAFve";
    EXPECT_EQ(wrapTextLines(utf8), utf8);
}
