#include "shell/buttons.h"

#include <imgui.h>

#include <map>
#include <mutex>
#include <string>

namespace {

std::mutex buttonRectMutex;
std::map<std::string, ButtonRect> buttonRects;

ImVec4 hsvColor(const double* hsv) {
    ImVec4 rgb(0, 0, 0, 1.0f);
    ImGui::ColorConvertHSVtoRGB(static_cast<float>(hsv[0]), static_cast<float>(hsv[1]),
                                static_cast<float>(hsv[2]), rgb.x, rgb.y, rgb.z);
    return rgb;
}

void pushButtonColors(const double* triples) {
    ImGui::PushStyleColor(ImGuiCol_Button, hsvColor(triples));
    ImGui::PushStyleColor(ImGuiCol_ButtonHovered, hsvColor(triples + 3));
    ImGui::PushStyleColor(ImGuiCol_ButtonActive, hsvColor(triples + 6));
}

// Draws one item of a row; true when its button was pressed and counts.
bool drawRowItem(const UIButtonRowItem& item, bool applyStates) {
    if (applyStates) setUIButtonState(item.key, item.state);
    UIButtonEntry entry;
    if (!findUIButtonEntry(item.key, entry)) return false;  // unknown key: draws nothing
    if (item.valueFactor < 1.0 && entry.state == kButtonEnabled) entry.currentColors[2] *= item.valueFactor;
    pushButtonColors(entry.currentColors);
    // The new label shows from the next frame on; this frame uses the copy.
    if (!item.label1.empty()) setUIButtonLabels(item.key, item.label1.c_str(), item.label2.c_str());
    if (item.offsetBefore != 0) ImGui::SameLine(static_cast<float>(item.offsetBefore));
    const ImGuiStyle& style = ImGui::GetStyle();
    ImGui::PushStyleColor(ImGuiCol_Text, style.Colors[entry.state == kButtonDisabled ? ImGuiCol_TextDisabled
                                                                                      : ImGuiCol_Text]);
    bool pressed = false;
    if (entry.state != kButtonHidden) {
        pressed = ImGui::Button(entry.currentLabel.c_str()) && entry.state != kButtonDisabled;
        recordButtonRect(item.key);
        if (item.offsetAfter != 0) ImGui::SameLine(static_cast<float>(item.offsetAfter));
    }
    ImGui::PopStyleColor(4);
    return pressed;
}

}  // namespace

UIButtonRowItem buttonRowItem(const char* key, bool enabled) {
    UIButtonRowItem item;
    item.key = key;
    item.state = enabled ? kButtonEnabled : kButtonDisabled;
    return item;
}

int32_t drawButtonRow(const std::vector<UIButtonRowItem>& items, bool applyStates) {
    int32_t result = -1;
    if (items.size() > 1) ImGui::Separator();
    ImGui::Text("\n");
    for (size_t i = 0; i < items.size(); ++i) {
        ImGui::SameLine();
        ImGui::PushID(static_cast<int>(i));
        if (drawRowItem(items[i], applyStates)) result = static_cast<int32_t>(i);
        ImGui::PopID();
    }
    return result;
}

void recordButtonRect(const std::string& key) {
    const ImVec2 min = ImGui::GetItemRectMin();
    const ImVec2 max = ImGui::GetItemRectMax();
    std::lock_guard<std::mutex> lock(buttonRectMutex);
    buttonRects[key] = ButtonRect{min.x, min.y, max.x, max.y, ImGui::GetFrameCount()};
}

bool lastButtonRect(const std::string& key, ButtonRect& out) {
    std::lock_guard<std::mutex> lock(buttonRectMutex);
    auto it = buttonRects.find(key);
    if (it == buttonRects.end()) return false;
    out = it->second;
    return true;
}

int32_t drawTableButtonWithLabels(const std::string& key, const char* label1, const char* /*label2*/) {
    UIButtonEntry entry;
    if (!findUIButtonEntry(key, entry)) return -1;
    pushButtonColors(entry.colors);
    const bool pressed = ImGui::Button(label1 ? label1 : entry.label1.c_str());
    ImGui::PopStyleColor(3);
    return pressed ? 1 : 0;
}
