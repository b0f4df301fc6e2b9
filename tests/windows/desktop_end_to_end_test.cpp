// The real program as a person uses it: on an X server of its own (Xvfb),
// driven with xdotool, photographed with ImageMagick's import
// (desktop_driver.h). Screenshots go to build/desktop-*.png.
#include <algorithm>
#include <ctime>
#include <mutex>

#include "desktop_driver.h"
#include "shell/fake_tray_watcher.h"
#include "foundation/app_config.h"  // the extension manager case seeds a configuration
#include "foundation/data_files.h"

namespace {
// Writes the configuration the program loads at its next start: one watch
// folder archiving every type ("*") and txt, into the data folder below `home`.
void seedWatchFolder(const std::string& home, const std::string& folder, const std::string& archive) {
    const char* local = getenv("LOCALAPPDATA");
    const std::string keep = local ? local : "";
    setenv("LOCALAPPDATA", (home + "/.local/share").c_str(), 1);
    ASSERT_TRUE(loadAppConfiguration());
    {
        std::lock_guard<std::mutex> lock(watchFolderMutex);
        WatchFolderEntry entry;
        entry.archivePath = utf8ToWide(archive);
        entry.extensionMap[L"*"] = ExtensionEntry{L"*", true, false};
        entry.extensionMap[L"txt"] = ExtensionEntry{L"txt", true, false};
        watchFolderMap[utf8ToWide(folder)] = entry;
    }
    EXPECT_TRUE(saveAppConfiguration());
    removeRecordSection("main");
    removeRecordSection("user");
    setenv("LOCALAPPDATA", keep.c_str(), 1);
    std::lock_guard<std::mutex> lock(watchFolderMutex);
    watchFolderMap.clear();
}

// Colour 0 (Text) as a style file keeps it: R, G, B, A in hundredths; -1s when unreadable.
std::vector<int> storedTextColour(const std::string& styleFile) {
    DataRecord style;
    std::string bytes;
    if (!loadDataRecordFile(style, "data", utf8ToWide(styleFile), kStylePassPhrase) ||
        !getRecordString(getRecordSection(style, "data"), "EC", bytes, 0) || bytes.size() != 4)
        return {-1, -1, -1, -1};
    return {bytes[0], bytes[1], bytes[2], bytes[3]};
}
}  // namespace

TEST(DesktopEndToEnd, AddAFolderWithTheMouseAndItIsArchivedAndKept) {
    if (const std::string why = cannotRunDesktop({"pdfinfo"}); !why.empty()) GTEST_SKIP() << why;
    DesktopRun run("desktop");
    const Desktop& desktop = run.desktop;

    // The first start sets up the data folder with the guide the build made.
    ASSERT_NO_FATAL_FAILURE(run.install());
    const std::string guide = run.configFolder + "/guide.pdf";
    EXPECT_EQ(readTestFile(guide), readTestFile(buildFolder() + "/guide.pdf"));
    EXPECT_EQ(std::system(("pdfinfo " + guide + " >/dev/null 2>&1").c_str()), 0);
    ASSERT_NO_FATAL_FAILURE(run.start());

    // " Add ", then the folder's path typed into the chooser.
    ASSERT_NO_FATAL_FAILURE(run.waitForAddButton());
    desktop.screenshot("desktop-main-window.png");
    run.openChooser();
    desktop.screenshot("desktop-folder-chooser.png");
    const std::string folder = makeTestFolder("picked") + "/Letters";
    fs::create_directories(folder);
    run.typeIntoChooser(folder);
    desktop.screenshot("desktop-path-typed.png");
    desktop.pressKey("Return");

    // Written into the folder, the file reaches the proposed archive.
    const std::string archive = run.proposedArchive("Letters");
    EXPECT_TRUE(writeUntil(
        [&](int round) { writeTestFile(folder + "/note.txt", "written at round " + std::to_string(round)); },
        [&] { return hasFileNamed(archive, "note"); }))
        << run.errors();
    desktop.moveMouseAway();
    pauseMs(500);
    desktop.screenshot("desktop-folder-added.png");

    // Ctrl+Shift+S+T shows the workers' table over the window.
    desktop.pressTogether({"ctrl", "shift", "s", "t"});
    pauseMs(500);
    desktop.screenshot("desktop-thread-status.png");

    // SIGTERM saves the configuration: User.dat holds the folder.
    EXPECT_EQ(run.stop(), 0) << run.errors();
    DataRecord saved;
    ASSERT_TRUE(loadUserFile(run.configFolder, saved));
    EXPECT_NE(serializeRecordSection(getRecordSection(saved, "user")).find(folder), std::string::npos);
}

