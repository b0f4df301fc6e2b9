#include "windows/backup_set_restore_window.h"
#include "engine/backup_sets.h"
#include "foundation/watch_folders.h"
#include "platform/paths.h"

#include <imgui.h>

#include <algorithm>
#include <atomic>
#include <cfloat>
#include <functional>
#include <map>
#include <mutex>
#include <vector>

#include "engine/backup_data_tasks.h"
#include "engine/restore_state.h"
#include "engine/restore_tasks.h"
#include "engine/smart_lists.h"
#include "engine/thread_registry.h"
#include "foundation/app_log.h"
#include "foundation/data_files.h"
#include "foundation/file_helpers.h"
#include "foundation/text_format.h"
#include "platform/text.h"
#include "shell/buttons.h"
#include "shell/display_items.h"
#include "shell/fonts.h"
#include "windows/restore_items_view.h"
#include "shell/text_widgets.h"
#include "engine/copy_cancel.h"
#include "engine/copy_progress.h"

namespace {

constexpr int32_t kWindowItemId = 1;

// Button indices of the row, in drawing order.
enum SetButton { kRemove, kRestore, kEdit, kDismiss, kCancel };

std::atomic<bool> g_open{false};

// User-interface thread only. The list, folder and notes are copies, taken
// whenever their locks are free, so a task that holds one never stalls a frame.
struct SetWindowState {
    bool firstFrame = false;
    std::wstring chosenKey;
    std::wstring requestedKey;  // whose statistics were asked for last
    std::string label;
    bool listRead = false;
    std::map<std::wstring, SetListEntry> list;
    std::wstring folder;
    std::map<std::wstring, std::string> notes;  // set file path -> note
    double progressRatio = 0.0;
    uint64_t progressBytes = 0;
};
SetWindowState g_state;

void refreshCopies() {
    {
        std::unique_lock<std::mutex> lock(backupSetListMutex, std::try_to_lock);
        if (lock.owns_lock()) {
            g_state.list = backupSetList;
            g_state.folder = restoreListFolder;
            g_state.listRead = true;
        }
    }
    {
        std::unique_lock<std::mutex> lock(backupSetNotesMutex, std::try_to_lock);
        if (lock.owns_lock()) {
            g_state.notes.clear();
            for (const auto& [key, entry] : g_state.list) {
                const auto note = backupSetNotesMap.find(entry.setFilePath);
                if (note != backupSetNotesMap.end()) g_state.notes.emplace(entry.setFilePath, note->second);
            }
        }
    }
    std::unique_lock<std::mutex> lock(progressMutex, std::try_to_lock);
    if (lock.owns_lock()) {
        g_state.progressRatio = globalProgressSet.ratio;
        g_state.progressBytes = globalProgressSet.totalBytes;
    }
}

const SetListEntry* listedEntry(const std::wstring& key) {
    const auto it = g_state.list.find(key);
    return it == g_state.list.end() ? nullptr : &it->second;
}

// Changes the entry of `key` by key, when the list still holds it.
void changeEntry(const std::wstring& key, const std::function<void(SetListEntry&)>& change) {
    if (const SetListEntry* entry = listedEntry(key)) updateSetListEntry(key, entry->setFilePath, change);
}

void startTask(std::function<void()> body) {
    try {
        startEngineThread(std::move(body));
    } catch (const std::exception&) {
        appendAppLogEntry(L"Critical! - Unable to start a backup-set task", 8, true);
    }
}

void chooseSet(const std::wstring& key, const SetListEntry& entry) {
    g_state.chosenKey = key;
    g_state.label = wideToUtf8(entry.displayName);
    if (key == g_state.requestedKey) return;
    startTask([key] { buildSmartList(key, true); });
    changeEntry(key, [](SetListEntry& e) { e.mark = 0; });
    // Clearing the earlier set's ready mark also stops its size measuring.
    if (!g_state.requestedKey.empty()) changeEntry(g_state.requestedKey, [](SetListEntry& e) {
        e.mark = 0;
        e.statisticsReady = 0;
    });
    g_state.requestedKey = key;
}

void clearChoice() {
    g_state.chosenKey.clear();
    g_state.label.clear();
}

void drawSetRows() {
    for (const auto& [key, entry] : g_state.list) {
        const std::string name = wideToUtf8(entry.displayName);
        if (entry.beingRemoved) {
            if (!entry.removalShown) continue;
            ImGui::TableNextRow();
            ImGui::TableSetColumnIndex(0);
            ImGui::TextUnformatted(name.c_str());
            ImGui::TableSetColumnIndex(1);
            ImGui::Text("%3d%% Removed!", static_cast<int>(entry.removalProgress * 100.0));
            continue;
        }
        ImGui::TableNextRow();
        ImGui::TableSetColumnIndex(0);
        if (textSelectable(name, entry.mark != 0,
                           ImGuiSelectableFlags_SpanAllColumns | ImGuiSelectableFlags_AllowDoubleClick))
            chooseSet(key, entry);
        ImGui::TableSetColumnIndex(1);
        const auto note = g_state.notes.find(entry.setFilePath);
        if (note != g_state.notes.end()) ImGui::TextUnformatted(note->second.c_str());
    }
}

void pressButton(int32_t index, bool& open) {
    const SetListEntry* entry = listedEntry(g_state.chosenKey);
    switch (index) {
        case kRemove:
            if (entry) {
                const std::wstring path = entry->setFilePath, key = g_state.chosenKey;
                startTask([path, key] { removeBackupSetTask(path, key); });
            }
            clearChoice();
            break;
        case kRestore:
            if (entry) {
                const std::wstring path = entry->setFilePath, folder = g_state.folder;
                startTask([path, folder] { restoreBackupSetTask(path, folder); });
            }
            break;
        case kEdit:
            if (entry) {
                const std::wstring path = entry->setFilePath;
                resetRestoreItemsView();  // no edit runs now: the view starts afresh
                startTask([path] { threadLoadAndEditRestoreFileSet(path); });
            }
            clearChoice();
            break;
        case kDismiss: open = false; break;
        case kCancel: setCancelRequest(CancelTask::Restore, true); break;
        default: break;
    }
}

void drawButtons(bool restoring, bool& open) {
    const bool chosen = !g_state.chosenKey.empty();
    const SetListEntry* entry = listedEntry(g_state.chosenKey);
    // A chosen set the list no longer holds counts as existing.
    const bool fileExists = !entry || isExistingFile(entry->setFilePath);
    const bool changeable = chosen && !restoring && fileExists;
    const bool edited = entry && entry->setFilePath == backupSetEditPath();  // its items view is open
    const std::vector<UIButtonRowItem> items = {
        buttonRowItem("bkr", changeable && !edited),
        buttonRowItem("bkrf", chosen && !restoring),
        buttonRowItem("bkre", changeable && !isBackupSetEditRunning()),  // one edit at a time
        buttonRowItem("bkc", !restoring),
        buttonRowItem("bkcncl", restoring),
    };
    pressButton(drawButtonRow(items, true), open);
}

void drawStatistics() {
    if (g_state.chosenKey.empty()) return;
    ImGui::BulletText("Selected: %s", g_state.label.c_str());
    const SetListEntry* entry = listedEntry(g_state.chosenKey);
    if (!entry || !entry->statisticsReady) {
        ImGui::TextUnformatted("Reading ...");
        return;
    }
    ImGui::BulletText("File Count: %llu", static_cast<unsigned long long>(entry->fileCount));
    ImGui::BulletText("Selected to restore: %llu", static_cast<unsigned long long>(entry->selectedToRestore));
    ImGui::BulletText("Existing: %llu", static_cast<unsigned long long>(entry->existing));
    ImGui::BulletText("Missing: %llu", static_cast<unsigned long long>(entry->missing));
    ImGui::BulletText("Consistency: %3.1f%%", entry->consistency * 100.0);
    const std::string bytes = wideToUtf8(formatDecimal(static_cast<double>(entry->totalBytes), 0));
    ImGui::BulletText("Total Bytes: %s", bytes.c_str());
}

void drawRestoreProgress() {
    const double fraction = restoreProgress.load() == 1.0 ? 1.0 : std::clamp(g_state.progressRatio, 0.0, 1.0);
    const int64_t elapsedMs = std::max<int64_t>(0, (currentTimeTicks() - restoreStartTicks.load()) / 10000);
    const double total = static_cast<double>(g_state.progressBytes);
    const double done = total * fraction;
    const double remainingMs = done > 0.0 ? static_cast<double>(elapsedMs) / done * (total - done) : 0.0;
    const std::string times = wideToUtf8(formatDurationMs(static_cast<uint64_t>(elapsedMs))) + " | " +
                              wideToUtf8(formatDurationMs(static_cast<uint64_t>(std::max(remainingMs, 0.0))));
    ImGui::BulletText("Restore Progress: %3.3f%%  %s", fraction * 100.0, times.c_str());
    drawProgressBar(fraction);
}

void drawContents(bool restoring, bool& open) {
    const ImVec2 size = ImGui::GetWindowSize();
    const ImVec2 listSize(std::max(size.x - 20.0f, 1.0f), std::max(size.y - 270.0f, 1.0f));
    if (ImGui::BeginListBox("##BackupSets", listSize)) {
        if (!g_state.listRead) {
            ImGui::TextUnformatted("Reading ...");
        } else if (ImGui::BeginTable("Backup Items", 2)) {
            drawSetRows();
            ImGui::EndTable();
        }
        ImGui::EndListBox();
    }
    drawButtons(restoring, open);
    drawStatistics();
    if (restoring) drawRestoreProgress();
}

// Closing drops the choice; the ready marks go too, which also ends the size
// measuring of the synthetic entry.
void closeWindow() {
    for (const std::wstring* key : {&g_state.chosenKey, &g_state.requestedKey})
        changeEntry(*key, [](SetListEntry& e) { e.statisticsReady = 0; });
    clearChoice();
    g_state.requestedKey.clear();
    g_state.firstFrame = false;
    g_open = false;
}

}  // namespace

