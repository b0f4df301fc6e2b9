// The folder entry's right-click popup: type and collision changes reach
// the entry and the configuration file, and its buttons open their windows.
#include <imgui_internal.h>

#include "foundation/button_table.h"
#include "window_test_support.h"
#include "windows/extension_manager.h"
#include "windows/backup_set_restore_window.h"
#include "windows/main_window_parts.h"
#include "windows/restore_items_view.h"
#include "windows/scheduler_window.h"
#include "windows/restore_or_remove_view.h"

namespace {
void drawMainOnly() { drawMainWindow(); }
}  // namespace

TEST_F(MainWindowTest, FolderPopupChangesOptionsAndOpensWindows) {
    const auto entry = [this] {
        std::lock_guard<std::mutex> lock(watchFolderMutex);
        return watchFolderMap.at(folders.watch);
    };
    // Right click on the folder's row; the popup's items top to bottom:
    // four types, four collision options, six buttons.
    const auto openPopup = [this] {
        ui.frame([] {
            drawMainOnly();
            if (!GImGui->OpenPopupStack.empty()) ImGui::ClosePopupToLevel(0, false);
        });
        ui.frame(drawMainOnly);
        const std::vector<ImVec2> rows = ui.itemsDown(drawMainOnly, folderList());
        EXPECT_FALSE(rows.empty());
        if (rows.empty()) return std::vector<ImVec2>();
        ui.click(drawMainOnly, rows[0]);
        ui.click(drawMainOnly, rows[0], 1);
        if (GImGui->OpenPopupStack.empty()) return std::vector<ImVec2>();
        return ui.itemsDown(drawMainOnly, GImGui->OpenPopupStack.back().Window, 24);
    };

    ASSERT_TRUE(loadAppConfiguration());  // the configuration files' paths
    std::vector<ImVec2> items = openPopup();
    ASSERT_EQ(items.size(), 14u);
    configurationSaved = true;
    // The whole option row counts, its word as much as its mark.
    ui.click(drawMainOnly, ImVec2(items[0].x + 60, items[0].y));  // "Folder"
    items = openPopup();
    ASSERT_EQ(items.size(), 14u);
    ui.click(drawMainOnly, ImVec2(items[6].x + 60, items[6].y));  // "Overwrite"
    waitForFolderOptionJob();
    EXPECT_EQ(entry().folderType, kFolderTypeFolder);
    EXPECT_EQ(entry().collisionOption, kCollisionOverwrite);
    EXPECT_TRUE(isWatchListChanged()) << "the watchers are rebuilt for the new type";
    EXPECT_FALSE(configurationSaved.load()) << "the idle save writes the change to the configuration file";
    // Saved, forgotten and read back by the loader: the folder keeps both.
    ASSERT_TRUE(saveAppConfiguration());
    {
        std::lock_guard<std::mutex> lock(watchFolderMutex);
        watchFolderMap.erase(folders.watch);
    }
    ASSERT_TRUE(loadAppConfiguration());
    EXPECT_EQ(entry().folderType, kFolderTypeFolder);
    EXPECT_EQ(entry().collisionOption, kCollisionOverwrite);
    std::filesystem::remove(wideToUtf8(userFilePath));
    std::filesystem::remove(wideToUtf8(configFilePath));
    // The file type manager is refused for excluded and disabled folders (a
    // refused click leaves the popup open).
    for (size_t type : {2u, 3u}) {
        ui.click(drawMainOnly, openPopup()[type]);
        waitForFolderOptionJob();
        ui.click(drawMainOnly, openPopup()[8]);
        EXPECT_FALSE(isExtensionManagerWindowOpen()) << type;
    }
    // Disabled, it cannot be enabled while another folder keeps its archive inside it.
    const std::wstring other = folders.watch + L"Z";
    addFolder(other, folders.watch + L"/other-archive", kCollisionAppendVersion);
    ui.click(drawMainOnly, openPopup()[0]);
    waitForFolderOptionJob();
    EXPECT_EQ(entry().folderType, kFolderTypeDisable);
    EXPECT_TRUE(logHas(L"Watch folder not enabled, its archive and a watch folder overlap: " + folders.watch));
    {
        std::lock_guard<std::mutex> lock(watchFolderMutex);
        watchFolderMap.erase(other);
    }
    ui.click(drawMainOnly, openPopup()[1]);
    waitForFolderOptionJob();
    EXPECT_EQ(entry().folderType, kFolderTypeDescendents);
    ui.click(drawMainOnly, openPopup()[8]);
    EXPECT_TRUE(isExtensionManagerWindowOpen());
    EXPECT_EQ(extensionManagerFolder(), folders.watch);
    ui.click(drawMainOnly, openPopup()[9]);
    EXPECT_TRUE(isSchedulerWindowOpen());
    EXPECT_EQ(schedulerWindowFolder(), folders.watch);
    resetSchedulerWindows();
    ui.click(drawMainOnly, openPopup()[11]);
    ui.click(drawMainOnly, openPopup()[12]);
    ASSERT_TRUE(eventually([] { return openedTargetsSnapshot().size() == 2; }));
    EXPECT_EQ(openedTargetsSnapshot()[0], folders.watch);
    EXPECT_EQ(openedTargetsSnapshot()[1], folders.archive);
    ui.click(drawMainOnly, openPopup()[13]);
    EXPECT_TRUE(isRestoreOrRemoveViewOpen());
}
