#pragma once
// The main loop: takes the window events, keeps the graphics (GL context and
// Dear ImGui context) alive only while the window is shown, rebuilds them
// once a resize has settled, draws one frame of display items per pass and
// starts the periodic state check.
#include <cstdint>
#include <functional>

// Render states.
inline constexpr int kRenderOff = 0;
inline constexpr int kRenderOn = 1;
inline constexpr int kRenderRecreate = 3;

// Guarded by the UI-state mutex inside; read through renderStateSnapshot.
struct RenderState {
    int requested = kRenderOff;
    int current = kRenderOff;
    bool graphicsReady = false;  // frames are drawn only while set
    bool showSeen = false;       // lastShowUI holds a value
    bool lastShowUI = false;     // "ShowUI" at the last pass
    bool styleReapply = false;   // the main window applies its style again
};
RenderState renderStateSnapshot();
// Sets both states (start-up) or only the requested one.
void setRenderStates(int requested, int current);
void setRequestedRenderState(int requested);
// Returns the style-reapply flag and clears it.
bool takeStyleReapply();

// What the loop calls to drive the graphics; the real functions of
// shell/graphics.h unless a test puts others in.
struct MainLoopGraphics {
    bool (*setActive)(bool active);
    bool (*initBackends)();
    void (*newFrame)();
    void (*present)();
};
void setMainLoopGraphics(const MainLoopGraphics& graphics);
// Steady clock in milliseconds, and the pause of a hidden pass; tests inject
// both (nullptr restores the real ones).
using MainLoopClock = int64_t (*)();
using MainLoopSleep = void (*)(uint32_t ms);
void setMainLoopClock(MainLoopClock clock);
void setMainLoopSleep(MainLoopSleep sleep);

// Called at every change of the render state (the windows close the about
// window there); nullptr calls nothing.
void setRenderStateChangeHook(void (*hook)());

// A window showing something that moves with the clock (a blinking label)
// asks for a frame `ms` from now; idle frames come only once a second. Only
// the requests of the last frame count. Main thread (the draw functions).
void requestFrameIn(int64_t ms);

// One pass of the loop; false once the program is to end.
bool runMainLoopPass();
// Passes until the program is to end.
void runMainLoop();

// The state check run at start-up and every 12 hours while frames are
// drawn. Nothing is run until one is set.
inline constexpr int64_t kPeriodicCheckIntervalMs = 12LL * 60 * 60 * 1000;
void setApplicationStateCheck(std::function<void()> check);
void runApplicationStateCheck();
// Thread body: runs the check, then sets the next time 12 hours ahead.
void runPeriodicStateCheck();
// Joins a check still running (shut-down).
void waitForPeriodicStateCheck();
// Next check due at `dueMs` of the loop clock (0: at the next frame).
void setPeriodicCheckTime(int64_t dueMs);
int64_t periodicCheckTime();

// Back to the start values, the real graphics, clock and sleep (tests).
void resetMainLoop();
