#include "foundation/foreground_history.h"

#include <mutex>

namespace {
std::mutex g_historyMutex;
ForegroundHistory g_history;
}  // namespace

void recordForegroundApplication(int64_t ticks, const std::wstring& imagePath, uint32_t processId) {
    std::lock_guard<std::mutex> lock(g_historyMutex);
    for (auto it = g_history.begin(); it != g_history.end(); ++it) {
        if (it->second.imagePath != imagePath) continue;
        g_history.erase(it);
        break;
    }
    g_history.try_emplace(ticks, ForegroundEntry{imagePath, processId});
}

bool foregroundApplicationAt(int64_t ticks, ForegroundEntry& entry) {
    std::lock_guard<std::mutex> lock(g_historyMutex);
    if (g_history.empty()) return false;
    auto after = g_history.upper_bound(ticks);
    entry = after == g_history.begin() ? after->second : std::prev(after)->second;
    return true;
}

std::wstring newestForegroundApplication() {
    std::lock_guard<std::mutex> lock(g_historyMutex);
    return g_history.empty() ? std::wstring() : g_history.rbegin()->second.imagePath;
}

ForegroundHistory foregroundHistorySnapshot() {
    std::lock_guard<std::mutex> lock(g_historyMutex);
    return g_history;
}

void clearForegroundHistory() {
    std::lock_guard<std::mutex> lock(g_historyMutex);
    g_history.clear();
}
