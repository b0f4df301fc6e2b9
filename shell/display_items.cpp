#include "shell/display_items.h"

#include <imgui.h>
#include <imgui_internal.h>

#include <algorithm>
#include <utility>

std::map<std::wstring, DisplayItem> displayItemMap;
std::mutex displayItemMutex;
std::deque<int32_t> displayItemZOrder;
std::mutex zOrderMutex;

namespace {
std::mutex g_rowsMutex;
const DisplayItemRow* g_rows = nullptr;  // guarded by g_rowsMutex
size_t g_rowCount = 0;

// The rows handed over; the table itself is static, so the pointer stays
// valid outside the lock.
std::pair<const DisplayItemRow*, size_t> displayItemRows() {
    std::lock_guard<std::mutex> guard(g_rowsMutex);
    return {g_rows, g_rowCount};
}

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
    // An open popup (a combo's list, a context menu) is a window of its own:
    // pulling this one over it would hide it while the user is choosing.
    if (ImGui::IsPopupOpen("", ImGuiPopupFlags_AnyPopupId | ImGuiPopupFlags_AnyPopupLevel)) return;
    ImGuiWindow* window = ImGui::GetCurrentWindow();
    if (window) ImGui::BringWindowToDisplayFront(window);
}

void setDisplayItemRows(const DisplayItemRow* rows, size_t count) {
    std::lock_guard<std::mutex> guard(g_rowsMutex);
    g_rows = rows;
    g_rowCount = count;
}

void setIGDisplayItem_zOrder() {
    const auto [rows, count] = displayItemRows();
    for (size_t i = 0; i < count; ++i) {
        const DisplayItemRow& row = rows[i];
        registerDisplayItem(row.id, row.name);
        setDisplayItemDrawFunction(row.id, row.draw);
        setDisplayItemVisible(row.id, row.isOpen());
    }
}

void copyDisplayItemOpenFlags() {
    const auto [rows, count] = displayItemRows();
    for (size_t i = 0; i < count; ++i) setDisplayItemVisible(rows[i].id, rows[i].isOpen());
}

void clearDisplayItems() {
    {
        std::lock_guard<std::mutex> guard(displayItemMutex);
        displayItemMap.clear();
    }
    std::lock_guard<std::mutex> guard(zOrderMutex);
    displayItemZOrder.clear();
}
