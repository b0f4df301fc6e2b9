#include "windows/restore_items_view.h"

#include <imgui.h>
#include <imgui_stdlib.h>

#include <algorithm>
#include <cfloat>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "engine/backup_sets.h"
#include "engine/smart_lists.h"
#include "foundation/data_files.h"
#include "foundation/file_helpers.h"
#include "foundation/watch_folders.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "shell/buttons.h"
#include "shell/display_items.h"
#include "shell/fonts.h"
#include "shell/text_widgets.h"

namespace {

constexpr int32_t kViewItemId = 2;
constexpr const char* kRootGroup = "<root>";

enum ItemsButton { kSelectAll, kDeselectAll, kDismiss };

// One change of the view, waiting to reach the edited set.
struct PendingChange {
    bool all = false;                // every entry's restore mark
    std::vector<std::wstring> keys;  // else these entries' marks
    bool restore = false;
    bool note = false;               // or the note: the view's note at that time
    std::string noteText;
};

struct FolderGroup {
    std::string name;
    std::vector<std::wstring> keys;
};

// User-interface thread only.
struct ItemsViewState {
    bool built = false;
    bool closing = false;  // dismissed: waits until its changes reached the set
    BackupSetRecord set;   // the view's copy of the edited set
    std::wstring setPath;
    std::wstring listKey;  // the set's entry in the set list, when listed
    std::vector<FolderGroup> groups;
    std::string currentFolder;
    std::wstring lastClicked;
    std::string note;
    std::vector<PendingChange> pending;
    bool countChanged = false;
};
ItemsViewState g_view;

// An entry's group: its whole folder below "/" (the only part of a path
// that is not a folder of its own), "<root>" for files right in "/". An
// entry relative to the set's folder ("./...") keeps its folder below that.
std::string groupNameOf(const std::wstring& key) {
    std::wstring rest = parentFolder(key);
    if (rest.rfind(L".", 0) == 0 && (rest.size() == 1 || rest[1] == kPathSeparator)) rest.erase(0, 1);
    while (!rest.empty() && rest.front() == kPathSeparator) rest.erase(0, 1);
    return rest.empty() ? kRootGroup : wideToUtf8(rest);
}

void buildGroups() {
    g_view.groups.clear();
    if (g_view.set.files.empty()) return;
    std::map<std::string, std::vector<std::wstring>> byName;
    for (const auto& [key, entry] : g_view.set.files) byName[groupNameOf(key)].push_back(key);
    for (auto& [name, keys] : byName) g_view.groups.push_back({name, std::move(keys)});
}

std::wstring listKeyOf(const std::wstring& setPath) {
    for (const auto& [key, entry] : backupSetListSnapshot())
        if (entry.setFilePath == setPath) return key;
    return L"";
}

// Takes the view's copy once the set's lock is free; false meanwhile.
bool buildView() {
    {
        std::unique_lock<std::mutex> lock(backupSetMutex, std::try_to_lock);
        if (!lock.owns_lock()) return false;
        g_view.set = editedBackupSet;
        g_view.setPath = editedBackupSetPath;
    }
    g_view.listKey = listKeyOf(g_view.setPath);
    g_view.note = g_view.set.note;
    g_view.currentFolder.clear();
    g_view.lastClicked.clear();
    g_view.pending.clear();
    buildGroups();
    g_view.built = true;
    return true;
}

void applyChange(const PendingChange& change) {
    if (change.note) {
        editedBackupSet.note = change.noteText;
    } else if (change.all) {
        for (auto& [key, entry] : editedBackupSet.files) entry.restore = change.restore;
    } else {
        for (const std::wstring& key : change.keys) {
            const auto it = editedBackupSet.files.find(key);
            if (it != editedBackupSet.files.end()) it->second.restore = change.restore;
        }
    }
}

uint64_t selectedCount() {
    return static_cast<uint64_t>(std::count_if(g_view.set.files.begin(), g_view.set.files.end(),
                                               [](const auto& item) { return item.second.restore; }));
}

// Hands the waiting changes to the edited set when its lock is free; true
// when none is left. Changes meant for a set that is no longer the edited one
// are dropped.
bool flushPending() {
    if (!g_view.pending.empty()) {
        std::unique_lock<std::mutex> lock(backupSetMutex, std::try_to_lock);
        if (!lock.owns_lock()) return false;
        if (editedBackupSetPath == g_view.setPath)
            for (const PendingChange& change : g_view.pending) applyChange(change);
        g_view.pending.clear();
    }
    if (g_view.countChanged && !g_view.listKey.empty()) {
        const uint64_t count = selectedCount();
        updateSetListEntry(g_view.listKey, g_view.setPath, [count](SetListEntry& e) { e.selectedToRestore = count; });
    }
    g_view.countChanged = false;
    return true;
}

// Marks entries in the view's copy at once, and for the edited set.
void markEntries(bool all, const std::vector<std::wstring>& keys, bool restore) {
    if (all) {
        for (auto& [key, entry] : g_view.set.files) entry.restore = restore;
    } else {
        for (const std::wstring& key : keys) {
            const auto it = g_view.set.files.find(key);
            if (it != g_view.set.files.end()) it->second.restore = restore;
        }
    }
    PendingChange change;
    change.all = all;
    change.keys = keys;
    change.restore = restore;
    g_view.pending.push_back(std::move(change));
    g_view.countChanged = true;
}

// The note goes to the set (written back with it), to the set's list entry
// and to the notes kept in "BS_Notes.dat", saved with the configuration.
void changeNote() {
    g_view.set.note = g_view.note;
    PendingChange change;
    change.note = true;
    change.noteText = g_view.note;
    g_view.pending.push_back(std::move(change));
    if (!g_view.listKey.empty()) {
        const std::string note = g_view.note;
        updateSetListEntry(g_view.listKey, g_view.setPath, [&note](SetListEntry& e) { e.noteText = note; });
    }
    if (g_view.setPath.empty() || isBackupSetRemoved(g_view.setPath)) return;
    {
        std::lock_guard<std::mutex> lock(backupSetNotesMutex);
        backupSetNotesMap[g_view.setPath] = g_view.note;
    }
    configurationSaved = false;
}

// The group popup of the items view.
void groupSelectionOptions(const FolderGroup& group) {
    ImGui::PushFont(fontTahoma16 ? fontTahoma16 : ImGui::GetFont());
    ImGui::TextUnformatted("Group Selection Options");
    ImGui::TextUnformatted("Option:");
    if (ImGui::Selectable("     Select Group")) markEntries(false, group.keys, true);
    if (ImGui::Selectable("     DeSelect Group")) markEntries(false, group.keys, false);
    ImGui::Separator();
    if (ImGui::Selectable("Cancel")) ImGui::CloseCurrentPopup();
    ImGui::PopFont();
}

void drawGroupItems(const FolderGroup& group, const std::string& label) {
    for (const std::wstring& key : group.keys) {
        const auto it = g_view.set.files.find(key);
        if (it == g_view.set.files.end()) continue;
        const std::string name = wideToUtf8(lastPathComponent(key));
        pushTextId(wideToUtf8(key));
        if (!it->second.copied) ImGui::Text("Missing %s", name.c_str());
        // A missing entry can be marked: its copy may come back before a restore.
        if (textSelectable(name, it->second.restore, ImGuiSelectableFlags_AllowDoubleClick)) {
            markEntries(false, {key}, !it->second.restore);
            g_view.lastClicked = key;
            g_view.currentFolder = label;
        }
        ImGui::PopID();
    }
}

void drawGroups() {
    intptr_t number = 0;
    for (const FolderGroup& group : g_view.groups) {
        // Numbered, and the name drawn as text: a folder name is never parsed as a label.
        const bool open = ImGui::TreeNodeEx(reinterpret_cast<void*>(number++), 0, "%s", group.name.c_str());
        if (ImGui::BeginPopupContextItem()) {
            groupSelectionOptions(group);
            ImGui::EndPopup();
        }
        if (!open) continue;
        drawGroupItems(group, group.name);
        ImGui::TreePop();
    }
}

void drawCounts() {
    uint64_t existing = 0;
    for (const auto& [key, entry] : g_view.set.files) existing += entry.copied ? 1 : 0;
    ImGui::BulletText("Current Folder Selection: %s", g_view.currentFolder.c_str());
    ImGui::BulletText("Total Archived: %llu", static_cast<unsigned long long>(g_view.set.files.size()));
    ImGui::BulletText("Total Existing: %llu", static_cast<unsigned long long>(existing));
    ImGui::BulletText("Total Selected: %llu", static_cast<unsigned long long>(selectedCount()));
}

void drawNote() {
    ImGui::BulletText("Note:");
    ImGui::Bullet();
    ImGui::SameLine();
    const float width = std::max(ImGui::GetContentRegionAvail().x - 10.0f, 50.0f);
    if (ImGui::InputTextMultiline(" ", &g_view.note, ImVec2(width, 80.0f))) changeNote();
}

void drawContents(bool& open) {
    const ImVec2 size = ImGui::GetWindowSize();
    const ImVec2 listSize(std::max(size.x - 20.0f, 1.0f), std::max(size.y - 350.0f, 1.0f));
    if (ImGui::BeginListBox("##SetItems", listSize)) {
        drawGroups();
        ImGui::EndListBox();
    }
    const int32_t pressed = drawButtonRow({buttonRowItem("bksa"), buttonRowItem("bkdsa"), buttonRowItem("bkc")}, true);
    if (pressed == kSelectAll) markEntries(true, {}, true);
    if (pressed == kDeselectAll) markEntries(true, {}, false);
    if (pressed == kDismiss) open = false;
    drawCounts();
    drawNote();
}

}  // namespace

