#include "shell/mouse_input.h"

#include <imgui.h>

#include <cfloat>
#include <deque>

namespace {
struct MouseState {
    float x = -FLT_MAX, y = -FLT_MAX;  // not over the window
    bool down[3] = {};
};

// Main thread only: events are noted and frames drawn there.
MouseState g_shown;                // what the last frame saw
std::deque<MouseState> g_waiting;  // oldest first
bool g_newestIsMove = false;       // the newest waiting state only moved the pointer
// A window that draws no frames (hidden, stalled) keeps only this many.
constexpr size_t kMostWaiting = 64;

const MouseState& newest() { return g_waiting.empty() ? g_shown : g_waiting.back(); }

void wait(const MouseState& state, bool isMove) {
    g_waiting.push_back(state);
    g_newestIsMove = isMove;
    while (g_waiting.size() > kMostWaiting) {
        g_shown = g_waiting.front();
        g_waiting.pop_front();
    }
}
}  // namespace

void noteMouseMove(float x, float y) {
    // Moves between two button changes need only their last place.
    if (!g_waiting.empty() && g_newestIsMove) {
        g_waiting.back().x = x;
        g_waiting.back().y = y;
        return;
    }
    MouseState moved = newest();
    moved.x = x;
    moved.y = y;
    wait(moved, true);
}

void noteMouseLeft() { noteMouseMove(-FLT_MAX, -FLT_MAX); }

void noteMouseButton(int button, bool down, float x, float y) {
    if (button < 0 || button > 2) return;
    // The pointer reaches the press's place a frame before the press.
    if (newest().x != x || newest().y != y) noteMouseMove(x, y);
    if (newest().down[button] == down) return;
    MouseState changed = newest();
    changed.down[button] = down;
    wait(changed, false);
}

void applyNextMouseState(ImGuiIO& io) {
    if (!g_waiting.empty()) {
        g_shown = g_waiting.front();
        g_waiting.pop_front();
    }
    io.MousePos = ImVec2(g_shown.x, g_shown.y);
    for (int button = 0; button < 3; ++button) io.MouseDown[button] = g_shown.down[button];
}

bool mouseChangesWaiting() { return !g_waiting.empty(); }

void resetMouseInput() {
    g_shown = MouseState();
    g_waiting.clear();
    g_newestIsMove = false;
}
