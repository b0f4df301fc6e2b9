// The Applications tab driven like a user: filter, selection, renaming and
// renaming to nothing, and the owner-on-focus option of the popup.
#include <imgui_internal.h>

#include "window_test_support.h"

namespace {
ApplicationRecord application(const wchar_t* name, bool focus) {
    ApplicationRecord record;
    record.displayName = name;
    record.monitorFocus = focus;
    record.foregroundMs = 61000;
    return record;
}
ApplicationRecord recordOf(const std::wstring& key) {
    std::lock_guard<std::mutex> lock(statisticsMutex);
    return applicationStatsMap.at(key);
}
}  // namespace

TEST_F(MainWindowTest, ApplicationsSelectRenameFilterAndFocus) {
    {
        std::lock_guard<std::mutex> lock(statisticsMutex);
        applicationStatsMap[L"/usr/bin/editor"] = application(L"editor", true);
        applicationStatsMap[L"/usr/bin/player"] = application(L"player", false);
    }
    ASSERT_TRUE(clickTab("Applications"));
    EXPECT_EQ(mainWindow.currentTab, kTabApplications);
    const auto rows = [this] { return ui.itemsDown(drawItemsFrame, folderList()); };
    std::vector<ImVec2> found = rows();
    ASSERT_EQ(found.size(), 2u);
    ui.click(drawItemsFrame, found[0]);
    EXPECT_NE(text().find("/usr/bin/editor"), std::string::npos);
    ui.click(drawItemsFrame, found[1]);
    EXPECT_FALSE(recordOf(L"/usr/bin/editor").selected) << "selecting another clears the first";
    EXPECT_TRUE(recordOf(L"/usr/bin/player").selected);

    // Rename, then rename to nothing: the name goes back to the file name.
    const ImGuiWindow* main = HeadlessImGui::findWindow("Main Menu");
    const ImGuiWindow* list = folderList();
    const float x = main->Pos.x + 40;
    const ImVec2 field = ui.findItems(drawItemsFrame, ImVec2(x, list->Pos.y + list->Size.y + 2),
                                      ImVec2(x, main->Pos.y + main->Size.y - 1))[0];
    ui.click(drawItemsFrame, field);
    ui.pressKey(drawItemsFrame, ImGuiKey_End);
    ui.type(drawItemsFrame, " X");
    configurationSaved = true;
    ASSERT_TRUE(ui.clickButton(drawItemsFrame, "bkrn"));
    ASSERT_TRUE(eventually([] { return !configurationSaved.load(); }, &ui)) << "the new name is saved";
    EXPECT_EQ(recordOf(L"/usr/bin/player").displayName, L"player X");
    EXPECT_TRUE(recordOf(L"/usr/bin/player").persistent);
    ui.click(drawItemsFrame, rows()[1]);
    ui.click(drawItemsFrame, field);
    ui.pressKey(drawItemsFrame, ImGuiKey_A, true);
    ui.pressKey(drawItemsFrame, ImGuiKey_Backspace);
    ASSERT_TRUE(ui.clickButton(drawItemsFrame, "bkrn"));
    ASSERT_TRUE(eventually([] { return recordOf(L"/usr/bin/player").displayName == L"player"; }, &ui));
    EXPECT_FALSE(recordOf(L"/usr/bin/player").persistent);

    // The filter row "Ignore" shows only the application ignored on focus.
    {
        std::lock_guard<std::mutex> lock(appSettingsMutex);
        appSettings.applicationChoice = 2;
    }
    EXPECT_EQ(rows().size(), 1u);
    {
        std::lock_guard<std::mutex> lock(appSettingsMutex);
        appSettings.applicationChoice = 0;
    }

    // The popup of the selected editor: "No" clears its focus flag and keeps it.
    found = rows();
    ui.click(drawItemsFrame, found[0]);
    ui.click(drawItemsFrame, found[0], 1);
    ASSERT_FALSE(GImGui->OpenPopupStack.empty());
    const std::vector<ImVec2> options = ui.itemsDown(drawItemsFrame, GImGui->OpenPopupStack.back().Window, 12);
    ASSERT_EQ(options.size(), 2u);
    ui.click(drawItemsFrame, options[1]);
    ASSERT_TRUE(eventually([] { return !recordOf(L"/usr/bin/editor").monitorFocus; }, &ui));
    EXPECT_TRUE(recordOf(L"/usr/bin/editor").persistent);
}
