#include "shell/shell_state.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <mutex>

#include "engine/backup_data_tasks.h"
#include "engine/backup_scheduler.h"
#include "engine/restore_state.h"
#include "engine/thread_registry.h"
#include "foundation/app_config.h"
#include "foundation/app_log.h"
#include "foundation/data_files.h"
#include "foundation/file_helpers.h"
#include "foundation/global_defaults.h"
#include "foundation/styles.h"
#include "foundation/watch_folders.h"
#include "net/update_check.h"
#include "platform/paths.h"
#include "platform/text.h"

namespace {
std::atomic<bool> g_wizardsTab{false};
std::atomic<bool> g_firstRun{false};
std::atomic<int> g_versionChecks{0};

std::mutex g_pathMutex;
std::string g_executablePath;

std::string readOwnExecutable() {
    char buffer[4096];
    const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
}

// A setting the user changed must reach the configuration file.
template <typename Field, typename Value>
void changeSetting(Field AppSettings::*field, Value value) {
    {
        std::lock_guard<std::mutex> guard(appSettingsMutex);
        if (appSettings.*field == static_cast<Field>(value)) return;
        appSettings.*field = static_cast<Field>(value);
    }
    configurationSaved = false;
}
}  // namespace

bool shellShowUI() {
    std::lock_guard<std::mutex> guard(appSettingsMutex);
    return appSettings.showUI;
}
void setShellShowUI(bool show) { changeSetting(&AppSettings::showUI, show); }

// A configuration or command holding a number past the table means the last style.
int shellStyleIndex() {
    std::lock_guard<std::mutex> guard(appSettingsMutex);
    return static_cast<int>(std::min<uint32_t>(appSettings.uiStyle, kStyleCount - 1));
}
void setShellStyleIndex(int index) {
    if (index >= 0) changeSetting(&AppSettings::uiStyle, std::min(index, kStyleCount - 1));
}

bool shellStartAtLogOn() {
    std::lock_guard<std::mutex> guard(appSettingsMutex);
    return appSettings.startWithLogin;
}
void setShellStartAtLogOn(bool on) { changeSetting(&AppSettings::startWithLogin, on); }

std::vector<std::string> shellStyleNames() { return styleNames(); }

bool shellHasPendingNotifications() { return appLogPendingKinds() != 0; }

void shellLogEntry(const std::string& text, int kind) {
    appendAppLogEntry(utf8ToWide(text), static_cast<uint32_t>(kind), true);
}

bool shellEngineRunning() { return isApplicationRunning(); }
void stopShellEngine() { setApplicationRunning(false); }
bool waitForShellEngine() { return waitForEngineThreads(timings().shutdownGraceMs.load()); }
uint32_t shellDisplayWaitMs() { return timings().displayWaitMs.load(); }

bool shellFirstRun() { return g_firstRun.load(); }
void setShellFirstRun(bool firstRun) { g_firstRun.store(firstRun); }
void noteShellFirstRun() {
    const std::wstring configFile = joinPath(configurationFolderPath(), utf8ToWide(std::string(kConfigFileName)));
    g_firstRun.store(!isExistingFile(configFile));
}

bool shellTaskRunning() {
    return isAnyOperationInProgress() || isBackupRunning() || restoreActive.load() || deletionRunning.load();
}

void requestShellWizardsTab() { g_wizardsTab.store(true); }
bool takeShellWizardsTabRequest() { return g_wizardsTab.exchange(false); }

void startShellVersionCheck() {
    ++g_versionChecks;
    startAboutRefreshThread();  // the about window rebuilds its pages and shows itself
}
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
    {
        std::lock_guard<std::mutex> guard(appSettingsMutex);
        appSettings.showUI = false;
        appSettings.uiStyle = 0;
        appSettings.startWithLogin = false;
    }
    removeAppLogEntriesOfKind(0xFFFFFFFFu);
    setApplicationRunning(true);
    g_wizardsTab = false;
    g_firstRun = false;
    g_versionChecks = 0;
    std::lock_guard<std::mutex> guard(g_pathMutex);
    g_executablePath.clear();
}
