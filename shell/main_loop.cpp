#include "shell/main_loop.h"
#include "foundation/text_format.h"

#include <imgui.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "foundation/global_defaults.h"
#include "shell/display_items.h"
#include "shell/graphics.h"
#include "shell/mouse_input.h"
#include "shell/shell_state.h"
#include "shell/window.h"
#include "platform/window_sdl.h"

namespace {
std::mutex g_uiStateMutex;
RenderState g_render;

const MainLoopGraphics kRealGraphics{setGraphicsActive, initImGuiBackends, newGraphicsFrame,
                                     presentGraphicsFrame};
MainLoopGraphics g_graphics = kRealGraphics;
MainLoopClock g_clock = steadyClockMs;

// Waits, but wakes at once for a window event or a tray command.
void realSleep(uint32_t ms) { waitForWindowEvent(static_cast<int>(ms)); }
MainLoopSleep g_sleep = realSleep;

std::atomic<void (*)()> g_renderStateChangeHook{nullptr};

// Frame pacing: a frame is drawn only when something can have changed, and
// never more often than the display needs. Where the buffer swap does not
// wait for the display (software GL, virtual machines, remote X) drawing
// unpaced would take a whole core.
constexpr int64_t kInputFrameMs = 16;    // input and what follows it: about 60 a second
constexpr int64_t kTaskFrameMs = 100;    // a running task's progress: 10 a second
constexpr int64_t kIdleFrameMs = 1000;   // engine state shown without input: once a second
constexpr int kFramesAfterInput = 3;     // Dear ImGui settles hover and clicks over a few frames
int64_t g_lastFrameMs = INT64_MIN / 2;   // main thread only
int g_framesAfterInput = 0;
int64_t g_requestedFrameMs = INT64_MAX;  // main thread only: the earliest frame the last frame asked for

// Dear ImGui animates on its own while text is typed or a button is held.
bool imguiAnimating() {
    if (!ImGui::GetCurrentContext()) return false;
    const ImGuiIO& io = ImGui::GetIO();
    return io.WantTextInput || ImGui::IsAnyItemActive() || ImGui::IsAnyMouseDown();
}

int64_t frameInterval() {
    if (g_framesAfterInput > 0 || imguiAnimating()) return kInputFrameMs;
    return shellTaskRunning() ? kTaskFrameMs : kIdleFrameMs;
}

std::mutex g_checkMutex;
std::function<void()> g_stateCheck;
int64_t g_checkTimeMs = 0;
bool g_checkRunning = false;
// The check runs on a detached thread (no joinable thread object may outlive
// main); shut-down waits for this to signal that it ended.
std::condition_variable g_checkEnded;

bool deactivate(RenderState& r) {
    if (!g_graphics.setActive(false)) return false;
    r.current = kRenderOff;
    r.graphicsReady = false;
    return true;
}

bool activate(RenderState& r) {
    if (!g_graphics.setActive(true)) return false;
    r.current = kRenderOn;
    r.graphicsReady = true;
    g_graphics.initBackends();
    g_lastFrameMs = INT64_MIN / 2;  // new graphics: draw at once
    return true;
}

// Follows "ShowUI" and a settled resize into the requested state, then
// brings the current state there. Called with the UI-state mutex held.
void followRequestedState(RenderState& r, int64_t nowMs) {
    const bool show = shellShowUI();
    if (!r.showSeen || show != r.lastShowUI) {
        if (r.showSeen) r.requested = show ? kRenderOn : kRenderOff;
        r.showSeen = true;
        r.lastShowUI = show;
    }
    // A resize only matters to a window that stays shown.
    if (takeSettledResize(nowMs) && r.requested == kRenderOn && r.current == kRenderOn)
        r.requested = kRenderRecreate;
    if (r.requested == r.current) return;
    if (auto hook = g_renderStateChangeHook.load()) hook();
    if (r.requested == kRenderOff) {
        if (deactivate(r)) r.styleReapply = true;
    } else if (r.requested == kRenderOn) {
        activate(r);
    } else if (deactivate(r) && activate(r)) {
        r.requested = kRenderOn;
        r.styleReapply = true;
    }
}

void startPeriodicCheckWhenDue(int64_t nowMs) {
    std::lock_guard<std::mutex> guard(g_checkMutex);
    if (g_checkRunning || g_checkTimeMs >= nowMs) return;
    // Marked running here, so one due time starts one thread, not one per frame.
    g_checkRunning = true;
    std::thread(runPeriodicStateCheck).detach();
}

void drawFrame(int64_t nowMs) {
    g_requestedFrameMs = INT64_MAX;
    g_graphics.newFrame();
    copyDisplayItemOpenFlags();
    drawDisplayItems();
    ImGui::Render();
    startPeriodicCheckWhenDue(nowMs);
    g_graphics.present();
}
}  // namespace

