#include "shell/window.h"

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "engine/engine_hooks.h"
#include "platform/display_loss.h"
#include "platform/signals.h"
#include "platform/window_sdl.h"
#include "shell/autostart.h"
#include "shell/bitmap.h"
#include "shell/graphics.h"
#include "shell/shell_state.h"
#include "shell/tray.h"
#include "foundation/text_format.h"

int64_t resizeSettleMs = 125;

namespace {
std::atomic<bool> g_exitRequested{false};
std::atomic<bool> g_quitRequested{false};
std::atomic<bool> g_inputSeen{false};

std::mutex g_resizeMutex;
bool g_resizePending = false;
int64_t g_resizeDeadlineMs = 0;

constexpr int kDefaultWidth = 1280;
constexpr int kDefaultHeight = 800;

unsigned shownFlags(bool checked) {
    return kTrayVisible | kTrayEnabled | (checked ? kTrayChecked : 0);
}

void updateWindowEntries(bool shown) {
    setTrayMenuItem(kTrayShowUI, shownFlags(shown), "Show UI");
    setTrayMenuItem(kTrayTools, kTrayEnabled | (shown ? kTrayVisible : 0), "Tools");
}

// The pending state the menu shows: -1 before the first publication.
std::atomic<int> g_menuPending{-1};

// Returns true when the entry changed.
bool updateNotificationEntry() {
    const bool pending = shellHasPendingNotifications();
    setTrayMenuItem(kTrayNewNotifications, kTrayEnabled | (pending ? kTrayVisible : 0),
                    "** You Have New Notifications **");
    return g_menuPending.exchange(pending ? 1 : 0) != (pending ? 1 : 0);
}

// The "new notifications" entry follows the log, not only the menu's use.
void followPendingNotifications() {
    if (trayIconAdded() && updateNotificationEntry()) startTrayIcon(false);
}

// Start at log-on follows the file on disk; a failed write is reported and
// the check mark keeps showing the real state.
void toggleStartAtLogOn() {
    const bool wanted = !startAtLogOnEnabled();
    std::string error;
    if (!setStartAtLogOn(wanted, shellExecutablePath(), error))
        shellLogEntry("Critical! - Unable to change start at log-on: " + error, 8);
    const bool on = startAtLogOnEnabled();
    setShellStartAtLogOn(on);
    setTrayMenuItem(kTrayStartAtLogOn, shownFlags(on), "Start When User Logs On");
}

// Without a tray icon a hidden window could not be brought back: closing
// then ends the program (with all its saves).
void onWindowClose() {
    if (g_exitRequested.load() || !trayIconShown()) {
        g_exitRequested.store(true);
        destroyMainWindow();
        return;
    }
    showMainWindow(false);
    startTrayIcon(false);
}

void handleWindowEvent(const WindowEvent& event) {
    g_inputSeen.store(true);
    forwardEventToImGui(event.raw);
    switch (event.kind) {
        case WindowEventKind::close: onWindowClose(); break;
        case WindowEventKind::resized:
            if (graphicsActive()) noteWindowResized(steadyClockMs());
            break;
        case WindowEventKind::trayCommand: runTrayCommand(event.trayCommand); break;
        case WindowEventKind::quit: endSessionNow(); break;
        default: break;
    }
}
}  // namespace

bool registerWindowClass() {
    // An X server regenerates when its last client leaves and drops the
    // connections made meanwhile; one still starting takes none: the display
    // is asked again, about fifty times over the display wait, before the
    // start gives up.
    const uint32_t waitMs = shellDisplayWaitMs();
    const int64_t deadline = steadyClockMs() + waitMs;
    WindowSystemStart start;
    while ((start = initWindowSystem()) == WindowSystemStart::displayNotOpened && steadyClockMs() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(waitMs / 50 + 1));
    return start == WindowSystemStart::started;
}

bool initInstance() {
    // Smaller, "Main Menu" would be cut off without a scroll bar.
    if (!createMainSdlWindow(kWindowTitle, kDefaultWidth, kDefaultHeight, kMainMenuMinimumWidth, kMainMenuMinimumHeight))
        return false;
    DecodedBitmap icon;
    if (decodeBitmap24(loadAppResource("IDI_APP_ICON"), icon))
        setMainSdlWindowIcon(icon.rgba, icon.width, icon.height);
    showMainSdlWindow(false);
    return true;
}

void closeWindowSystem() { quitWindowSystem(); }

void showMainWindow(bool show) {
    setShellShowUI(show);
    showMainSdlWindow(show);
    updateWindowEntries(show);
}

bool pumpWindowEvents() {
    if ((shutdownSignalReceived() || displayLost()) && !g_quitRequested.load()) endSessionNow();
    WindowEvent event;
    while (pollWindowEvent(event)) handleWindowEvent(event);
    followPendingNotifications();
    return !g_quitRequested.load();
}

void runTrayCommand(int command) {
    updateNotificationEntry();
    switch (command) {
        case kTrayShowUI: showMainWindow(!shellShowUI()); break;
        case kTrayAbout: startShellVersionCheck(); [[fallthrough]];
        case kTrayNewNotifications:
        case kTrayQuestionPosted: showMainWindow(true); break;
        case kTrayTools: requestShellWizardsTab(); break;
        case kTrayStyles:
        case kTrayStyles + 1:
        case kTrayStyles + 2:
        case kTrayStyles + 3:
        case kTrayStyles + 4: setShellStyleIndex(command - kTrayStyles); break;
        case kTrayStartAtLogOn: toggleStartAtLogOn(); break;
        case kShowWindowCommand: showMainWindow(true); break;
        case kTrayExit:
            g_exitRequested.store(true);
            destroyMainWindow();
            return;
        default: break;
    }
    startTrayIcon(false);
}

void installQuestionWindowHook() {
    EngineHooks hooks = engineHooks();
    hooks.questionPosted = [] { postTrayCommandEvent(kTrayQuestionPosted); };
    setEngineHooks(hooks);
}

void destroyMainWindow() {
    stopShellEngine();
    g_quitRequested.store(true);
}

void endSessionNow() {
    shellLogEntry("Application closed due to windows shutdown!", 2);
    g_exitRequested.store(true);
    destroyMainWindow();
}

bool takeWindowInput() { return g_inputSeen.exchange(false); }

bool quitRequested() { return g_quitRequested.load(); }
bool exitRequested() { return g_exitRequested.load(); }

void noteWindowResized(int64_t nowMs) {
    std::lock_guard<std::mutex> guard(g_resizeMutex);
    g_resizePending = true;
    g_resizeDeadlineMs = nowMs + resizeSettleMs;
}

bool takeSettledResize(int64_t nowMs) {
    std::lock_guard<std::mutex> guard(g_resizeMutex);
    if (!g_resizePending || nowMs < g_resizeDeadlineMs) return false;
    g_resizePending = false;
    return true;
}


void resetWindowState() {
    g_exitRequested = false;
    g_quitRequested = false;
    g_menuPending = -1;
    std::lock_guard<std::mutex> guard(g_resizeMutex);
    g_resizePending = false;
    g_resizeDeadlineMs = 0;
}
