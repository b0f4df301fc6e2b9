#include "windows/extension_manager.h"
#include "platform/paths.h"

#include <imgui.h>

#include <algorithm>
#include <atomic>
#include <cfloat>
#include <functional>
#include <map>
#include <mutex>
#include <vector>

#include "engine/thread_registry.h"
#include "foundation/app_config.h"
#include "foundation/app_log.h"
#include "foundation/watch_folders.h"
#include "platform/text.h"
#include "shell/buttons.h"
#include "shell/display_items.h"
#include "shell/fonts.h"
#include "shell/text_widgets.h"

namespace {

constexpr int32_t kExtensionManagerItemId = 5;
constexpr const char* kIncludedMark = "\u25CF";
constexpr const char* kExcludedMark = "\u00D8";

struct FilterChoice {
    const char* label;
    int32_t value;
};
constexpr FilterChoice kFilterChoices[] = {
    {"[\u25CF|\u00D8] Any", kExtensionFilterAny},
    {"[\u25CF] Included", kExtensionFilterIncluded},
    {"[\u00D8] Excluded", kExtensionFilterExcluded},
};

// Set by the folder popup, read by the window each frame.
std::atomic<bool> g_open{false};
std::atomic<bool> g_opening{false};
std::mutex g_folderMutex;
std::wstring g_folderKey;

// The window's own state; user-interface thread only.
struct WindowState {
    bool addFieldOpen = false;
    std::string addText;
    int comboIndex = 0;
};
WindowState g_window;

// What one frame shows of the folder, copied out under watchFolderMutex.
struct FolderView {
    std::wstring displayName;
    std::map<std::wstring, ExtensionEntry> extensions;
};

bool readFolderView(const std::wstring& key, FolderView& view) {
    std::lock_guard<std::mutex> lock(watchFolderMutex);
    const auto it = watchFolderMap.find(key);
    if (it == watchFolderMap.end() || it->second.removed) return false;
    view.displayName = it->second.displayName.empty() ? lastPathComponent(key) : it->second.displayName;
    view.extensions = it->second.extensionMap;
    return true;
}

// Flips the row's selected flag; false when the folder or the row is gone.
bool toggleExtensionSelected(const std::wstring& key, const std::wstring& extension, bool& selected) {
    std::lock_guard<std::mutex> lock(watchFolderMutex);
    const auto it = watchFolderMap.find(key);
    if (it == watchFolderMap.end()) return false;
    const auto row = it->second.extensionMap.find(extension);
    if (row == it->second.extensionMap.end()) return false;
    row->second.selected = !row->second.selected;
    selected = row->second.selected;
    return true;
}

void addFolderExtension(const std::wstring& key, const std::wstring& extension) {
    {
        std::lock_guard<std::mutex> lock(watchFolderMutex);
        const auto it = watchFolderMap.find(key);
        if (it == watchFolderMap.end()) return;
        it->second.extensionMap.emplace(extension, ExtensionEntry{extension, true, false});
    }
    configurationSaved = false;
}

int32_t currentFilter() { return kFilterChoices[g_window.comboIndex].value; }

void startOpening() {
    configurationSaved = false;
    // The supervisor saves the configuration again once the window is closed.
    setOperationInProgress(EngineOperation::ExtensionChange, true);
    g_window = WindowState();
    removeDisplayItemZOrder(kExtensionManagerItemId);
    pushDisplayItemZOrder(kExtensionManagerItemId);
}

// A button's operation on a thread of its own; the change reaches the file
// at the next save.
void startExtensionJob(std::function<void()> job) {
    try {
        startEngineThread([job = std::move(job)] {
            job();
            configurationSaved = false;
        });
    } catch (...) {
        appendAppLogEntry(L"Critical! - Unable to start the extension change", 8, true);
    }
}

int resizeAddText(ImGuiInputTextCallbackData* data) {
    if (data->EventFlag == ImGuiInputTextFlags_CallbackResize) {
        auto* text = static_cast<std::string*>(data->UserData);
        text->resize(static_cast<size_t>(data->BufTextLen));
        data->Buf = text->data();
    }
    return 0;
}

void drawFilterCombo() {
    std::string comboText;
    for (const FilterChoice& choice : kFilterChoices) comboText.append(choice.label).push_back('\0');
    ImGui::TextUnformatted("UI Filter selection:");
    ImGui::SameLine();
    ImGui::SetNextItemWidth(350);
    const int chosen = g_window.comboIndex;
    ImGui::Combo(" Filters: Show Extension State", &g_window.comboIndex, comboText.c_str());
    g_window.comboIndex = std::clamp(g_window.comboIndex, 0, static_cast<int>(std::size(kFilterChoices)) - 1);
    if (g_window.comboIndex == chosen) return;
    std::lock_guard<std::mutex> lock(appSettingsMutex);
    appSettings.extensionFilter = static_cast<uint32_t>(g_window.comboIndex);
}

// The "+" row and, while it is open, the add field with its "Accept".
void drawAddRow(const std::wstring& key) {
    if (ImGui::Selectable("+", g_window.addFieldOpen, ImGuiSelectableFlags_AllowDoubleClick)) {
        g_window.addFieldOpen = !g_window.addFieldOpen;
        if (g_window.addFieldOpen) ImGui::SetKeyboardFocusHere();
    }
    if (!g_window.addFieldOpen) return;
    ImGui::InputText(" ", g_window.addText.data(), g_window.addText.capacity() + 1,
                     ImGuiInputTextFlags_CallbackResize, resizeAddText, &g_window.addText);
    ImGui::SameLine();
    if (!ImGui::Selectable("Accept")) return;
    g_window.addFieldOpen = false;
    const std::wstring extension = extensionFromAddText(g_window.addText);
    g_window.addText.clear();
    if (!extension.empty()) addFolderExtension(key, extension);
}

// The rows the filter shows, in key order; a click toggles the row's selected
// flag and gives "s|" or "u|" with the extension. Returns true on a click.
bool drawExtensionList(const std::wstring& key, const FolderView& view, std::wstring& result) {
    result.clear();
    int index = 0;
    for (const auto& [extension, item] : view.extensions) {
        if (!extensionShownByFilter(item, currentFilter())) continue;
        const std::string mark = item.included ? kIncludedMark : kExcludedMark;
        const std::string label = mark + " " + wideToUtf8(extension);
        ImGui::PushID(index++);
        bool selected = item.selected;
        if (textSelectable(label, selected, ImGuiSelectableFlags_AllowDoubleClick) &&
            toggleExtensionSelected(key, extension, selected))
            result = (selected ? L"s|" : L"u|") + extension;
        ImGui::PopID();
    }
    return !result.empty();
}

int countSelectedShown(const FolderView& view) {
    int count = 0;
    for (const auto& [extension, item] : view.extensions)
        if (item.selected && extensionShownByFilter(item, currentFilter())) ++count;
    return count;
}

void runButton(int32_t index, const std::wstring& key) {
    const int32_t filter = currentFilter();
    switch (index) {
        case 0: startExtensionJob([key] { selectAllFolderExtensions(key, true); }); break;
        case 1: startExtensionJob([key] { selectAllFolderExtensions(key, false); }); break;
        case 2: startExtensionJob([key] { scanWatchFolderExtensions(key, true); }); break;
        case 3: startExtensionJob([key, filter] { setSelectedExtensionsIncluded(key, true, filter); }); break;
        case 4: startExtensionJob([key, filter] { setSelectedExtensionsIncluded(key, false, filter); }); break;
        case 5: startExtensionJob([key, filter] { removeSelectedExtensions(key, filter); }); break;
        case 6: closeExtensionManagerWindow(); break;
        default: break;
    }
}

void drawButtons(const std::wstring& key, int selectedShown) {
    const int32_t onSelection = selectedShown > 0 ? kButtonEnabled : kButtonDisabled;
    std::vector<UIButtonRowItem> row(7);
    const char* keys[] = {"bksa", "bkdsa", "bkaae", "bkincl", "bkexcl", "bkr", "bkc"};
    for (size_t i = 0; i < row.size(); ++i) {
        row[i].key = keys[i];
        row[i].state = i >= 3 && i <= 5 ? onSelection : kButtonEnabled;
    }
    runButton(drawButtonRow(row, true), key);
    ImGui::BulletText("Items Selected: %d", selectedShown);
}

void drawContents(const std::wstring& key, const FolderView& view) {
    const ImVec2 size = ImGui::GetWindowSize();
    ImGui::PushFont(fontArial16 ? fontArial16 : ImGui::GetFont());
    drawFilterCombo();
    const int selectedShown = countSelectedShown(view);
    if (ImGui::BeginListBox("##extensions", ImVec2(std::max(size.x - 20, 1.0f), std::max(size.y - 150, 1.0f)))) {
        drawAddRow(key);
        std::wstring result;
        drawExtensionList(key, view, result);
        ImGui::EndListBox();
    }
    ImGui::PopFont();
    drawButtons(key, selectedShown);
}

}  // namespace

