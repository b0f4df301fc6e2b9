#pragma once
// Headless Dear ImGui for tests: a context without renderer, frames drawn by a
// callback with a fixed delta time, mouse clicks as hover, press and release
// frames, typed text, held keys, buttons clicked by their table key, the text
// a frame drew, and the seams of the windows (clock, shell opener).
#include <imgui.h>
#include <imgui_internal.h>
#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "shell/buttons.h"
#include "shell/display_items.h"
#include "shell/fonts.h"
#include "shell/graphics.h"
#include "windows/program_windows.h"
#include "windows/window_jobs.h"

class HeadlessImGui {
public:
    // `projectFonts`: the program's own font atlas (Tahoma, Arial and the
    // symbol fonts) instead of the library's default font.
    explicit HeadlessImGui(ImVec2 displaySize = ImVec2(800, 600), bool projectFonts = false) {
        registerProgramWindows();  // as the program's main does
        context_ = ImGui::CreateContext();
        ImGuiIO& io = ImGui::GetIO();
        io.DisplaySize = displaySize;
        io.IniFilename = nullptr;
        io.DeltaTime = 1.0f / 60.0f;
        if (projectFonts) addApplicationFonts();
        unsigned char* pixels = nullptr;
        int width = 0;
        int height = 0;
        io.Fonts->GetTexDataAsRGBA32(&pixels, &width, &height);
        // Keys are their own indices in KeysDown[].
        for (int key = 0; key < ImGuiKey_COUNT; ++key) io.KeyMap[key] = key;
    }
    ~HeadlessImGui() {
        ImGui::DestroyContext(context_);
        fontTahoma16 = fontArial16 = fontArial12 = nullptr;  // they lived in this context's atlas
    }
    HeadlessImGui(const HeadlessImGui&) = delete;
    HeadlessImGui& operator=(const HeadlessImGui&) = delete;

    static void setDisplaySize(ImVec2 size) { ImGui::GetIO().DisplaySize = size; }

    // One frame with the mouse at `pos`, the left (or right) button held when `down`.
    void frame(const std::function<void()>& draw, ImVec2 pos = ImVec2(-1000, -1000), bool down = false,
               int button = 0) {
        ImGuiIO& io = ImGui::GetIO();
        io.MousePos = pos;
        for (bool& b : io.MouseDown) b = false;
        io.MouseDown[button] = down;
        ImGui::NewFrame();
        draw();
        ImGui::Render();
    }

    // Hover, press and release at `pos`; `draw` runs in each of the three frames.
    void click(const std::function<void()>& draw, ImVec2 pos, int button = 0) {
        frame(draw, pos, false, button);
        frame(draw, pos, true, button);
        frame(draw, pos, false, button);
        frame(draw);  // the mouse leaves
    }

    // Hover, press, release, press and release at `pos`: a double click.
    void doubleClick(const std::function<void()>& draw, ImVec2 pos) {
        frame(draw, pos, false);
        frame(draw, pos, true);
        frame(draw, pos, false);
        frame(draw, pos, true);
        frame(draw, pos, false);
        frame(draw);
    }

    // Text typed into the focused field (one frame).
    void type(const std::function<void()>& draw, const char* utf8) {
        ImGui::GetIO().AddInputCharactersUTF8(utf8);
        frame(draw);
    }

    // A key pressed in one frame and released in the next, with Ctrl held when `ctrl`.
    void pressKey(const std::function<void()>& draw, ImGuiKey key, bool ctrl = false) {
        ImGuiIO& io = ImGui::GetIO();
        io.KeyCtrl = ctrl;
        io.KeysDown[io.KeyMap[key]] = true;
        frame(draw);
        io.KeysDown[io.KeyMap[key]] = false;
        io.KeyCtrl = false;
        frame(draw);
    }

    // Clicks the button a button row drew for `key` in the last frame (after
    // one frame that draws it); false when the row did not draw it.
    bool clickButton(const std::function<void()>& draw, const std::string& key) {
        frame(draw);
        ButtonRect rect;
        if (!lastButtonRect(key, rect) || rect.frame != ImGui::GetFrameCount()) return false;
        click(draw, ImVec2((rect.minX + rect.maxX) / 2, (rect.minY + rect.maxY) / 2));
        return true;
    }

    // Holds Ctrl and Shift with the given letters (or releases all: empty).
    static void holdShortcut(const std::string& letters) {
        ImGuiIO& io = ImGui::GetIO();
        for (bool& key : io.KeysDown) key = false;
        io.KeyCtrl = io.KeyShift = !letters.empty();
        for (char c : letters) io.KeysDown[letterKeyIndex(c)] = true;
    }

