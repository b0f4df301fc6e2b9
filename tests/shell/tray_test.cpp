#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "foundation/app_log.h"
#include "platform/signals.h"
#include "platform/text.h"
#include "platform/tray_host.h"
#include "shell/autostart.h"
#include "shell/shell_state.h"
#include "shell/tray.h"
#include "shell/window.h"
#include "test_env.h"
#include "windows/about_window.h"
#include "windows/program_windows.h"

namespace {
std::vector<int> ids(const std::vector<TrayMenuLine>& menu) {
    std::vector<int> out;
    for (const auto& line : menu) out.push_back(line.separator ? -1 : line.id);
    return out;
}

// The application log as "kind text" lines, without time stamps and padding.
std::vector<std::string> logLines() {
    std::vector<std::string> lines;
    for (const AppLogEntry& entry : appLogSnapshot().entries) {
        std::string text = wideToUtf8(entry.key);
        text = text.substr(text.find(' ', text.find(' ') + 1) + 1);
        text.erase(text.find_last_not_of(' ') + 1);
        lines.push_back(std::to_string(entry.kind) + " " + text);
    }
    return lines;
}

const TrayMenuLine* lineWithId(const std::vector<TrayMenuLine>& menu, int id) {
    for (const auto& line : menu)
        if (!line.separator && line.id == id) return &line;
    return nullptr;
}

struct TrayFixture : ::testing::Test {
    void SetUp() override {
        startTrayIcon(true);
        resetShellState();
        resetWindowState();
        std::filesystem::remove(autostartFilePath());
    }
    void TearDown() override { startTrayIcon(true); }
};
}  // namespace

TEST_F(TrayFixture, MenuForShownAndHiddenWindow) {
    std::vector<TrayMenuLine> menu;
    EXPECT_FALSE(buildTrayMenu(menu));  // empty table

    setupTrayMenu(false, false, shellStyleNames());
    ASSERT_TRUE(buildTrayMenu(menu));
    EXPECT_EQ(ids(menu), (std::vector<int>{0, 10, 70, 90, 104, 105, -1}));
    EXPECT_FALSE(lineWithId(menu, 0)->enabled);
    EXPECT_FALSE(lineWithId(menu, 10)->checked);
    const TrayMenuLine* styles = lineWithId(menu, 70);
    ASSERT_EQ(styles->children.size(), 4u);
    EXPECT_EQ(styles->children[3].id, 73);
    EXPECT_EQ(styles->children[3].label, "Light 2");
    EXPECT_TRUE(styles->children[0].enabled);
    EXPECT_EQ(trayTip(), "Varnholt Application");

    setupTrayMenu(true, true, shellStyleNames());
    buildTrayMenu(menu);
    EXPECT_EQ(ids(menu), (std::vector<int>{0, 10, 50, 70, 90, 104, 105, -1}));
    EXPECT_TRUE(lineWithId(menu, 10)->checked);
    EXPECT_TRUE(lineWithId(menu, 90)->checked);
    ASSERT_EQ(lineWithId(menu, 50)->children.size(), 1u);  // set-up again adds no duplicates
    EXPECT_EQ(lineWithId(menu, 50)->children[0].label, "WizTab");
    EXPECT_EQ(lineWithId(menu, 70)->children.size(), 4u);

    // Children share their parent's state; renaming touches only existing children.
    EXPECT_FALSE(setTrayMenuItem(77, kTrayAddChild, "orphan"));
    setTrayMenuItem(70, kTrayVisible, "UI Color Style Selector");
    EXPECT_TRUE(setTrayStyleNames({"A", "B", "C", "D", "E"}));
    buildTrayMenu(menu);
    EXPECT_FALSE(lineWithId(menu, 70)->children[1].enabled);
    EXPECT_EQ(lineWithId(menu, 70)->children[1].label, "B");
    EXPECT_EQ(trayMenuEntry(70).children.size(), 4u);

    setTrayTip(std::string(300, 'x'));
    EXPECT_EQ(trayTip().size(), 127u);
}

TEST_F(TrayFixture, CommandsShowHideStyleAndExit) {
    setupTrayMenu(false, false, shellStyleNames());
    ASSERT_TRUE(startTrayIcon(false));
    EXPECT_TRUE(trayHostRunning());
    EXPECT_FALSE(trayHostIsReal());  // no session bus in tests

    runTrayCommand(kTrayShowUI);
    EXPECT_TRUE(shellShowUI());
    EXPECT_TRUE(trayMenuEntry(kTrayShowUI).checked);
    EXPECT_TRUE(trayMenuEntry(kTrayTools).visible);
    runTrayCommand(kTrayShowUI);
    EXPECT_FALSE(shellShowUI());
    EXPECT_FALSE(trayMenuEntry(kTrayTools).visible);

    appendAppLogEntry(L"unconfirmed", 1, false);
    registerProgramWindows();  // as the program's main does: the about window's hooks
    runTrayCommand(kTrayAbout);
    EXPECT_TRUE(shellShowUI());
    EXPECT_EQ(shellVersionCheckCount(), 1);
    // The about window shows itself once its pages are built; closed again,
    // so the tests after this one draw without it.
    for (int i = 0; i < 2000 && !isAboutWindowOpen(); ++i) usleep(5000);
    EXPECT_TRUE(isAboutWindowOpen());
    closeAboutWindow();
    EXPECT_TRUE(trayMenuEntry(kTrayNewNotifications).visible);
    removeAppLogEntriesOfKind(0xFFFFFFFFu);
    runTrayCommand(0);  // nothing chosen: only the notification entry follows
    EXPECT_FALSE(trayMenuEntry(kTrayNewNotifications).visible);
    EXPECT_TRUE(shellShowUI());

    runTrayCommand(72);
    EXPECT_EQ(shellStyleIndex(), 2);
    runTrayCommand(kTrayTools);
    EXPECT_TRUE(takeShellWizardsTabRequest());

    EXPECT_FALSE(quitRequested());
    runTrayCommand(kTrayExit);
    EXPECT_TRUE(exitRequested());
    EXPECT_TRUE(quitRequested());
    EXPECT_FALSE(shellEngineRunning());
}