TEST(DesktopEndToEnd, FolderPopupChangesTheCollisionOptionAndRemoveErasesTheArchivedVersions) {
    if (const std::string why = cannotRunDesktop(); !why.empty()) GTEST_SKIP() << why;
    DesktopRun run("desktop-popup");
    const Desktop& desktop = run.desktop;
    ASSERT_NO_FATAL_FAILURE(run.install());
    ASSERT_NO_FATAL_FAILURE(run.start());

    const std::string folder = makeTestFolder("popup-picked") + "/Letters";
    fs::create_directories(folder);
    ASSERT_NO_FATAL_FAILURE(run.addFolderWithTheMouse(folder));
    const std::string archive = run.proposedArchive("Letters");
    ASSERT_TRUE(writeUntil(
        [&](int round) { writeTestFile(folder + "/note.txt", "written at round " + std::to_string(round)); },
        [&] { return hasFileNamed(archive, "note"); }))
        << run.errors();

    // Right click on the folder's row (the list's first); the popup opens at
    // the mouse, its collision option "Overwrite" ten rows down.
    desktop.click(run.x + 60, run.y + 95);
    rightClick(desktop, run.x + 60, run.y + 95);
    // Drawn once the purple " Select Archive Location " shows.
    ASSERT_TRUE(waitFor([&] { return centreOfColour(screenPixels(desktop), 107, 61, 153).first >= 0; }));
    desktop.screenshot("desktop-folder-popup.png");
    desktop.click(run.x + 60 + 15, run.y + 95 + 201);
    // The idle save writes it: the folder's line ends with "o" (Overwrite).
    const auto savedLine = [&] {
        for (const std::wstring& line : savedFolderLines(run.configFolder))
            if (line.find(utf8ToWide(folder)) != std::wstring::npos) return line;
        return std::wstring();
    };
    EXPECT_TRUE(waitFor([&] { return savedLine().ends_with(L"o"); })) << wideToUtf8(savedLine());

    // " Remove " asks which archived data go with the folder.
    const std::pair<int, int> remove = centreOfColour(screenPixels(desktop), 107, 153, 61);
    ASSERT_GE(remove.first, 0);
    desktop.click(remove.first, remove.second);
    // Ticked: "1 automatically archived files", the first option, above the
    // centred question's Ok (the one cyan button once the question dims the window).
    std::pair<int, int> ok{-1, -1};
    ASSERT_TRUE(waitFor([&] {
        const Rgb screen = screenPixels(desktop);
        ok = centreOfColour(screen, 61, 153, 153);
        return ok.first >= 0 && centreOfColour(screen, 107, 153, 61).first < 0;
    }));
    pauseMs(300);
    desktop.screenshot("desktop-remove-question.png");
    desktop.click(ok.first - 84, ok.second - 129);
    desktop.screenshot("desktop-remove-ticked.png");
    desktop.click(ok.first, ok.second);
    EXPECT_TRUE(waitFor([&] { return !hasFileNamed(archive, "note"); })) << "the archived versions are erased";
    EXPECT_TRUE(waitFor([&] { return savedFolderLines(run.configFolder).empty(); })) << wideToUtf8(savedLine());
    EXPECT_TRUE(fs::exists(folder + "/note.txt")) << "the user's own file stays";
    desktop.moveMouseAway();
    pauseMs(500);
    desktop.screenshot("desktop-folder-removed.png");

    EXPECT_EQ(run.stop(), 0) << run.errors();
}

TEST(DesktopEndToEnd, AboutFromTheTrayMenuShowsItsPagesAndStaysThroughACheck) {
    if (const std::string why = cannotRunDesktop({"dbus-daemon", "gdbus"},
                                                 "needs the test build, whose update check never leaves this machine");
        !why.empty())
        GTEST_SKIP() << why;
    DesktopRun run("desktop-about", "");
    const Desktop& desktop = run.desktop;
    ASSERT_NO_FATAL_FAILURE(run.install());

    // A session bus of the test's own: the tray menu lives there.
    const std::string bus = "unix:path=" + run.root + "/bus";
    const ChildGuard busDaemon{spawn({"dbus-daemon", "--session", "--nofork", "--address=" + bus},
                                     {{"PATH", getenv("PATH")}}, run.root + "/bus.txt")};
    ASSERT_TRUE(waitFor([&] { return fs::exists(run.root + "/bus"); })) << readTestFile(run.root + "/bus.txt");
    run.env["DBUS_SESSION_BUS_ADDRESS"] = bus;
    ASSERT_NO_FATAL_FAILURE(run.start());

    // The tray's About shows the window over the main window: the white
    // core of the program's mark in its picture, the page buttons in teal.
    ASSERT_TRUE(waitFor([&] { return clickTrayMenuItem(bus, "About"); })) << run.errors();
    Box buttons;
    ASSERT_TRUE(waitFor([&] {
        const Rgb screen = screenPixels(desktop);
        buttons = boxOfColour(screen, 61, 153, 153);
        return boxOfColour(screen, 240, 240, 235).minX >= 0 && buttons.minX >= 0;
    })) << run.errors();
    desktop.screenshot("desktop-about.png");

    // " Updates " (the left one of the two teal buttons): " Info " turns
    // teal, so the teal buttons start further left.
    const int buttonY = (buttons.minY + buttons.maxY) / 2;
    desktop.click(buttons.minX + (buttons.maxX - buttons.minX) / 4, buttonY);
    desktop.moveMouseAway();
    Box after;
    ASSERT_TRUE(waitFor([&] {
        after = boxOfColour(screenPixels(desktop), 61, 153, 153);
        return after.minX >= 0 && after.minX < buttons.minX;
    })) << run.errors();

    // The check line (second of four above the buttons, 20 pixels apart)
    // asks the server; the window is still there once it has answered.
    desktop.click(after.minX + 60, (after.minY + after.maxY) / 2 - 67);
    desktop.moveMouseAway();
    pauseMs(1500);
    EXPECT_GE(boxOfColour(screenPixels(desktop), 240, 240, 235).minX, 0) << "the about window went away";
    desktop.screenshot("desktop-about-updates.png");

    EXPECT_EQ(run.stop(), 0) << run.errors();
}

