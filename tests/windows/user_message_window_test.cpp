// The user-message window driven like a user (fields, reasons, Submit and
// what it hands to the mail program) and the numbered text actions through
// the windows' opener seam.
#include "windows/user_message_window.h"

#include "foundation/button_table.h"
#include "foundation/global_defaults.h"
#include "platform/shell_open.h"
#include "windows/about_window.h"
#include "windows/help_tab.h"
#include "windows/notifications_tab.h"
#include "windows/main_window_parts.h"
#include "windows/text_actions.h"
#include "window_test_support.h"

namespace {
bool failingOpener(const std::wstring&) { return false; }

class UserMessageTest : public MainWindowTest {
protected:
    void SetUp() override {
        MainWindowTest::SetUp();
        resetUserMessageWindow();
        resetAboutWindow();
        resetNotificationsTab();
        std::lock_guard<std::mutex> lock(appSettingsMutex);
        appSettings.userName.clear();
        appSettings.userEmail.clear();
        appSettings.userMessage.clear();
        appSettings.userReason = 0;
    }
    void TearDown() override {
        resetUserMessageWindow();
        resetAboutWindow();
        MainWindowTest::TearDown();
    }
    // The fields down the middle of the window: name, e-mail, reason, message.
    std::vector<ImVec2> fields() {
        ui.frame(drawItemsFrame);
        const ImGuiWindow* w = HeadlessImGui::findWindow("User Message Submission");
        if (!w) return {};
        const float x = w->Pos.x + w->Size.x * 0.75f;
        return ui.findItems(drawItemsFrame, ImVec2(x, w->Pos.y + 30), ImVec2(x, w->Pos.y + w->Size.y - 60));
    }
    void typeInto(ImVec2 field, const char* text) {
        ui.click(drawItemsFrame, field);
        ui.type(drawItemsFrame, text);
    }
};
}  // namespace

TEST_F(UserMessageTest, SubmitNeedsNameAndEmailAndHandsTheDraftOver) {
    openAboutWindow();  // behind the user-message window
    ASSERT_EQ(runTextAction(2, {}), 1);
    ASSERT_TRUE(isUserMessageWindowOpen());
    std::vector<ImVec2> f = fields();
    ASSERT_EQ(f.size(), 4u);
    EXPECT_EQ(getUIButtonValue("bksb"), kButtonDisabled);
    typeInto(f[0], "Ann");
    EXPECT_EQ(getUIButtonValue("bksb"), kButtonDisabled) << "no address yet";
    ASSERT_TRUE(ui.clickButton(drawItemsFrame, "bksb"));
    EXPECT_TRUE(isUserMessageWindowOpen()) << "a disabled Submit does nothing";
    typeInto(f[1], "ann@example.org");
    typeInto(f[3], "Hello & bye");
    EXPECT_EQ(getUIButtonValue("bksb"), kButtonEnabled);

    // The reason list holds the four reasons; the third is chosen.
    ui.click(drawItemsFrame, f[2]);
    ui.frame(drawItemsFrame);
    const std::vector<ImVec2> reasons = ui.itemsDown(drawItemsFrame, HeadlessImGui::findWindow("##Combo"));
    ASSERT_EQ(reasons.size(), 4u);
    ui.click(drawItemsFrame, reasons[2]);

    ASSERT_TRUE(ui.clickButton(drawItemsFrame, "bksb"));
    EXPECT_FALSE(isUserMessageWindowOpen());
    EXPECT_FALSE(isAboutWindowOpen()) << "Submit hides the about window";
    EXPECT_FALSE(aboutPage(1).lines.empty()) << "closing rebuilt the about pages";
    ASSERT_TRUE(eventually([] { return logHas(L"ready for you to send"); }));
    ASSERT_EQ(openedTargetsSnapshot().size(), 1u);
    EXPECT_EQ(openedTargetsSnapshot()[0], L"mailto:" + utf8ToWide(std::string(kUserMessageMailAddress)) +
                                              L"?subject=Varnholt%202.000.0005%3A%20Request%20Feature"
                                              L"&body=Hello%20%26%20bye%0D%0A%0D%0AAnn%20%3Cann%40example.org%3E");
    EXPECT_FALSE(configurationSaved.load()) << "the configuration is saved with the fields";
    {
        std::lock_guard<std::mutex> lock(appSettingsMutex);
        EXPECT_EQ(appSettings.userName, "Ann");
        EXPECT_EQ(appSettings.userEmail, "ann@example.org");
        EXPECT_EQ(appSettings.userMessage, "Hello & bye");
        EXPECT_EQ(appSettings.userReason, 2);
    }

    // Opened again it starts from the stored fields: Submit is ready at
    // once. A mail program that does not take the draft is told as such.
    setShellOpener(failingOpener);
    ASSERT_EQ(runTextAction(2, {}), 1);
    ui.frame(drawItemsFrame);
    EXPECT_EQ(getUIButtonValue("bksb"), kButtonEnabled);
    ASSERT_TRUE(ui.clickButton(drawItemsFrame, "bksb"));
    ASSERT_TRUE(eventually([] { return logHas(L"No mail program took your message"); }));

    // Dismiss closes without storing what was typed.
    ASSERT_EQ(runTextAction(2, {}), 1);
    f = fields();
    ASSERT_EQ(f.size(), 4u);
    typeInto(f[0], " Smith");
    ASSERT_TRUE(ui.clickButton(drawItemsFrame, "bkc"));
    EXPECT_FALSE(isUserMessageWindowOpen());
    std::lock_guard<std::mutex> lock(appSettingsMutex);
    EXPECT_EQ(appSettings.userName, "Ann");
}