// The published menu shows the "new notifications" entry whenever the log
// has unconfirmed entries, also without a menu command and after the
// commands that change nothing in the menu.
TEST_F(TrayFixture, PublishedMenuFollowsTheLog) {
    auto published = [] {
        for (const TrayHostItem& item : publishedTrayHostMenu())
            if (item.id == kTrayNewNotifications) return true;
        return false;
    };
    setupTrayMenu(true, false, shellStyleNames());
    ASSERT_TRUE(startTrayIcon(false));
    EXPECT_FALSE(published());
    appendAppLogEntry(L"unconfirmed", 1, false);
    EXPECT_TRUE(pumpWindowEvents());
    EXPECT_TRUE(published());
    removeAppLogEntriesOfKind(0xFFFFFFFFu);
    EXPECT_TRUE(pumpWindowEvents());
    EXPECT_FALSE(published());

    appendAppLogEntry(L"unconfirmed", 1, false);
    runTrayCommand(71);
    EXPECT_TRUE(published());
    removeAppLogEntriesOfKind(0xFFFFFFFFu);
    runTrayCommand(kTrayTools);
    EXPECT_FALSE(published());
}

TEST_F(TrayFixture, StartAtLogOnWritesAndRemovesTheAutostartFile) {
    setupTrayMenu(false, false, shellStyleNames());
    setShellExecutablePath("/opt/My Apps/var$nholt \"x\"");
    const std::string path = autostartFilePath();
    EXPECT_EQ(path, std::string(getenv("XDG_CONFIG_HOME")) + "/autostart/Varnholt.desktop");

    runTrayCommand(kTrayStartAtLogOn);
    ASSERT_TRUE(startAtLogOnEnabled());
    EXPECT_TRUE(shellStartAtLogOn());
    EXPECT_TRUE(trayMenuEntry(kTrayStartAtLogOn).checked);
    const std::string content = readTestFile(path);
    EXPECT_NE(content.find("[Desktop Entry]\n"), std::string::npos);
    EXPECT_NE(content.find("\nExec=\"/opt/My Apps/var\\\\$nholt \\\\\"x\\\\\"\"\n"),
              std::string::npos)
        << content;
    // Nothing left behind by the atomic write.
    size_t files = 0;
    for (auto& e : std::filesystem::directory_iterator(std::filesystem::path(path).parent_path())) {
        (void)e;
        ++files;
    }
    EXPECT_EQ(files, 1u);

    runTrayCommand(kTrayStartAtLogOn);
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_FALSE(trayMenuEntry(kTrayStartAtLogOn).checked);
    EXPECT_FALSE(shellStartAtLogOn());

    // A write that cannot happen is reported and the check mark stays off.
    const std::string folder = std::filesystem::path(path).parent_path();
    std::filesystem::remove_all(folder);
    ASSERT_TRUE(writeTestFile(folder, "not a folder"));
    runTrayCommand(kTrayStartAtLogOn);
    EXPECT_FALSE(trayMenuEntry(kTrayStartAtLogOn).checked);
    EXPECT_FALSE(shellStartAtLogOn());
    const auto log = logLines();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back().rfind("8 Critical! - Unable to change start at log-on", 0), 0u);
    std::filesystem::remove(folder);
}

TEST(Autostart, ExecQuotingFollowsDesktopEntryRules) {
    EXPECT_EQ(desktopExecQuote("/usr/bin/varnholt"), "\"/usr/bin/varnholt\"");
    EXPECT_EQ(desktopExecQuote("/a b/c`d"), "\"/a b/c\\\\`d\"");
    EXPECT_EQ(desktopExecQuote("/a b/100%/varnholt"), "");  // no entry a desktop cannot start
    EXPECT_EQ(desktopExecQuote("/opt/\xff/varnholt"), "");
    EXPECT_EQ(desktopExecQuote("/back\\slash"), "\"/back\\\\\\\\slash\"");
    EXPECT_EQ(desktopExecQuote("relative/path"), "");
    EXPECT_EQ(desktopExecQuote("/line\nbreak"), "");
    EXPECT_EQ(desktopExecQuote(""), "");
}

TEST(Autostart, SessionEndSignalTakesTheNormalShutdownPath) {
    resetShellState();
    resetWindowState();
    ASSERT_TRUE(registerWindowClass());
    installShutdownSignalHandlers();
    clearShutdownSignal();
    EXPECT_TRUE(pumpWindowEvents());
    ASSERT_EQ(raise(SIGTERM), 0);
    EXPECT_FALSE(pumpWindowEvents());
    EXPECT_TRUE(quitRequested());
    EXPECT_FALSE(shellEngineRunning());
    const auto log = logLines();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0], "2 Application closed due to windows shutdown!");
    clearShutdownSignal();
    resetWindowState();
    closeWindowSystem();
}