TEST(DesktopEndToEnd, AColourChangedInTheStyleEditorIsKeptAcrossARestart) {
    if (const std::string why = cannotRunDesktop(); !why.empty()) GTEST_SKIP() << why;
    DesktopRun run("desktop-style");
    const Desktop& desktop = run.desktop;
    const std::string styleFile = run.configFolder + "/Styles/Style_0.dat";
    ASSERT_NO_FATAL_FAILURE(run.install());
    EXPECT_EQ(storedTextColour(styleFile), (std::vector<int>{100, 100, 100, 100})) << "Dark's white text";
    ASSERT_NO_FATAL_FAILURE(run.start());
    ASSERT_NO_FATAL_FAILURE(run.waitForAddButton());

    // Ctrl+Shift+E+S opens the editor; the first colour row is Text, its
    // sample the one white square on the screen.
    desktop.pressTogether({"ctrl", "shift", "e", "s"});
    std::pair<int, int> sample{-1, -1};
    ASSERT_TRUE(waitFor([&] {
        sample = solidSquareOfColour(screenPixels(desktop), 255, 255, 255, 12);
        return sample.first >= 0;
    })) << run.errors();
    desktop.screenshot("desktop-style-editor.png");

    // Ctrl+click makes the alpha field left of the sample a text field: 128 of 255.
    desktop.run("xdotool mousemove " + std::to_string(sample.first - 15) + " " + std::to_string(sample.second + 6));
    pauseMs(300);
    desktop.run("xdotool keydown ctrl");
    pauseMs(300);
    desktop.run("xdotool click 1");
    pauseMs(300);
    desktop.run("xdotool keyup ctrl");
    pauseMs(300);
    desktop.run("xdotool type --delay 50 128");
    desktop.pressKey("Return");
    desktop.moveMouseAway();
    pauseMs(500);
    desktop.screenshot("desktop-style-edited.png");

    // The editor is still open when the program ends: the edit is kept.
    ASSERT_EQ(run.stop(), 0) << run.errors();
    EXPECT_EQ(storedTextColour(styleFile), (std::vector<int>{100, 100, 100, 50}));

    // Started again, the program draws with it and saves it once more.
    ASSERT_NO_FATAL_FAILURE(run.start());
    pauseMs(1500);
    desktop.screenshot("desktop-style-kept.png");
    ASSERT_EQ(run.stop(), 0) << run.errors();
    EXPECT_EQ(storedTextColour(styleFile), (std::vector<int>{100, 100, 100, 50}));
}

