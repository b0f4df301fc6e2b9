#include "windows/main_window.h"

#include <cfloat>

#include "engine/thread_registry.h"
#include "foundation/app_log.h"
#include "foundation/styles.h"
#include "shell/buttons.h"
#include "shell/display_items.h"
#include "shell/fonts.h"
#include "shell/graphics.h"
#include "shell/main_loop.h"
#include "shell/shell_state.h"
#include "shell/window.h"
#include "windows/folders_tab.h"
#include "windows/help_tab.h"
#include "windows/notifications_tab.h"
#include "windows/backup_set_restore_window.h"
#include "windows/main_window_parts.h"
#include "windows/restore_items_view.h"
#include "windows/scheduler_window.h"
#include "windows/restore_or_remove_view.h"
#include "windows/style_editor.h"
#include "windows/thread_status_table.h"
#include "windows/window_jobs.h"
#include "windows/window_menu.h"

MainWindowState mainWindow;
std::atomic<bool> threadStatusShown{false};

namespace {

FilterList makeFilterList(std::initializer_list<FilterItem> items) {
    FilterList list;
    for (const FilterItem& item : items) {
        list.items.push_back(item);
        list.comboText += item.label;
        list.comboText.push_back('\0');
    }
    return list;
}

// Rises from 0 to 1 over the first half of the period and falls back.
float triangleWave(int64_t ms, int64_t periodMs) {
    const int64_t t = ((ms % periodMs) + periodMs) % periodMs;
    const int64_t half = periodMs / 2;
    return static_cast<float>(t < half ? t : periodMs - t) / static_cast<float>(half);
}

// Blink frames come 375 ms apart on the window clock, so they meet the
// 0.5-second wave at its turning points and halfway: off, half, full, half.
// Under three frames a second keep an idle window cheap with software GL.
constexpr int64_t kBlinkStepMs = 375;

// Leaving the Notifications tab drops the entries the user confirmed there.
void followTabChange() {
    if (mainWindow.currentTab == mainWindow.previousTab) return;
    if (mainWindow.previousTab == kTabNotifications) {
        try {
            startEngineThread(removeConfirmedAppLogEntries);
        } catch (...) {
        }
    }
    mainWindow.previousTab = mainWindow.currentTab;
}

void followRequests() {
    if (takeShellWizardsTabRequest()) {
        mainWindow.helpTabShown = true;
        mainWindow.selectHelpTab = true;
    }
    if (takeRestoreListReady()) openBackupSetRestoreWindow();
    if (takeStyleReapply()) requestStyleReapply();
    updateChosenStyle(shellStyleIndex());
}

void followShortcuts() {
    const std::string letters = heldShortcutLetters();
    if (letters == "ES") openStyleEditorWindow();
    if (letters == "ST") threadStatusShown.store(true);
}

void drawTabs() {
    ImGui::PushFont(fontArial16 ? fontArial16 : ImGui::GetFont());
    if (ImGui::BeginTabBar("MyTabBar", 0)) {
        if (drawFoldersTab()) mainWindow.currentTab = kTabFolders;
        if (drawApplicationsTab()) mainWindow.currentTab = kTabApplications;
        if (shellHasPendingNotifications() && drawNotificationsTab()) mainWindow.currentTab = kTabNotifications;
        if (mainWindow.helpTabShown && drawHelpTab(mainWindow.selectHelpTab)) mainWindow.currentTab = kTabHelp;
        mainWindow.selectHelpTab = false;
        ImGui::EndTabBar();
    }
    ImGui::PopFont();
}

}  // namespace

const FilterList& folderFilterList() {
    static const FilterList list = makeFilterList({
        {"[\u25CB|\u25CF|\u00D8|\u25A1] All Items", 15},
        {"[\u25CB|\u25CF] Folders / Folders & Descendents", 3},
        {"[\u25CB] Folders", 1},
        {"[\u25CF] Folders & Descendents", 2},
        {"[\u00D8] Excluded", 4},
        {"[\u25A1] Disabled", 8},
    });
    return list;
}

