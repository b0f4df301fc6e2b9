#pragma once
// Texts for times, durations and numbers as the archive names, the logs, the
// reports and the windows show them, plus substring replacement and line
// wrapping. Stateless; safe on any thread.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// 100-ns ticks since 1970-01-01 00:00 UTC, read from the system clock.
int64_t currentTimeTicks();
// Milliseconds of the monotonic clock, for intervals and time-outs.
int64_t steadyClockMs();
// Sleeps the calling thread.
void sleepMs(uint32_t ms);

// "YYYY_MM_DD_hh_MM_SS.mmm" in local time, the hour filled with a blank
// ("2026_01_09_ 7_05_03.042"). Archived file names carry this text.
std::wstring formatArchiveTimestamp();
std::wstring formatArchiveTimestampAt(int64_t ticks);

// "YYYY/MM/DD HH:MM:SS" in local time, with ".mmm" when asked.
std::wstring formatTimestamp(int64_t ticks, bool withMilliseconds);

// "HH:MM:SS"; the hours keep every digit (100,000,000 ms is "27:46:40").
std::wstring formatDurationMs(uint64_t milliseconds);

// formatDurationMs of part / total x elapsed (0 when total is 0).
std::wstring formatScaledDuration(uint32_t part, uint64_t total, uint64_t elapsedMs);

// The value in decimal, zero-filled to `width` (at most 64) characters.
std::wstring formatZeroPadded(uint32_t value, int width);

// The value with "," between groups of three integer digits and at most
// `decimals` digits after the point (cut, not rounded; none: no point).
std::wstring formatDecimal(double value, uint64_t decimals);

// Replaces every occurrence of `searched` in `text`; returns how many. An empty
// `searched` changes nothing. A replacement is never searched again.
size_t replaceAllW(std::wstring& text, std::wstring_view searched, std::wstring_view replacement);
size_t replaceAll(std::string& text, std::string_view searched, std::string_view replacement);

// Wraps text at 72 columns with CR LF, moving whole words; runs of blanks,
// CR and LF become one blank or one line break. A word longer than a line
// gets a line of its own and is not split.
std::string wrapTextLines(std::string_view text);
