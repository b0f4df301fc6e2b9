// The style editor as a user drives it: colours edited and kept in the style
// files, button colours copied and pasted, styles switched and renamed.
#include <filesystem>

#include "foundation/styles.h"
#include "window_test_support.h"
#include "windows/style_editor.h"

// tests/windows/style_editor_tray_probe.cpp
void setUpTrayMenuWithStyles(const std::vector<std::string>& styleNames);
std::vector<std::string> trayStyleLabels();
void removeTrayMenu();

namespace {

class StyleEditorTest : public MainWindowTest {
protected:
    void SetUp() override {
        MainWindowTest::SetUp();
        forgetStyles();
        std::filesystem::remove_all(wideToUtf8(stylesFolderPath()));
        setShellStyleIndex(0);
        requestStyleReapply();
        ui.frame(drawItemsFrame);  // the main window first, as in the program
        openStyleEditorWindow();
        ui.frame(drawItemsFrame);
    }
    void TearDown() override {
        forgetStyles();
        setShellStyleIndex(0);
        MainWindowTest::TearDown();
    }
    // As after a restart, before the style files are read.
    static void forgetStyles() {
        {
            std::lock_guard<std::mutex> lock(styleMapMutex);
            styleMap.clear();
        }
        resetStyleNames();
    }
    // Clicks an item the editor recorded under `key` in the last frame.
    void clickItem(const std::string& key, bool ctrl = false, bool shift = false) {
        ImGuiIO& io = ImGui::GetIO();
        io.KeyCtrl = ctrl;
        io.KeyShift = shift;
        EXPECT_TRUE(ui.clickButton(drawItemsFrame, key)) << key;
        io.KeyCtrl = io.KeyShift = false;
    }
    // Replaces the text of the field recorded under `key`.
    void typeInto(const std::string& key, const char* text) {
        clickItem(key);
        ui.pressKey(drawItemsFrame, ImGuiKey_A, true);
        ui.pressKey(drawItemsFrame, ImGuiKey_Backspace);
        if (*text) ui.type(drawItemsFrame, text);
    }
    void chooseFromStylesMenu(int number) {
        clickItem("style styles menu");
        clickItem("style choose " + std::to_string(number));
        ui.frame(drawItemsFrame);  // the main window applies it
    }
    // Every colour, style variable, font and ID pushed by the frame was popped.
    static void expectBalancedStacks() {
        EXPECT_EQ(GImGui->ColorStack.Size, 0);
        EXPECT_EQ(GImGui->StyleVarStack.Size, 0);
        EXPECT_EQ(GImGui->FontStack.Size, 0);
        EXPECT_EQ(HeadlessImGui::findWindow("Style Editor")->IDStack.Size, 1);
    }
};

TEST_F(StyleEditorTest, AFilteredColourEditedIsKeptInTheStyleFileAcrossARestart) {
    typeInto("style filter", "Tab,-Unfocused");
    const std::string shown = text();
    for (const char* name : {"Tab\n", "TabHovered", "TabActive", "TableHeaderBg", "TableBorderStrong",
                             "TableBorderLight", "TableRowBg\n", "TableRowBgAlt"})
        EXPECT_NE(shown.find(name), std::string::npos) << name << " in " << shown;
    for (const char* name : {"TabUnfocused", "WindowBg", "Text\n"})
        EXPECT_EQ(shown.find(name), std::string::npos) << name << " in " << shown;

    // Ctrl+click turns the red component into a text field.
    ButtonRect tab;
    ASSERT_TRUE(lastButtonRect("style colour Tab", tab));
    ImGui::GetIO().KeyCtrl = true;
    ui.click(drawItemsFrame, ImVec2(tab.minX + 20, (tab.minY + tab.maxY) / 2));
    ImGui::GetIO().KeyCtrl = false;
    ui.pressKey(drawItemsFrame, ImGuiKey_A, true);
    ui.type(drawItemsFrame, "128");
    ui.pressKey(drawItemsFrame, ImGuiKey_Enter);
    EXPECT_NEAR(ImGui::GetStyle().Colors[ImGuiCol_Tab].x, 128 / 255.0f, 1e-5);
    expectBalancedStacks();
    clickItem("style file menu");
    EXPECT_NE(text().find("Save style \"Dark\""), std::string::npos);
    ASSERT_FALSE(std::filesystem::exists(wideToUtf8(styleFilePath(stylesFolderPath(), 0))));
    clickItem("style save");
    EXPECT_TRUE(std::filesystem::exists(wideToUtf8(styleFilePath(stylesFolderPath(), 0)))) << "written at once";

    resetStyleEditor();
    ASSERT_EQ(saveStyleFiles(), 1) << "the shut-down's save: only the edited style has a record";
    EXPECT_TRUE(std::filesystem::exists(wideToUtf8(styleFilePath(stylesFolderPath(), 0))));
    forgetStyles();
    ImGui::GetStyle() = ImGuiStyle();
    ASSERT_EQ(loadStyleFiles(), 1);
    requestStyleReapply();
    ui.frame(drawItemsFrame);
    EXPECT_NEAR(ImGui::GetStyle().Colors[ImGuiCol_Tab].x, 0.50f, 1e-5) << "kept in whole hundredths";
}

TEST_F(StyleEditorTest, CtrlClickCopiesAndShiftClickPastesAButtonPart) {
    ASSERT_TRUE(clickTab("Button Colors"));
    UIButtonEntry apply;
    ASSERT_TRUE(findUIButtonEntry("afdr", apply));
    clickItem("style afdr hvr", true);
    clickItem("style bka nrm", false, true);
    UIButtonEntry add;
    ASSERT_TRUE(findUIButtonEntry("bka", add));
    for (int c = 0; c < 3; ++c) EXPECT_FLOAT_EQ(add.colors[c], apply.colors[3 + c]);
    EXPECT_EQ(HeadlessImGui::findWindow("Button Color Picker"), nullptr) << "copy and paste leave it closed";
    EXPECT_NE(text().find("PREVIEW (\u25CF NORMAL \u25CF)"), std::string::npos);

    // A plain click opens the picker on the part.
    clickItem("style bkc act");
    const ImGuiWindow* picker = HeadlessImGui::findWindow("Button Color Picker");
    ASSERT_NE(picker, nullptr);
    EXPECT_TRUE(picker->Active);
    EXPECT_NE(text().find("\u25CF ACTIVE \u25CF"), std::string::npos);
    expectBalancedStacks();
}

TEST_F(StyleEditorTest, SwitchingStylesKeepsTheEditsOfEach) {
    ImGui::GetStyle().Colors[ImGuiCol_WindowBg] = ImVec4(0.11f, 0.22f, 0.33f, 1.0f);  // an edit of Dark
    ui.frame(drawItemsFrame);
    chooseFromStylesMenu(1);
    EXPECT_EQ(shellStyleIndex(), 1);
    EXPECT_NE(text().find("Styles [Light]"), std::string::npos);
    EXPECT_NEAR(ImGui::GetStyle().Colors[ImGuiCol_WindowBg].x, 0.94f, 1e-5) << "Light's own";
    ImGui::GetStyle().Colors[ImGuiCol_WindowBg] = ImVec4(0.44f, 0.55f, 0.66f, 1.0f);  // an edit of Light
    ui.frame(drawItemsFrame);

    setShellStyleIndex(0);  // from the tray
    ui.frame(drawItemsFrame);
    ui.frame(drawItemsFrame);
    EXPECT_NEAR(ImGui::GetStyle().Colors[ImGuiCol_WindowBg].z, 0.33f, 1e-5);
    chooseFromStylesMenu(1);
    EXPECT_NEAR(ImGui::GetStyle().Colors[ImGuiCol_WindowBg].z, 0.66f, 1e-5);

    // A configuration past the four styles means the last one.
    {
        std::lock_guard<std::mutex> lock(appSettingsMutex);
        appSettings.uiStyle = 9;
    }
    EXPECT_EQ(shellStyleIndex(), 3);
    EXPECT_NE(text().find("Styles [Light 2]"), std::string::npos);
    setShellStyleIndex(4);
    std::lock_guard<std::mutex> lock(appSettingsMutex);
    EXPECT_EQ(appSettings.uiStyle, 3u);
    expectBalancedStacks();
}

TEST_F(StyleEditorTest, RenameRefusesNamesInUseAndTheTrayAndStyleFilesFollow) {
    setUpTrayMenuWithStyles(shellStyleNames());
    ASSERT_TRUE(clickTab("Details"));
    for (const char* refused : {"Light", ""}) {
        typeInto("style name", refused);
        clickItem("style rename");
        EXPECT_EQ(styleName(0), "Dark") << "'" << refused << "'";
    }
    typeInto("style name", "Midnight");
    clickItem("style rename");
    EXPECT_EQ(styleNames(), (std::vector<std::string>{"Midnight", "Light", "Wicked", "Light 2"}));
    EXPECT_EQ(trayStyleLabels(), styleNames());
    EXPECT_NE(text().find("Styles [Midnight]"), std::string::npos);
    {
        std::lock_guard<std::mutex> lock(styleMapMutex);
        EXPECT_EQ(styleMap.count("Dark"), 0u);
        EXPECT_EQ(styleMap.count("Midnight"), 1u);
    }
    expectBalancedStacks();

    ASSERT_EQ(saveStyleFiles(), 1);
    forgetStyles();
    loadStyleFiles();
    EXPECT_EQ(styleName(0), "Midnight") << "the name comes from the style file";

    typeInto("style name", "Mid##night");  // a name, not a label: shown whole
    clickItem("style rename");
    clickItem("style styles menu");
    EXPECT_NE(text().find(" Mid##night"), std::string::npos) << text();
    removeTrayMenu();
}

}  // namespace