TEST(DesktopEndToEnd, AScheduledTriggerRunsTheFoldersBackup) {
    if (const std::string why = cannotRunDesktop(); !why.empty()) GTEST_SKIP() << why;
    // The Copier waits long enough for the backup to find a change first.
    DesktopRun run("desktop-schedule", kShortTimings + ",backupStepMs=50,settleMs=5000");
    const Desktop& desktop = run.desktop;
    ASSERT_NO_FATAL_FAILURE(run.install());
    ASSERT_NO_FATAL_FAILURE(run.start());
    const int x = run.x, y = run.y;

    // A folder holding a file, added with " Add " and the chooser's path
    // field: the file is archived as it was when the folder was added.
    const std::string folder = makeTestFolder("scheduled") + "/Reports";
    fs::create_directories(folder);
    writeTestFile(folder + "/plan.txt", "quarterly plan");
    ASSERT_NO_FATAL_FAILURE(run.addFolderWithTheMouse(folder));
    const std::string archive = run.proposedArchive("Reports");
    ASSERT_TRUE(waitFor([&] { return copiesNamed(archive, "plan") == 1; }, 120)) << run.errors();

    // Right click on its row: the folder's popup.
    rightClick(desktop, x + 60, y + 95);
    desktop.screenshot("desktop-schedule-popup.png");
    desktop.click(x + 155, y + 369);  // " Open Backup Scheduler "
    pauseMs(500);
    desktop.screenshot("desktop-schedule-window.png");
    const std::time_t added = std::time(nullptr);
    desktop.click(x + 40, y + 61);  // "+": a trigger at the current time
    pauseMs(500);
    desktop.screenshot("desktop-schedule-added.png");
    desktop.click(x + 58, y + 103);  // the row's Active cell selects it
    desktop.click(x + 56, y + 179);  // " Edit "
    pauseMs(500);
    desktop.screenshot("desktop-schedule-editor.png");

    // Set to the minute it was added in: the trigger keeps its seconds, so
    // it is due at once (or a minute early, when the minute turned meanwhile).
    std::tm utc{};
    gmtime_r(&added, &utc);
    const int hour12 = utc.tm_hour % 12 == 0 ? 12 : utc.tm_hour % 12;
    char timeText[32];
    std::snprintf(timeText, sizeof timeText, "%d:%02d %s", hour12, utc.tm_min, utc.tm_hour < 12 ? "am" : "pm");
    desktop.click(x + 368, y + 103);  // the time field
    desktop.pressKey("ctrl+a");
    desktop.run(std::string("xdotool type --delay 15 '") + timeText + "'");
    desktop.pressKey("Return");
    desktop.click(x + 547, y + 130);  // "Daily"
    desktop.screenshot("desktop-schedule-time.png");
    desktop.click(x + 571, y + 258);  // " Accept "
    writeTestFile(folder + "/plan.txt", "quarterly plan, revised");
    desktop.click(x + 58, y + 103);   // a second click on the selected row enables it
    desktop.moveMouseAway();

    // The scheduler runs the folder's backup at once (the trigger's time has
    // come): the changed file is copied into the archive and the backup set
    // is written there; the trigger then waits for the same time tomorrow.
    EXPECT_TRUE(waitFor([&] { return copiesNamed(archive, "plan") == 2 && hasFileNamed(archive + "/.backupsets", ""); },
                        150))
        << run.errors();
    pauseMs(1500);  // the trigger shows the backup's result once it ended
    desktop.screenshot("desktop-schedule-ran.png");

    EXPECT_EQ(run.stop(), 0) << run.errors();
}

TEST(DesktopEndToEnd, RestoreTheFirstVersionOfAFileFromTheFolderPopup) {
    if (const std::string why = cannotRunDesktop(); !why.empty()) GTEST_SKIP() << why;
    DesktopRun run("restore-desktop");
    const Desktop& desktop = run.desktop;
    ASSERT_NO_FATAL_FAILURE(run.install());
    ASSERT_NO_FATAL_FAILURE(run.start());
    const int x = run.x, y = run.y;

    const std::string folder = makeTestFolder("restored") + "/Letters";
    fs::create_directories(folder);
    ASSERT_NO_FATAL_FAILURE(run.addFolderWithTheMouse(folder));

    // Three versions of one file, each archived before the next is written.
    const std::string archive = run.proposedArchive("Letters");
    for (size_t version = 1; version <= 3; ++version)
        ASSERT_TRUE(writeUntil([&](int) { writeTestFile(folder + "/note.txt", "version " + std::to_string(version)); },
                               [&] { return copiesNamed(archive, "note") == version; }))
            << version << run.errors();
    pauseMs(1000);
    ASSERT_EQ(copiesNamed(archive, "note"), 3u);

    // The folder's right-click popup: " Restore File Version " opens the view.
    rightClick(desktop, x + 60, y + 95);
    desktop.screenshot("desktop-restore-popup.png");
    // Its one red button, below the row.
    const auto restoreVersion = centreOfColourIn(screenPixels(desktop), 153, 61, 61, x, y + 100, x + 400, y + 540);
    ASSERT_GE(restoreVersion.first, 0);
    desktop.click(restoreVersion.first, restoreVersion.second);
    pauseMs(1000);
    // The view at its first place and size: the folder node, its file, the
    // file's versions one row (20 pixels) below the other, oldest last (the
    // plain copy, "note.txt", sorts after the time-stamped ones).
    desktop.click(x + 120, y + 127);
    desktop.click(x + 140, y + 147);
    desktop.click(x + 160, y + 207);
    desktop.moveMouseAway();
    pauseMs(500);
    desktop.screenshot("desktop-restore-view.png");
    // " Restore ", then OK in the question centred on the window.
    desktop.click(x + 378, y + 495);
    pauseMs(1000);
    desktop.screenshot("desktop-restore-question.png");
    desktop.click(x + 495, y + 505);
    EXPECT_TRUE(waitFor([&] { return readTestFile(folder + "/note.txt") == "version 1"; })) << run.errors();
    desktop.moveMouseAway();
    pauseMs(3000);  // the restore's progress is held on screen for a moment
    desktop.screenshot("desktop-restored.png");
    EXPECT_EQ(readTestFile(folder + "/note.txt"), "version 1");
    EXPECT_EQ(run.stop(), 0) << run.errors();
}