TEST_F(UserMessageTest, TextActionsOpenOnlyWhatTheyMay) {
    EXPECT_EQ(runTextAction(3, {}), 1);
    EXPECT_TRUE(isStyleEditorWindowOpen());
    for (int32_t code : {4, 7, 9}) EXPECT_EQ(runTextAction(code, {"text"}), 1) << code;
    for (int32_t code : {-1, 0, 5, 8, 10}) EXPECT_EQ(runTextAction(code, {"text", "https://example.org/"}), 0) << code;

    const std::string folder = wideToUtf8(folders.watch);
    EXPECT_EQ(runTextAction(6, {"https://example.org/one"}), 0) << "one text is not enough";
    EXPECT_EQ(runTextAction(6, {"text", "https://example.org/two"}), 1);
    EXPECT_EQ(runTextAction(6, {"text", "http://example.org/three", "more"}), 1);
    EXPECT_EQ(runTextAction(6, {"text", folder}), 1);
    for (const char* refused : {"file:///etc/passwd", "mailto:a@example.org", "javascript:alert(1)", "ftp://example.org/",
                                "xdg-open /bin/sh", "sh -c 'rm -rf ~'", "--help", "relative/path", "/no/such/path", ""})
        EXPECT_EQ(runTextAction(6, {"text", refused}), 0) << refused;
    EXPECT_FALSE(openMailWithDesktop(L"https://example.org/")) << "the mail opener takes mail addresses only";
    EXPECT_FALSE(openMailWithDesktop(L"mailto:a@example.org?body=two words"));

    // A notification's clickable line runs the same actions.
    const auto draw = [] {
        ImGui::SetNextWindowPos(ImVec2(0, 0));
        ImGui::SetNextWindowSize(ImVec2(600, 200));
        ImGui::Begin("Detail");
        drawNotificationDetail("1[|]6[|]https://example.org/notice[|]Read more[||]1[|]6[|]file:///etc/passwd[|]Not this");
        ImGui::End();
    };
    ui.frame(draw);
    const std::vector<ImVec2> items = ui.itemsDown(draw, HeadlessImGui::findWindow("Detail"), 30);
    ASSERT_EQ(items.size(), 2u);
    ui.click(draw, items[0]);
    ui.click(draw, items[1]);

    const std::vector<std::wstring> wanted = {std::wstring(kMakerHomeAddress), installedGuidePath(),
                                              std::wstring(kProductPageAddress), L"https://example.org/two",
                                              L"http://example.org/three", folders.watch, L"https://example.org/notice"};
    ASSERT_TRUE(eventually([&] { return openedTargetsSnapshot().size() >= wanted.size(); }));
    std::vector<std::wstring> got = openedTargetsSnapshot();
    std::sort(got.begin(), got.end());
    std::vector<std::wstring> sorted = wanted;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(got, sorted);

    // Code 1 asks for the remote version (a closed local port in test
    // builds) and rebuilds the about pages.
    EXPECT_EQ(runTextAction(1, {}), 1);
    EXPECT_TRUE(eventually([] { return !aboutPage(1).lines.empty(); }));
}
