#include "shell/display_items.h"

#include <imgui.h>
#include <imgui_internal.h>

#include <algorithm>

#include "shell/modal_window.h"
#include "windows/main_window.h"
#include "windows/placeholder_windows.h"

std::map<std::wstring, DisplayItem> displayItemMap;
std::mutex displayItemMutex;
std::deque<int32_t> displayItemZOrder;
std::mutex zOrderMutex;

namespace {
struct DisplayItemRow {
    int32_t id;
    const wchar_t* name;
    DrawFunction draw;
    bool (*isOpen)();
};

// Ids 8 and 9 carry the names IG_009 and IG_008, so the style editor (id 9)
// is drawn before the user-message window (id 8).
const DisplayItemRow kDisplayItemRows[] = {
    {0, L"IG_000", drawMainWindow, isMainWindowOpen},
    {1, L"IG_001", drawBackupSetRestoreWindow, isBackupSetRestoreWindowOpen},
    {2, L"IG_002", restoreItemsView, isRestoreItemsViewOpen},
    {3, L"IG_003", drawModalMessage, isModalMessageOpen},
    {4, L"IG_004", restoreOrRemoveView, isRestoreOrRemoveViewOpen},
    {5, L"IG_005", drawExtensionManagerWindow, isExtensionManagerWindowOpen},
    {6, L"IG_006", drawSchedulerWindow, isSchedulerWindowOpen},
    {7, L"IG_007", drawAboutWindow, isAboutWindowOpen},
    {8, L"IG_009", drawUserMessageWindow, isUserMessageWindowOpen},
    {9, L"IG_008", drawStyleEditorWindow, isStyleEditorWindowOpen},
};

// The main window opens the folder chooser and its option popups as modal popups.
bool opensModalPopups(int32_t id) { return id == 0; }

std::map<std::wstring, DisplayItem>::iterator findItem(int32_t id) {
    return std::find_if(displayItemMap.begin(), displayItemMap.end(),
                        [id](const auto& entry) { return entry.second.id == id; });
}
}  // namespace

bool registerDisplayItem(int32_t id, const std::wstring& name) {
    std::lock_guard<std::mutex> guard(displayItemMutex);
    DisplayItem item{name, id, 0, nullptr};
    auto found = findItem(id);
    if (found != displayItemMap.end()) {
        item.visible = found->second.visible;
        item.draw = found->second.draw;
        displayItemMap.erase(found);
    }
    displayItemMap.insert_or_assign(name, item);
    return true;
}

int setDisplayItemVisible(int32_t id, bool visible) {
    std::lock_guard<std::mutex> guard(displayItemMutex);
    auto found = findItem(id);
    if (found == displayItemMap.end()) return 0;
    found->second.visible = visible ? 1 : 0;
    return 1;
}

int setDisplayItemDrawFunction(int32_t id, DrawFunction draw) {
    std::lock_guard<std::mutex> guard(displayItemMutex);
    auto found = findItem(id);
    if (found == displayItemMap.end()) return 0;
    found->second.draw = draw;
    return 1;
}

bool drawDisplayItems() {
    std::lock_guard<std::mutex> guard(displayItemMutex);
    // Windows that open modal popups come last: a window that first appears
    // after a modal popup's first frame trips a Dear ImGui assertion.
    for (const bool modalPass : {false, true}) {
        for (const auto& [name, item] : displayItemMap)
            if (item.visible && item.draw && opensModalPopups(item.id) == modalPass) item.draw();
    }
    return true;
}

void pushDisplayItemZOrder(int32_t id) {
    std::lock_guard<std::mutex> guard(zOrderMutex);
    displayItemZOrder.erase(std::remove(displayItemZOrder.begin(), displayItemZOrder.end(), id),
                            displayItemZOrder.end());
    displayItemZOrder.push_back(id);
}

void removeDisplayItemZOrder(int32_t id) {
    std::lock_guard<std::mutex> guard(zOrderMutex);
    displayItemZOrder.erase(std::remove(displayItemZOrder.begin(), displayItemZOrder.end(), id),
                            displayItemZOrder.end());
}

void checkDisplayItemZOrder(int32_t id) {
    {
        std::lock_guard<std::mutex> guard(zOrderMutex);
        if (displayItemZOrder.empty() || displayItemZOrder.back() != id) return;
    }
    ImGuiWindow* window = ImGui::GetCurrentWindow();
    if (window) ImGui::BringWindowToDisplayFront(window);
}

void setIGDisplayItem_zOrder() {
    for (const DisplayItemRow& row : kDisplayItemRows) {
        registerDisplayItem(row.id, row.name);
        setDisplayItemDrawFunction(row.id, row.draw);
        setDisplayItemVisible(row.id, row.isOpen());
    }
}

void copyDisplayItemOpenFlags() {
    for (const DisplayItemRow& row : kDisplayItemRows) setDisplayItemVisible(row.id, row.isOpen());
}

void clearDisplayItems() {
    {
        std::lock_guard<std::mutex> guard(displayItemMutex);
        displayItemMap.clear();
    }
    std::lock_guard<std::mutex> guard(zOrderMutex);
    displayItemZOrder.clear();
}