TEST(DesktopEndToEnd, ExcludeATypeInTheExtensionManagerAndItIsNotArchived) {
    if (const std::string why = cannotRunDesktop(); !why.empty()) GTEST_SKIP() << why;
    DesktopRun run("extensions");
    const Desktop& desktop = run.desktop;
    ASSERT_NO_FATAL_FAILURE(run.install());
    const std::string folder = run.root + "/Letters";
    const std::string archive = run.root + "/Archive";
    fs::create_directories(folder);
    fs::create_directories(archive);
    seedWatchFolder(run.home, folder, archive);
    ASSERT_NO_FATAL_FAILURE(run.start());
    ASSERT_NO_FATAL_FAILURE(run.waitForAddButton());
    const int x = run.x, y = run.y;

    // The folder's row: selected, then its popup by a right click.
    // (Positions below are the program's fixed layout in a 1280 x 800 screen.)
    desktop.click(x + 60, y + 95);
    desktop.run("xdotool click 3");
    ASSERT_TRUE(waitForColourAt(desktop, x + 82, y + 336, 61, 153, 153)) << "no popup";
    desktop.screenshot("desktop-folder-popup.png");
    // " Open File Type Manager ", the popup's first button, opens the manager
    // (its red " Auto Add Extensions " shows it is drawn).
    desktop.click(x + 155, y + 343);
    desktop.moveMouseAway();
    ASSERT_TRUE(waitForColourAt(desktop, x + 258, y + 398, 153, 61, 61)) << "no extension manager";
    desktop.screenshot("desktop-extension-manager.png");

    // Its rows: "+", "*", txt. Select txt, " Exclude " (enabled once a row
    // is selected), " Dismiss ".
    desktop.click(x + 90, y + 167);
    ASSERT_TRUE(waitForColourAt(desktop, x + 470, y + 398, 61, 153, 153)) << "Exclude stays disabled";
    desktop.click(x + 496, y + 406);
    desktop.moveMouseAway();
    pauseMs(500);
    desktop.screenshot("desktop-extension-excluded.png");
    desktop.click(x + 637, y + 406);

    // The engine skips txt from now on while it still archives md.
    EXPECT_TRUE(writeUntil(
        [&](int round) {
            writeTestFile(folder + "/note.txt", "round " + std::to_string(round));
            writeTestFile(folder + "/note.md", "round " + std::to_string(round));
        },
        [&] { return archivedCount(archive, ".md") > 0; }))
        << run.errors();
    pauseMs(1000);
    EXPECT_EQ(archivedCount(archive, ".txt"), 0u) << "an excluded type was archived";

    // SIGTERM saves the configuration: User.dat keeps txt excluded.
    EXPECT_EQ(run.stop(), 0) << run.errors();
    DataRecord saved;
    ASSERT_TRUE(loadUserFile(run.configFolder, saved));
    const std::vector<std::wstring> extensions = recordLines(saved, "ei");
    const std::wstring key = utf8ToWide(folder);
    EXPECT_NE(std::find(extensions.begin(), extensions.end(), joinListFields({L"0", key, L"txt", L"txt"})),
              extensions.end());
    EXPECT_NE(std::find(extensions.begin(), extensions.end(), joinListFields({L"t", key, L"*", L"*"})),
              extensions.end());
}

