#include "windows/folders_tab.h"

#include <imgui.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <vector>

#include "engine/backup_engine.h"
#include "engine/backup_scheduler.h"
#include "engine/copy_cancel.h"
#include "engine/thread_registry.h"
#include "engine/version_deletion.h"
#include "foundation/app_config.h"
#include "foundation/app_log.h"
#include "foundation/colour_contrast.h"
#include "foundation/file_helpers.h"
#include "foundation/global_defaults.h"
#include "foundation/styles.h"
#include "foundation/text_format.h"
#include "foundation/texts.h"
#include "foundation/watch_folders.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "shell/buttons.h"
#include "shell/fonts.h"
#include "shell/shell_state.h"
#include "windows/backup_set_restore_window.h"
#include "windows/folder_choice.h"
#include "windows/folder_chooser.h"
#include "windows/main_window.h"
#include "windows/main_window_parts.h"
#include "windows/restore_items_view.h"
#include "windows/restore_or_remove_view.h"
#include "windows/scheduler_window.h"
#include "windows/window_jobs.h"

namespace {

// What the tab shows of one watch folder, copied out under its mutex.
struct FolderRow {
    std::wstring key;
    std::string name;  // display name, UTF-8
    std::wstring archivePath;
    int32_t type = 0;
    int32_t collision = 0;
    bool preserve = true;
    uint32_t pending = 0;
    double copyProgress = 0;
    size_t copyItems = 0;
    int32_t backupState = kBackupStateIdle;
    double backupProgress = 0;
    int64_t backupStart = 0;
    size_t backupItems = 0;
    uint32_t problems = 0;
};

// The window's own timing of a folder's copies.
struct CopyTiming {
    int64_t startMs = -1;  // -1: not started
    double lastProgress = -1;
    int64_t lastMovedMs = 0;
    std::string elapsed;
    std::string remaining;
};
std::map<std::wstring, CopyTiming> g_copyTimings;

const char* typeSymbol(int32_t type) {
    switch (type) {
        case kFolderTypeFolder: return "\u25CB";
        case kFolderTypeDescendents: return "\u25CF";
        case kFolderTypeExclude: return "\u00D8";
        default: return "\u25A1";
    }
}

const char* typeText(int32_t type) {
    switch (type) {
        case kFolderTypeFolder: return "Watch Folder";
        case kFolderTypeDescendents: return "Watch Folder & Descendents";
        case kFolderTypeExclude: return "Exclude Folder";
        default: return "Disabled";
    }
}

const char* collisionText(int32_t option) {
    switch (option) {
        case kCollisionAppendVersion: return "Append Version Number";
        case kCollisionAppendTimeStamp: return "Append Time Stamp";
        case kCollisionOverwrite: return "Overwrite";
        default: return "Single Backup, never overwrite";
    }
}

std::vector<FolderRow> folderRows() {
    std::vector<FolderRow> rows;
    std::lock_guard<std::mutex> lock(watchFolderMutex);
    rows.reserve(watchFolderMap.size());
    for (const auto& [key, entry] : watchFolderMap) {
        if (entry.removed) continue;
        FolderRow row;
        row.key = key;
        row.name = wideToUtf8(entry.displayName);
        row.archivePath = entry.archivePath;
        row.type = entry.folderType;
        row.collision = entry.collisionOption;
        row.preserve = entry.preserveHierarchy;
        row.pending = entry.changesDetected > entry.givenUpCount ? entry.changesDetected - entry.givenUpCount : 0;
        row.copyProgress = entry.progressRatio;
        row.copyItems = entry.progressSet.size();
        row.backupState = entry.backupState;
        row.backupProgress = entry.backupProgress;
        row.backupStart = entry.backupStartTime;
        row.backupItems = entry.checklist.size();
        row.problems = entry.problemFlags;
        rows.push_back(std::move(row));
    }
    return rows;
}

const FolderRow* findRow(const std::vector<FolderRow>& rows, const std::wstring& key) {
    for (const FolderRow& row : rows)
        if (row.key == key) return &row;
    return nullptr;
}

void selectFolder(const FolderRow& row) {
    mainWindow.selectedKey = row.key;
    mainWindow.selectedArchivePath = row.archivePath;
    mainWindow.selectionHasVersions = countBackupSetVersions(row.key) > 0;
    mainWindow.archivePathExists = isExistingFolder(row.archivePath);
}

void markSelectedEntries() {
    std::lock_guard<std::mutex> lock(watchFolderMutex);
    for (auto& [key, entry] : watchFolderMap) entry.selected = key == mainWindow.selectedKey;
}


void progressBar(double fraction) { drawProgressBar(fraction); }

std::string backupPhaseText(const FolderRow& row) {
    const char* format = nullptr;
    switch (row.backupState) {
        case 6: format = "Backup ( %3.3f%% ): Scanning folder(s)"; break;
        case 7: format = "Backup ( %3.3f%% ): Selecting changed files"; break;
        case 8: format = "Backup ( %3.3f%% ): Saving changed files"; break;
        case 9: return "Backup: Finished";
        default: return "Idle";
    }
    char text[128];
    std::snprintf(text, sizeof text, format, row.backupProgress * 100.0);
    return text;
}

// Follows a folder's copies: elapsed time, and the remaining time once the
// progress moves; both cleared when the progress stalls for a minute.
void followCopyTiming(const FolderRow& row, CopyTiming& timing, int64_t nowMs) {
    if (timing.startMs < 0) {
        timing.startMs = nowMs;
        timing.lastMovedMs = nowMs;
        timing.lastProgress = row.copyProgress;
    }
    const bool moved = row.copyProgress != timing.lastProgress;
    if (!moved && nowMs - timing.lastMovedMs >= 60001) {
        // Stalled: no times until the progress moves again.
        timing.startMs = nowMs;
        timing.elapsed.clear();
        timing.remaining.clear();
        return;
    }
    const uint64_t elapsed = static_cast<uint64_t>(nowMs - timing.startMs);
    const double total = static_cast<double>(row.copyItems);
    const double done = total * row.copyProgress;
    timing.elapsed = wideToUtf8(formatDurationMs(elapsed));
    timing.remaining = remainingTimeText(elapsed, done, total);
    if (nowMs - timing.lastMovedMs > 60000) {
        timing.elapsed.clear();
        timing.remaining.clear();
    }
    if (moved) {
        timing.lastProgress = row.copyProgress;
        timing.lastMovedMs = nowMs;
    }
}

void drawStateCell(const FolderRow& row, CopyTiming& timing) {
    if (row.pending == 0) {
        // Nothing pending: the next batch starts its own clock, also after a
        // stall that had already cleared the times.
        timing = CopyTiming();
        ImGui::TextUnformatted(backupPhaseText(row).c_str());
    } else {
        progressBar(row.copyProgress);
    }
}

void drawPendingCell(const FolderRow& row, CopyTiming& timing, int64_t nowMs) {
    std::string text = row.pending ? std::to_string(row.pending) : " ";
    if (row.pending) followCopyTiming(row, timing, nowMs);
    if (!timing.elapsed.empty()) text += " \u2192 " + timing.elapsed + " | " + timing.remaining;
    ImGui::TextUnformatted(text.c_str());
}

void drawNameCell(const FolderRow& row) {
    bool selected = row.key == mainWindow.selectedKey;
    const bool problem = row.problems != 0;
    if (problem) ImGui::PushStyleColor(ImGuiCol_Text, blinkingTextColour());
    const std::string label = std::string(problem ? " \u203C" : typeSymbol(row.type));
    const bool clicked = ImGui::Selectable(label.c_str(), &selected, ImGuiSelectableFlags_AllowDoubleClick);
    const bool hovered = ImGui::IsItemHovered();
    if (clicked || (hovered && (ImGui::IsMouseClicked(ImGuiMouseButton_Left) ||
                                ImGui::IsMouseClicked(ImGuiMouseButton_Right))))
        selectFolder(row);
    if (row.key == mainWindow.selectedKey) updateFolderEntry(row.key);
    if (hovered) ImGui::SetTooltip("Right-Click for %s options", row.name.c_str());
    ImGui::SameLine(32);
    ImGui::TextUnformatted(row.name.c_str());
    if (problem) ImGui::PopStyleColor();
}

void drawFolderTable(const std::vector<FolderRow>& rows, int32_t mask, int64_t nowMs) {
    if (!ImGui::BeginTable("Folders", 3)) return;
    for (const FolderRow& row : rows) {
        if ((row.type & mask) == 0) continue;
        CopyTiming& timing = g_copyTimings[row.key];
        ImGui::PushID(wideToUtf8(row.key).c_str());
        ImGui::TableNextRow();
        ImGui::TableNextColumn();
        drawNameCell(row);
        ImGui::TableNextColumn();
        drawStateCell(row, timing);
        ImGui::TableNextColumn();
        drawPendingCell(row, timing, nowMs);
        ImGui::PopID();
    }
    ImGui::EndTable();
}

void drawWelcome() {
    if (shellFirstRun()) {
        ImGui::PushStyleColor(ImGuiCol_Text, readableColour(ImGui::GetStyleColorVec4(ImGuiCol_PlotHistogramHovered),
                                                            {listBackgroundColour()}, kTextContrast));
        for (std::string line : welcomeTextLines()) {
            replaceAll(line, "\t", "     ");
            ImGui::TextUnformatted(line.c_str());
        }
        ImGui::PopStyleColor();
        ImGui::TextUnformatted("");
        ImGui::Separator();
    }
    ImGui::TextUnformatted("Add a watch folder by clicking on the \"Add\" button below.");
    ImGui::TextUnformatted("");
    for (std::string_view line : kMainWindowHelpLines) ImGui::BulletText("%.*s", static_cast<int>(line.size()), line.data());
}

int32_t filterMask() {
    const FilterList& list = folderFilterList();
    int index;
    {
        std::lock_guard<std::mutex> lock(appSettingsMutex);
        index = static_cast<int>(appSettings.folderChoice);
    }
    if (index < 0 || index >= static_cast<int>(list.items.size())) index = 0;
    ImGui::TextUnformatted("Current list of Monitored or Excluded folders:");
    ImGui::SameLine();
    ImGui::SetNextItemWidth(270);
    const int chosen = index;
    ImGui::Combo(" Show Folders Filter", &index, list.comboText.c_str());
    if (index != chosen) {
        std::lock_guard<std::mutex> lock(appSettingsMutex);
        appSettings.folderChoice = static_cast<uint32_t>(index);
        configurationSaved = false;
    }
    return list.items[static_cast<size_t>(index)].value;
}

void drawFolderList(const std::vector<FolderRow>& rows, int64_t nowMs) {
    const int32_t mask = filterMask();
    if (ImGui::BeginListBox("##folders", mainWindow.listArea)) {
        if (rows.empty())
            drawWelcome();
        else
            drawFolderTable(rows, mask, nowMs);
        ImGui::EndListBox();
    }
    markSelectedEntries();
}

// Button states of this frame, in row order: Add, Remove, Backup, Restore, Cancel.
std::vector<UIButtonRowItem> buttonRow(const FolderRow* selected) {
    const bool backup = isBackupRunning();
    const bool restoreJob = isRestoreJobRunning();
    const bool setWindow = isBackupSetRestoreWindowOpen();
    const bool restoreView = isRestoreOrRemoveViewOpen();
    const bool addRemove = !backup && !setWindow;
    const bool backupOk = !restoreJob && !backup && !setWindow && !restoreView && mainWindow.archivePathExists &&
                          selected != nullptr;
    const bool restoreOk = !restoreJob && !backup && mainWindow.selectionHasVersions && !setWindow && !restoreView &&
                           selected != nullptr && !mainWindow.selectionBackupActive && selected->pending == 0;
    auto item = [](const char* key, bool enabled) {
        UIButtonRowItem row;
        row.key = key;
        row.state = enabled ? kButtonEnabled : kButtonDisabled;
        return row;
    };
    return {item("bka", addRemove), item("bkr", addRemove), item("bkbuf", backupOk), item("bkrf", restoreOk),
            item("bkcncl", backup)};
}

void startBackup(const FolderRow& row) {
    setUIButtonState("bkbuf", kButtonDisabled);
    if (row.backupState != kBackupStateIdle || !claimBackupRunning()) return;
    mainWindow.backupSeenRunning = true;  // however soon it ends
    {
        std::lock_guard<std::mutex> lock(watchFolderMutex);
        auto it = watchFolderMap.find(row.key);
        if (it != watchFolderMap.end()) {
            it->second.backupState = kBackupStateStarting;
            it->second.backupProgress = 0.0;
        }
    }
    const std::wstring key = row.key;
    const bool recursive = row.type == kFolderTypeDescendents;
    const int64_t start = currentTimeTicks();
    try {
        startEngineThread([key, start, recursive] { backupThreadMain(key, start, recursive); });
    } catch (...) {
        setBackupRunning(false);
    }
}

void runClickedButton(int32_t clicked, const FolderRow* selected) {
    switch (clicked) {
        case 0:
            mainWindow.chooserOperation = kChooserNewFolderEntry;
            // Before any choice the user's home is a better start than the
            // program's working folder.
            openFolderChooser(mainWindow.lastChosenFolder.empty() ? expandEnvironmentPlaceholders(L"{{USERPROFILE}}")
                                                                  : mainWindow.lastChosenFolder);
            break;
        case 1:
            if (!selected) break;
            try {
                startEngineThread([key = selected->key] { confirmRemoveFolderEntry(key); });
            } catch (...) {
            }
            mainWindow.selectedKey.clear();
            setUIButtonState("bkr", kButtonDisabled);
            break;
        case 2:
            if (selected) startBackup(*selected);
            break;
        case 3:
            if (!selected) break;
            setUIButtonState("bkrf", kButtonDisabled);
            startRestoreListJob(selected->key);
            break;
        case 4: setCancelRequest(CancelTask::Backup, true); break;
        default: break;
    }
}

void showFolderChooser() {
    std::wstring chosen;
    if (!displayFolderChooser(chosen)) return;
    if (!chosen.empty()) {
        if (mainWindow.chooserOperation == kChooserNewFolderEntry)
            addChosenWatchFolder(chosen);
        else if (mainWindow.chooserOperation == kChooserUpdateFolderEntry)
            changeSelectedArchive(chosen);
    }
}

void detailLine(const char* label, const std::string& value) {
    ImGui::Bullet();
    ImGui::TextUnformatted(label);
    ImGui::SameLine(200);
    ImGui::TextUnformatted(value.c_str());
}

std::string backupDetailText(const FolderRow& row) {
    switch (row.backupState) {
        case 5: return "Idle";
        case 6: return "Scanning... ";
        case 7: return "Selecting... ";
        case 8: break;
        default: return "unknown";
    }
    if (row.backupStart <= 0) return "\u2192 --:--:-- | --:--:--";
    const uint64_t elapsed = static_cast<uint64_t>(std::max<int64_t>(currentTimeTicks() - row.backupStart, 0) / 10000);
    const double total = static_cast<double>(row.backupItems);
    return "\u2192 " + wideToUtf8(formatDurationMs(elapsed)) + " | " +
           remainingTimeText(elapsed, total * row.backupProgress, total);
}

void drawProblems(uint32_t problems) {
    if (problems == 0) return;
    ImGui::TextUnformatted("Problems Found:");
    ImGui::Indent(50);
    if (problems & kProblemArchiveMissing)
        ImGui::BulletText("Archive Path is NOT Writable - (Suggestion: Insert Missing Media)");
    if (problems & kProblemMonitorFolderMissing) ImGui::BulletText("Monitor Folder Missing");
    if (problems & kProblemCannotMonitor) ImGui::BulletText("Can't Monitor Folder");
    ImGui::Unindent(50);
}

// Before the buttons are drawn, so a backup that ended frees Restore in the
// same frame.
void followSelectionBackup(const FolderRow& row) {
    if (row.backupState >= 6 && row.backupState <= 8)
        mainWindow.selectionBackupActive = true;
    else if (row.backupState == kBackupStateIdle && row.backupItems == 0)
        mainWindow.selectionBackupActive = false;
}

void drawDetails(const FolderRow& row) {
    if (!ImGui::TreeNodeEx("Folder Details##1", ImGuiTreeNodeFlags_DefaultOpen)) return;
    detailLine("Display Name:", row.name);
    detailLine("Monitor Folder:", wideToUtf8(row.key));
    detailLine("Archive Path:", wideToUtf8(row.archivePath));
    detailLine("Type:", typeText(row.type));
    detailLine("Maintain Heiarchy:", row.preserve ? "Preserve" : "Flat");
    detailLine("Collision Option:", collisionText(row.collision));
    detailLine("Changes:", row.pending ? "Writes Pending: " + std::to_string(row.pending) : std::string());
    const CopyTiming& timing = g_copyTimings[row.key];
    if (!timing.elapsed.empty()) detailLine("Elapsed/Remain:", timing.elapsed + " | " + timing.remaining);
    char progress[64];
    std::snprintf(progress, sizeof progress, "%3.3f%%  ", row.backupProgress * 100.0);
    detailLine("Backup Progress:", progress + backupDetailText(row));
    progressBar(row.backupProgress);
    drawProblems(row.problems);
    ImGui::TreePop();
}

// Once a second, and at once when a backup ended: the archive may come and
// go, and a backup may have saved the first set of the selected folder.
void recheckSelection(int64_t nowMs, const FolderRow* selected) {
    const int64_t second = nowMs / 1000;
    const bool backupRunning = isBackupRunning();
    const bool backupEnded = mainWindow.backupSeenRunning && !backupRunning;
    mainWindow.backupSeenRunning = backupRunning;
    if (second == mainWindow.archiveCheckSecond && !backupEnded) return;
    mainWindow.archiveCheckSecond = second;
    if (!selected) return;
    mainWindow.selectedArchivePath = selected->archivePath;
    mainWindow.archivePathExists = isExistingFolder(selected->archivePath);
    mainWindow.selectionHasVersions = countBackupSetVersions(selected->key) > 0;
}

}  // namespace

std::string remainingTimeText(uint64_t elapsedMs, double done, double total) {
    if (!(done > 0) || !(total >= done)) return "--:--:--";
    const double remaining = total - done;
    const double ms = static_cast<double>(elapsedMs) / done * remaining;
    constexpr double kLimit = 1e15;  // far past any display, well inside the integer
    return wideToUtf8(formatDurationMs(static_cast<uint64_t>(std::min(ms, kLimit))));
}

bool drawFoldersTab() {
    if (!ImGui::BeginTabItem("Folders")) return false;
    const int64_t nowMs = windowClockMs();
    const std::vector<FolderRow> rows = folderRows();
    drawFolderList(rows, nowMs);
    const FolderRow* selected = findRow(rows, mainWindow.selectedKey);
    recheckSelection(nowMs, selected);
    if (selected) followSelectionBackup(*selected);
    runClickedButton(drawButtonRow(buttonRow(selected), true), selected);
    showFolderChooser();
    if (selected && !mainWindow.selectedKey.empty()) drawDetails(*selected);
    ImGui::EndTabItem();
    return true;
}

void resetFoldersTab() { g_copyTimings.clear(); }