void drawBackupSetRestoreWindow() {
    if (!g_state.firstFrame) {
        configurationSaved = false;  // saved again once the supervisor finds the program idle
        g_state.firstFrame = true;
    }
    refreshCopies();
    const bool restoring = restoreActive.load();
    bool open = true;
    // The id after "###" keeps the window's place whichever folder it shows.
    const std::string title =
        "Backup Set Restoration: " + wideToUtf8(lastPathComponent(g_state.folder)) + "###BackupSetRestoration";
    ImGui::SetNextWindowPos(ImVec2(40, 40), ImGuiCond_FirstUseEver);
    ImGui::SetNextWindowSize(ImVec2(640, 560), ImGuiCond_FirstUseEver);
    ImGui::SetNextWindowSizeConstraints(ImVec2(520, 420), ImVec2(FLT_MAX, FLT_MAX));
    if (ImGui::Begin(title.c_str(), restoring ? nullptr : &open, ImGuiWindowFlags_NoCollapse)) {
        checkDisplayItemZOrder(kWindowItemId);
        ImGui::PushFont(fontArial16 ? fontArial16 : ImGui::GetFont());
        drawContents(restoring, open);
        ImGui::PopFont();
    }
    ImGui::End();
    if (!open) closeWindow();
}

bool isBackupSetRestoreWindowOpen() { return g_open.load(); }

void openBackupSetRestoreWindow() { g_open = true; }

void resetBackupSetRestoreWindow() {
    g_state = SetWindowState();
    g_open = false;
}
