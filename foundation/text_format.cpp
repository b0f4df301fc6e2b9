#include "foundation/text_format.h"

#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <iomanip>
#include <sstream>
#include <thread>
#include <vector>

namespace {

constexpr int64_t kTicksPerSecond = 10'000'000;
constexpr int64_t kTicksPerMillisecond = 10'000;
constexpr size_t kWrapColumns = 72;
constexpr int kMaxZeroPadWidth = 64;

struct LocalTime {
    std::tm fields{};
    int milliseconds = 0;
};

// Splits ticks into local calendar fields. Times before 1970 round towards
// the past so the millisecond part is never negative; a time the C library
// cannot convert gives 1900/01/01 00:00:00 instead of a crash.
LocalTime localTimeOf(int64_t ticks) {
    int64_t seconds = ticks / kTicksPerSecond;
    int64_t rest = ticks % kTicksPerSecond;
    if (rest < 0) {
        rest += kTicksPerSecond;
        --seconds;
    }
    LocalTime out;
    out.milliseconds = static_cast<int>(rest / kTicksPerMillisecond);
    const std::time_t t = static_cast<std::time_t>(seconds);
    if (!localtime_r(&t, &out.fields)) {
        out.fields = std::tm{};
        out.fields.tm_mday = 1;
    }
    return out;
}

template <typename Text>
size_t replaceAllIn(Text& text, std::basic_string_view<typename Text::value_type> searched,
                    std::basic_string_view<typename Text::value_type> replacement) {
    if (searched.empty()) return 0;
    size_t count = 0;
    size_t pos = text.find(searched.data(), 0, searched.size());
    while (pos != Text::npos) {
        text.replace(pos, searched.size(), replacement.data(), replacement.size());
        ++count;
        pos = text.find(searched.data(), pos + replacement.size(), searched.size());
    }
    return count;
}

bool isWrapSpace(char c) { return c == ' ' || c == '\r' || c == '\n'; }
bool isWordChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; }

// Groups the integer digits of a "%f" text with "," every three digits.
std::string groupDigits(const std::string& digits) {
    std::string reversed;
    size_t copied = 0;
    for (auto it = digits.rbegin(); it != digits.rend(); ++it) {
        reversed += *it;
        if (++copied % 3 == 0) reversed += ',';
    }
    if (!reversed.empty() && reversed.back() == ',') reversed.pop_back();
    return std::string(reversed.rbegin(), reversed.rend());
}

}  // namespace

int64_t currentTimeTicks() {
    using Ticks = std::chrono::duration<int64_t, std::ratio<1, kTicksPerSecond>>;
    return std::chrono::duration_cast<Ticks>(std::chrono::system_clock::now().time_since_epoch()).count();
}

std::wstring formatArchiveTimestamp() { return formatArchiveTimestampAt(currentTimeTicks()); }

std::wstring formatArchiveTimestampAt(int64_t ticks) {
    const LocalTime t = localTimeOf(ticks);
    std::wostringstream s;
    s << std::setfill(L'0') << std::setw(4) << t.fields.tm_year + 1900 << L'_' << std::setw(2)
      << t.fields.tm_mon + 1 << L'_' << std::setw(2) << t.fields.tm_mday << L'_' << std::setfill(L' ')
      << std::setw(2) << t.fields.tm_hour << L'_' << std::setfill(L'0') << std::setw(2) << t.fields.tm_min
      << L'_' << std::setw(2) << t.fields.tm_sec << L'.' << std::setw(3) << t.milliseconds;
    return s.str();
}

std::wstring formatTimestamp(int64_t ticks, bool withMilliseconds) {
    const LocalTime t = localTimeOf(ticks);
    std::wostringstream s;
    s << std::setfill(L'0') << std::setw(4) << t.fields.tm_year + 1900 << L'/' << std::setw(2)
      << t.fields.tm_mon + 1 << L'/' << std::setw(2) << t.fields.tm_mday << L' ' << std::setw(2)
      << t.fields.tm_hour << L':' << std::setw(2) << t.fields.tm_min << L':' << std::setw(2) << t.fields.tm_sec;
    if (withMilliseconds) s << L'.' << std::setw(3) << t.milliseconds;
    return s.str();
}

