#include "foundation/app_log.h"

#include <filesystem>
#include <fstream>
#include <iomanip>
#include <map>
#include <mutex>
#include <sstream>

#include "foundation/text_format.h"
#include "platform/text.h"

namespace {

struct AppLog {
    std::mutex mutex;
    std::map<std::wstring, AppLogEntry> entries;
    uint32_t pendingKinds = 0;
    bool changed = false;
};

AppLog& appLog() {
    static AppLog* log = new AppLog;  // never destroyed: detached threads may log late
    return *log;
}

// Caller holds the log mutex.
uint32_t pendingKindsOf(const std::map<std::wstring, AppLogEntry>& entries) {
    uint32_t mask = 0;
    for (const auto& [key, entry] : entries) {
        if (!entry.confirmed) mask |= entry.kind;
    }
    return mask;
}

// Caller holds the log mutex. Recomputes the mask; the changed flag tells
// whether it moved.
void settleMask(AppLog& log) {
    const uint32_t before = log.pendingKinds;
    log.pendingKinds = pendingKindsOf(log.entries);
    log.changed = log.pendingKinds != before;
}

template <typename Keep>
void eraseUnless(AppLog& log, Keep keep) {
    for (auto it = log.entries.begin(); it != log.entries.end();) {
        it = keep(it->second) ? std::next(it) : log.entries.erase(it);
    }
}

struct TraceLog {
    std::mutex mutex;
    std::string path;
    int64_t referenceTicks = 0;
    bool anchor = true;
};

TraceLog& traceLog() {
    static TraceLog* trace = new TraceLog;
    return *trace;
}

// "HH:MM:SS." and the elapsed milliseconds zero-filled to 8 digits without
// their first 5 (three digits below 100,000,000 ms, then more).
std::string elapsedText(int64_t elapsedMs) {
    std::ostringstream count;
    count << std::setfill('0') << std::setw(8) << elapsedMs;
    return wideToUtf8(formatDurationMs(static_cast<uint64_t>(elapsedMs))) + "." + count.str().substr(5);
}

constexpr char32_t kEscapeMark = 0x1F;

template <typename Char>
std::basic_string<Char> escaped(std::basic_string_view<Char> text) {
    std::basic_string<Char> out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        out += text[i];
        const bool markNext = i + 1 < text.size() && (text[i + 1] == Char('|') || text[i + 1] == Char(kEscapeMark));
        if (text[i] == Char('[') && markNext) out += Char(kEscapeMark);
    }
    return out;
}

void appendMarkup(std::wstring text, uint32_t kind, bool refresh, int64_t nowTicks) {
    const std::wstring prefix = formatTimestamp(nowTicks, true) + L" " + text;
    AppLog& log = appLog();
    std::lock_guard lock(log.mutex);
    const uint32_t maskBefore = log.pendingKinds;
    std::wstring key = prefix + L"    ";
    auto found = log.entries.find(key);
    if (found != log.entries.end() && refresh) {
        found->second.confirmed = 0;
        found->second.time = nowTicks;
        found->second.kind = kind;
    } else {
        for (size_t blanks = 1; found != log.entries.end(); ++blanks) {
            key = prefix + std::wstring(blanks, L' ');
            found = log.entries.find(key);
        }
        log.entries.emplace(key, AppLogEntry{key, nowTicks, kind, 0});
        log.changed = true;
    }
    log.pendingKinds = pendingKindsOf(log.entries);
    // A refreshed entry that becomes pending again is news as well.
    if (log.pendingKinds != maskBefore) log.changed = true;
}

}  // namespace

std::string escapeLogText(std::string_view text) { return escaped(text); }
std::wstring escapeLogText(std::wstring_view text) { return escaped(text); }

std::string unescapeLogText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        out += text[i];
        if (text[i] == '[' && i + 1 < text.size() && text[i + 1] == static_cast<char>(kEscapeMark)) ++i;
    }
    return out;
}

void appendAppLogEntry(std::wstring text, uint32_t kind, bool refresh) {
    appendMarkup(escapeLogText(text), kind, refresh, currentTimeTicks());
}

void appendAppLogEntryAt(std::wstring text, uint32_t kind, bool refresh, int64_t nowTicks) {
    appendMarkup(escapeLogText(text), kind, refresh, nowTicks);
}

