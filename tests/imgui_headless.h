#pragma once
// Headless Dear ImGui for tests: a context without renderer, frames drawn by a
// callback, and mouse clicks as hover, press and release frames.
#include <imgui.h>
#include <imgui_internal.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <vector>

class HeadlessImGui {
public:
    HeadlessImGui() {
        context_ = ImGui::CreateContext();
        ImGuiIO& io = ImGui::GetIO();
        io.DisplaySize = ImVec2(800, 600);
        io.IniFilename = nullptr;
        io.DeltaTime = 1.0f / 60.0f;
        unsigned char* pixels = nullptr;
        int width = 0;
        int height = 0;
        io.Fonts->GetTexDataAsRGBA32(&pixels, &width, &height);
        // Keys are their own indices in KeysDown[].
        for (int key = 0; key < ImGuiKey_COUNT; ++key) io.KeyMap[key] = key;
    }
    ~HeadlessImGui() { ImGui::DestroyContext(context_); }
    HeadlessImGui(const HeadlessImGui&) = delete;
    HeadlessImGui& operator=(const HeadlessImGui&) = delete;

    // One frame with the mouse at `pos`, the left button held when `down`.
    void frame(const std::function<void()>& draw, ImVec2 pos = ImVec2(-1000, -1000), bool down = false) {
        ImGuiIO& io = ImGui::GetIO();
        io.MousePos = pos;
        io.MouseDown[0] = down;
        ImGui::NewFrame();
        draw();
        ImGui::Render();
    }

    // Hover, press and release at `pos`; `draw` runs in each of the three frames.
    void click(const std::function<void()>& draw, ImVec2 pos) {
        frame(draw, pos, false);
        frame(draw, pos, true);
        frame(draw, pos, false);
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

    // The window whose own name (after the last "/" of a child's name) starts with `name`.
    static ImGuiWindow* findWindow(const char* name) {
        for (ImGuiWindow* window : GImGui->Windows) {
            const char* own = std::strrchr(window->Name, '/');
            own = own ? own + 1 : window->Name;
            if (std::strncmp(own, name, std::strlen(name)) == 0) return window;
        }
        return nullptr;
    }

private:
    ImGuiContext* context_ = nullptr;
};
