#include "windows/window_menu.h"

#include <imgui.h>

#include <algorithm>
#include <vector>

#include "shell/tray.h"

namespace {
constexpr const char* kMenuPopup = "##trayMenu";

void drawMenuLines(const std::vector<TrayMenuLine>& lines) {
    for (const TrayMenuLine& line : lines) {
        // The menu ends with a separator; "Show UI" would hide the window
        // with no icon to bring it back.
        if (line.separator || line.id == kTrayShowUI) {
            if (line.separator && &line != &lines.back()) ImGui::Separator();
            continue;
        }
        ImGui::PushID(line.id);
        if (line.children.empty()) {
            if (ImGui::MenuItem(line.label.c_str(), nullptr, line.checked, line.enabled)) chooseTrayCommand(line.id);
        } else if (ImGui::BeginMenu(line.label.c_str(), line.enabled)) {
            drawMenuLines(line.children);
            ImGui::EndMenu();
        }
        ImGui::PopID();
    }
}

// A small button at the right end of the current window's title bar, clear
// of its rounded corner; true when clicked.
bool titleBarButton(const char* label) {
    const ImGuiStyle& style = ImGui::GetStyle();
    const ImVec2 at = ImGui::GetWindowPos();
    const ImVec2 titleEnd(at.x + ImGui::GetWindowWidth(), at.y + ImGui::GetFontSize() + style.FramePadding.y * 2);
    const float width = ImGui::CalcTextSize(label).x + style.FramePadding.x * 2;
    const ImVec2 cursor = ImGui::GetCursorPos();
    ImGui::PushClipRect(at, titleEnd, false);
    ImGui::SetCursorScreenPos(ImVec2(titleEnd.x - width - std::max(style.WindowRounding, style.FramePadding.x),
                                     at.y + style.FramePadding.y));
    const bool clicked = ImGui::SmallButton(label);
    ImGui::PopClipRect();
    ImGui::SetCursorPos(cursor);
    return clicked;
}
}  // namespace

void drawWindowMenu() {
    if (trayIconShown()) return;
    if (titleBarButton("Menu")) ImGui::OpenPopup(kMenuPopup);
    if (!ImGui::BeginPopup(kMenuPopup)) return;
    std::vector<TrayMenuLine> menu;
    buildTrayMenu(menu);
    drawMenuLines(menu);
    ImGui::EndPopup();
}
