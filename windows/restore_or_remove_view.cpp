#include "windows/restore_or_remove_view.h"

#include <imgui.h>

#include <algorithm>
#include <atomic>
#include <cfloat>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <utility>

#include "engine/backup_data_tasks.h"
#include "engine/copy_cancel.h"
#include "engine/copy_progress.h"
#include "engine/restore_state.h"
#include "engine/restore_selected.h"
#include "engine/restore_tasks.h"
#include "engine/thread_registry.h"
#include "foundation/app_config.h"
#include "foundation/text_format.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "shell/buttons.h"
#include "shell/display_items.h"
#include "shell/fonts.h"
#include "shell/text_widgets.h"
#include "windows/window_jobs.h"

namespace {

constexpr int32_t kRestoreOrRemoveViewId = 4;
constexpr const char* kTitle = "Select Items To Restore or Remove from the Archive: ";

using ItemMap = std::map<std::wstring, FileVersionMap>;

struct RestoreViewState {
    bool built = false;
    bool groupsBuilt = false;
    std::wstring requestedFolder;   // set by the opener
    std::wstring folder;            // the folder the maps were built for
    ItemMap items;                  // source path -> copy of its versions, with the view's marks
    std::map<std::wstring, std::vector<std::wstring>> groups;  // source folder -> source keys
    std::vector<UIFilterEntry> filters;
    size_t filterIndex = 0;
    std::wstring filter;            // owner compared; empty: every owner
    int64_t startMs = 0;            // when the last restore or removal started
};

// Guards g_view: held by the window while it draws and by the jobs that change
// the marks. Never held together with versionRecordMutex taken first.
std::mutex g_viewMutex;
RestoreViewState g_view;
std::atomic<bool> g_open{false};
// A restore or removal started here has not ended (set before its thread
// starts, so the buttons are disabled before the task sets restoreActive).
std::atomic<bool> g_jobRunning{false};

bool passes(const FileVersionRecord& version, const std::wstring& filter) {
    return version.present && (filter.empty() || version.owner == filter);
}

bool isChosen(const FileVersionRecord& version, const std::wstring& filter) {
    return version.selected && passes(version, filter);
}

// A path as the tree shows it: from the chosen folder's own name on, so a
// label is always cut between whole path components.
std::string treeLabel(const std::wstring& path, const std::wstring& chosenFolder) {
    const size_t cut = chosenFolder.size() - lastPathComponent(chosenFolder).size();  // where its name starts
    if (!pathIsInside(path, chosenFolder) || path.size() <= cut) return wideToUtf8(path);
    return wideToUtf8(path.substr(cut));
}

void fillItems(RestoreViewState& view) {
    view.items.clear();
    const std::wstring prefix = withTrailingSeparator(view.folder);
    std::lock_guard<std::mutex> lock(versionRecordMutex);
    for (auto it = versionRecordMap.lower_bound(prefix);
         it != versionRecordMap.end() && it->first.compare(0, prefix.size(), prefix) == 0; ++it)
        view.items.emplace(it->first, it->second);
}

void rebuildGroups(RestoreViewState& view) {
    view.groups.clear();
    for (const auto& [source, versions] : view.items) view.groups[parentFolder(source)].push_back(source);
    view.groupsBuilt = true;
}

void buildView(RestoreViewState& view) {
    view.filters = buildUIFilterList();
    view.filterIndex = 0;
    view.filter.clear();
    view.folder = withoutTrailingSeparators(view.requestedFolder);
    fillItems(view);
    std::wstring command;
    buildRestoreSelection(command, 0);
    view.built = true;
}

// Versions of one file that the tree shows; a mark on a version that is gone
// is cleared on the way.
int shownVersions(FileVersionMap& versions, const std::wstring& filter) {
    int shown = 0;
    for (auto& [key, version] : versions) {
        if (!version.present) version.selected = false;
        shown += passes(version, filter) ? 1 : 0;
    }
    return shown;
}

int countChosen(const RestoreViewState& view) {
    int count = 0;
    for (const auto& [source, versions] : view.items)
        for (const auto& [key, version] : versions) count += isChosen(version, view.filter) ? 1 : 0;
    return count;
}

// The chosen versions (shown and marked) of the files that have any: what a
// restore or removal works on, never a version the filter hides.
ItemMap chosenItems(const RestoreViewState& view) {
    ItemMap chosen;
    for (const auto& [source, versions] : view.items) {
        FileVersionMap marked = versions;
        bool any = false;
        for (auto& [key, version] : marked) {
            version.selected = isChosen(version, view.filter);
            any = any || version.selected;
        }
        if (any) chosen.emplace(source, std::move(marked));
    }
    return chosen;
}

// A version clicked into the selection is the one restored for its file: the
// file's other versions (shown or not) lose their marks.
void keepOneVersion(RestoreViewState& view, const std::wstring& versionKey) {
    for (auto& [source, versions] : view.items) {
        if (versions.find(versionKey) == versions.end()) continue;
        for (auto& [key, version] : versions) version.selected = key == versionKey;
        return;
    }
}

// First, last or no version of a file's shown versions; its hidden ones lose
// their marks, so that one version per file stays chosen.
void selectFileVersions(FileVersionMap& versions, GroupSelection mode, const std::wstring& filter) {
    FileVersionMap shown;
    for (const auto& [key, version] : versions)
        if (passes(version, filter)) shown.emplace(key, version);
    selectGroupVersions(shown, mode);
    for (auto& [key, version] : versions) {
        const auto it = shown.find(key);
        version.selected = it != shown.end() && it->second.selected;
    }
}

void startViewJob(std::function<void()> body) {
    try {
        startEngineThread(std::move(body));
    } catch (...) {
    }
}

// After a removal: the versions whose records are gone leave the view.
void dropRemovedVersions() {
    std::vector<std::wstring> sources;
    {
        std::lock_guard<std::mutex> lock(g_viewMutex);
        for (const auto& [source, versions] : g_view.items) sources.push_back(source);
    }
    std::map<std::wstring, std::set<std::wstring>> recorded;
    {
        std::lock_guard<std::mutex> lock(versionRecordMutex);
        for (const std::wstring& source : sources) {
            const auto file = versionRecordMap.find(source);
            if (file == versionRecordMap.end()) continue;
            for (const auto& [key, version] : file->second) recorded[source].insert(key);
        }
    }
    std::lock_guard<std::mutex> lock(g_viewMutex);
    for (auto file = g_view.items.begin(); file != g_view.items.end();) {
        const std::set<std::wstring>& keys = recorded[file->first];
        for (auto version = file->second.begin(); version != file->second.end();)
            version = keys.count(version->first) ? std::next(version) : file->second.erase(version);
        file = file->second.empty() ? g_view.items.erase(file) : std::next(file);
    }
    g_view.groupsBuilt = false;
}

// Clears the job flag (and the restore's busy hold) however the job ends.
struct ViewJobEnd {
    bool busyHeld = false;
    ~ViewJobEnd() {
        if (busyHeld) releaseRestoreWorkBusy();
        g_jobRunning = false;
    }
};

void startRestore(RestoreViewState& view) {
    view.startMs = windowClockMs();
    g_jobRunning = true;
    holdRestoreWorkBusy();
    try {
        startEngineThread([selection = chosenItems(view)]() mutable {
            ViewJobEnd end{true};
            restoreSelectedFilesTask(std::move(selection));
        });
    } catch (...) {
        releaseRestoreWorkBusy();
        g_jobRunning = false;
    }
}

void startRemoval(RestoreViewState& view) {
    view.startMs = windowClockMs();
    g_jobRunning = true;
    try {
        startEngineThread([selection = chosenItems(view)]() mutable {
            ViewJobEnd end;
            deleteBackupDataTask(std::move(selection));
            dropRemovedVersions();
        });
    } catch (...) {
        g_jobRunning = false;
    }
}

void startSelectAll(bool select) {
    startViewJob([select] {
        std::lock_guard<std::mutex> lock(g_viewMutex);
        selectNewestVersions(g_view.items, select, g_view.filter);
        // A version the filter hides keeps no mark beside a shown one.
        for (auto& [source, versions] : g_view.items) {
            bool shownMark = false;
            for (const auto& [key, version] : versions) shownMark = shownMark || isChosen(version, g_view.filter);
            if (!shownMark) continue;
            for (auto& [key, version] : versions) version.selected = isChosen(version, g_view.filter);
        }
    });
}

void drawFilterCombo(RestoreViewState& view) {
    ImGui::TextUnformatted("UI Filter selection:");
    ImGui::SameLine();
    ImGui::SetNextItemWidth(360);
    if (view.filterIndex >= view.filters.size()) view.filterIndex = 0;
    const std::string current = view.filters.empty() ? "" : view.filters[view.filterIndex].name;
    if (!beginTextCombo("\u25C4 Show UI Files Filter", current)) return;
    for (size_t i = 0; i < view.filters.size(); ++i) {
        ImGui::PushID(static_cast<int>(i));
        if (textSelectable(view.filters[i].name, i == view.filterIndex)) {
            view.filterIndex = i;
            view.filter = view.filters[i].value;
        }
        ImGui::PopID();
    }
    ImGui::EndCombo();
}

// The button row; false when " Dismiss " closed the window.
bool drawButtons(RestoreViewState& view, int chosen) {
    const bool idle = !restoreActive.load() && !g_jobRunning.load();
    const bool any = chosen > 0 && idle;
    const int32_t pressed = drawButtonRow({buttonRowItem("bksa", idle), buttonRowItem("bkdsa", idle), buttonRowItem("bkr", any),
                                           buttonRowItem("bkrf", any), buttonRowItem("bkc", idle),
                                           buttonRowItem("bkcncl", restoreWorkBusy.load())},
                                          true);
    switch (pressed) {
        case 0: if (idle) startSelectAll(true); break;
        case 1: if (idle) startSelectAll(false); break;
        case 2: if (any) startRemoval(view); break;
        case 3: if (any) startRestore(view); break;
        case 4: if (idle) return false; break;
        case 5: setCancelRequest(CancelTask::Restore, true); break;
        default: break;
    }
    return true;
}

void drawStatus(int64_t startMs) {
    if (!restoreActive.load()) {
        ImGui::BulletText("Operation: Idle");
        return;
    }
    double ratio = 0.0;
    uint64_t totalBytes = 0;
    {
        std::lock_guard<std::mutex> lock(progressMutex);
        ratio = globalProgressSet.ratio;
        totalBytes = globalProgressSet.totalBytes;
    }
    const bool deleting = deletionRunning.load();
    // A restore's progress set is empty from its start, behind its question,
    // until its copying begins: it has finished only once all is copied.
    if (ratio == 0.0 && (deleting || restoreProgress.load() == 1.0))
        ImGui::BulletText("Operation: %s", deleting ? "Removing Files" : "Finished");
    else
        ImGui::BulletText("Operation: In Progress");

    double fraction = deleting ? restoreProgress.load() : (restoreProgress.load() == 1.0 ? 1.0 : ratio);
    const double whole = deleting ? 100.0 : static_cast<double>(totalBytes);
    const double done = fraction * whole;
    const double left = whole - done;
    const int64_t elapsed = std::max<int64_t>(windowClockMs() - startMs, 0);
    const double remaining = done > 0 ? static_cast<double>(elapsed) / done * left : 0.0;
    const std::wstring times = formatDurationMs(static_cast<uint64_t>(elapsed)) + L" | " +
                               formatDurationMs(static_cast<uint64_t>(std::max(remaining, 0.0)));
    ImGui::BulletText("Progress: %3.3f%%     %s", fraction * 100.0, wideToUtf8(times).c_str());
    drawProgressBar(fraction, ImVec2(-FLT_MIN, 0));
}

// The command of a tree click: one version per file when selected.
void applyCommand(RestoreViewState& view, const std::wstring& command) {
    if (command.rfind(L"s|", 0) == 0) keepOneVersion(view, command.substr(2));
}

// One frame of the open window; false when it was closed.
bool drawView(RestoreViewState& view) {
    if (!view.built) buildView(view);
    ImGui::SetNextWindowSize(ImVec2(760, 560), ImGuiCond_FirstUseEver);
    ImGui::SetNextWindowSizeConstraints(ImVec2(650, 300), ImVec2(FLT_MAX, FLT_MAX));
    const bool busy = restoreActive.load() || g_jobRunning.load();
    bool open = true;
    const bool shown = ImGui::Begin(kTitle, busy ? nullptr : &open, ImGuiWindowFlags_NoCollapse);
    bool keep = true;
    checkDisplayItemZOrder(kRestoreOrRemoveViewId);  // never over an open popup
    if (shown) {
        const ImVec2 size = ImGui::GetWindowSize();
        ImGui::PushFont(fontArial16 ? fontArial16 : ImGui::GetFont());
        drawFilterCombo(view);
        std::wstring command;
        if (ImGui::BeginListBox("##versions", ImVec2(size.x - 20, std::max(size.y - 200, 40.0f)))) {
            buildRestoreSelection(command, 2);
            ImGui::EndListBox();
        }
        applyCommand(view, command);
        const int chosen = countChosen(view);
        keep = drawButtons(view, chosen);
        ImGui::BulletText("Selected Items: %d", chosen);
        drawStatus(view.startMs);
        ImGui::PopFont();
    }
    ImGui::End();
    return open && keep;
}

void drawVersionRows(FileVersionMap& versions, const std::wstring& filter, std::wstring& command) {
    for (auto& [key, version] : versions) {
        if (!passes(version, filter)) continue;
        const std::string name = wideToUtf8(lastPathComponent(key));
        pushTextId(wideToUtf8(key));
        if (textSelectable(name, version.selected, ImGuiSelectableFlags_AllowDoubleClick)) {
            version.selected = !version.selected;
            command = (version.selected ? L"s|" : L"d|") + key;
        }
        ImGui::PopID();
    }
}

void drawFolderGroup(RestoreViewState& view, const std::wstring& folder, const std::vector<std::wstring>& sources,
                     std::wstring& command) {
    std::vector<std::pair<std::wstring, int>> files;  // source key, versions shown
    for (const std::wstring& source : sources) {
        const auto file = view.items.find(source);
        if (file == view.items.end()) continue;
        const int shown = shownVersions(file->second, view.filter);
        if (shown > 0) files.emplace_back(source, shown);
    }
    if (files.empty()) return;
    pushTextId(wideToUtf8(folder));
    // The node's id stays when the count changes, so an open node stays open;
    // the path is drawn as text, never read as a label.
    const std::string label = treeLabel(folder, view.folder) + " (" + std::to_string(files.size()) + ")";
    const bool open = ImGui::TreeNodeEx("node", 0, "%s", label.c_str());
    if (ImGui::BeginPopupContextItem("groupSelectionOptions")) {
        groupSelectionOptions(folder);
        ImGui::EndPopup();
    }
    if (open) {
        for (const auto& [source, shown] : files) {
            pushTextId(wideToUtf8(source));
            const std::string fileLabel = treeLabel(source, view.folder) + " (" + std::to_string(shown) + ")";
            if (ImGui::TreeNodeEx("node", 0, "%s", fileLabel.c_str())) {
                drawVersionRows(view.items[source], view.filter, command);
                ImGui::TreePop();
            }
            ImGui::PopID();
        }
        ImGui::TreePop();
    }
    ImGui::PopID();
}

}  // namespace