const FilterList& applicationFilterList() {
    static const FilterList list = makeFilterList({
        {"[\u25CF|\u00D8] All Items", 1},
        {"[\u25CF] Active - File owner after UI gains focus", 1},
        {"[\u00D8] Ignore - Ignore this application", 0},
    });
    return list;
}

const FilterList& extensionFilterList() {
    static const FilterList list = makeFilterList({
        {"[\u25CF|\u00D8] All Items", 1},
        {"[\u25CF] Active", 1},
        {"[\u00D8] Disabled", 0},
    });
    return list;
}

std::string heldShortcutLetters() {
    const ImGuiIO& io = ImGui::GetIO();
    std::string letters;
    if (!io.KeyCtrl || !io.KeyShift) return letters;
    for (char c = 'A'; c <= 'Z'; ++c) {
        const int index = letterKeyIndex(c);
        if (index >= 0 && index < IM_ARRAYSIZE(io.KeysDown) && io.KeysDown[index]) letters.push_back(c);
    }
    return letters;
}

void drawMainWindow() {
    const int64_t nowMs = windowClockMs();
    mainWindow.fastWave = triangleWave(nowMs, 500);
    followTabChange();
    if (getUIButtonValue("bka") == 0) initUIButtonTable();
    folderFilterList();
    mainWindow.firstFrame = true;
    followRequests();

    const ImGuiViewport* viewport = ImGui::GetMainViewport();
    ImGui::SetNextWindowPos(viewport->WorkPos, ImGuiCond_FirstUseEver);
    ImGui::SetNextWindowSize(viewport->WorkSize, ImGuiCond_FirstUseEver);
    ImGui::SetNextWindowSizeConstraints(ImVec2(kMainMenuMinimumWidth, kMainMenuMinimumHeight), ImVec2(FLT_MAX, FLT_MAX));
    // Covering the whole program window with an opaque background, "Main
    // Menu" leaves that background to the frame's clear: software GL then
    // shades one full-window layer less per frame, which keeps idle frames cheap.
    ImGuiWindowFlags flags = ImGuiWindowFlags_NoCollapse;
    const ImVec4 background = ImGui::GetStyleColorVec4(ImGuiCol_WindowBg);
    if (mainWindow.coversFrame && background.w >= 1.0f) {
        flags |= ImGuiWindowFlags_NoBackground;
        clearFrameWith(background);
    }
    if (ImGui::Begin("Main Menu", nullptr, flags)) {
        ImGui::SetScrollY(0.0f);
        const ImVec2 size = ImGui::GetWindowSize();
        const ImVec2 at = ImGui::GetWindowPos();
        mainWindow.coversFrame = at.x <= viewport->Pos.x && at.y <= viewport->Pos.y &&
                                 at.x + size.x >= viewport->Pos.x + viewport->Size.x &&
                                 at.y + size.y >= viewport->Pos.y + viewport->Size.y;
        mainWindow.listArea = ImVec2(std::max(size.x - 20.0f, 1.0f), std::max(size.y - 345.0f, 1.0f));
        checkDisplayItemZOrder(kMainWindowItemId);
        drawWindowMenu();
        followShortcuts();
        drawTabs();
    }
    ImGui::End();
    if (threadStatusShown.load()) drawThreadStatusTable();
}

ImVec4 blinkingTextColour() {
    requestFrameIn(kBlinkStepMs - windowClockMs() % kBlinkStepMs);
    ImVec4 colour = ImGui::GetStyleColorVec4(ImGuiCol_Text);
    colour.w *= mainWindow.fastWave;
    return colour;
}

bool isMainWindowOpen() { return true; }

void resetMainWindow() {
    mainWindow = MainWindowState();
    threadStatusShown.store(false);
    resetFoldersTab();
    resetHelpTab();
    resetNotificationsTab();
    resetApplicationsTab();
    resetThreadStatusTable();
    resetRestoreOrRemoveView();
    resetBackupSetRestoreWindow();
    resetRestoreItemsView();
}
