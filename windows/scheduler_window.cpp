// "Manage Schedule: ": the triggers of one watch folder, with the "+" row
// that adds one, the Active cell that selects and enables or disables a
// trigger, and " Edit ", " Remove " and " Dismiss ".
#include "windows/scheduler_window.h"

#include <imgui.h>

#include <algorithm>
#include <atomic>
#include <cfloat>
#include <cmath>
#include <mutex>
#include <vector>

#include "engine/backup_scheduler.h"
#include "engine/thread_registry.h"
#include "foundation/button_table.h"
#include "foundation/text_format.h"
#include "foundation/watch_folders.h"
#include "platform/text.h"
#include "shell/buttons.h"
#include "shell/display_items.h"
#include "shell/fonts.h"
#include "windows/main_window_parts.h"

namespace {

std::atomic<bool> g_open{false};
std::mutex g_folderMutex;
std::wstring g_folderKey;  // guarded by g_folderMutex

// Main thread only. The selection is a trigger id, so a row that moves
// keeps its selection and a removed one loses it.
struct ScheduleWindowState {
    bool opened = false;
    bool firstFrame = false;
    uint64_t selectedId = 0;  // 0: no row selected
    bool plusToggle = false;
};
ScheduleWindowState g_state;

// The folder's triggers; false when the key is not (or no longer) a listed folder.
bool copyFolderTriggers(const std::wstring& key, std::vector<ScheduleTrigger>& triggers) {
    std::lock_guard<std::mutex> lock(watchFolderMutex);
    const auto it = watchFolderMap.find(key);
    if (it == watchFolderMap.end() || it->second.removed) return false;
    triggers = it->second.scheduleTriggers;
    return true;
}

// The folder's trigger list; the caller holds watchFolderMutex.
std::vector<ScheduleTrigger>* triggerListLocked(const std::wstring& key) {
    const auto it = watchFolderMap.find(key);
    return it == watchFolderMap.end() ? nullptr : &it->second.scheduleTriggers;
}

void addTrigger(const std::wstring& key) {
    ScheduleTrigger trigger;
    const int64_t now = engineNowTicks();
    trigger.activationDate = trigger.creationTime = trigger.nextTrigger = trigger.lastTrigger = now;
    computeNextRunTime(trigger, now);  // inactive: changes nothing
    {
        std::lock_guard<std::mutex> lock(watchFolderMutex);
        std::vector<ScheduleTrigger>* triggers = triggerListLocked(key);
        if (!triggers) return;
        triggers->push_back(trigger);
    }
    configurationSaved = false;
}

void flipActive(const std::wstring& key, uint64_t id) {
    {
        std::lock_guard<std::mutex> lock(watchFolderMutex);
        std::vector<ScheduleTrigger>* triggers = triggerListLocked(key);
        if (!triggers) return;
        for (ScheduleTrigger& trigger : *triggers)
            if (trigger.id == id) trigger.active = trigger.active ? 0 : 1;
    }
    configurationSaved = false;  // written soon by the idle save, not only at shut-down
}

void removeTrigger(const std::wstring& key, uint64_t id) {
    {
        std::lock_guard<std::mutex> lock(watchFolderMutex);
        std::vector<ScheduleTrigger>* triggers = triggerListLocked(key);
        if (!triggers) return;
        triggers->erase(std::remove_if(triggers->begin(), triggers->end(),
                                       [id](const ScheduleTrigger& trigger) { return trigger.id == id; }),
                        triggers->end());
    }
    configurationSaved = false;
}

std::string timeCell(int64_t ticks) { return wideToUtf8(formatTimestamp(ticks, true)); }

void drawTriggerRow(const std::wstring& key, const ScheduleTrigger& trigger, size_t row) {
    ImGui::PushID(static_cast<int>(row));
    ImGui::TableNextRow();
    ImGui::TableNextColumn();
    const bool selected = trigger.id == g_state.selectedId;
    if (ImGui::Selectable(trigger.active ? "enabled" : "disabled", selected, ImGuiSelectableFlags_AllowDoubleClick)) {
        if (selected) flipActive(key, trigger.id);
        g_state.selectedId = trigger.id;
    }
    const std::string cells[] = {repeatTypeText(trigger.repeatType), timeCell(trigger.activationDate),
                                 trigger.active ? timeCell(trigger.nextTrigger) : "-",
                                 timeCell(trigger.lastTrigger), backupResultText(trigger.result)};
    for (const std::string& cell : cells) {
        ImGui::TableNextColumn();
        ImGui::Text("%s", cell.c_str());
    }
    ImGui::PopID();
}

void drawTriggerList(const std::wstring& key, const std::vector<ScheduleTrigger>& triggers) {
    const ImVec2 size(ImGui::GetWindowWidth() - 20, std::floor(ImGui::GetWindowHeight() - 150));
    if (!ImGui::BeginListBox("##Schedule", size)) return;
    if (ImGui::Selectable("+", g_state.plusToggle, ImGuiSelectableFlags_AllowDoubleClick)) {
        g_state.plusToggle = !g_state.plusToggle;
        addTrigger(key);
    }
    if (!triggers.empty() && ImGui::BeginTable("Scheduler", 6)) {
        // The three times with their milliseconds need the most room.
        const float weights[] = {1.0f, 1.0f, 2.2f, 2.2f, 2.2f, 1.2f};
        for (float weight : weights) ImGui::TableSetupColumn("", ImGuiTableColumnFlags_WidthStretch, weight);
        ImGui::TableNextRow();
        for (const char* title : {"Active", "Repeat Type", "Activation Date", "Next Trigger", "Last Trigger", "Result"}) {
            ImGui::TableNextColumn();
            ImGui::TextUnformatted(title);
        }
        for (size_t row = 0; row < triggers.size(); ++row) drawTriggerRow(key, triggers[row], row);
        ImGui::EndTable();
    }
    ImGui::EndListBox();
}

void drawScheduleButtons(const std::wstring& key) {
    const bool selected = g_state.selectedId != 0;
    const bool rowEnabled = selected && !isTriggerEditorOpen();
    const int32_t pressed = drawButtonRow(
        {buttonRowItem("bkre", rowEnabled), buttonRowItem("bkr", rowEnabled), buttonRowItem("bkc")}, true);
    if (pressed == 0 && rowEnabled) openTriggerEditor(key, g_state.selectedId);
    if (pressed == 1 && rowEnabled) {
        removeTrigger(key, g_state.selectedId);
        g_state.selectedId = 0;
    }
    if (pressed == 2) g_open.store(false);
    ImGui::BulletText("Items Selected: %d", selected ? 1 : 0);
}

void closeScheduleWindow() {
    g_open.store(false);
    removeDisplayItemZOrder(kSchedulerItemId);
    g_state = ScheduleWindowState();
    closeTriggerEditor();
}

void drawScheduleWindow(const std::wstring& key, const std::vector<ScheduleTrigger>& triggers) {
    ImGui::SetNextWindowSizeConstraints(ImVec2(740, 250), ImVec2(FLT_MAX, FLT_MAX));
    if (g_state.firstFrame) {
        ImGui::SetNextWindowPos(ImVec2(20, 20));
        ImGui::SetNextWindowSize(ImVec2(1000, 260));  // wide enough for three whole times
    }
    bool open = true;
    if (ImGui::Begin("Manage Schedule: ", &open, ImGuiWindowFlags_NoCollapse)) {
        checkDisplayItemZOrder(kSchedulerItemId);
        ImGui::PushFont(fontArial16 ? fontArial16 : ImGui::GetFont());
        drawTriggerList(key, triggers);
        drawScheduleButtons(key);
        ImGui::PopFont();
    }
    ImGui::End();
    g_state.firstFrame = false;
    if (!open) g_open.store(false);
}

}  // namespace