void appendAppLogMarkup(std::wstring markup, uint32_t kind, bool refresh) {
    appendMarkup(std::move(markup), kind, refresh, currentTimeTicks());
}

void removeConfirmedAppLogEntries() {
    AppLog& log = appLog();
    std::lock_guard lock(log.mutex);
    eraseUnless(log, [](const AppLogEntry& e) { return !e.confirmed; });
    settleMask(log);
}

void removeAppLogEntriesOfKind(uint32_t kindMask) {
    AppLog& log = appLog();
    std::lock_guard lock(log.mutex);
    eraseUnless(log, [kindMask](const AppLogEntry& e) { return (e.kind & kindMask) == 0; });
    settleMask(log);
}

bool setAppLogEntryConfirmed(const std::wstring& key, bool confirmed) {
    AppLog& log = appLog();
    std::lock_guard lock(log.mutex);
    auto it = log.entries.find(key);
    if (it == log.entries.end()) return false;
    it->second.confirmed = confirmed ? 1 : 0;
    // A tick is not final: the pending kinds (the Notifications tab, its
    // trees, the tray item) change only when entries are added or removed,
    // so the user can tick on to the confirm button or take a tick back.
    if (!confirmed) log.pendingKinds |= it->second.kind;
    return true;
}

void replaceAppLogEntries(const std::vector<AppLogEntry>& entries) {
    AppLog& log = appLog();
    std::lock_guard lock(log.mutex);
    log.entries.clear();
    for (const AppLogEntry& e : entries) log.entries.insert_or_assign(e.key, e);
    settleMask(log);
}

void mergeAppLogEntries(const std::vector<AppLogEntry>& entries) {
    AppLog& log = appLog();
    std::lock_guard lock(log.mutex);
    for (const AppLogEntry& e : entries) log.entries.emplace(e.key, e);
    settleMask(log);
}

AppLogState appLogSnapshot() {
    AppLog& log = appLog();
    std::lock_guard lock(log.mutex);
    AppLogState state;
    state.entries.reserve(log.entries.size());
    for (const auto& [key, entry] : log.entries) state.entries.push_back(entry);
    state.pendingKinds = log.pendingKinds;
    state.changed = log.changed;
    return state;
}

uint32_t appLogPendingKinds() {
    AppLog& log = appLog();
    std::lock_guard lock(log.mutex);
    return log.pendingKinds;
}

bool appLogChanged() {
    AppLog& log = appLog();
    std::lock_guard lock(log.mutex);
    return log.changed;
}

void clearAppLogChanged() {
    AppLog& log = appLog();
    std::lock_guard lock(log.mutex);
    log.changed = false;
}

void writeLogLine(std::string text, std::string path) {
    writeLogLineAt(std::move(text), std::move(path), currentTimeTicks());
}

void writeLogLineAt(std::string text, std::string path, int64_t nowTicks) {
    TraceLog& trace = traceLog();
    std::lock_guard lock(trace.mutex);
    // An unexpanded placeholder leaves a relative path ("?/..."): never
    // write there, and let a later call still name the real file.
    if (trace.path.empty() && !path.empty() && path.front() == '/') {
        trace.path = std::move(path);
        trace.referenceTicks = nowTicks;
    }
    if (trace.path.empty()) return;
    if (trace.anchor) {
        trace.anchor = false;
        trace.referenceTicks = nowTicks;
        std::ofstream out(trace.path, std::ios::binary | std::ios::trunc);
        if (!out) return;
        out << "ANCHOR: " << wideToUtf8(formatTimestamp(nowTicks, true)) << "\n";
        out.close();
        std::error_code ignored;
        std::filesystem::permissions(trace.path,
                                     std::filesystem::perms::owner_read | std::filesystem::perms::owner_write,
                                     std::filesystem::perm_options::replace, ignored);
    }
    int64_t elapsedMs = (nowTicks - trace.referenceTicks) / 10'000;
    if (elapsedMs < 0) elapsedMs = 0;  // the clock was set back
    std::ofstream out(trace.path, std::ios::binary | std::ios::app);
    if (!out) return;
    out << elapsedText(elapsedMs) << ": " << text << "\n";
}
