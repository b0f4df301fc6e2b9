// The main window's "Applications" tab: the applications seen in the
// foreground with their focus time, change counts and write share; a
// selected one can be renamed (so its settings persist) and its options
// changed from its right-click popup.
#include <imgui.h>

#include <mutex>
#include <string>

#include "engine/monitor_ui.h"
#include "engine/thread_registry.h"
#include "foundation/app_config.h"
#include "foundation/button_table.h"
#include "foundation/text_format.h"
#include "platform/text.h"
#include "shell/buttons.h"
#include "windows/main_window.h"
#include "windows/main_window_parts.h"

namespace {

// User-interface thread only.
struct ApplicationsTabState {
    std::wstring selectedKey;
    std::wstring previousKey;
    char renameBuffer[256] = {};
    bool renameShown = false;
};
ApplicationsTabState g_apps;

int32_t applicationFilterValue() {
    const FilterList& list = applicationFilterList();
    int index;
    {
        std::lock_guard<std::mutex> lock(appSettingsMutex);
        index = static_cast<int>(appSettings.applicationChoice);
    }
    if (index < 0 || index >= static_cast<int>(list.items.size())) index = 0;
    ImGui::TextUnformatted("Current list of Applications:");
    ImGui::SameLine();
    ImGui::SetNextItemWidth(300);
    const int chosen = index;
    ImGui::Combo(" Show Applications Filter", &index, list.comboText.c_str());
    if (index != chosen) {
        std::lock_guard<std::mutex> lock(appSettingsMutex);
        appSettings.applicationChoice = static_cast<uint32_t>(index);
        configurationSaved = false;
    }
    return index > 0 ? list.items[static_cast<size_t>(index)].value : -1;
}

// Called with statisticsMutex held.
void selectApplication(const std::wstring& key, ApplicationRecord& record) {
    g_apps.selectedKey = key;
    std::snprintf(g_apps.renameBuffer, sizeof g_apps.renameBuffer, "%s", wideToUtf8(record.displayName).c_str());
    g_apps.renameShown = true;
    if (!g_apps.previousKey.empty() && g_apps.previousKey != key) {
        const auto previous = applicationStatsMap.find(g_apps.previousKey);
        if (previous != applicationStatsMap.end()) previous->second.selected = false;
    }
    g_apps.previousKey = g_apps.selectedKey;
}

// Called with statisticsMutex held.
void drawApplicationRow(const std::wstring& key, ApplicationRecord& record, int number) {
    const char* symbol = record.monitorFocus ? "\u25CF" : "\u00D8";
    const std::string name = wideToUtf8(record.displayName);
    ImGui::PushID(number);
    const bool clicked = ImGui::Selectable(symbol, &record.selected, ImGuiSelectableFlags_AllowDoubleClick);
    const bool hovered = ImGui::IsItemHovered();
    if (clicked || (hovered && ImGui::IsMouseClicked(ImGuiMouseButton_Right))) {
        record.selected = true;
        selectApplication(key, record);
    }
    if (record.selected) {
        if (ImGui::BeginPopupContextItem("ApplicationOptions")) {
            applicationOptions(record, key);
            ImGui::EndPopup();
        }
        if (hovered)
            ImGui::SetTooltip("Right-Click for %s options\nRename to persist states.", name.c_str());
    }
    ImGui::SameLine(50);
    ImGui::Text("%s\t\t%05d\t%03.0f%%\t%s", wideToUtf8(formatDurationMs(record.foregroundMs)).c_str(),
                record.changeCount, record.ratio * 100.0, name.c_str());
    ImGui::PopID();
}

void drawRenameField() {
    if (!g_apps.renameShown) return;
    ImGui::InputText(" ", g_apps.renameBuffer, sizeof g_apps.renameBuffer);
    ImGui::SameLine();
    UIButtonRowItem rename;
    rename.key = "bkrn";
    rename.state = kButtonEnabled;
    const bool pressed = drawButtonRow({rename}, true) == 0;
    if (ImGui::IsItemHovered()) ImGui::SetTooltip("Use RENAME to persist this item\nClear name un-persist");
    if (!pressed) return;
    g_apps.renameShown = false;
    try {
        startEngineThread([key = g_apps.selectedKey, name = utf8ToWide(g_apps.renameBuffer)] {
            renameApplication(key, name);
            configurationSaved = false;  // the idle save keeps the name
        });
    } catch (...) {
    }
}

// Called with statisticsMutex held.
void drawApplicationDetails() {
    const auto it = applicationStatsMap.find(g_apps.selectedKey);
    if (it == applicationStatsMap.end()) return;
    const ApplicationRecord& record = it->second;
    ImGui::Separator();
    ImGui::SetNextItemOpen(true);
    if (!ImGui::TreeNode("Application Details##2")) return;
    const auto line = [](const char* label, const std::string& value) {
        ImGui::BulletText("%s", label);
        ImGui::SameLine(200);
        ImGui::TextUnformatted(value.c_str());
    };
    line("Display Name:", wideToUtf8(record.displayName));
    line("Monitor UI Focus", record.monitorFocus
                                 ? "Yes, On focus tag this application as the owner for updated or created files"
                                 : "No, Ignore this app as invisible");
    line("App File Path:", wideToUtf8(it->first));
    line("Changes Detected:", std::to_string(record.changeCount));
    line("Files Copied:", std::to_string(record.archivedCount));
    line("App Focus Time:", wideToUtf8(formatDurationMs(record.foregroundMs)));
    ImGui::TreePop();
}

}  // namespace

bool drawApplicationsTab() {
    if (!ImGui::BeginTabItem("Applications")) return false;
    const int32_t filter = applicationFilterValue();
    {
        std::lock_guard<std::mutex> lock(statisticsMutex);
        if (ImGui::BeginListBox("##Applications", mainWindow.listArea)) {
            if (!applicationStatsMap.empty()) {
                ImGui::TextUnformatted("\u25CF");
                ImGui::SameLine(50);
                ImGui::TextUnformatted("Time\t\t\t Count\t Wrt%\t  Process");
            }
            int number = 0;
            for (auto& [key, record] : applicationStatsMap) {
                ++number;
                if (filter >= 0 && static_cast<int32_t>(record.monitorFocus) != filter) continue;
                drawApplicationRow(key, record, number);
            }
            ImGui::EndListBox();
        }
        ImGui::Separator();
        drawRenameField();
        drawApplicationDetails();
    }
    ImGui::EndTabItem();
    return true;
}

void resetApplicationsTab() { g_apps = ApplicationsTabState(); }
