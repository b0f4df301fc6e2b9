#include "shell/shell_state.h"

#include <unistd.h>

#include <atomic>
#include <mutex>

namespace {
std::atomic<bool> g_showUI{false};
std::atomic<int> g_styleIndex{0};
std::atomic<bool> g_startAtLogOn{false};
std::atomic<bool> g_pendingNotifications{false};
std::atomic<bool> g_engineRunning{true};
std::atomic<bool> g_wizardsTab{false};
std::atomic<int> g_versionChecks{0};

std::mutex g_logMutex;
std::vector<std::string> g_log;

std::mutex g_pathMutex;
std::string g_executablePath;

std::string readOwnExecutable() {
    char buffer[4096];
    const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
}
}  // namespace

bool shellShowUI() { return g_showUI.load(); }
void setShellShowUI(bool show) { g_showUI.store(show); }

int shellStyleIndex() { return g_styleIndex.load(); }
void setShellStyleIndex(int index) { g_styleIndex.store(index); }

bool shellStartAtLogOn() { return g_startAtLogOn.load(); }
void setShellStartAtLogOn(bool on) { g_startAtLogOn.store(on); }

std::vector<std::string> shellStyleNames() { return {"Dark", "Light", "Wicked", "Light 2"}; }

bool shellHasPendingNotifications() { return g_pendingNotifications.load(); }
void setShellPendingNotifications(bool pending) { g_pendingNotifications.store(pending); }

void shellLogEntry(const std::string& text, int kind) {
    std::lock_guard<std::mutex> guard(g_logMutex);
    g_log.push_back(std::to_string(kind) + " " + text);
}

std::vector<std::string> shellLogEntries() {
    std::lock_guard<std::mutex> guard(g_logMutex);
    return g_log;
}

bool shellEngineRunning() { return g_engineRunning.load(); }
void stopShellEngine() { g_engineRunning.store(false); }

void requestShellWizardsTab() { g_wizardsTab.store(true); }
bool takeShellWizardsTabRequest() { return g_wizardsTab.exchange(false); }

void startShellVersionCheck() { ++g_versionChecks; }
int shellVersionCheckCount() { return g_versionChecks.load(); }

std::string shellExecutablePath() {
    std::lock_guard<std::mutex> guard(g_pathMutex);
    if (g_executablePath.empty()) g_executablePath = readOwnExecutable();
    return g_executablePath;
}

void setShellExecutablePath(const std::string& path) {
    std::lock_guard<std::mutex> guard(g_pathMutex);
    g_executablePath = path;
}

void resetShellState() {
    g_showUI = false;
    g_styleIndex = 0;
    g_startAtLogOn = false;
    g_pendingNotifications = false;
    g_engineRunning = true;
    g_wizardsTab = false;
    g_versionChecks = 0;
    {
        std::lock_guard<std::mutex> guard(g_logMutex);
        g_log.clear();
    }
    std::lock_guard<std::mutex> guard(g_pathMutex);
    g_executablePath.clear();
}