std::wstring extensionFromAddText(const std::string& utf8Text) {
    if (utf8Text == "*") return L"*";
    std::wstring extension = lowerCaseText(utf8ToWide(utf8Text));
    std::erase_if(extension, [](wchar_t c) { return c == L'*' || c == L'.'; });
    return extension;
}

void drawExtensionManagerWindow() {
    if (!g_open.load()) return;
    const std::wstring key = extensionManagerFolder();
    FolderView view;
    // A folder removed from the list meanwhile takes the window with it.
    if (!readFolderView(key, view)) {
        closeExtensionManagerWindow();
        return;
    }
    if (g_opening.exchange(false)) startOpening();
    const std::string title = "Manage Extensions: " + wideToUtf8(view.displayName) + "###ExtensionManager";
    ImGui::SetNextWindowSize(ImVec2(740, 420), ImGuiCond_FirstUseEver);
    ImGui::SetNextWindowSizeConstraints(ImVec2(740, 250), ImVec2(FLT_MAX, FLT_MAX));
    bool open = true;
    if (ImGui::Begin(title.c_str(), &open, ImGuiWindowFlags_NoCollapse)) {
        checkDisplayItemZOrder(kExtensionManagerItemId);
        drawContents(key, view);
    }
    ImGui::End();
    if (!open) closeExtensionManagerWindow();
}

bool isExtensionManagerWindowOpen() { return g_open.load(); }

void openExtensionManagerWindow(const std::wstring& folderKey) {
    {
        std::lock_guard<std::mutex> lock(g_folderMutex);
        g_folderKey = folderKey;
    }
    g_opening.store(true);
    g_open.store(true);
}

std::wstring extensionManagerFolder() {
    std::lock_guard<std::mutex> lock(g_folderMutex);
    return g_folderKey;
}

void closeExtensionManagerWindow() {
    if (!g_open.exchange(false)) return;
    g_opening.store(false);
    removeDisplayItemZOrder(kExtensionManagerItemId);
    setOperationInProgress(EngineOperation::ExtensionChange, false);
}