TEST(DesktopEndToEnd, BackUpAFolderThenRestoreItsSetWithTheMouse) {
    if (const std::string why = cannotRunDesktop(); !why.empty()) GTEST_SKIP() << why;
    // The Copier waits long enough for the backup to find a change first.
    DesktopRun run("desktop-restore", kShortTimings + ",restorePaceMs=0,backupStepMs=50,settleMs=5000");
    const Desktop& desktop = run.desktop;
    ASSERT_NO_FATAL_FAILURE(run.install());
    ASSERT_NO_FATAL_FAILURE(run.start());
    const int x = run.x, y = run.y;

    // A folder added with the chooser: its file is archived as it was then.
    const std::string folder = makeTestFolder("kept") + "/Letters";
    fs::create_directories(folder);
    writeTestFile(folder + "/note.txt", "the words when added");
    ASSERT_NO_FATAL_FAILURE(run.addFolderWithTheMouse(folder));
    const std::string archive = run.proposedArchive("Letters");
    ASSERT_TRUE(waitFor([&] { return copiesNamed(archive, "note") == 1; }, 120)) << run.errors();

    // Its row chosen, " Backup " (the third button) writes a set of the
    // change made just before, which the Copier has not taken yet.
    const int enabledFill = 61 << 16 | 153 << 8 | 153;  // the enabled colour of " Backup " and " Restore "
    const int buttonsY = run.add.second;
    desktop.click(x + 62, y + 95);
    std::vector<int> buttons;
    ASSERT_TRUE(waitFor([&] {
        const Rgb image = screenPixels(desktop);
        buttons = buttonCentresAt(image, buttonsY - 8, 10, run.width / 2);
        return buttons.size() == 5 && image.colourAt(buttons[2], buttonsY - 8) == enabledFill;
    })) << buttons.size();
    writeTestFile(folder + "/note.txt", "the backed-up words");
    desktop.click(buttons[2], buttonsY);
    desktop.moveMouseAway();

    // The backup has ended once its set is mirrored into the archive and
    // " Backup " is enabled again. " Restore " opens the set window, whose
    // title bar comes over the tab bar. Its first row is the set.
    ASSERT_TRUE(waitFor([&] { return hasFileNamed(archive + "/.backupsets", ""); }, 120)) << run.errors();
    const bool restoreEnabled = waitFor([&] {
        const Rgb image = screenPixels(desktop);
        return image.colourAt(buttons[2], buttonsY - 8) == enabledFill &&
               image.colourAt(buttons[3], buttonsY - 8) == enabledFill;
    }, 120);
    desktop.screenshot("desktop-backup-done.png");
    ASSERT_TRUE(restoreEnabled) << run.errors();
    writeTestFile(folder + "/note.txt", "words written over after the backup");
    // " Restore " waits while the change is pending: until it is archived.
    ASSERT_TRUE(waitFor([&] {
        return copiesNamed(archive, "note") == 3 &&
               screenPixels(desktop).colourAt(buttons[3], buttonsY - 8) == enabledFill;
    }, 120)) << run.errors();
    const int tabBar = screenPixels(desktop).colourAt(x + 400, y + 50);
    desktop.click(buttons[3], buttonsY);
    desktop.moveMouseAway();
    ASSERT_TRUE(waitFor([&] { return screenPixels(desktop).colourAt(x + 400, y + 50) != tabBar; }, 60));
    // The first row of a button row, top down inside a window's rectangle:
    // the centres of `count` buttons and the row's y.
    const auto buttonRowIn = [&](int left, int top, int right, int bottom, size_t count, int& rowY) {
        const Rgb shown = screenPixels(desktop);
        std::vector<int> found;
        for (rowY = y + top; rowY < y + bottom && found.size() != count; ++rowY)
            found = buttonCentresAt(shown, rowY, x + left, x + right);
        rowY += 8;
        return found;
    };
    desktop.click(x + 100, y + 90);
    pauseMs(500);
    int setRowY = -1;
    std::vector<int> setButtons = buttonRowIn(45, 300, 675, 600, 5, setRowY);
    ASSERT_EQ(setButtons.size(), 5u);

    // A new set restores every file it saved: chosen, then " Restore ", no " Edit ".
    desktop.screenshot("desktop-set-window.png");
    desktop.click(setButtons[1], setRowY);

    // The question, then the message of success: each answered with Ok.
    for (int question = 0; question < 2; ++question) {
        std::pair<int, int> ok{-1, -1};
        ASSERT_TRUE(waitFor([&] {
            ok = centreOfColour(screenPixels(desktop), 61, 153, 153);
            return ok.first >= 0;
        })) << run.errors();
        desktop.screenshot(question == 0 ? "desktop-restore-question.png" : "desktop-restore-done.png");
        desktop.click(ok.first, ok.second);
        desktop.moveMouseAway();
        pauseMs(500);
    }
    EXPECT_TRUE(waitFor([&] { return readTestFile(folder + "/note.txt") == "the backed-up words"; }, 60));

    EXPECT_EQ(run.stop(), 0) << run.errors();
}

namespace {
// The centre of the "Menu" button at the right end of the main window's title bar, or -1, -1.
std::pair<int, int> menuButton(const DesktopRun& run) {
    const int y = run.y + 10;
    const std::vector<int> found = buttonCentresAt(screenPixels(run.desktop), y, run.x + run.width / 2, run.x + run.width - 2);
    return found.empty() ? std::pair<int, int>{-1, -1} : std::pair<int, int>{found.back(), y};
}

// The text lines (top, bottom and left end) with light text between x0 and x1, from y0 to y1.
struct TextLine {
    int top, bottom, left;
};
std::vector<TextLine> lightTextLines(const Rgb& screen, int x0, int x1, int y0, int y1) {
    std::vector<TextLine> lines;
    for (int y = y0; y < std::min(y1, screen.height); ++y) {
        int left = -1;
        for (int x = x0; x < std::min(x1, screen.width) && left < 0; ++x)
            if (screen.shows(x, y, 255, 255, 255)) left = x;
        if (left < 0) continue;
        if (lines.empty() || lines.back().bottom < y - 4) lines.push_back({y, y, left});  // a line's glyphs leave gaps
        lines.back().bottom = y;
        lines.back().left = std::min(lines.back().left, left);
    }
    return lines;
}
}  // namespace

