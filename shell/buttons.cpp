#include "shell/buttons.h"

#include <imgui.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <mutex>
#include <string>

#include "foundation/colour_contrast.h"
#include "foundation/styles.h"
#include "shell/fonts.h"

namespace {

std::mutex buttonRectMutex;
std::map<std::string, ButtonRect> buttonRects;

ImVec4 hsvColor(const double* hsv) {
    ImVec4 rgb(0, 0, 0, 1.0f);
    ImGui::ColorConvertHSVtoRGB(static_cast<float>(hsv[0]), static_cast<float>(hsv[1]),
                                static_cast<float>(hsv[2]), rgb.x, rgb.y, rgb.z);
    return rgb;
}

// The button's three colours, and its label in the style's text colour (or
// the disabled one) as far changed as it takes to read on all three.
void pushButtonColors(const double* triples, ImGuiCol label = ImGuiCol_Text) {
    const ImVec4 colours[3] = {hsvColor(triples), hsvColor(triples + 3), hsvColor(triples + 6)};
    ImGui::PushStyleColor(ImGuiCol_Button, colours[0]);
    ImGui::PushStyleColor(ImGuiCol_ButtonHovered, colours[1]);
    ImGui::PushStyleColor(ImGuiCol_ButtonActive, colours[2]);
    ImGui::PushStyleColor(ImGuiCol_Text, readableColour(ImGui::GetStyleColorVec4(label),
                                                        {colours[0], colours[1], colours[2]}, kTextContrast));
}

// Draws one item of a row; true when its button was pressed and counts.
bool drawRowItem(const UIButtonRowItem& item, bool applyStates) {
    if (applyStates) setUIButtonState(item.key, item.state);
    UIButtonEntry entry;
    if (!findUIButtonEntry(item.key, entry)) return false;  // unknown key: draws nothing
    if (item.valueFactor < 1.0 && entry.state == kButtonEnabled) entry.currentColors[2] *= item.valueFactor;
    pushButtonColors(entry.currentColors, entry.state == kButtonDisabled ? ImGuiCol_TextDisabled : ImGuiCol_Text);
    // The new label shows from the next frame on; this frame uses the copy.
    if (!item.label1.empty()) setUIButtonLabels(item.key, item.label1.c_str(), item.label2.c_str());
    if (item.offsetBefore != 0) ImGui::SameLine(static_cast<float>(item.offsetBefore));
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
    ImGui::PopStyleColor(4);
    return pressed ? 1 : 0;
}

void drawProgressBar(double fraction, const ImVec2& size) {
    const float share = static_cast<float>(std::clamp(fraction, 0.0, 1.0));
    ImGui::PushFont(fontArial12 ? fontArial12 : ImGui::GetFont());
    ImGui::ProgressBar(share, size, "");
    // The figure where Dear ImGui puts it: after the fill, kept inside the bar.
    const ImGuiStyle& style = ImGui::GetStyle();
    const ImVec2 min(ImGui::GetItemRectMin().x + style.FrameBorderSize, ImGui::GetItemRectMin().y + style.FrameBorderSize);
    const ImVec2 max(ImGui::GetItemRectMax().x - style.FrameBorderSize, ImGui::GetItemRectMax().y - style.FrameBorderSize);
    char figure[16];
    std::snprintf(figure, sizeof figure, "%.0f%%", share * 100 + 0.01f);
    const ImVec2 textSize = ImGui::CalcTextSize(figure);
    const float fillEnd = min.x + (max.x - min.x) * share;
    const ImVec2 at(std::clamp(fillEnd + style.ItemSpacing.x, min.x, max.x - textSize.x - style.ItemInnerSpacing.x),
                    (min.y + max.y - textSize.y) / 2);
    const ImVec4 text = style.Colors[ImGuiCol_Text];
    const ImVec4 field = colourOver(style.Colors[ImGuiCol_FrameBg], listBackgroundColour());
    const ImVec4 onFill = readableColour(text, {colourOver(style.Colors[ImGuiCol_PlotHistogram], field),
                                                colourOver(style.Colors[ImGuiCol_PlotHistogram], listBackgroundColour())},
                                         kTextContrast);
    ImDrawList* draw = ImGui::GetWindowDrawList();
    const ImVec4 fillPart(min.x, min.y, fillEnd, max.y), framePart(fillEnd, min.y, max.x, max.y);
    draw->AddText(nullptr, 0, at, ImGui::GetColorU32(onFill), figure, nullptr, 0, &fillPart);
    draw->AddText(nullptr, 0, at, ImGui::GetColorU32(text), figure, nullptr, 0, &framePart);
    ImGui::PopFont();
}
