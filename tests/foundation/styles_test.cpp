#include "foundation/styles.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

#include "foundation/colour_contrast.h"
#include "foundation/data_packet.h"
#include "foundation/file_helpers.h"
#include "platform/text.h"
#include "shell/graphics.h"
#include "test_env.h"

namespace {

// A Dear ImGui context without a renderer, and the style globals as at start.
class StyleTest : public ::testing::Test {
protected:
    void SetUp() override {
        context_ = ImGui::CreateContext();
        {
            std::lock_guard<std::mutex> lock(styleMapMutex);
            styleMap.clear();
        }
        resetStyleNames();
        initUIButtonTable();
        folder_ = utf8ToWide(makeTestFolder("styles")) + L"/Styles";
    }
    void TearDown() override { ImGui::DestroyContext(context_); }

    static bool hasRecord(const std::string& name) {
        std::lock_guard<std::mutex> lock(styleMapMutex);
        return styleMap.count(name) == 1;
    }
    static StyleRecord record(const std::string& name) {
        std::lock_guard<std::mutex> lock(styleMapMutex);
        return styleMap.at(name);
    }

    ImGuiContext* context_ = nullptr;
    std::wstring folder_;
};

void expectColour(const ImVec4& c, float r, float g, float b, float a) {
    EXPECT_NEAR(c.x, r, 1e-5);
    EXPECT_NEAR(c.y, g, 1e-5);
    EXPECT_NEAR(c.z, b, 1e-5);
    EXPECT_NEAR(c.w, a, 1e-5);
}

// What a component becomes after a save and a load: whole hundredths.
float hundredths(float component) { return static_cast<float>(static_cast<int>(component * 100.0 + 1e-3) / 100.0); }

TEST(StyleText, TitleCase) {
    EXPECT_EQ(toTitleCase("save STYLE now"), "Save Style Now");
    EXPECT_EQ(toTitleCase("bACK-up 2x"), "Back-Up 2x");
    EXPECT_EQ(toTitleCase("   Ok   "), "   Ok   ");
    EXPECT_EQ(toTitleCase(""), "");
    EXPECT_EQ(toTitleCase("ünïcode wORD"), "ünïcode Word");  // bytes above 0x7F are left alone
}

TEST_F(StyleTest, Light2WithoutRecordFallsBackToItsTable) {
    ASSERT_FALSE(applyStyleByName("Light 2"));
    applyStyleNumber(3);
    const ImGuiStyle& style = ImGui::GetStyle();
    // Its text darkens: a selected row stands between it and the lists.
    EXPECT_LT(relativeLuminance(style.Colors[ImGuiCol_Text]), relativeLuminance(ImVec4(0.31f, 0.25f, 0.24f, 1.00f)));
    expectColour(style.Colors[ImGuiCol_Button], 1.00f, 0.79f, 0.18f, 0.78f);
    expectColour(style.Colors[ImGuiCol_TabHovered], 0.75f, 0.88f, 0.94f, 0.80f);
    // The four tab colours by their mixing rule.
    expectColour(style.Colors[ImGuiCol_Tab], 0.73f + (0.82f - 0.73f) * 0.9f, 0.80f + (0.82f - 0.80f) * 0.9f,
                 0.86f + (0.82f - 0.86f) * 0.9f, 0.45f + (1.0f - 0.45f) * 0.9f);
    const ImVec4 tab = style.Colors[ImGuiCol_Tab];
    const ImVec4 active(0.46f + (0.82f - 0.46f) * 0.6f, 0.84f + (0.82f - 0.84f) * 0.6f, 0.90f + (0.82f - 0.90f) * 0.6f,
                        1.0f);
    expectColour(style.Colors[ImGuiCol_TabActive], active.x, active.y, active.z, active.w);
    expectColour(style.Colors[ImGuiCol_TabUnfocused], tab.x + (0.42f - tab.x) * 0.8f, tab.y + (0.75f - tab.y) * 0.8f,
                 tab.z + (1.00f - tab.z) * 0.8f, tab.w + (0.53f - tab.w) * 0.8f);
    expectColour(style.Colors[ImGuiCol_TabUnfocusedActive], active.x + (0.42f - active.x) * 0.4f,
                 active.y + (0.75f - active.y) * 0.4f, active.z + (1.00f - active.z) * 0.4f,
                 active.w + (0.53f - active.w) * 0.4f);
    expectColour(style.Colors[ImGuiCol_ModalWindowDimBg], 0.20f, 0.20f, 0.20f, 0.35f);
    expectColour(ImVec4(clearColor[0], clearColor[1], clearColor[2], clearColor[3]), 0.20f, 0.20f, 0.20f, 0.35f);
    EXPECT_FLOAT_EQ(style.WindowRounding, 12.0f);
    EXPECT_FLOAT_EQ(style.FrameRounding, 5.0f);
}

TEST_F(StyleTest, FourStyleFilesSaveAndLoad) {
    ASSERT_TRUE(writeDefaultStyleFiles(folder_));
    std::map<std::string, StyleRecord> saved;
    {
        std::lock_guard<std::mutex> lock(styleMapMutex);
        saved.swap(styleMap);
    }
    ASSERT_EQ(saved.size(), 4u);
    EXPECT_EQ(loadStyleFiles(), 0);  // the configuration's folder holds none
    for (int n = 0; n < kStyleCount; ++n) ASSERT_TRUE(loadStyleFile(folder_, n)) << n;
    for (const auto& [name, before] : saved) {
        ASSERT_TRUE(hasRecord(name)) << name;
        const StyleRecord after = record(name);
        ASSERT_EQ(after.colours.size(), 53u);
        for (const auto& [number, colour] : before.colours)
            for (int c = 0; c < 4; ++c) EXPECT_FLOAT_EQ(after.colours.at(number)[c], hundredths(colour[c])) << name;
        EXPECT_FLOAT_EQ(after.FrameRounding, 5.0f);
        EXPECT_FLOAT_EQ(after.WindowBorderSize, 1.0f);
        ASSERT_EQ(after.buttons.size(), before.buttons.size());
        for (const auto& [key, entry] : before.buttons) {
            const UIButtonEntry& back = after.buttons.at(key);
            EXPECT_EQ(back.label1, entry.label1);
            EXPECT_EQ(back.label2, entry.label2);
            for (int k = 0; k < 12; ++k) EXPECT_NEAR(back.colors[k], entry.colors[k], 1e-9) << key << k;
        }
    }
    // The Light 2 file carries its mixed tab colours.
    styleColorsLight2();
    const StyleRecord light2 = record("Light 2");
    EXPECT_FLOAT_EQ(light2.colours.at(ImGuiCol_TabActive)[0], hundredths(ImGui::GetStyle().Colors[ImGuiCol_TabActive].x));

    // A number past the table writes nothing.
    EXPECT_FALSE(saveStyleFile(folder_, 4));
    EXPECT_FALSE(isExistingFile(styleFilePath(folder_, 4)));
    EXPECT_FALSE(loadStyleFile(folder_, 4));
}

TEST_F(StyleTest, ComponentsKeepWholeHundredths) {
    captureLiveStyle("Dark");
    {
        std::lock_guard<std::mutex> lock(styleMapMutex);
        StyleRecord& dark = styleMap["Dark"];
        dark.colours[0] = {0.999f, 0.945f, 0.94f, 1.0f};
        dark.colours[1] = {1.7f, -0.2f, 0.29f, 0.0f};  // clamped, never wrapped
        dark.buttons["bka"].colors[3] = 0.29;
    }
    ASSERT_TRUE(saveStyleFile(folder_, 0));
    ASSERT_TRUE(loadStyleFile(folder_, 0));
    const StyleRecord dark = record("Dark");
    EXPECT_FLOAT_EQ(dark.colours.at(0)[0], 0.99f);
    EXPECT_FLOAT_EQ(dark.colours.at(0)[1], 0.94f);
    EXPECT_FLOAT_EQ(dark.colours.at(0)[2], 0.94f);
    EXPECT_FLOAT_EQ(dark.colours.at(1)[0], 1.0f);
    EXPECT_FLOAT_EQ(dark.colours.at(1)[1], 0.0f);
    EXPECT_FLOAT_EQ(dark.colours.at(1)[2], 0.29f);
    EXPECT_DOUBLE_EQ(dark.buttons.at("bka").colors[3], 0.29);
}

TEST_F(StyleTest, MissingOrDamagedFilesFallBackToBuiltInColours) {
    EXPECT_FALSE(loadStyleFile(folder_, 0));  // no folder
    EXPECT_FALSE(saveStyleFile(folder_, 0));  // no record
    EXPECT_FALSE(isExistingFolder(folder_));
    ASSERT_TRUE(writeDefaultStyleFiles(folder_));
    {
        std::lock_guard<std::mutex> lock(styleMapMutex);
        styleMap.clear();
    }
    // One character changed inside the enciphered text: the CRC check fails.
    const std::string path = wideToUtf8(styleFilePath(folder_, 1));
    std::string text = readTestFile(path);
    ASSERT_GT(text.size(), 40u);
    text[text.size() / 2] = text[text.size() / 2] == 'A' ? 'B' : 'A';
    ASSERT_TRUE(writeTestFile(path, text));
    EXPECT_FALSE(loadStyleFile(folder_, 1));
    ASSERT_TRUE(writeTestFile(wideToUtf8(styleFilePath(folder_, 2)), ""));
    EXPECT_FALSE(loadStyleFile(folder_, 2));
    EXPECT_FALSE(hasRecord("Light"));
    EXPECT_FALSE(hasRecord("Wicked"));

    ImGui::GetStyle().Colors[ImGuiCol_WindowBg] = ImVec4(0.5f, 0.5f, 0.5f, 0.5f);
    EXPECT_FALSE(applyStyleByName("Light"));  // changes nothing
    expectColour(ImGui::GetStyle().Colors[ImGuiCol_WindowBg], 0.5f, 0.5f, 0.5f, 0.5f);
    applyStyleNumber(1);
    ImGuiStyle light;
    ImGui::StyleColorsLight(&light);
    makeStyleReadable(light);
    for (int i = 0; i < kStyleColourCount; ++i) {
        const ImVec4& c = light.Colors[i];
        expectColour(ImGui::GetStyle().Colors[i], c.x, c.y, c.z, c.w);
    }
    applyStyleNumber(2);
    ImGuiStyle classic;
    ImGui::StyleColorsClassic(&classic);
    makeStyleReadable(classic);
    expectColour(ImGui::GetStyle().Colors[ImGuiCol_WindowBg], classic.Colors[ImGuiCol_WindowBg].x,
                 classic.Colors[ImGuiCol_WindowBg].y, classic.Colors[ImGuiCol_WindowBg].z,
                 classic.Colors[ImGuiCol_WindowBg].w);
}

TEST_F(StyleTest, ShortColourListLeavesTheOtherColours) {
    captureLiveStyle("Dark");
    const StyleRecord before = record("Dark");
    DataRecord document;
    addRecordSection(document, "data");
    RecordSectionHandle section = getRecordSection(document, "data");
    setRecordString(section, "name", "Dark", 0);
    setRecordString(section, "EC", std::string("\x0a\x14\x1e\x28", 4), kRecordAppend);
    setRecordString(section, "EC", "\x01", kRecordAppend);  // too short: skipped
    setRecordDouble(section, "FrameRounding", std::nan(""));  // damaged: ignored
    setRecordString(section, "BC", std::string(12, '\x32'), kRecordAppend);  // no key: skipped
    ASSERT_TRUE(makeDirectoryPath(folder_ + L"/"));
    ASSERT_TRUE(saveDataRecordFile(document, "data", styleFilePath(folder_, 0), kStylePassPhrase));
    ASSERT_TRUE(loadStyleFile(folder_, 0));
    const StyleRecord after = record("Dark");
    EXPECT_FLOAT_EQ(after.colours.at(0)[0], 0.1f);
    EXPECT_FLOAT_EQ(after.colours.at(0)[3], 0.4f);
    for (int i = 1; i < kStyleColourCount; ++i) EXPECT_EQ(after.colours.at(i), before.colours.at(i)) << i;
    EXPECT_FLOAT_EQ(after.FrameRounding, before.FrameRounding);
    EXPECT_EQ(after.buttons.size(), before.buttons.size());

    // A file without a name is refused.
    removeRecordValue(section, "name", kRecordAppend);
    ASSERT_TRUE(saveDataRecordFile(document, "data", styleFilePath(folder_, 1), kStylePassPhrase));
    EXPECT_FALSE(loadStyleFile(folder_, 1));
}

TEST_F(StyleTest, ApplyAndCaptureTheLiveStyleAndButtons) {
    ASSERT_FALSE(captureLiveStyle(""));
    setUIButtonState("bkbuf", kButtonEnabled);
    ASSERT_TRUE(captureLiveStyle("Mine"));
    {
        std::lock_guard<std::mutex> lock(styleMapMutex);
        StyleRecord& mine = styleMap["Mine"];
        EXPECT_EQ(mine.colours.size(), 53u);
        ASSERT_EQ(mine.buttons.size(), copyUIButtonTable().size());
        mine.colours[ImGuiCol_ModalWindowDimBg] = {0.1f, 0.2f, 0.3f, 0.4f};
        mine.WindowBorderSize = 3.0f;
        mine.FrameRounding = 7.0f;
        mine.buttons["bkbuf"].colors[0] = 0.33;
        mine.buttons["bkbuf"].label1 = " bACK-up ";
        mine.buttons["zznew"].label1 = "new one";
    }
    ASSERT_TRUE(applyStyleByName("Mine"));
    const ImGuiStyle& style = ImGui::GetStyle();
    EXPECT_FLOAT_EQ(style.WindowBorderSize, 2.0f);
    EXPECT_FLOAT_EQ(style.FrameRounding, 7.0f);
    EXPECT_FLOAT_EQ(style.GrabRounding, 7.0f);
    expectColour(style.Colors[ImGuiCol_ModalWindowDimBg], 0.1f, 0.2f, 0.3f, 0.4f);
    expectColour(ImVec4(clearColor[0], clearColor[1], clearColor[2], clearColor[3]), 0.1f, 0.2f, 0.3f, 0.4f);
    UIButtonEntry backup;
    ASSERT_TRUE(findUIButtonEntry("bkbuf", backup));
    EXPECT_EQ(backup.label1, " Back-Up ");
    EXPECT_DOUBLE_EQ(backup.colors[0], 0.33);
    EXPECT_EQ(backup.state, kButtonEnabled);  // the window's state is kept
    EXPECT_DOUBLE_EQ(backup.currentColors[0], 0.33);
    EXPECT_EQ(backup.currentLabel, " Back-Up ");
    UIButtonEntry added;
    ASSERT_TRUE(findUIButtonEntry("zznew", added));
    EXPECT_EQ(added.label1, "New One");
    EXPECT_DOUBLE_EQ(added.colors[5], 1.0);
}

TEST_F(StyleTest, RenamedStyleKeepsItsNameAcrossARestart) {
    captureLiveStyle("Dark");
    {
        std::lock_guard<std::mutex> lock(styleMapMutex);
        styleMap["Midnight"] = styleMap["Dark"];
        styleMap.erase("Dark");
    }
    ASSERT_TRUE(setStyleName(0, "Midnight"));
    EXPECT_FALSE(setStyleName(1, "Midnight"));  // taken
    EXPECT_FALSE(setStyleName(4, "x"));
    ASSERT_TRUE(saveStyleFile(folder_, 0));
    resetStyleNames();
    {
        std::lock_guard<std::mutex> lock(styleMapMutex);
        styleMap.clear();
    }
    ASSERT_TRUE(loadStyleFile(folder_, 0));
    EXPECT_EQ(styleName(0), "Midnight");
    EXPECT_EQ(styleNames(), (std::vector<std::string>{"Midnight", "Light", "Wicked", "Light 2"}));
    EXPECT_TRUE(hasRecord("Midnight"));
}

TEST_F(StyleTest, ChosenStyleAppliesOnlyWhenItChanges) {
    requestStyleReapply();
    EXPECT_TRUE(updateChosenStyle(3));
    EXPECT_EQ(appliedStyleNumber(), 3);
    ImGui::GetStyle().Colors[ImGuiCol_Button] = ImVec4(0, 0, 0, 0);
    EXPECT_FALSE(updateChosenStyle(3));
    expectColour(ImGui::GetStyle().Colors[ImGuiCol_Button], 0, 0, 0, 0);
    requestStyleReapply();
    EXPECT_TRUE(updateChosenStyle(3));
    expectColour(ImGui::GetStyle().Colors[ImGuiCol_Button], 1.00f, 0.79f, 0.18f, 0.78f);
    EXPECT_TRUE(updateChosenStyle(9));  // past the table: the first style
    EXPECT_EQ(appliedStyleNumber(), 0);
}

}  // namespace

TEST_F(StyleTest, TwoRenamedStylesKeepBothNames) {
    setenv("LOCALAPPDATA", makeTestFolder("local").c_str(), 1);
    // "Dark" takes the name "Light", and "Light" becomes "Day".
    captureLiveStyle("Light");
    captureLiveStyle("Day");
    ASSERT_TRUE(setStyleName(1, "Day"));
    ASSERT_TRUE(setStyleName(0, "Light"));
    EXPECT_EQ(saveStyleFiles(), 2);
    resetStyleNames();
    {
        std::lock_guard<std::mutex> lock(styleMapMutex);
        styleMap.clear();
    }
    EXPECT_EQ(loadStyleFiles(), 2);
    EXPECT_EQ(styleNames(), (std::vector<std::string>{"Light", "Day", "Wicked", "Light 2"}));
    EXPECT_TRUE(hasRecord("Light"));
    EXPECT_TRUE(hasRecord("Day"));
}
