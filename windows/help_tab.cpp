#include "windows/help_tab.h"

#include <imgui.h>

#include <atomic>
#include <string>

#include "engine/default_watch_folder.h"
#include "engine/thread_registry.h"
#include "foundation/data_files.h"
#include "foundation/global_defaults.h"
#include "platform/paths.h"
#include "windows/main_window.h"
#include "windows/main_window_parts.h"
#include "windows/style_editor.h"
#include "windows/window_jobs.h"

namespace {
enum HelpItem { kOnlineGuide, kLocalGuide, kDocumentsFolder, kStyleEditor, kHelpItemCount };
// Set from the opening threads too.
std::atomic<bool> g_done[kHelpItemCount] = {};

// A guide counts as done once it opened, not when it was asked for.
void openGuide(int item, const std::wstring& target) {
    try {
        startShellOpen(target, [item] { g_done[item] = true; });
    } catch (...) {
    }
}

void runHelpItem(int item) {
    switch (item) {
        case kOnlineGuide: return openGuide(item, std::wstring(kOnlineGuideAddress));
        case kLocalGuide: return openGuide(item, installedGuidePath());
        case kDocumentsFolder:
            try {
                startEngineThread([] { addDefaultWatchFolder(); });
            } catch (...) {
            }
            break;
        case kStyleEditor: openStyleEditorWindow(); break;
    }
    g_done[item] = true;
}

// A selectable under its own ID: marker, blank, text and, once done, the suffix.
void drawHelpItem(int item, const char* text, const char* doneSuffix) {
    const std::string label = std::string(g_done[item] ? "\u058D" : "\u25CF") + " " + text +
                              (g_done[item] ? doneSuffix : "");
    ImGui::PushID(item + 1);
    if (ImGui::Selectable(label.c_str())) runHelpItem(item);
    ImGui::PopID();
}

void drawHelpItems() {
    if (ImGui::TreeNodeEx("User Guide", ImGuiTreeNodeFlags_DefaultOpen)) {
        drawHelpItem(kOnlineGuide, "Open Online User Guide", " -- Done");
        drawHelpItem(kLocalGuide, "Open User Guide", " -- Done");
        ImGui::TreePop();
    }
    if (ImGui::TreeNodeEx("Folders", ImGuiTreeNodeFlags_DefaultOpen)) {
        drawHelpItem(kDocumentsFolder, "Auto Add a new watch folder entry from your document folder", " -- Done");
        ImGui::TreePop();
    }
    if (ImGui::TreeNodeEx("Style Editor", ImGuiTreeNodeFlags_DefaultOpen)) {
        drawHelpItem(kStyleEditor, "Open the UI Style editor", " -- Done (Shortcut Shift+Control+S+E)");
        ImGui::TreePop();
    }
}
}  // namespace

std::wstring installedGuidePath() {
    return joinPath(configurationFolderPath(), kGuideFileName);
}

bool drawHelpTab(bool select) {
    if (!ImGui::BeginTabItem("Wizards/Help", nullptr, select ? ImGuiTabItemFlags_SetSelected : 0)) return false;
    ImGui::TextUnformatted("In this area you will find a few useful items and helpful tips.");
    ImGui::PushStyleColor(ImGuiCol_ChildBg, ImGui::GetStyleColorVec4(ImGuiCol_FrameBg));
    if (ImGui::BeginChild("ChildL", mainWindow.listArea, true, ImGuiWindowFlags_HorizontalScrollbar))
        drawHelpItems();
    ImGui::EndChild();
    ImGui::PopStyleColor();
    ImGui::EndTabItem();
    return true;
}

void resetHelpTab() {
    for (std::atomic<bool>& done : g_done) done = false;
}
