// The style editor window: the live Dear ImGui colours, rounding and
// borders, the four colours of every button of the button table, the choice
// of style and its name. Edits act on the live style and the button table at
// once; the style's record is brought up to date at the end of every frame
// the window draws, so nothing is lost when the program ends with the window
// open. The style files are written at shut-down.
#include "windows/style_editor.h"

#include <algorithm>
#include <atomic>
#include <cfloat>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "foundation/app_log.h"
#include "foundation/button_table.h"
#include "foundation/styles.h"
#include "shell/buttons.h"
#include "shell/main_loop.h"
#include "shell/shell_state.h"
#include "shell/text_widgets.h"
#include "shell/tray.h"

namespace {

// The parts of a button as the selection names them; part p holds the
// components 3p to 3p+2 of the entry's colours.
constexpr const char* kPartNames[4] = {"nrm", "hvr", "act", "dis"};
constexpr const char* kPartHeadings[4] = {"NORMAL", "HOVER", "ACTIVE", "DISABLED"};
constexpr const char* kBlackCircle = "\u25CF";

// Drawn on the UI thread only; the open flag is also read by the main loop.
struct StyleEditorState {
    int number = -1;            // the editor's style number, -1 before its first frame
    char editedName[64] = {};   // the Details tab's "Style Name"
    std::string selectedKey;
    std::string selectedLabel;
    int selectedPart = 0;
    float picker[3] = {0.0f, 0.0f, 0.0f};  // hue, saturation, value; also the copied colour
    bool pickerOpen = false;
    bool firstFrame = false;    // set while the window is open
    ImGuiStyle reference;       // the colour tab's copy of the live style
    int alphaFlags = ImGuiColorEditFlags_None;
};

std::atomic<bool> g_open{false};
StyleEditorState g_editor;
// Apart from the state: the library's vectors are cleared, not assigned.
ImGuiTextFilter g_colourFilter;

// The live style holds the editor's style once the main window applied it,
// and not while a new graphics context waits for it to be applied again.
bool liveStyleIsEditors() {
    return g_editor.number >= 0 && appliedStyleNumber() == g_editor.number && !renderStateSnapshot().styleReapply;
}

void captureEditorsStyle() {
    if (liveStyleIsEditors()) captureLiveStyle(styleName(g_editor.number));
}

// "Save style" writes the style's file at once: a crash before the shut-down
// save would otherwise lose what the user saved.
void saveEditorsStyle() {
    captureEditorsStyle();
    if (!saveStyleFile(stylesFolderPath(), g_editor.number)) writeLogLine("Style not saved: ", styleName(g_editor.number));
}

void takeStyleNumber(int number) {
    g_editor.number = number;
    std::snprintf(g_editor.editedName, sizeof g_editor.editedName, "%s", styleName(number).c_str());
}

// The main window applies the chosen style on its next pass.
void chooseStyle(int number) {
    captureEditorsStyle();
    setShellStyleIndex(number);
    takeStyleNumber(number);
}

// Refused (nothing changes) for an empty name, the same name, or a name that
// another style or a record already has: records are never merged.
void renameEditorsStyle(const std::string& newName) {
    const std::string oldName = styleName(g_editor.number);
    if (newName.empty() || newName == oldName) return;
    {
        std::lock_guard<std::mutex> lock(styleMapMutex);
        if (styleMap.count(newName) != 0 || !setStyleName(g_editor.number, newName)) return;
        auto record = styleMap.extract(oldName);
        if (!record.empty()) {
            record.key() = newName;
            styleMap.insert(std::move(record));
        }
    }
    captureEditorsStyle();
    setTrayStyleNames(styleNames());
    if (trayIconAdded()) startTrayIcon(false);  // publishes the menu
}

ImVec4 rgbOfPart(const UIButtonEntry& entry, int part) {
    ImVec4 rgb(0.0f, 0.0f, 0.0f, 1.0f);
    const double* hsv = entry.colors + part * 3;
    ImGui::ColorConvertHSVtoRGB(static_cast<float>(hsv[0]), static_cast<float>(hsv[1]), static_cast<float>(hsv[2]),
                                rgb.x, rgb.y, rgb.z);
    return rgb;
}

// Writes the picker colour into one part of a button (its state and labels stay).
void setButtonPart(const std::string& key, int part) {
    UIButtonEntry entry;
    if (!findUIButtonEntry(key, entry)) return;
    for (int c = 0; c < 3; ++c) entry.colors[part * 3 + c] = g_editor.picker[c];
    setUIButtonLook(key, entry);
}

// Plain click: pick the colour up and edit it; Ctrl: copy it; Shift: paste
// the copied colour into it.
void sampleClicked(const std::string& key, const UIButtonEntry& entry, int part) {
    const ImGuiIO& io = ImGui::GetIO();
    if (io.KeyShift && !io.KeyCtrl) {
        setButtonPart(key, part);
        g_editor.pickerOpen = false;
    } else {
        for (int c = 0; c < 3; ++c) g_editor.picker[c] = static_cast<float>(entry.colors[part * 3 + c]);
        g_editor.pickerOpen = !io.KeyCtrl;
    }
    g_editor.selectedKey = key;
    g_editor.selectedLabel = entry.label1;
    g_editor.selectedPart = part;
}

void drawButtonSamples(const std::string& key, const UIButtonEntry& entry) {
    ImGui::TableNextRow();
    ImGui::PushID(key.c_str());
    const char* label = entry.label1.empty() ? key.c_str() : entry.label1.c_str();
    for (int part = 0; part < 4; ++part) {
        ImGui::TableSetColumnIndex(part);
        const ImVec4 colour = rgbOfPart(entry, part);
        ImGui::PushStyleColor(ImGuiCol_Button, colour);
        ImGui::PushStyleColor(ImGuiCol_ButtonHovered, colour);
        ImGui::PushStyleColor(ImGuiCol_ButtonActive, colour);
        ImGui::PushID(part);
        const bool clicked = ImGui::Button(label);
        ImGui::PopID();
        ImGui::PopStyleColor(3);
        recordButtonRect("style " + key + " " + kPartNames[part]);
        if (clicked) sampleClicked(key, entry, part);
    }
    ImGui::PopID();
}

void drawButtonColorsTab() {
    ImGui::TextUnformatted("COPY = <CTRL> | PASTE = <SHIFT>");
    if (!ImGui::BeginTable("##buttonColours", 4, ImGuiTableFlags_SizingFixedFit)) return;
    ImGui::TableNextRow();
    for (int part = 0; part < 4; ++part) {
        ImGui::TableSetColumnIndex(part);
        const std::string mark = part == g_editor.selectedPart ? kBlackCircle : "";
        const std::string heading = mark + " " + kPartHeadings[part] + " " + mark;
        ImGui::TextUnformatted((part == 0 ? "PREVIEW (" + heading + ")" : heading).c_str());
    }
    for (const auto& [key, entry] : copyUIButtonTable()) drawButtonSamples(key, entry);
    ImGui::EndTable();
}

void drawPickerWindow() {
    if (!g_editor.pickerOpen) return;
    ImGui::SetNextWindowSize(ImVec2(1000, 120), ImGuiCond_FirstUseEver);
    bool open = true;
    if (ImGui::Begin("Button Color Picker", &open)) {
        ImGui::BulletText("%s [%s]", g_editor.selectedLabel.c_str(), kPartNames[g_editor.selectedPart]);
        const ImGuiColorEditFlags flags =
            ImGuiColorEditFlags_NoAlpha | ImGuiColorEditFlags_InputHSV | ImGuiColorEditFlags_DisplayHSV;
        if (ImGui::ColorEdit3("##picker", g_editor.picker, flags))
            setButtonPart(g_editor.selectedKey, g_editor.selectedPart);
    }
    ImGui::End();
    if (!open) g_editor.pickerOpen = false;
}

void drawDetailsTab() {
    ImGui::InputText("Style Name", g_editor.editedName, sizeof g_editor.editedName);
    recordButtonRect("style name");
    if (ImGui::Button("Rename")) renameEditorsStyle(g_editor.editedName);
    recordButtonRect("style rename");
}

void drawMenuBar() {
    if (!ImGui::BeginMenuBar()) return;
    const std::string name = styleName(g_editor.number);
    // A menu's title is recorded while closed (an open menu's popup is the last item).
    if (ImGui::BeginMenu("File")) {
        // A style's name is the user's text: drawn whole, "##" and all.
        if (textSelectable("Save style \"" + name + "\"")) saveEditorsStyle();
        recordButtonRect("style save");
        ImGui::EndMenu();
    } else {
        recordButtonRect("style file menu");
    }
    // The ID stays the same when the style or its name changes.
    if (ImGui::BeginMenu(("Styles [" + name + "]###Styles").c_str())) {
        const std::vector<std::string> names = styleNames();
        for (int n = 0; n < static_cast<int>(names.size()); ++n) {
            ImGui::PushID(n);
            const std::string label = (n == g_editor.number ? kBlackCircle : "") + std::string(" ") + names[n];
            if (textSelectable(label)) chooseStyle(n);
            recordButtonRect("style choose " + std::to_string(n));
            ImGui::PopID();
        }
        ImGui::EndMenu();
    } else {
        recordButtonRect("style styles menu");
    }
    ImGui::EndMenuBar();
}

void drawStyleGroups() {
    if (!ImGui::BeginTabBar("Style Groups")) return;
    if (ImGui::BeginTabItem("UI Element Colors")) {
        showStyleColorEditor(&g_editor.reference);
        const ImVec4& dim = g_editor.reference.Colors[ImGuiCol_ModalWindowDimBg];
        clearColor[0] = dim.x, clearColor[1] = dim.y, clearColor[2] = dim.z, clearColor[3] = dim.w;
        ImGui::EndTabItem();
    }
    if (ImGui::BeginTabItem("Button Colors")) {
        drawButtonColorsTab();
        ImGui::EndTabItem();
    }
    if (ImGui::BeginTabItem("Details")) {
        drawDetailsTab();
        ImGui::EndTabItem();
    }
    ImGui::EndTabBar();
}

// At (650, 20) with 1100 x 1500, moved and shortened to stay inside a
// smaller program window, so that its close box can be reached.
void placeWindow() {
    const ImGuiViewport* viewport = ImGui::GetMainViewport();
    const ImVec2 size(std::max(400.0f, std::min(1100.0f, viewport->Size.x)),
                      std::max(350.0f, std::min(1500.0f, viewport->Size.y - 20.0f)));
    const float x = std::max(0.0f, std::min(650.0f, viewport->Size.x - size.x));
    ImGui::SetNextWindowPos(ImVec2(viewport->Pos.x + x, viewport->Pos.y + 20.0f), ImGuiCond_FirstUseEver);
    ImGui::SetNextWindowSize(size, ImGuiCond_FirstUseEver);
    ImGui::SetNextWindowSizeConstraints(ImVec2(400, 350), ImVec2(FLT_MAX, FLT_MAX));
}

bool containsIgnoringCase(const std::string& text, const std::string& part) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    return std::search(text.begin(), text.end(), part.begin(), part.end(),
                       [&](char a, char b) { return lower(a) == lower(b); }) != text.end();
}

