// The right-click popups of the Folders and Applications tabs: a watch
// folder's type, collision option and the windows it leads to; an
// application's owner-on-focus option. Every change runs on a thread.
#include <imgui.h>

#include <mutex>
#include <thread>

#include "engine/archive_changes.h"
#include "engine/thread_registry.h"
#include "foundation/app_config.h"
#include "foundation/app_log.h"
#include "foundation/button_table.h"
#include "foundation/watch_folders.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "shell/buttons.h"
#include "shell/fonts.h"
#include "windows/backup_set_restore_window.h"
#include "windows/extension_manager.h"
#include "windows/folder_chooser.h"
#include "windows/main_window.h"
#include "windows/main_window_parts.h"
#include "windows/restore_items_view.h"
#include "windows/restore_or_remove_view.h"
#include "windows/scheduler_window.h"
#include "windows/window_jobs.h"

namespace {

struct OptionItem {
    const char* mark;
    const char* text;
    int32_t value;
};
constexpr OptionItem kFolderTypes[] = {{"\u25CB", "Folder", kFolderTypeFolder},
                                       {"\u25CF", "Folder & Descendents", kFolderTypeDescendents},
                                       {"\u00D8", "Exclude", kFolderTypeExclude},
                                       {"\u25A1", "Disable", kFolderTypeDisable}};
constexpr OptionItem kCollisionOptions[] = {{"n", "0..n", kCollisionAppendVersion},
                                            {"t", "YYYY.MM.DD HH:MM:SS.sss", kCollisionAppendTimeStamp},
                                            {"=", "Overwrite", kCollisionOverwrite},
                                            {"*", "Keep", kCollisionSingleBackup}};

// The type or collision change last started; joined on the next frame, so
// one change runs at a time. User-interface thread only.
// Never destroyed: a job still unjoined at exit must not end the program.
std::thread& g_pendingOptionJob = *new std::thread;

void joinPendingOptionJob() {
    if (!g_pendingOptionJob.joinable() || g_pendingOptionJob.get_id() == std::this_thread::get_id()) return;
    g_pendingOptionJob.join();
    setUIButtonState("afdr", kButtonEnabled);
}

// The change reaches the entry and, marked unsaved, the configuration file.
void startOptionJob(void (*setter)(const std::wstring&, int32_t), const std::wstring& key, int32_t value) {
    joinPendingOptionJob();
    try {
        g_pendingOptionJob = std::thread([setter, key, value] {
            setter(key, value);
            configurationSaved = false;
        });
    } catch (...) {
        return;
    }
    setUIButtonState("afdr", kButtonEnabled);
}

// A folder kept disabled because its archive and a watched folder overlap
// stays unwatched: its copies and the user's own files would be taken for
// each other. Otherwise the supervisor rebuilds the watchers from the types,
// so a folder enabled again or widened to its descendents is watched.
void setTypeAndRewatch(const std::wstring& key, int32_t type) {
    std::wstring archive, conflict;
    if (isWatchedFolderType(type)) {
        std::lock_guard<std::mutex> lock(watchFolderMutex);
        const auto it = watchFolderMap.find(key);
        if (it == watchFolderMap.end()) return;
        archive = it->second.archivePath;
        conflict = archiveLocationConflictLocked(key, archive);
        if (conflict.empty()) it->second.folderType = type;
    } else {
        setFolderType(key, type);
    }
    if (!conflict.empty()) {
        appendAppLogEntry(L"Watch folder not enabled, its archive and a watch folder overlap: " + key + L" (archive " +
                              archive + L", watch folder " + conflict + L")",
                          4, false);
        return;
    }
    setWatchListChanged(true);
}

// Selectables of one option list, the current value marked; the value clicked or -1.
// Each selectable spans its whole row, so the option's words take the click too.
int32_t drawOptionList(const OptionItem* items, size_t count, int32_t current) {
    int32_t clicked = -1;
    for (size_t i = 0; i < count; ++i) {
        ImGui::PushID(static_cast<int>(i));
        const float start = ImGui::GetCursorPosX();
        if (ImGui::Selectable(items[i].mark)) clicked = items[i].value;
        if (items[i].value == current) {
            ImGui::SameLine(start + 20 + ImGui::GetStyle().ItemSpacing.x);
            ImGui::TextUnformatted("\u25BA");
        }
        ImGui::SameLine(50);
        ImGui::TextUnformatted(items[i].text);
        ImGui::PopID();
    }
    return clicked;
}

// One button row of the popup: an empty text, the table button on the same
// line; true when pressed while enabled.
bool drawPopupButton(const char* key, int32_t state) {
    UIButtonRowItem item;
    item.key = key;
    item.state = state;
    ImGui::PushID(key);
    const bool pressed = drawButtonRow({item}, true) == 0;
    ImGui::PopID();
    return pressed;
}

void drawFolderButtons(const std::wstring& key, const WatchFolderEntry& entry) {
    const bool canManageTypes = !g_pendingOptionJob.joinable() && !isExtensionManagerWindowOpen() &&
                                isWatchedFolderType(entry.folderType);
    if (drawPopupButton("bkaff", canManageTypes ? kButtonEnabled : kButtonDisabled) && canManageTypes) {
        setUIButtonState("bkaff", kButtonDisabled);
        openExtensionManagerWindow(key);
        ImGui::CloseCurrentPopup();
    }
    if (drawPopupButton("bkobs", isSchedulerWindowOpen() ? kButtonDisabled : kButtonEnabled)) {
        openSchedulerWindow(key);
        ImGui::CloseCurrentPopup();
    }
    if (drawPopupButton("bkal", kButtonEnabled)) {
        mainWindow.chooserOperation = kChooserUpdateFolderEntry;
        openFolderChooser(mainWindow.lastChosenFolder);
        ImGui::CloseCurrentPopup();
    }
    if (drawPopupButton("bkofl", kButtonEnabled)) {
        startShellOpen(key);
        ImGui::CloseCurrentPopup();
    }
    if (drawPopupButton("bkoal", kButtonEnabled)) {
        startShellOpen(entry.archivePath);
        ImGui::CloseCurrentPopup();
    }
    const bool restoreClosed = !isRestoreOrRemoveViewOpen() && !isBackupSetRestoreWindowOpen();
    if (drawPopupButton("bkrfv", restoreClosed ? kButtonEnabled : kButtonDisabled)) {
        openRestoreOrRemoveView(key);
        ImGui::CloseCurrentPopup();
    }
}

void drawFolderEntryOptions(const std::wstring& key, const WatchFolderEntry& entry) {
    joinPendingOptionJob();
    const std::string name = wideToUtf8(entry.displayName.empty() ? lastPathComponent(key) : entry.displayName);
    ImGui::TextUnformatted(("Edit Options [" + name + "]").c_str());
    ImGui::TextUnformatted("Folder Type:");
    ImGui::PushID("type");
    const int32_t type = drawOptionList(kFolderTypes, std::size(kFolderTypes), entry.folderType);
    ImGui::PopID();
    if (type >= 0) startOptionJob(setTypeAndRewatch, key, type);
    ImGui::Separator();
    ImGui::TextUnformatted("Collision Resolution:");
    ImGui::PushID("collision");
    const int32_t option = drawOptionList(kCollisionOptions, std::size(kCollisionOptions), entry.collisionOption);
    ImGui::PopID();
    if (option >= 0) startOptionJob(setFolderCollisionOption, key, option);
    ImGui::Separator();
    drawFolderButtons(key, entry);
}

}  // namespace

