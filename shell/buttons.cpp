#include "shell/buttons.h"

#include <imgui.h>

#include <algorithm>
#include <iterator>
#include <map>
#include <mutex>

namespace {

// Windows draw from the UI thread while their tasks switch states from their
// own threads, so the table has a mutex; it is held only to copy or change one entry.
std::mutex uiButtonMutex;
std::map<std::string, UIButtonEntry> uiButtonMap;

std::mutex buttonRectMutex;
std::map<std::string, ButtonRect> buttonRects;

void recordButtonRect(const std::string& key) {
    const ImVec2 min = ImGui::GetItemRectMin();
    const ImVec2 max = ImGui::GetItemRectMax();
    std::lock_guard<std::mutex> lock(buttonRectMutex);
    buttonRects[key] = ButtonRect{min.x, min.y, max.x, max.y, ImGui::GetFrameCount()};
}

constexpr double kDisabledHsv[3] = {0.5, 0.3, 0.2};

UIButtonEntry makeButton(const char* label1, const char* label2, double hue) {
    UIButtonEntry entry;
    const double groups[4][3] = {{hue, 0.6, 0.6}, {hue, 0.7, 0.7}, {hue, 0.8, 0.8},
                                 {kDisabledHsv[0], kDisabledHsv[1], kDisabledHsv[2]}};
    for (int g = 0; g < 4; ++g)
        for (int c = 0; c < 3; ++c) entry.colors[g * 3 + c] = groups[g][c];
    entry.label1 = label1;
    entry.label2 = label2 ? label2 : label1;
    return entry;
}

// Caller holds uiButtonMutex.
void applyState(UIButtonEntry& entry, int32_t state) {
    for (int t = 0; t < 3; ++t)
        for (int c = 0; c < 3; ++c)
            entry.currentColors[t * 3 + c] =
                state == kButtonEnabled ? entry.colors[t * 3 + c] : entry.colors[9 + c];
    entry.currentLabel = state == kButtonEnabled ? entry.label1 : entry.label2;
    entry.state = state;
}

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

UIButtonEntry::UIButtonEntry() {
    for (double& c : colors) c = 1.0;
    for (double& c : currentColors) c = 1.0;
}

void initUIButtonTable() {
    struct Row {
        const char* key;
        const char* label1;
        const char* label2;
        double hue;
    };
    static const Row rows[] = {
        {"bka", " Add ", nullptr, 0.0},
        {"bkr", " Remove ", nullptr, 0.25},
        {"bkd", " Details ", nullptr, 0.5},
        {"afdr", " Apply ", nullptr, 0.75},
        {"bkal", " Select Archive Location ", nullptr, 0.75},
        {"bkofl", " Open Folder Location  ", nullptr, 0.5},
        {"bkoal", " Open Archive Location  ", nullptr, 0.5},
        {"bkaff", " Open File Type Manager ", nullptr, 0.5},
        {"bkobs", " Open Backup Scheduler ", nullptr, 0.5},
        {"bkrn", " Rename ", nullptr, 0.5},
        {"bkae", " Accept ", nullptr, 0.5},
        {"bkbuf", " Backup ", nullptr, 0.5},
        {"bkrf", " Restore ", nullptr, 0.5},
        {"bkre", " Edit ", nullptr, 0.5},
        {"bkc", " Dismiss ", nullptr, 0.5},
        {"bkane", " Add ", nullptr, 0.5},
        {"bkcc", " Confirm ", nullptr, 0.25},
        {"bksb", " Submit ", nullptr, 0.25},
        {"bkcac", " Confirm All ", nullptr, 0.25},
        {"bksf", " Select Folder ", nullptr, 0.5},
        {"bkdf", " De-Select Folder ", nullptr, 0.5},
        {"bksa", " Select All ", nullptr, 0.5},
        {"bkdsa", " De-Select All ", nullptr, 0.5},
        {"bkmdok", "   Ok   ", "    Ok    ", 0.5},
        {"bkmdcan", " Cancel ", "  Cancel  ", 0.0},
        {"bkcncl", " Cancel ", "  Cancel  ", 0.0},
        {"bkrfv", " Restore File Version ", "  Restore File Version  ", 0.0},
        {"bkaae", " Auto Add Extensions ", "  Auto Add Extensions  ", 0.0},
        {"bkincl", " Include ", nullptr, 0.5},
        {"bkexcl", " Exclude ", nullptr, 0.5},
        {"bkai", " Info ", nullptr, 0.5},
        {"bkau", " Updates ", nullptr, 0.5},
        {"bkac", " Credits ", nullptr, 0.5},
    };
    for (const Row& row : rows) addUIButtonEntry(row.key, makeButton(row.label1, row.label2, row.hue));
    for (const char* key : {"bkae", "bkane", "bka", "bksf", "bkdf", "bksa", "bkdsa", "bkmdok", "bkmdcan",
                            "bkcncl", "bkrfv"})
        setUIButtonState(key, kButtonEnabled);
    setUIButtonState("bkrf", kButtonDisabled);
}

bool addUIButtonEntry(const std::string& key, const UIButtonEntry& entry) {
    std::lock_guard<std::mutex> lock(uiButtonMutex);
    UIButtonEntry& stored = uiButtonMap[key];
    stored = entry;
    applyState(stored, kButtonDisabled);
    return true;
}

bool findUIButtonEntry(const std::string& key, UIButtonEntry& out) {
    std::lock_guard<std::mutex> lock(uiButtonMutex);
    auto it = uiButtonMap.find(key);
    if (it == uiButtonMap.end()) return false;
    out = it->second;
    return true;
}

bool setUIButtonState(const std::string& key, int32_t state) {
    if (state < kButtonDisabled || state > kButtonHidden) return false;
    std::lock_guard<std::mutex> lock(uiButtonMutex);
    auto it = uiButtonMap.find(key);
    if (it == uiButtonMap.end()) return false;
    applyState(it->second, state);
    return true;
}

bool setUIButtonLabels(const std::string& key, const char* label1, const char* label2) {
    if (!label1 && !label2) return false;
    std::lock_guard<std::mutex> lock(uiButtonMutex);
    auto it = uiButtonMap.find(key);
    if (it == uiButtonMap.end()) return false;
    if (label1) it->second.label1 = label1;
    if (label2) it->second.label2 = label2;
    applyState(it->second, it->second.state);
    return true;
}

int32_t getUIButtonValue(const std::string& key) {
    std::lock_guard<std::mutex> lock(uiButtonMutex);
    auto it = uiButtonMap.find(key);
    return it == uiButtonMap.end() ? 0 : it->second.state;
}

std::map<std::string, UIButtonEntry> copyUIButtonTable() {
    std::lock_guard<std::mutex> lock(uiButtonMutex);
    return uiButtonMap;
}

bool setUIButtonLook(const std::string& key, const UIButtonEntry& look) {
    std::lock_guard<std::mutex> lock(uiButtonMutex);
    auto [it, added] = uiButtonMap.try_emplace(key);
    UIButtonEntry& stored = it->second;
    std::copy(std::begin(look.colors), std::end(look.colors), std::begin(stored.colors));
    stored.label1 = look.label1;
    stored.label2 = look.label2;
    applyState(stored, added ? kButtonDisabled : stored.state);
    return true;
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