// A start whose environment names no session bus: no tray host shows the
// icon, the tray menu's commands are in the main window instead, and no bus
// daemon is launched for the program and left behind.
TEST(DesktopEndToEnd, WithoutATrayHostTheMainWindowOffersTheTrayMenu) {
    if (const std::string why = cannotRunDesktop(); !why.empty()) GTEST_SKIP() << why;
    DesktopRun run("desktop-window-menu");
    const Desktop& desktop = run.desktop;
    ASSERT_NO_FATAL_FAILURE(run.install());
    ASSERT_NO_FATAL_FAILURE(run.start());
    std::pair<int, int> button;
    ASSERT_TRUE(waitFor([&] { return (button = menuButton(run)).first >= 0; })) << run.errors();
    desktop.click(button.first, button.second);

    // The menu opens below the button; "About" is its line above "Exit".
    std::vector<TextLine> lines;
    ASSERT_TRUE(waitFor([&] {
        lines = lightTextLines(screenPixels(desktop), run.x + run.width - 300, run.x + run.width, button.second + 12,
                               run.y + 300);
        return lines.size() >= 5;  // Tools, the styles, start at log-on, About, Exit
    })) << run.errors();
    desktop.screenshot("desktop-window-menu.png");
    const TextLine about = lines[lines.size() - 2];
    desktop.click(about.left + 10, (about.top + about.bottom) / 2);
    desktop.moveMouseAway();
    // The about window: the white core of the program's mark, the page buttons in teal.
    EXPECT_TRUE(waitFor([&] {
        const Rgb screen = screenPixels(desktop);
        return boxOfColour(screen, 240, 240, 235).minX >= 0 && boxOfColour(screen, 61, 153, 153).minX >= 0;
    })) << run.errors();
    desktop.screenshot("desktop-window-menu-about.png");
    EXPECT_EQ(run.stop(), 0) << run.errors();
    // An autolaunched dbus-launch and its daemon carry the program's environment.
    std::vector<std::string> left;
    std::error_code ec;
    for (const auto& process : fs::directory_iterator("/proc", ec)) {
        const std::string name = readTestFile(process.path() / "comm");
        const std::string environment = '\0' + readTestFile(process.path() / "environ");
        const std::string home = std::string(1, '\0') + "HOME=" + run.home + '\0';
        if (name.rfind("dbus-", 0) != 0 || environment.find(home) == std::string::npos)
            continue;
        left.push_back(process.path().filename().string() + " " + name);
        kill(std::stoi(process.path().filename().string()), SIGTERM);
    }
    EXPECT_TRUE(left.empty()) << left.front();
}

TEST(DesktopEndToEnd, WithATrayHostTheMainWindowHasNoMenu) {
    if (const std::string why = cannotRunDesktop({"dbus-daemon"}); !why.empty()) GTEST_SKIP() << why;
    DesktopRun run("desktop-tray-host");
    ASSERT_NO_FATAL_FAILURE(run.install());
    SessionBus bus(run.root);
    ASSERT_FALSE(bus.address.empty()) << "dbus-daemon did not start";
    FakeTrayWatcher watcher(bus.address);
    ASSERT_TRUE(watcher.owned());
    run.env["DBUS_SESSION_BUS_ADDRESS"] = bus.address;
    ASSERT_NO_FATAL_FAILURE(run.start());
    ASSERT_NO_FATAL_FAILURE(run.waitForAddButton());  // drawn in the same frame as the title bar
    EXPECT_EQ(menuButton(run).first, -1);
    EXPECT_EQ(run.stop(), 0) << run.errors();
}

TEST(DesktopEndToEnd, NamesInEveryScriptAreDrawnWithTheirOwnGlyphs) {
    if (const std::string why = cannotRunDesktop(); !why.empty()) GTEST_SKIP() << why;
    DesktopRun run("names");
    const Desktop& desktop = run.desktop;
    ASSERT_NO_FATAL_FAILURE(run.install());
    // Four characters each: Chinese, Japanese kana, Korean, Greek, Cyrillic,
    // question marks, and Ethiopic, which no installed font has (its marks).
    const std::vector<std::string> names = {"中文资料", "ひらがな", "문서폴더", "Άλφα", "Фото", "????", "ሀሁሂሃ"};
    for (const std::string& name : names) {
        fs::create_directories(run.home + "/" + name);
        seedWatchFolder(run.home, run.home + "/" + name, run.root + "/Archive " + name);
    }
    ASSERT_NO_FATAL_FAILURE(run.start());
    ASSERT_NO_FATAL_FAILURE(run.waitForAddButton());

    // The list's rows are 20 pixels apart; drawn with "?" for what the fonts
    // lacked, every name would look like "????".
    const auto nameColumn = [&](const Rgb& image, size_t row) {
        std::string pixels;
        for (int line = run.y + 87 + 20 * static_cast<int>(row); line < run.y + 103 + 20 * static_cast<int>(row); ++line)
            pixels += image.pixels.substr((static_cast<size_t>(line) * image.width + run.x + 30) * 3, 170 * 3);
        return pixels;
    };
    const auto allDiffer = [&] {
        const Rgb image = screenPixels(desktop);
        for (size_t a = 0; a < names.size(); ++a)
            for (size_t b = a + 1; b < names.size(); ++b)
                if (image.pixels.empty() || nameColumn(image, a) == nameColumn(image, b)) return false;
        return true;
    };
    EXPECT_TRUE(waitFor(allDiffer, 30)) << "two names look alike";
    desktop.screenshot("desktop-names.png");
    // The chooser, at the home folder, lists them too.
    run.openChooser();
    desktop.screenshot("desktop-names-chooser.png");
    EXPECT_EQ(run.stop(), 0) << run.errors();
}