void updateFolderEntry(const std::wstring& folderKey) {
    if (!ImGui::BeginPopupContextItem("FolderEntryOptions")) return;
    WatchFolderEntry entry;
    bool found = false;
    {
        std::lock_guard<std::mutex> lock(watchFolderMutex);
        const auto it = watchFolderMap.find(folderKey);
        found = it != watchFolderMap.end() && !it->second.removed;
        if (found) entry = it->second;
    }
    ImGui::PushFont(fontTahoma16 ? fontTahoma16 : ImGui::GetFont());
    if (found)
        drawFolderEntryOptions(folderKey, entry);
    else
        ImGui::CloseCurrentPopup();
    ImGui::PopFont();
    ImGui::EndPopup();
}

void waitForFolderOptionJob() { joinPendingOptionJob(); }

void setApplicationMonitorFocus(const std::wstring& applicationKey, bool monitorFocus) {
    {
        std::lock_guard<std::mutex> lock(statisticsMutex);
        const auto it = applicationStatsMap.find(applicationKey);
        if (it == applicationStatsMap.end()) return;
        it->second.monitorFocus = monitorFocus;
        it->second.persistent = true;
    }
    configurationSaved = false;
}

void applicationOptions(const ApplicationRecord& record, const std::wstring& applicationKey) {
    static constexpr OptionItem kApplicationOptions[] = {{"\u25CF", "Yes - Tag as Owner", 1},
                                                         {"\u00D8", "No - Ignore UI Focus", 0}};
    ImGui::PushFont(fontTahoma16 ? fontTahoma16 : ImGui::GetFont());
    ImGui::TextUnformatted("Application Options");
    ImGui::TextUnformatted("File Owner on UI Activation:");
    const int32_t value =
        drawOptionList(kApplicationOptions, std::size(kApplicationOptions), record.monitorFocus ? 1 : 0);
    ImGui::PopFont();
    if (value < 0) return;
    try {
        startEngineThread([applicationKey, value] { setApplicationMonitorFocus(applicationKey, value == 1); });
    } catch (...) {
    }
}
