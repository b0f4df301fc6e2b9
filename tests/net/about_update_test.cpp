// The about window's check for a newer version against the local test
// server: the Updates page after a newer, an equal and a failed answer.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "foundation/app_config.h"
#include "foundation/button_table.h"
#include "imgui_headless.h"
#include "test_env.h"
#include "update_server_test.h"
#include "windows/about_window.h"

namespace {

template <typename Condition>
bool eventuallyTrue(Condition condition) {
    for (int i = 0; i < 4000 && !condition(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return condition();
}

std::string updatesPage() {
    std::string text;
    for (const AboutLine& line : aboutPage(1).lines) text += line.text + "\n";
    return text;
}

class AboutUpdate : public UpdateServerTest {
protected:
    void SetUp() override {
        UpdateServerTest::SetUp();
        if (HasFatalFailure()) return;
        resetAboutWindow();
        initUIButtonTable();
        clearDisplayItems();
        registerProgramWindows();  // after the reset: the about hooks
        setIGDisplayItem_zOrder();
        installWindowSeams();
    }
    void TearDown() override {
        UpdateServerTest::TearDown();
        resetAboutWindow();
        resetWindowJobs();
        clearDisplayItems();
    }
    HeadlessImGui ui{ImVec2(1024, 768), true};
};

}  // namespace

TEST_F(AboutUpdate, NewerEqualAndFailedAnswers) {
    // The tray's About: the pages are built off the UI thread, then shown.
    startAboutRefreshThread();
    ASSERT_TRUE(eventuallyTrue([] { return isAboutWindowOpen(); }));
    ASSERT_TRUE(ui.clickButton(drawItemsFrame, "bkau"));

    // A newer release: clicking the check line fetches it; the window stays
    // shown and offers the download.
    serveFile(server, kVersionFile, "2.000.0006\n");
    ui.frame(drawItemsFrame);
    const std::vector<ImVec2> lines =
        ui.itemsDown(drawItemsFrame, HeadlessImGui::firstChildOf(HeadlessImGui::findWindow("About")));
    ASSERT_GE(lines.size(), 2u);
    ui.click(drawItemsFrame, lines[0]);
    ASSERT_TRUE(eventuallyTrue([] { return updatesPage().find("Download") != std::string::npos; }));
    EXPECT_NE(updatesPage().find("\u25CB Version: 2.000.0005 ( Current: 2.000.0006 )"), std::string::npos)
        << updatesPage();
    EXPECT_EQ(requestCount(server, kVersionFile), 1);
    ui.frame(drawItemsFrame);
    EXPECT_TRUE(isAboutWindowOpen());
    EXPECT_NE(ui.frameText(drawItemsFrame).find("\u25CF Download new version ( click here )"), std::string::npos);

    // The same version: no download line.
    serveFile(server, kVersionFile, "2.000.0005");
    // The click's fetch rebuilds the pages just before it ends: it may still run.
    EXPECT_TRUE(eventuallyTrue([] { return fetchRemoteAppVersion(); }));
    EXPECT_NE(updatesPage().find("\u25CF Version: 2.000.0005 ( Current: 2.000.0005 )"), std::string::npos)
        << updatesPage();
    EXPECT_EQ(updatesPage().find("Download"), std::string::npos);

    // A failed check keeps what was known, says that it failed, and still
    // rebuilds the pages.
    resetAboutWindow();
    setUpdateServerHost("127.0.0.1:" + std::to_string(closedLocalPort()));
    EXPECT_FALSE(fetchRemoteAppVersion());
    EXPECT_NE(updatesPage().find("( Current: 2.000.0005 - the last check failed )"), std::string::npos) << updatesPage();
    EXPECT_EQ(updatesPage().find("Download"), std::string::npos);
}