// Tab after tab with no other click between them, as a hand clicks: a jump
// and a tap, a smooth move ending in a tap, a jump and a slower press. Each
// switch is read off the screen: the two tabs not under the mouse show the
// same colour once neither is the selected one.
TEST(DesktopEndToEnd, EveryClickOnATabSwitchesToItWhateverWasClickedBefore) {
    if (const std::string why = cannotRunDesktop(); !why.empty()) GTEST_SKIP() << why;
    DesktopRun run("desktop-tabs");
    const Desktop& desktop = run.desktop;
    ASSERT_NO_FATAL_FAILURE(run.install());
    // The end of a session is noted for the user: the next start shows Notifications.
    ASSERT_NO_FATAL_FAILURE(run.start());
    ASSERT_EQ(run.stop(), 0) << run.errors();
    ASSERT_NO_FATAL_FAILURE(run.start());

    // The tab row: two pixels below the first row below the title bar that
    // crosses three tabs, Folders (selected) unlike the other two.
    int row = -1;
    std::vector<int> tabs;
    const auto colours = [&](const Rgb& screen) {
        std::vector<int> shown;
        for (const int tab : tabs) shown.push_back(screen.colourAt(tab, row));
        return shown;
    };
    ASSERT_TRUE(waitFor([&] {
        const Rgb screen = screenPixels(desktop);
        for (row = run.y + 20; row < run.y + 120; ++row)
            if (buttonCentresAt(screen, row, run.x + 2, run.x + 600, 1).size() == 3) break;
        row += 2;
        tabs = buttonCentresAt(screen, row, run.x + 2, run.x + 600, 1);
        const std::vector<int> shown = colours(screen);
        return tabs.size() == 3 && shown[0] != shown[1] && shown[1] == shown[2];
    })) << tabs.size() << " tabs; " << run.errors();
    desktop.screenshot("desktop-tabs.png");
    const auto otherTwoAlike = [&](size_t tab) {
        return waitFor([&] {
            const std::vector<int> shown = colours(screenPixels(desktop));
            return shown[(tab + 1) % 3] == shown[(tab + 2) % 3];
        }, 10);
    };

    const auto place = [&](size_t tab) { return std::to_string(tabs[tab]) + " " + std::to_string(row + 6); };
    size_t current = 0;
    const size_t order[] = {1, 2, 0, 2, 1, 0, 1, 2, 1, 0, 2, 0};
    for (size_t step = 0; step < std::size(order); ++step) {
        const size_t tab = order[step];
        if (step % 3 == 0) {  // a jump, a rest, a tap
            desktop.run("xdotool mousemove " + place(tab));
            pauseMs(300);
            desktop.run("xdotool click 1");
        } else if (step % 3 == 1) {  // a smooth move that ends in a tap
            std::string moves = "xdotool";
            for (int part = 1; part <= 8; ++part)
                moves += " mousemove " + std::to_string(tabs[current] + (tabs[tab] - tabs[current]) * part / 8) + " " +
                         std::to_string(row + 6 + part % 2) + " sleep 0.01";
            desktop.run(moves + " click 1");
        } else {  // a jump and a slower press
            desktop.run("xdotool mousemove " + place(tab));
            pauseMs(300);
            desktop.run("xdotool mousedown 1 sleep 0.15 mouseup 1");
        }
        EXPECT_TRUE(otherTwoAlike(tab)) << "step " << step << ": tab " << tab << " after tab " << current;
        current = tab;
    }
    desktop.moveMouseAway();
    EXPECT_TRUE(waitFor([&] {
        const std::vector<int> shown = colours(screenPixels(desktop));
        return shown[current] != shown[(current + 1) % 3] && otherTwoAlike(current);
    }, 10));
    desktop.screenshot("desktop-tabs-clicked.png");
    EXPECT_EQ(run.stop(), 0) << run.errors();
}
