#include "engine/thread_registry.h"

#include <array>
#include <atomic>
#include <chrono>
#include <exception>
#include <thread>

#include "foundation/app_log.h"
#include "foundation/text_format.h"
#include "platform/text.h"

std::map<std::string, ThreadStateEntry> threadStateMap;
std::mutex threadStateMutex;

namespace {

constexpr int64_t kTicksPerMs = 10000;

std::atomic<EngineClock> g_clock{nullptr};
std::atomic<bool> g_applicationRunning{true};
std::array<std::atomic<bool>, 4> g_operations{};

std::mutex g_watchListMutex;
bool g_watchListChanged = false;

// Never destroyed: a detached thread may still end after main returned.
struct EngineThreadCount {
    std::mutex mutex;
    size_t live = 0;
};
EngineThreadCount& engineThreadCount() {
    static EngineThreadCount* count = new EngineThreadCount;
    return *count;
}

void addLiveThread(int delta) {
    EngineThreadCount& count = engineThreadCount();
    std::lock_guard<std::mutex> lock(count.mutex);
    count.live += delta;
}

void runEngineThreadBody(const std::function<void()>& body) {
    try {
        body();
    } catch (const std::exception& error) {
        appendAppLogEntry(L"Critical! - worker ended: " + utf8ToWide(error.what()), 8, false);
    } catch (...) {
        appendAppLogEntry(L"Critical! - worker ended by an unknown error", 8, false);
    }
    addLiveThread(-1);
}

}  // namespace

const char* threadStateText(int32_t state) {
    switch (state) {
        case kThreadStopped: return "Stopped";
        case kThreadRunning: return "Running";
        case kThreadError: return "Error";
        case kThreadPaused: return "Paused";
        default: return "Unknown";
    }
}

bool getThreadState(const std::string& name, uint64_t pingIntervalMs, uint64_t timeoutMs) {
    const int64_t now = engineNowTicks();
    std::lock_guard<std::mutex> lock(threadStateMutex);
    auto found = threadStateMap.find(name);
    if (found == threadStateMap.end()) {
        if (pingIntervalMs == 0 || timeoutMs == 0) return false;
        ThreadStateEntry entry;
        entry.lastPing = entry.start = now;
        entry.pingInterval = pingIntervalMs;
        entry.timeout = timeoutMs;
        threadStateMap.emplace(name, entry);
        return true;
    }
    ThreadStateEntry& entry = found->second;
    if (entry.state == kThreadStopped) entry.state = kThreadRunning;
    if (entry.state != kThreadRunning) return false;
    const int64_t gapMs = (now - entry.lastPing) / kTicksPerMs;
    entry.pingSumMs += gapMs > 0 ? static_cast<uint64_t>(gapMs) : 0;
    entry.pingCount += 1;
    entry.pingAverageMs = entry.pingSumMs / entry.pingCount;
    entry.lastPing = now;
    return true;
}

bool setThreadState(const std::string& name, int32_t state) {
    const int64_t now = engineNowTicks();
    std::lock_guard<std::mutex> lock(threadStateMutex);
    auto found = threadStateMap.find(name);
    if (found == threadStateMap.end()) return false;
    ThreadStateEntry& entry = found->second;
    if (entry.state != kThreadStopped && entry.state != kThreadRunning && entry.state != kThreadPaused) return false;
    entry.state = state;
    if (state == kThreadRunning) entry.lastPing = entry.start = now;
    return true;
}

void clearThreadStates() {
    std::lock_guard<std::mutex> lock(threadStateMutex);
    threadStateMap.clear();
}

void setEngineClock(EngineClock clock) { g_clock.store(clock); }

int64_t engineNowTicks() {
    const EngineClock clock = g_clock.load();
    return clock ? clock() : currentTimeTicks();
}

bool isApplicationRunning() { return g_applicationRunning.load(); }
void setApplicationRunning(bool running) { g_applicationRunning.store(running); }

void setOperationInProgress(EngineOperation operation, bool active) {
    g_operations[static_cast<size_t>(operation)].store(active);
}

bool isAnyOperationInProgress() {
    for (const auto& flag : g_operations) {
        if (flag.load()) return true;
    }
    return false;
}

void setWatchListChanged(bool changed) {
    std::lock_guard<std::mutex> lock(g_watchListMutex);
    g_watchListChanged = changed;
}

bool isWatchListChanged() {
    std::lock_guard<std::mutex> lock(g_watchListMutex);
    return g_watchListChanged;
}

bool takeWatchListChanged() {
    std::lock_guard<std::mutex> lock(g_watchListMutex);
    const bool was = g_watchListChanged;
    g_watchListChanged = false;
    return was;
}

void startEngineThread(std::function<void()> body) {
    addLiveThread(1);
    try {
        std::thread([body = std::move(body)] { runEngineThreadBody(body); }).detach();
    } catch (...) {
        addLiveThread(-1);
        throw;
    }
}

size_t liveEngineThreadCount() {
    EngineThreadCount& count = engineThreadCount();
    std::lock_guard<std::mutex> lock(count.mutex);
    return count.live;
}

// Polls instead of a timed condition wait: the sanitizer build's interceptors
// crash in the timed wait of this toolchain, and a 2 ms poll costs nothing here.
bool waitForEngineThreads(uint32_t timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (liveEngineThreadCount() != 0) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}