void restoreItemsView() {
    if (g_view.closing) {
        // The set is written back once the edit flag drops, so the flag
        // drops only after the last change reached the set.
        if (!flushPending()) return;
        g_view = ItemsViewState();
        backupSetEditActive = false;
        return;
    }
    const bool ready = g_view.built || buildView();
    if (ready) flushPending();
    bool open = true;
    // Beside the set window, which stays in reach while the set is edited.
    ImGui::SetNextWindowPos(ImVec2(700, 40), ImGuiCond_FirstUseEver);
    ImGui::SetNextWindowSize(ImVec2(560, 620), ImGuiCond_FirstUseEver);
    ImGui::SetNextWindowSizeConstraints(ImVec2(500, 470), ImVec2(FLT_MAX, FLT_MAX));
    if (ImGui::Begin("Select Items To Restore: ", &open, ImGuiWindowFlags_NoCollapse)) {
        checkDisplayItemZOrder(kViewItemId);
        ImGui::PushFont(fontArial16 ? fontArial16 : ImGui::GetFont());
        if (ready)
            drawContents(open);
        else
            ImGui::TextUnformatted("Reading ...");
        ImGui::PopFont();
    }
    ImGui::End();
    if (!open) g_view.closing = true;
}

bool isRestoreItemsViewOpen() { return backupSetEditActive.load(); }

void resetRestoreItemsView() { g_view = ItemsViewState(); }