// Comma-separated terms, letter case ignored: a name passes when it holds one
// of the plain terms (or there are none) and none of the terms led by "-",
// whatever their order ("Tab,-Unfocused" leaves out TabUnfocused).
bool passesColourFilter(const ImGuiTextFilter& filter, const std::string& name) {
    bool anyPlain = false;
    bool held = false;
    for (const ImGuiTextFilter::ImGuiTextRange& term : filter.Filters) {
        if (term.empty()) continue;
        const bool excludes = term.b[0] == '-';
        const std::string text(term.b + (excludes ? 1 : 0), term.e);
        if (text.empty()) continue;
        if (excludes && containsIgnoringCase(name, text)) return false;
        if (excludes) continue;
        anyPlain = true;
        held = held || containsIgnoringCase(name, text);
    }
    return held || !anyPlain;
}

void borderCheckbox(const char* label, float& size) {
    bool on = size > 0.0f;
    if (ImGui::Checkbox(label, &on)) size = on ? 1.0f : 0.0f;
}

void drawColourList(ImGuiStyle& style, ImGuiStyle& reference) {
    g_colourFilter.Draw("Filter colors", ImGui::GetFontSize() * 16);
    recordButtonRect("style filter");
    ImGui::RadioButton("Opaque", &g_editor.alphaFlags, ImGuiColorEditFlags_None);
    ImGui::SameLine();
    ImGui::RadioButton("Alpha", &g_editor.alphaFlags, ImGuiColorEditFlags_AlphaPreview);
    ImGui::SameLine();
    ImGui::RadioButton("Both", &g_editor.alphaFlags, ImGuiColorEditFlags_AlphaPreviewHalf);
    const ImGuiWindowFlags flags = ImGuiWindowFlags_AlwaysVerticalScrollbar |
                                   ImGuiWindowFlags_AlwaysHorizontalScrollbar | ImGuiWindowFlags_NavFlattened;
    if (ImGui::BeginChild("##colors", ImVec2(0, 0), true, flags)) {
        ImGui::PushItemWidth(-160);
        for (int i = 0; i < ImGuiCol_COUNT; ++i) {
            const char* name = ImGui::GetStyleColorName(i);
            if (!passesColourFilter(g_colourFilter, name)) continue;
            ImGui::PushID(i);
            ImGui::ColorEdit4("##color", &style.Colors[i].x, ImGuiColorEditFlags_AlphaBar | g_editor.alphaFlags);
            recordButtonRect(std::string("style colour ") + name);
            // The reference is the live style of this frame's start, so
            // these show in the frame in which the colour changed.
            if (std::memcmp(&style.Colors[i], &reference.Colors[i], sizeof(ImVec4)) != 0) {
                ImGui::SameLine(0.0f, style.ItemInnerSpacing.x);
                if (ImGui::Button("Save")) reference.Colors[i] = style.Colors[i];
                ImGui::SameLine(0.0f, style.ItemInnerSpacing.x);
                if (ImGui::Button("Revert")) style.Colors[i] = reference.Colors[i];
            }
            ImGui::SameLine(0.0f, style.ItemInnerSpacing.x);
            ImGui::TextUnformatted(name);
            ImGui::PopID();
        }
        ImGui::PopItemWidth();
    }
    ImGui::EndChild();
}

}  // namespace