    // The text that one frame drew into the first top-level window it began
    // (with its child regions), lines as the library's log writes them. The
    // library ends a log at the end of a top-level window and hands it to the
    // clipboard, so the clipboard function collects it.
    std::string frameText(const std::function<void()>& draw) {
        ImGuiIO& io = ImGui::GetIO();
        static std::string captured;
        captured.clear();
        auto* const savedSet = io.SetClipboardTextFn;
        io.SetClipboardTextFn = [](void*, const char* text) { captured += text; };
        io.MousePos = ImVec2(-1000, -1000);
        for (bool& b : io.MouseDown) b = false;
        ImGui::NewFrame();
        ImGui::LogToClipboard();
        draw();
        if (GImGui->LogEnabled) ImGui::LogFinish();
        ImGui::Render();
        io.SetClipboardTextFn = savedSet;
        return captured;
    }

    // The centres of the hoverable items met on the way from `from` to `to`,
    // in order, found by moving the mouse in steps of 2 pixels.
    std::vector<ImVec2> findItems(const std::function<void()>& draw, ImVec2 from, ImVec2 to) {
        std::vector<ImVec2> centres;
        const float length = std::max(std::fabs(to.x - from.x), std::fabs(to.y - from.y));
        const int steps = static_cast<int>(length / 2) + 1;
        ImGuiID current = 0;
        ImVec2 start;
        ImVec2 last;
        for (int i = 0; i <= steps; ++i) {
            const float t = i < steps ? static_cast<float>(i) / steps : 1.0f;
            const ImVec2 pos(from.x + (to.x - from.x) * t, from.y + (to.y - from.y) * t);
            ImGuiID id = 0;
            if (i < steps) {
                frame(draw, pos);
                id = GImGui->HoveredId;
            }
            if (id != current) {
                if (current != 0) centres.push_back(ImVec2((start.x + last.x) / 2, (start.y + last.y) / 2));
                current = id;
                start = pos;
            }
            last = pos;
        }
        frame(draw);
        return centres;
    }

    // The items down the left edge of a window's visible area (rows of a list).
    std::vector<ImVec2> itemsDown(const std::function<void()>& draw, const ImGuiWindow* window, float inset = 12) {
        if (!window) return {};
        const float x = window->Pos.x + inset;
        return findItems(draw, ImVec2(x, window->Pos.y + 1), ImVec2(x, window->Pos.y + window->Size.y - 1));
    }

    // The window whose own name (after the last "/" of a child's name) starts with `name`.
    static ImGuiWindow* findWindow(const char* name) {
        for (ImGuiWindow* window : GImGui->Windows) {
            const char* own = std::strrchr(window->Name, '/');
            own = own ? own + 1 : window->Name;
            if (std::strncmp(own, name, std::strlen(name)) == 0) return window;
        }
        return nullptr;
    }

    // The first child window of `parent` (a list box, a child region).
    static ImGuiWindow* firstChildOf(const ImGuiWindow* parent) {
        for (ImGuiWindow* window : GImGui->Windows)
            if (window->ParentWindow == parent && (window->Flags & ImGuiWindowFlags_ChildWindow) && window->Active)
                return window;
        return nullptr;
    }

private:
    ImGuiContext* context_ = nullptr;
};

// Where the main window's tab bar drew the tab `label`; false when it did not.
inline bool tabCentre(const char* label, ImVec2& centre) {
    ImGuiContext& g = *GImGui;
    for (int i = 0; i < g.TabBars.GetMapSize(); ++i) {
        ImGuiTabBar* bar = g.TabBars.TryGetMapData(i);
        if (!bar) continue;
        for (ImGuiTabItem& tab : bar->Tabs) {
            if (std::strcmp(bar->TabsNames.c_str() + tab.NameOffset, label) != 0) continue;
            if (tab.LastFrameVisible != g.FrameCount) return false;
            centre = ImVec2(bar->BarRect.Min.x + tab.Offset + tab.Width / 2,
                            (bar->BarRect.Min.y + bar->BarRect.Max.y) / 2);
            return true;
        }
    }
    return false;
}

// The display items as the main loop draws them.
inline void drawItemsFrame() {
    copyDisplayItemOpenFlags();
    drawDisplayItems();
}

// The windows' clock, moved by the test.
inline std::atomic<int64_t> fakeWindowMs{1000};
inline int64_t readFakeWindowClock() { return fakeWindowMs.load(); }

// What the windows asked the shell to open.
inline std::mutex openedTargetsMutex;
inline std::vector<std::wstring> openedTargets;
inline bool recordOpenedTarget(const std::wstring& target) {
    std::lock_guard<std::mutex> lock(openedTargetsMutex);
    openedTargets.push_back(target);
    return true;
}
inline std::vector<std::wstring> openedTargetsSnapshot() {
    std::lock_guard<std::mutex> lock(openedTargetsMutex);
    return openedTargets;
}

// Puts the window seams in: the fake clock and the recording opener.
inline void installWindowSeams() {
    fakeWindowMs = 1000;
    setWindowClock(readFakeWindowClock);
    {
        std::lock_guard<std::mutex> lock(openedTargetsMutex);
        openedTargets.clear();
    }
    setShellOpener(recordOpenedTarget);
}
