#include "windows/window_jobs.h"

#include "engine/smart_lists.h"
#include "engine/thread_registry.h"
#include "foundation/app_log.h"
#include "foundation/global_defaults.h"
#include "foundation/text_format.h"
#include "platform/shell_open.h"

namespace {
int64_t realWindowClock() { return steadyClockMs() - processStartSteadyMs(); }

std::atomic<WindowClock> g_clock{realWindowClock};
std::atomic<ShellOpener> g_opener{nullptr};
std::atomic<bool> g_restoreJobRunning{false};
std::atomic<bool> g_restoreListReady{false};

bool desktopOpener(const std::wstring& target) {
    if (target.rfind(L"mailto:", 0) == 0) return openMailWithDesktop(target);
    return openWithShell(target);
}

// Clears "restore job running" when the job leaves, by any path.
struct RestoreJobEnd {
    ~RestoreJobEnd() { g_restoreJobRunning.store(false); }
};

void runRestoreListJob(const std::wstring& folderKey) {
    RestoreJobEnd end;
    restoreListBuildJob(folderKey);
    if (restoreListBuildResult.load() == 1) g_restoreListReady.store(true);
}
}  // namespace

void setWindowClock(WindowClock clock) { g_clock.store(clock ? clock : realWindowClock); }
int64_t windowClockMs() { return g_clock.load()(); }

void setShellOpener(ShellOpener opener) { g_opener.store(opener); }

bool openWithShellOpener(const std::wstring& target) {
    const ShellOpener opener = g_opener.load();
    return (opener ? opener : desktopOpener)(target);
}

void startShellOpen(const std::wstring& target, std::function<void()> onOpened) {
    startEngineThread([target, onOpened = std::move(onOpened)] {
        if (!openWithShellOpener(target))
            appendAppLogEntry(L"Unable to open: " + target, 4, true);
        else if (onOpened)
            onOpened();
    });
}

void startRestoreListJob(const std::wstring& folderKey) {
    g_restoreJobRunning.store(true);
    g_restoreListReady.store(false);
    try {
        startEngineThread([folderKey] { runRestoreListJob(folderKey); });
    } catch (...) {
        g_restoreJobRunning.store(false);
        appendAppLogEntry(L"Critical! - Unable to start the restore job", 8, true);
    }
}

bool isRestoreJobRunning() { return g_restoreJobRunning.load(); }
bool takeRestoreListReady() { return g_restoreListReady.exchange(false); }

void resetWindowJobs() {
    g_clock.store(realWindowClock);
    g_opener.store(nullptr);
    g_restoreJobRunning.store(false);
    g_restoreListReady.store(false);
}
