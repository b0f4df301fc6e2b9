// The about window driven like a user: its three pages and their buttons,
// the picture's animation on the windows' clock, and the clickable lines.
#include "windows/about_window.h"

#include "foundation/button_table.h"
#include "foundation/global_defaults.h"
#include "net/update_check.h"
#include "windows/help_tab.h"
#include "window_test_support.h"

namespace {
ImGuiWindow* aboutList() { return HeadlessImGui::firstChildOf(HeadlessImGui::findWindow("About")); }

bool sameRect(const AboutKeyFrame& a, float x0, float y0, float x1, float y1) {
    return a.x0 == x0 && a.y0 == y0 && a.x1 == x1 && a.y1 == y1;
}

bool opened(const std::wstring& target) {
    for (const std::wstring& t : openedTargetsSnapshot())
        if (t == target) return true;
    return false;
}

class AboutWindowTest : public MainWindowTest {
protected:
    void SetUp() override {
        MainWindowTest::SetUp();
        resetNetworkState();  // no version check yet
        registerProgramWindows();
        resetAboutWindow();
        std::lock_guard<std::mutex> lock(appSettingsMutex);
        appSettings.guid = "0f8e6b2a-1234-4abc-9def-001122334455";
        appSettings.hwguid = "{00000000-1111-4222-8333-444444444444}";
    }
    void TearDown() override {
        resetAboutWindow();
        MainWindowTest::TearDown();
    }
    // Clicks the n-th clickable line of the shown page.
    void clickLine(size_t n) {
        ui.frame(drawItemsFrame);
        const std::vector<ImVec2> items = ui.itemsDown(drawItemsFrame, aboutList());
        ASSERT_GT(items.size(), n);
        ui.click(drawItemsFrame, items[n]);
    }
};
}  // namespace

TEST_F(AboutWindowTest, PagesButtonsAnimationAndLines) {
    EXPECT_FALSE(isAboutWindowOpen());
    ASSERT_TRUE(showAboutBox());
    openAboutWindow();
    std::string shown = text();
    for (const char* line : {"\u25CF Varnholt", "\u25CF Version: 2.000.0005",
                             "\u25CF User ID: 0f8e6b2a-1234-4abc-9def-001122334455",
                             "\u25CF HW ID: {00000000-1111-4222-8333-444444444444}",
                             "\u25CF Open User Guide: ( click here )", "\u25CF Open Online User Guide: ( click here )"})
        EXPECT_NE(shown.find(line), std::string::npos) << line << "\n" << shown;
    EXPECT_EQ(getUIButtonValue("bkai"), kButtonDisabled) << "the shown page's button";
    EXPECT_EQ(getUIButtonValue("bkau"), kButtonEnabled);
    EXPECT_EQ(getUIButtonValue("bkac"), kButtonEnabled);

    // The picture holds its first key frame, then pans into the second.
    EXPECT_EQ(aboutPictureState().keyFrame, 0u);
    EXPECT_TRUE(sameRect(aboutPictureState().source, 2, 111, 301, 250));
    fakeWindowMs += 2500;
    ui.frame(drawItemsFrame);
    EXPECT_EQ(aboutPictureState().keyFrame, 1u);
    EXPECT_TRUE(sameRect(aboutPictureState().source, 2, 111, 301, 250)) << "blending starts where the last one stood";
    fakeWindowMs += 1500;
    ui.frame(drawItemsFrame);
    EXPECT_FLOAT_EQ(aboutPictureState().blend, 0.5f);
    EXPECT_FLOAT_EQ(aboutPictureState().source.x0, 91);
    EXPECT_FLOAT_EQ(aboutPictureState().source.x1, 390);

    // The two guide lines open the installed guide and the online one.
    clickLine(0);
    clickLine(1);
    ASSERT_TRUE(eventually([] { return openedTargetsSnapshot().size() == 2; }));
    EXPECT_TRUE(opened(installedGuidePath()));
    EXPECT_TRUE(opened(std::wstring(kOnlineGuideAddress)));

    // Updates: its button is the disabled one; the picture starts again.
    ASSERT_TRUE(ui.clickButton(drawItemsFrame, "bkau"));
    shown = text();
    EXPECT_NE(shown.find("\u25CF Check for new version ( click here )"), std::string::npos) << shown;
    EXPECT_NE(shown.find("\u25CF Version: 2.000.0005 ( Current: not checked yet )"), std::string::npos) << shown;
    EXPECT_NE(shown.find("\u25CF Version Change Log: ( click here )"), std::string::npos);
    EXPECT_EQ(shown.find("Download"), std::string::npos) << "nothing newer is known";
    EXPECT_EQ(shown.find("User ID"), std::string::npos);
    EXPECT_EQ(getUIButtonValue("bkau"), kButtonDisabled);
    EXPECT_EQ(getUIButtonValue("bkai"), kButtonEnabled);
    EXPECT_EQ(aboutPictureState().page, 1);
    EXPECT_EQ(aboutPictureState().keyFrame, 0u);
    EXPECT_TRUE(sameRect(aboutPictureState().source, 0, 0, 425, 192));
    // A check that cannot reach the server says so.
    clickLine(0);
    EXPECT_TRUE(eventually([&] { return text().find("( Current: unknown - the check failed )") != std::string::npos; }));

    // Credits: one key frame without blending stands still.
    ASSERT_TRUE(ui.clickButton(drawItemsFrame, "bkac"));
    EXPECT_NE(text().find("\u25CF Dear ImGui"), std::string::npos);
    for (int i = 0; i < 5; ++i) {
        fakeWindowMs += 700;
        ui.frame(drawItemsFrame);
        EXPECT_TRUE(sameRect(aboutPictureState().source, 0, 0, 425, 192));
    }
    clickLine(0);  // the maker's line, the page's only clickable one
    ASSERT_TRUE(eventually([] { return opened(std::wstring(kMakerHomeAddress)); }));

    // A refresh swaps the pages in while the window stays shown; a change
    // of the render state closes it.
    ASSERT_TRUE(showAboutBox());
    ui.frame(drawItemsFrame);
    EXPECT_TRUE(isAboutWindowOpen());
    closeAboutWindow();
    ui.frame(drawItemsFrame);
    EXPECT_EQ(HeadlessImGui::findWindow("About")->Active, false);
}