std::wstring formatDurationMs(uint64_t milliseconds) {
    const uint64_t withinHour = (milliseconds / 1000) % 3600;
    std::wostringstream s;
    s << std::setfill(L'0') << std::setw(2) << milliseconds / 3'600'000 << L':' << std::setw(2)
      << withinHour / 60 << L':' << std::setw(2) << withinHour % 60;
    return s.str();
}

std::wstring formatScaledDuration(uint32_t part, uint64_t total, uint64_t elapsedMs) {
    if (total == 0) return formatDurationMs(0);
    const double scaled = static_cast<double>(part) / static_cast<double>(total) * static_cast<double>(elapsedMs);
    // Converting a double past the range of the integer is undefined: clamp.
    constexpr double kLimit = 18446744073709549568.0;  // largest double below 2^64
    const uint64_t ms = !(scaled > 0) ? 0 : scaled >= kLimit ? UINT64_MAX : static_cast<uint64_t>(scaled);
    return formatDurationMs(ms);
}

std::wstring formatZeroPadded(uint32_t value, int width) {
    if (width < 0) width = 0;
    if (width > kMaxZeroPadWidth) width = kMaxZeroPadWidth;
    std::wostringstream s;
    s << std::setfill(L'0') << std::setw(width) << value;
    return s.str();
}

std::wstring formatDecimal(double value, uint64_t decimals) {
    if (!std::isfinite(value)) {
        return value != value ? L"nan" : (value < 0 ? L"-inf" : L"inf");
    }
    const bool negative = std::signbit(value) && value != 0;
    const double magnitude = std::fabs(value);
    const int length = std::snprintf(nullptr, 0, "%f", magnitude);
    if (length <= 0) return L"";
    std::vector<char> buffer(static_cast<size_t>(length) + 1);
    std::snprintf(buffer.data(), buffer.size(), "%f", magnitude);
    const std::string printed(buffer.data(), static_cast<size_t>(length));

    const size_t point = printed.rfind('.');
    const std::string digits = printed.substr(0, point);
    std::string fraction = point == std::string::npos ? std::string() : printed.substr(point);
    if (decimals == 0 || fraction.empty()) {
        fraction.clear();
    } else if (decimals < fraction.size() - 1) {
        fraction.resize(static_cast<size_t>(decimals) + 1);
    }
    std::string text = (negative ? "-" : "") + groupDigits(digits) + fraction;
    return std::wstring(text.begin(), text.end());  // ASCII only
}

size_t replaceAllW(std::wstring& text, std::wstring_view searched, std::wstring_view replacement) {
    return replaceAllIn(text, searched, replacement);
}

size_t replaceAll(std::string& text, std::string_view searched, std::string_view replacement) {
    return replaceAllIn(text, searched, replacement);
}

std::string wrapTextLines(std::string_view text) {
    std::string out;
    size_t column = 0;
    size_t i = 0;
    while (i < text.size()) {
        bool skipped = false;
        while (i < text.size() && isWrapSpace(text[i])) {
            ++i;
            skipped = true;
        }
        if (i == text.size()) break;
        size_t run = 0;
        while (i + run < text.size() && isWordChar(text[i + run])) ++run;
        // Only the start of a word may move to a new line; inside a word the
        // rest of it shrinks as the column grows, so a word longer than a
        // line would otherwise be cut into single letters.
        const bool insideWord = !skipped && i > 0 && run > 0 && isWordChar(text[i - 1]);
        // The blank between words takes a column too, so no line grows
        // past 72 characters unless one word alone is longer.
        const size_t blank = skipped ? 1 : 0;
        if (run + column + blank > kWrapColumns && !insideWord) {
            out += "\r\n";
            column = 0;
        } else if (skipped) {
            out += ' ';
            ++column;
        }
        out += text[i];
        ++column;
        ++i;
    }
    return out;
}

int64_t steadyClockMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void sleepMs(uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