RenderState renderStateSnapshot() {
    std::lock_guard<std::mutex> guard(g_uiStateMutex);
    return g_render;
}

void setRenderStates(int requested, int current) {
    std::lock_guard<std::mutex> guard(g_uiStateMutex);
    g_render.requested = requested;
    g_render.current = current;
}

void setRequestedRenderState(int requested) {
    std::lock_guard<std::mutex> guard(g_uiStateMutex);
    g_render.requested = requested;
}

bool takeStyleReapply() {
    std::lock_guard<std::mutex> guard(g_uiStateMutex);
    const bool reapply = g_render.styleReapply;
    g_render.styleReapply = false;
    return reapply;
}

void setMainLoopGraphics(const MainLoopGraphics& graphics) { g_graphics = graphics; }
void setMainLoopClock(MainLoopClock clock) { g_clock = clock ? clock : steadyClockMs; }
void setMainLoopSleep(MainLoopSleep sleep) { g_sleep = sleep ? sleep : realSleep; }

bool runMainLoopPass() {
    if (!pumpWindowEvents()) return false;
    const int64_t nowMs = g_clock();
    bool ready;
    {
        std::lock_guard<std::mutex> guard(g_uiStateMutex);
        const int before = g_render.current;
        followRequestedState(g_render, nowMs);
        if (g_render.current == kRenderOff && before != kRenderOff) return true;
        ready = g_render.graphicsReady;
    }
    if (!ready) {
        g_sleep(timings().pollMs.load());
        return true;
    }
    // Each waiting mouse change gets a frame of its own, and the frames
    // after input count from the last one.
    if (takeWindowInput() || mouseChangesWaiting()) g_framesAfterInput = kFramesAfterInput;
    const int64_t due = std::min(g_lastFrameMs + frameInterval(), g_requestedFrameMs);
    if (nowMs < due) {
        // Bounded, so signals and the periodic state check are seen in time.
        g_sleep(static_cast<uint32_t>(std::min<int64_t>(due - nowMs, timings().pollMs.load())));
        return true;
    }
    drawFrame(nowMs);
    g_lastFrameMs = nowMs;
    if (g_framesAfterInput > 0) --g_framesAfterInput;
    return true;
}

void runMainLoop() {
    while (runMainLoopPass()) {
    }
}

void setApplicationStateCheck(std::function<void()> check) {
    std::lock_guard<std::mutex> guard(g_checkMutex);
    g_stateCheck = std::move(check);
}

void runApplicationStateCheck() {
    std::function<void()> check;
    {
        std::lock_guard<std::mutex> guard(g_checkMutex);
        check = g_stateCheck;
    }
    if (check) check();
}

void runPeriodicStateCheck() {
    runApplicationStateCheck();
    {
        std::lock_guard<std::mutex> guard(g_checkMutex);
        g_checkRunning = false;
        g_checkTimeMs = g_clock() + kPeriodicCheckIntervalMs;
    }
    g_checkEnded.notify_all();
}

void waitForPeriodicStateCheck() {
    std::unique_lock<std::mutex> lock(g_checkMutex);
    g_checkEnded.wait_for(lock, std::chrono::milliseconds(timings().shutdownGraceMs.load()),
                          [] { return !g_checkRunning; });
}

void setPeriodicCheckTime(int64_t dueMs) {
    std::lock_guard<std::mutex> guard(g_checkMutex);
    g_checkTimeMs = dueMs;
}

int64_t periodicCheckTime() {
    std::lock_guard<std::mutex> guard(g_checkMutex);
    return g_checkTimeMs;
}

void setRenderStateChangeHook(void (*hook)()) { g_renderStateChangeHook.store(hook); }

void requestFrameIn(int64_t ms) { g_requestedFrameMs = std::min(g_requestedFrameMs, g_clock() + std::max<int64_t>(ms, 0)); }

void resetMainLoop() {
    waitForPeriodicStateCheck();
    {
        std::lock_guard<std::mutex> guard(g_checkMutex);
        g_stateCheck = nullptr;
        g_checkTimeMs = 0;
        g_checkRunning = false;
    }
    std::lock_guard<std::mutex> guard(g_uiStateMutex);
    g_render = RenderState{};
    g_lastFrameMs = INT64_MIN / 2;
    g_framesAfterInput = 0;
    g_requestedFrameMs = INT64_MAX;
    g_graphics = kRealGraphics;
    g_clock = steadyClockMs;
    g_sleep = realSleep;
}