std::wstring schedulerWindowFolder() {
    std::lock_guard<std::mutex> lock(g_folderMutex);
    return g_folderKey;
}

bool isSchedulerWindowOpen() { return g_open.load(); }

void openSchedulerWindow(const std::wstring& folderKey) {
    {
        std::lock_guard<std::mutex> lock(g_folderMutex);
        g_folderKey = folderKey;
    }
    // Kept in front of the main window while open.
    pushDisplayItemZOrder(kSchedulerItemId);
    g_open.store(true);
}

void drawSchedulerWindow() {
    const std::wstring key = schedulerWindowFolder();
    std::vector<ScheduleTrigger> triggers;
    // A folder removed meanwhile: the window closes without drawing.
    if (!g_open.load() || !copyFolderTriggers(key, triggers)) {
        closeScheduleWindow();
        return;
    }
    if (!g_state.opened) {
        configurationSaved = false;
        g_state = ScheduleWindowState();
        g_state.opened = g_state.firstFrame = true;
    }
    const bool selectionKept = std::any_of(triggers.begin(), triggers.end(),
                                           [](const ScheduleTrigger& t) { return t.id == g_state.selectedId; });
    if (!selectionKept) g_state.selectedId = 0;
    drawScheduleWindow(key, triggers);
    if (isTriggerEditorOpen()) drawTriggerEditorWindow();
    if (!g_open.load()) closeScheduleWindow();
}

void resetSchedulerWindows() {
    closeScheduleWindow();
    resetTriggerEditor();
    {
        std::lock_guard<std::mutex> lock(g_folderMutex);
        g_folderKey.clear();
    }
}