void showStyleColorEditor(ImGuiStyle* reference) {
    ImGuiStyle& style = ImGui::GetStyle();
    if (!reference) reference = &g_editor.reference;
    ImGui::PushItemWidth(ImGui::GetWindowWidth() * 0.5f);
    if (ImGui::SliderFloat("FrameRounding", &style.FrameRounding, 0.0f, 12.0f, "%.0f"))
        style.GrabRounding = style.FrameRounding;
    borderCheckbox("WindowBorder", style.WindowBorderSize);
    ImGui::SameLine();
    borderCheckbox("FrameBorder", style.FrameBorderSize);
    ImGui::SameLine();
    borderCheckbox("PopupBorder", style.PopupBorderSize);
    *reference = style;
    if (ImGui::BeginTabBar("##tabs")) {
        if (ImGui::BeginTabItem("Colors")) {
            drawColourList(style, *reference);
            ImGui::EndTabItem();
        }
        ImGui::EndTabBar();
    }
    ImGui::PopItemWidth();
}

void drawStyleEditorWindow() {
    if (!g_editor.firstFrame) {
        if (getUIButtonValue("bka") == 0) initUIButtonTable();
        g_editor.firstFrame = true;
    }
    if (shellStyleIndex() != g_editor.number) takeStyleNumber(shellStyleIndex());
    placeWindow();
    bool open = true;
    if (ImGui::Begin("Style Editor", &open, ImGuiWindowFlags_MenuBar | ImGuiWindowFlags_NoCollapse)) {
        drawMenuBar();
        drawStyleGroups();
    }
    ImGui::End();
    if (open) drawPickerWindow();
    captureEditorsStyle();
    if (open) return;
    g_open.store(false);
    g_editor.firstFrame = false;
    g_editor.pickerOpen = false;
}

bool isStyleEditorWindowOpen() { return g_open.load(); }
void openStyleEditorWindow() { g_open.store(true); }

void resetStyleEditor() {
    g_open.store(false);
    g_editor = StyleEditorState();
    g_colourFilter.Clear();
}
