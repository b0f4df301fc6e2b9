// The main window's frame: its shortcuts, the thread-status table, and the
// Wizards/Help tab opening its targets.
#include <filesystem>

#include "engine/thread_registry.h"
#include "foundation/data_files.h"
#include "foundation/global_defaults.h"
#include "window_test_support.h"
#include "windows/help_tab.h"
#include "windows/backup_set_restore_window.h"
#include "windows/main_window_parts.h"
#include "windows/restore_items_view.h"
#include "windows/scheduler_window.h"
#include "windows/style_editor.h"
#include "windows/thread_status_table.h"

namespace fs = std::filesystem;

TEST_F(MainWindowTest, ShortcutsShowTheThreadTableAndStyleEditor) {
    getThreadState("Copier (W)", 250, 5000);
    getThreadState("Paused (W)", 250, 5000);
    setThreadState("Paused (W)", kThreadPaused);
    getThreadState("Odd (W)", 250, 5000);
    {
        std::lock_guard<std::mutex> lock(threadStateMutex);
        threadStateMap["Odd (W)"].state = 7;
    }
    ui.frame(drawItemsFrame);
    EXPECT_EQ(HeadlessImGui::findWindow("Thread Status Entries"), nullptr);

    HeadlessImGui::holdShortcut("ST");
    ui.frame(drawItemsFrame);
    HeadlessImGui::holdShortcut("");
    EXPECT_TRUE(threadStatusShown.load());
    std::string shown = ui.frameText(drawThreadStatusTable);
    for (const char* expected : {"Key", "Status", "Elapsed", "Ping", "Copier (W)", "Running", "Paused (W)", "Paused",
                                 "Odd (W)", "Unknown", "00:00:00"})
        EXPECT_NE(shown.find(expected), std::string::npos) << expected << " in " << shown;
    const ImGuiWindow* table = HeadlessImGui::findWindow("Thread Status Entries");
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(table->Size.x, 1280) << "the work area's size";

    clearThreadStates();
    EXPECT_NE(ui.frameText(drawThreadStatusTable).find("No entries"), std::string::npos);
    threadStatusShown = false;  // as its close box does
    ui.frame(drawItemsFrame);
    EXPECT_EQ(HeadlessImGui::findWindow("Thread Status Entries")->Active, false);

    HeadlessImGui::holdShortcut("ES");
    ui.frame(drawItemsFrame);
    HeadlessImGui::holdShortcut("");
    EXPECT_TRUE(isStyleEditorWindowOpen());
    HeadlessImGui::holdShortcut("EST");
    ui.frame(drawItemsFrame);
    HeadlessImGui::holdShortcut("");
    ui.frame(drawItemsFrame);
    EXPECT_FALSE(threadStatusShown.load()) << "three letters are another shortcut";
}

TEST_F(MainWindowTest, HelpTabItemsOpenTheirTargets) {
    EXPECT_EQ(text().find("Wizards/Help"), std::string::npos) << "not before the tray switches it on";
    requestShellWizardsTab();
    ui.frame(drawItemsFrame);  // the tab appears, and is selected from the next frame
    std::string shown = text();
    ASSERT_NE(shown.find("In this area you will find a few useful items and helpful tips."), std::string::npos)
        << shown;
    EXPECT_EQ(mainWindow.currentTab, kTabHelp);

    ui.frame(drawItemsFrame);
    ImGuiWindow* child = HeadlessImGui::firstChildOf(HeadlessImGui::findWindow("Main Menu"));
    std::vector<ImVec2> items = ui.itemsDown(drawItemsFrame, child, 40);
    // Three tree nodes and four items: node, item, item, node, item, node, item.
    ASSERT_EQ(items.size(), 7u);
    // The local guide cannot be opened (not installed): it is not done.
    setShellOpener([](const std::wstring& target) {
        recordOpenedTarget(target);
        return target.find(L"guide.pdf") == std::wstring::npos;
    });
    ui.click(drawItemsFrame, items[1]);
    ui.click(drawItemsFrame, items[2]);
    ui.click(drawItemsFrame, items[2]);  // done items stay clickable
    ASSERT_TRUE(eventually([] { return openedTargetsSnapshot().size() == 3; }));
    // Each opening runs on a thread of its own, in any order.
    const std::vector<std::wstring> opened = openedTargetsSnapshot();
    EXPECT_EQ(std::count(opened.begin(), opened.end(), std::wstring(kOnlineGuideAddress)), 1);
    EXPECT_EQ(std::count(opened.begin(), opened.end(), configurationFolderPath() + L"/guide.pdf"), 2);
    EXPECT_TRUE(eventually([&] { return text().find("\u058D Open Online User Guide -- Done") != std::string::npos; }));
    shown = text();
    EXPECT_NE(shown.find("\u25CF Open User Guide"), std::string::npos) << shown;
    EXPECT_NE(shown.find("\u25CF Open the UI Style editor"), std::string::npos);

    ui.click(drawItemsFrame, items[6]);
    EXPECT_TRUE(isStyleEditorWindowOpen());
    resetStyleEditor();  // it would cover the list
    EXPECT_NE(text().find("Open the UI Style editor -- Done (Shortcut Shift+Control+S+E)"), std::string::npos);

    // The Documents folder becomes a watch folder with its archive outside it.
    const std::wstring documents = utf8ToWide(getenv("HOME")) + L"/Documents";
    fs::create_directories(wideToUtf8(documents));
    ui.click(drawItemsFrame, items[4]);
    std::wstring archive;
    ASSERT_TRUE(eventually([&] {
        std::lock_guard<std::mutex> lock(watchFolderMutex);
        auto it = watchFolderMap.find(documents);
        if (it != watchFolderMap.end()) archive = it->second.archivePath;
        return !archive.empty();
    }));
    EXPECT_FALSE(pathIsInside(archive, documents)) << wideToUtf8(archive);
}