std::vector<UIFilterEntry> buildUIFilterList() {
    std::vector<UIFilterEntry> list{{"Any UI", L""}};
    std::lock_guard<std::mutex> lock(statisticsMutex);
    for (const auto& [key, record] : applicationStatsMap) {
        const std::wstring& name = record.displayName.empty() ? key : record.displayName;
        list.push_back({wideToUtf8(name), key});
    }
    return list;
}

void buildRestoreSelection(std::wstring& command, int mode) {
    RestoreViewState& view = g_view;
    if (mode == 0) view.groupsBuilt = false;
    if (!view.groupsBuilt) {
        rebuildGroups(view);
        command = L"done";
    }
    if (mode != 2) return;
    for (const auto& [folder, sources] : view.groups) drawFolderGroup(view, folder, sources, command);
}

void groupSelectionOptions(const std::wstring& folder) {
    ImGui::TextUnformatted("Group Selection Options");
    ImGui::TextUnformatted("Option:");
    const std::pair<const char*, GroupSelection> options[] = {
        {"     Select first version of group items", GroupSelection::First},
        {"     Select last version of group items", GroupSelection::Last},
        {"     DeSelect group items", GroupSelection::Clear}};
    for (const auto& [text, mode] : options) {
        if (!ImGui::Selectable(text)) continue;
        startViewJob([folder, mode = mode] {
            std::lock_guard<std::mutex> lock(g_viewMutex);
            const auto group = g_view.groups.find(folder);
            if (group == g_view.groups.end()) return;
            for (const std::wstring& source : group->second) {
                const auto file = g_view.items.find(source);
                if (file != g_view.items.end()) selectFileVersions(file->second, mode, g_view.filter);
            }
        });
    }
    ImGui::Separator();
    if (ImGui::Selectable("Cancel")) ImGui::CloseCurrentPopup();
}

void restoreOrRemoveView() {
    if (!g_open.load()) return;
    std::lock_guard<std::mutex> lock(g_viewMutex);
    if (drawView(g_view)) return;
    g_open = false;
    g_view.built = false;
    removeDisplayItemZOrder(kRestoreOrRemoveViewId);
}

bool isRestoreOrRemoveViewOpen() { return g_open.load(); }

void openRestoreOrRemoveView(const std::wstring& folderKey) {
    {
        std::lock_guard<std::mutex> lock(g_viewMutex);
        g_view.requestedFolder = folderKey;
        g_view.built = false;
    }
    g_open = true;
    pushDisplayItemZOrder(kRestoreOrRemoveViewId);  // opens in front of the main window
}

std::map<std::wstring, FileVersionMap> restoreViewItems() {
    std::lock_guard<std::mutex> lock(g_viewMutex);
    return g_view.items;
}

int restoreViewSelectedCount() {
    std::lock_guard<std::mutex> lock(g_viewMutex);
    return countChosen(g_view);
}

void setRestoreViewFilter(const std::wstring& owner) {
    std::lock_guard<std::mutex> lock(g_viewMutex);
    g_view.filter = owner;
    for (size_t i = 0; i < g_view.filters.size(); ++i)
        if (g_view.filters[i].value == owner) g_view.filterIndex = i;
}

void resetRestoreOrRemoveView() {
    std::lock_guard<std::mutex> lock(g_viewMutex);
    g_view = RestoreViewState();
    g_open = false;
    removeDisplayItemZOrder(kRestoreOrRemoveViewId);
}
