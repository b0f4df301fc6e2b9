// The real program as a person uses it: on an X server of its own (Xvfb),
// driven with xdotool, photographed with ImageMagick's import
// (desktop_driver.h). Screenshots go to build/desktop-*.png.
#include <algorithm>
#include <ctime>
#include <mutex>

#include "desktop_driver.h"
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
    desktop.click(60, 95);
    rightClick(desktop, 60, 95);
    // Drawn once the purple " Select Archive Location " shows.
    ASSERT_TRUE(waitFor([&] { return centreOfColour(screenPixels(desktop), 107, 61, 153).first >= 0; }));
    desktop.screenshot("desktop-folder-popup.png");
    desktop.click(60 + 15, 95 + 201);
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
#ifndef VARNHOLT_TEST_HOOKS
    GTEST_SKIP() << "needs the test build, whose update check never leaves this machine";
#endif
    for (const char* tool : {"Xvfb", "xdotool", "import", "dbus-daemon", "gdbus"})
        if (!onPath(tool)) GTEST_SKIP() << tool << " is missing; scripts/install-deps.sh installs it";
    const std::string root = makeTestFolder("desktop-about");
    const std::string home = root + "/home";
    fs::create_directories(home + "/.config");
    fs::create_directories(home + "/.local/share");
    fs::create_directories(root + "/run");
    fs::permissions(root + "/run", fs::perms::owner_all);
    std::map<std::string, std::string> env = {
        {"HOME", home}, {"XDG_CONFIG_HOME", home + "/.config"}, {"XDG_DATA_HOME", home + "/.local/share"},
        {"XDG_RUNTIME_DIR", root + "/run"}, {"VARNHOLT_NO_MSGBOX", "1"}, {"TZ", "UTC"}};
    for (const char* name : {"PATH", "ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS", "USER"})
        if (const char* value = getenv(name)) env[name] = value;
    const std::string binary = getenv("VARNHOLT_BINARY");
    ASSERT_EQ(waitExit(spawn({binary}, env, root + "/install.txt"), 60), 0) << readTestFile(root + "/install.txt");

    // A session bus of the test's own: the tray menu lives there.
    const std::string bus = "unix:path=" + root + "/bus";
    const ChildGuard busDaemon{spawn({"dbus-daemon", "--session", "--nofork", "--address=" + bus},
                                     {{"PATH", getenv("PATH")}}, root + "/bus.txt")};
    ASSERT_TRUE(waitFor([&] { return fs::exists(root + "/bus"); })) << readTestFile(root + "/bus.txt");
    XServer server;
    ASSERT_FALSE(server.display.empty()) << "Xvfb did not start";
    const Desktop desktop{server.display};
    env["DISPLAY"] = server.display;
    env["DBUS_SESSION_BUS_ADDRESS"] = bus;
    const std::string errors = root + "/run.txt";
    ChildGuard program{spawn({binary}, env, errors)};
    ASSERT_TRUE(waitFor([&] { return !desktop.run("xdotool search --onlyvisible --name '^Varnholt$'").empty(); }))
        << readTestFile(errors);
    desktop.run("xdotool mousemove 1 1");

    // The tray's About shows the window over the main window: the white
    // core of the program's mark in its picture, the page buttons in teal.
    ASSERT_TRUE(waitFor([&] { return clickTrayMenuItem(bus, "About"); })) << readTestFile(errors);
    Box buttons;
    ASSERT_TRUE(waitFor([&] {
        const Rgb screen = screenPixels(desktop);
        buttons = boxOfColour(screen, 61, 153, 153);
        return boxOfColour(screen, 240, 240, 235).minX >= 0 && buttons.minX >= 0;
    })) << readTestFile(errors);
    desktop.screenshot("desktop-about.png");

    // " Updates " (the left one of the two teal buttons): " Info " turns
    // teal, so the teal buttons start further left.
    const int buttonY = (buttons.minY + buttons.maxY) / 2;
    desktop.click(buttons.minX + (buttons.maxX - buttons.minX) / 4, buttonY);
    desktop.run("xdotool mousemove 1 1");
    Box after;
    ASSERT_TRUE(waitFor([&] {
        after = boxOfColour(screenPixels(desktop), 61, 153, 153);
        return after.minX >= 0 && after.minX < buttons.minX;
    })) << readTestFile(errors);

    // The check line (second of four above the buttons, 20 pixels apart)
    // asks the server; the window is still there once it has answered.
    desktop.click(after.minX + 60, (after.minY + after.maxY) / 2 - 67);
    desktop.run("xdotool mousemove 1 1");
    pauseMs(1500);
    EXPECT_GE(boxOfColour(screenPixels(desktop), 240, 240, 235).minX, 0) << "the about window went away";
    desktop.screenshot("desktop-about-updates.png");

    ASSERT_EQ(kill(program.pid, SIGTERM), 0);
    EXPECT_EQ(waitExit(std::exchange(program.pid, -1), 60), 0) << readTestFile(errors);
}

TEST(DesktopEndToEnd, AColourChangedInTheStyleEditorIsKeptAcrossARestart) {
#ifndef VARNHOLT_TEST_HOOKS
    GTEST_SKIP() << "needs the test build's short timings";
#endif
    for (const char* tool : {"Xvfb", "xdotool", "import"})
        if (!onPath(tool)) GTEST_SKIP() << tool << " is missing; scripts/install-deps.sh installs it";
    const std::string root = makeTestFolder("desktop-style");
    const std::string home = root + "/home";
    fs::create_directories(home + "/.config");
    fs::create_directories(home + "/.local/share");
    fs::create_directories(root + "/run");
    fs::permissions(root + "/run", fs::perms::owner_all);
    std::map<std::string, std::string> env = {
        {"HOME", home}, {"XDG_CONFIG_HOME", home + "/.config"}, {"XDG_DATA_HOME", home + "/.local/share"},
        {"XDG_RUNTIME_DIR", root + "/run"}, {"VARNHOLT_NO_MSGBOX", "1"}, {"TZ", "UTC"},
        {"VARNHOLT_TEST_TIMINGS", "settleMs=200,pollMs=20,shortPollMs=20,busyPassMs=50,idlePassMs=100"}};
    for (const char* name : {"PATH", "ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS", "USER"})
        if (const char* value = getenv(name)) env[name] = value;
    const std::string binary = getenv("VARNHOLT_BINARY");
    const std::string styleFile = home + "/.local/share/Morvane/QZR/ConfigData/Styles/Style_0.dat";
    ASSERT_EQ(waitExit(spawn({binary}, env, root + "/install.txt"), 60), 0) << readTestFile(root + "/install.txt");
    EXPECT_EQ(storedTextColour(styleFile), (std::vector<int>{100, 100, 100, 100})) << "Dark's white text";

    XServer server;
    ASSERT_FALSE(server.display.empty()) << "Xvfb did not start";
    const Desktop desktop{server.display};
    env["DISPLAY"] = server.display;
    const std::string errors = root + "/run.txt";
    pid_t program = spawn({binary}, env, errors);
    ASSERT_TRUE(waitFor([&] { return !desktop.run("xdotool search --onlyvisible --name '^Varnholt$'").empty(); }))
        << readTestFile(errors);
    desktop.run("xdotool mousemove 1 1");
    ASSERT_TRUE(waitFor([&] { return centreOfColour(screenPixels(desktop), 153, 61, 61).first >= 0; }))
        << "the main window's red Add button; " << readTestFile(errors);

    // Ctrl+Shift+E+S opens the editor; the first colour row is Text, its
    // sample the one white square on the screen.
    desktop.run("xdotool keydown ctrl keydown shift keydown e keydown s");
    pauseMs(400);
    desktop.run("xdotool keyup s keyup e keyup shift keyup ctrl");
    std::pair<int, int> sample{-1, -1};
    ASSERT_TRUE(waitFor([&] {
        sample = solidSquareOfColour(screenPixels(desktop), 255, 255, 255, 12);
        return sample.first >= 0;
    })) << readTestFile(errors);
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
    desktop.run("xdotool mousemove 1 1");
    pauseMs(500);
    desktop.screenshot("desktop-style-edited.png");

    // The editor is still open when the program ends: the edit is kept.
    ASSERT_EQ(kill(program, SIGTERM), 0);
    ASSERT_EQ(waitExit(program, 60), 0) << readTestFile(errors);
    EXPECT_EQ(storedTextColour(styleFile), (std::vector<int>{100, 100, 100, 50}));

    // Started again, the program draws with it and saves it once more.
    program = spawn({binary}, env, errors);
    ASSERT_TRUE(waitFor([&] { return !desktop.run("xdotool search --onlyvisible --name '^Varnholt$'").empty(); }))
        << readTestFile(errors);
    pauseMs(1500);
    desktop.screenshot("desktop-style-kept.png");
    ASSERT_EQ(kill(program, SIGTERM), 0);
    ASSERT_EQ(waitExit(program, 60), 0) << readTestFile(errors);
    EXPECT_EQ(storedTextColour(styleFile), (std::vector<int>{100, 100, 100, 50}));
}

TEST(DesktopEndToEnd, AScheduledTriggerRunsTheFoldersBackup) {
#ifndef VARNHOLT_TEST_HOOKS
    GTEST_SKIP() << "needs the test build's short timings";
#endif
    for (const char* tool : {"Xvfb", "xdotool", "import"})
        if (!onPath(tool)) GTEST_SKIP() << tool << " is missing; scripts/install-deps.sh installs it";
    const std::string root = makeTestFolder("desktop-schedule");
    const std::string home = root + "/home";
    fs::create_directories(home + "/.config");
    fs::create_directories(home + "/.local/share");
    fs::create_directories(root + "/run");
    fs::permissions(root + "/run", fs::perms::owner_all);
    std::map<std::string, std::string> env = {
        {"HOME", home}, {"XDG_CONFIG_HOME", home + "/.config"}, {"XDG_DATA_HOME", home + "/.local/share"},
        {"XDG_RUNTIME_DIR", root + "/run"}, {"VARNHOLT_NO_MSGBOX", "1"}, {"TZ", "UTC"},
        {"VARNHOLT_TEST_TIMINGS", "settleMs=200,pollMs=20,shortPollMs=20,busyPassMs=50,idlePassMs=100,backupStepMs=50"}};
    for (const char* name : {"PATH", "ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS", "USER"})
        if (const char* value = getenv(name)) env[name] = value;
    const std::string binary = getenv("VARNHOLT_BINARY");
    ASSERT_EQ(waitExit(spawn({binary}, env, root + "/install.txt"), 60), 0) << readTestFile(root + "/install.txt");

    XServer server;
    ASSERT_FALSE(server.display.empty()) << "Xvfb did not start";
    const Desktop desktop{server.display};
    env["DISPLAY"] = server.display;
    const std::string errors = root + "/run.txt";
    const pid_t program = spawn({binary}, env, errors);
    ASSERT_TRUE(waitFor([&] { return !desktop.run("xdotool search --onlyvisible --name '^Varnholt$'").empty(); }))
        << readTestFile(errors);
    desktop.run("xdotool mousemove 1 1");
    int x = 0, y = 0, width = 0, height = 0;
    const std::string geometry =
        desktop.run("xdotool search --onlyvisible --name '^Varnholt$' getwindowgeometry --shell");
    ASSERT_EQ(std::sscanf(geometry.substr(geometry.find("X=")).c_str(), "X=%d\nY=%d\nWIDTH=%d\nHEIGHT=%d", &x, &y,
                          &width, &height),
              4)
        << geometry;

    // A folder holding a file that was never archived, added with " Add "
    // (the one red button) and the chooser's path field.
    const std::string folder = makeTestFolder("scheduled") + "/Reports";
    fs::create_directories(folder);
    writeTestFile(folder + "/plan.txt", "quarterly plan");
    std::pair<int, int> add{-1, -1};
    ASSERT_TRUE(waitFor([&] {
        add = centreOfColour(screenPixels(desktop), 153, 61, 61);
        return add.first >= 0;
    })) << readTestFile(errors);
    desktop.click(add.first, add.second);
    pauseMs(1000);
    desktop.click(x + width / 2, y + height * 3 / 4 - 45);
    desktop.pressKey("End");
    desktop.pressKey("BackSpace");
    desktop.run("xdotool type --delay 15 '" + folder + "'");
    pauseMs(300);
    desktop.pressKey("Return");
    pauseMs(1000);

    // Right click on its row: the folder's popup.
    desktop.run("xdotool mousemove " + std::to_string(x + 60) + " " + std::to_string(y + 95));
    pauseMs(300);
    desktop.run("xdotool click 3");
    pauseMs(500);
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
    desktop.click(x + 58, y + 103);   // a second click on the selected row enables it
    desktop.run("xdotool mousemove 1 1");

    // The scheduler runs the folder's backup at once (the trigger's time has
    // come): the file is copied into the archive and the backup set is
    // written there; the trigger then waits for the same time tomorrow.
    const std::string archive = home + "/QZR_ARCHIVE_ROOT/Reports";
    EXPECT_TRUE(waitFor([&] { return hasFileNamed(archive, "plan") && hasFileNamed(archive + "/.backupsets", ""); },
                        150))
        << readTestFile(errors);
    pauseMs(1500);  // the trigger shows the backup's result once it ended
    desktop.screenshot("desktop-schedule-ran.png");

    ASSERT_EQ(kill(program, SIGTERM), 0);
    EXPECT_EQ(waitExit(program, 60), 0) << readTestFile(errors);
}

TEST(DesktopEndToEnd, RestoreTheFirstVersionOfAFileFromTheFolderPopup) {
#ifndef VARNHOLT_TEST_HOOKS
    GTEST_SKIP() << "needs the test build's short timings";
#endif
    for (const char* tool : {"Xvfb", "xdotool", "import"})
        if (!onPath(tool)) GTEST_SKIP() << tool << " is missing; scripts/install-deps.sh installs it";
    const std::string root = makeTestFolder("restore-desktop");
    const std::string home = root + "/home";
    fs::create_directories(home + "/.config");
    fs::create_directories(home + "/.local/share");
    fs::create_directories(root + "/run");
    fs::permissions(root + "/run", fs::perms::owner_all);
    std::map<std::string, std::string> env = {
        {"HOME", home}, {"XDG_CONFIG_HOME", home + "/.config"}, {"XDG_DATA_HOME", home + "/.local/share"},
        {"XDG_RUNTIME_DIR", root + "/run"}, {"VARNHOLT_NO_MSGBOX", "1"}, {"TZ", "UTC"},
        {"VARNHOLT_TEST_TIMINGS", "settleMs=200,pollMs=20,shortPollMs=20,busyPassMs=50,idlePassMs=100"}};
    for (const char* name : {"PATH", "ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS", "USER"})
        if (const char* value = getenv(name)) env[name] = value;
    const std::string binary = getenv("VARNHOLT_BINARY");
    ASSERT_EQ(waitExit(spawn({binary}, env, root + "/install.txt"), 60), 0) << readTestFile(root + "/install.txt");

    XServer server;
    ASSERT_FALSE(server.display.empty()) << "Xvfb did not start";
    const Desktop desktop{server.display};
    env["DISPLAY"] = server.display;
    const std::string errors = root + "/run.txt";
    const pid_t program = spawn({binary}, env, errors);
    ASSERT_TRUE(waitFor([&] { return !desktop.run("xdotool search --onlyvisible --name '^Varnholt$'").empty(); }))
        << readTestFile(errors);
    desktop.run("xdotool mousemove 1 1");
    int x = 0, y = 0, width = 0, height = 0;
    const std::string geometry =
        desktop.run("xdotool search --onlyvisible --name '^Varnholt$' getwindowgeometry --shell");
    ASSERT_EQ(std::sscanf(geometry.substr(geometry.find("X=")).c_str(), "X=%d\nY=%d\nWIDTH=%d\nHEIGHT=%d", &x, &y,
                          &width, &height),
              4)
        << geometry;

    // The folder is added with " Add " and the chooser, as a person does.
    std::pair<int, int> add{-1, -1};
    ASSERT_TRUE(waitFor([&] {
        add = centreOfColour(screenPixels(desktop), 153, 61, 61);
        return add.first >= 0;
    })) << readTestFile(errors);
    desktop.click(add.first, add.second);
    pauseMs(1000);
    const std::string folder = makeTestFolder("restored") + "/Letters";
    fs::create_directories(folder);
    desktop.click(x + width / 2, y + height * 3 / 4 - 45);
    desktop.pressKey("End");
    desktop.pressKey("BackSpace");
    desktop.run("xdotool type --delay 15 '" + folder + "'");
    pauseMs(300);
    desktop.pressKey("Return");

    // Three versions of one file, each archived before the next is written.
    const std::string archive = home + "/QZR_ARCHIVE_ROOT/Letters";
    for (size_t version = 1; version <= 3; ++version) {
        int round = 0;
        ASSERT_TRUE(waitFor([&] {
            if (++round % 40 == 1) writeTestFile(folder + "/note.txt", "version " + std::to_string(version));
            return copiesNamed(archive, "note") == version;
        }, 120)) << version << readTestFile(errors);
    }
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
    desktop.run("xdotool mousemove 1 1");
    pauseMs(500);
    desktop.screenshot("desktop-restore-view.png");
    // " Restore ", then OK in the question centred on the window.
    desktop.click(x + 378, y + 495);
    pauseMs(1000);
    desktop.screenshot("desktop-restore-question.png");
    desktop.click(x + 495, y + 505);
    EXPECT_TRUE(waitFor([&] { return readTestFile(folder + "/note.txt") == "version 1"; })) << readTestFile(errors);
    desktop.run("xdotool mousemove 1 1");
    pauseMs(3000);  // the restore's progress is held on screen for a moment
    desktop.screenshot("desktop-restored.png");
    EXPECT_EQ(readTestFile(folder + "/note.txt"), "version 1");
    ASSERT_EQ(kill(program, SIGTERM), 0);
    EXPECT_EQ(waitExit(program, 60), 0) << readTestFile(errors);
}

TEST(DesktopEndToEnd, ExcludeATypeInTheExtensionManagerAndItIsNotArchived) {
#ifndef VARNHOLT_TEST_HOOKS
    GTEST_SKIP() << "needs the test build's short timings";
#endif
    for (const char* tool : {"Xvfb", "xdotool", "import"})
        if (!onPath(tool)) GTEST_SKIP() << tool << " is missing; scripts/install-deps.sh installs it";
    const std::string root = makeTestFolder("extensions");
    const std::string home = root + "/home";
    fs::create_directories(home + "/.config");
    fs::create_directories(home + "/.local/share");
    fs::create_directories(root + "/run");
    fs::permissions(root + "/run", fs::perms::owner_all);
    std::map<std::string, std::string> env = {
        {"HOME", home}, {"XDG_CONFIG_HOME", home + "/.config"}, {"XDG_DATA_HOME", home + "/.local/share"},
        {"XDG_RUNTIME_DIR", root + "/run"}, {"VARNHOLT_NO_MSGBOX", "1"}, {"TZ", "UTC"},
        {"VARNHOLT_TEST_TIMINGS", "settleMs=200,pollMs=20,shortPollMs=20,busyPassMs=50,idlePassMs=100"}};
    for (const char* name : {"PATH", "ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS", "USER"})
        if (const char* value = getenv(name)) env[name] = value;
    const std::string binary = getenv("VARNHOLT_BINARY");
    ASSERT_EQ(waitExit(spawn({binary}, env, root + "/install.txt"), 60), 0) << readTestFile(root + "/install.txt");
    const std::string folder = root + "/Letters";
    const std::string archive = root + "/Archive";
    fs::create_directories(folder);
    fs::create_directories(archive);
    seedWatchFolder(home, folder, archive);

    XServer server;
    ASSERT_FALSE(server.display.empty()) << "Xvfb did not start";
    const Desktop desktop{server.display};
    env["DISPLAY"] = server.display;
    const std::string errors = root + "/run.txt";
    const pid_t program = spawn({binary}, env, errors);
    ASSERT_TRUE(waitFor([&] { return !desktop.run("xdotool search --onlyvisible --name '^Varnholt$'").empty(); }))
        << readTestFile(errors);
    desktop.run("xdotool mousemove 1 1");
    ASSERT_TRUE(waitFor([&] { return centreOfColour(screenPixels(desktop), 153, 61, 61).first >= 0; }))
        << readTestFile(errors);
    int x = 0, y = 0, width = 0, height = 0;
    const std::string geometry =
        desktop.run("xdotool search --onlyvisible --name '^Varnholt$' getwindowgeometry --shell");
    ASSERT_EQ(std::sscanf(geometry.substr(geometry.find("X=")).c_str(), "X=%d\nY=%d\nWIDTH=%d\nHEIGHT=%d", &x, &y,
                          &width, &height),
              4)
        << geometry;

    // The folder's row: selected, then its popup by a right click.
    // (Positions below are the program's fixed layout in a 1280 x 800 screen.)
    desktop.click(x + 60, y + 95);
    desktop.run("xdotool click 3");
    ASSERT_TRUE(waitForColourAt(desktop, x + 82, y + 336, 61, 153, 153)) << "no popup";
    desktop.screenshot("desktop-folder-popup.png");
    // " Open File Type Manager ", the popup's first button, opens the manager
    // (its red " Auto Add Extensions " shows it is drawn).
    desktop.click(x + 155, y + 343);
    desktop.run("xdotool mousemove 1 1");
    ASSERT_TRUE(waitForColourAt(desktop, x + 258, y + 398, 153, 61, 61)) << "no extension manager";
    desktop.screenshot("desktop-extension-manager.png");

    // Its rows: "+", "*", txt. Select txt, " Exclude " (enabled once a row
    // is selected), " Dismiss ".
    desktop.click(x + 90, y + 167);
    ASSERT_TRUE(waitForColourAt(desktop, x + 470, y + 398, 61, 153, 153)) << "Exclude stays disabled";
    desktop.click(x + 496, y + 406);
    desktop.run("xdotool mousemove 1 1");
    pauseMs(500);
    desktop.screenshot("desktop-extension-excluded.png");
    desktop.click(x + 637, y + 406);

    // The engine skips txt from now on while it still archives md.
    int round = 0;
    EXPECT_TRUE(waitFor([&] {
        if (++round % 40 == 1) {
            writeTestFile(folder + "/note.txt", "round " + std::to_string(round));
            writeTestFile(folder + "/note.md", "round " + std::to_string(round));
        }
        return archivedCount(archive, ".md") > 0;
    }, 120)) << readTestFile(errors);
    pauseMs(1000);
    EXPECT_EQ(archivedCount(archive, ".txt"), 0u) << "an excluded type was archived";

    // SIGTERM saves the configuration: User.dat keeps txt excluded.
    ASSERT_EQ(kill(program, SIGTERM), 0);
    EXPECT_EQ(waitExit(program, 60), 0) << readTestFile(errors);
    DataRecord saved;
    const std::string userFile = home + "/.local/share/Morvane/QZR/ConfigData/User.dat";
    ASSERT_TRUE(loadDataRecordFile(saved, "user", utf8ToWide(userFile), kDataFilePassPhrase));
    std::vector<std::wstring> extensions;
    auto section = getRecordSection(saved, "user");
    for (uint32_t i = 0; i < getRecordValueCount(section, "ei"); ++i) {
        std::wstring value;
        if (getRecordWString(section, "ei", value, i)) extensions.push_back(value);
    }
    const std::wstring key = utf8ToWide(folder);
    EXPECT_NE(std::find(extensions.begin(), extensions.end(), joinListFields({L"0", key, L"txt", L"txt"})),
              extensions.end());
    EXPECT_NE(std::find(extensions.begin(), extensions.end(), joinListFields({L"t", key, L"*", L"*"})),
              extensions.end());
}

TEST(DesktopEndToEnd, BackUpAFolderThenRestoreItsSetWithTheMouse) {
#ifndef VARNHOLT_TEST_HOOKS
    GTEST_SKIP() << "needs the test build's short timings";
#endif
    for (const char* tool : {"Xvfb", "xdotool", "import"})
        if (!onPath(tool)) GTEST_SKIP() << tool << " is missing; scripts/install-deps.sh installs it";
    const std::string root = makeTestFolder("desktop-restore");
    const std::string home = root + "/home";
    fs::create_directories(home + "/.config");
    fs::create_directories(home + "/.local/share");
    fs::create_directories(root + "/run");
    fs::permissions(root + "/run", fs::perms::owner_all);
    std::map<std::string, std::string> env = {
        {"HOME", home}, {"XDG_CONFIG_HOME", home + "/.config"}, {"XDG_DATA_HOME", home + "/.local/share"},
        {"XDG_RUNTIME_DIR", root + "/run"}, {"VARNHOLT_NO_MSGBOX", "1"}, {"TZ", "UTC"},
        {"VARNHOLT_TEST_TIMINGS", "settleMs=200,pollMs=20,shortPollMs=20,busyPassMs=50,idlePassMs=100,restorePaceMs=0"}};
    for (const char* name : {"PATH", "ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS", "USER"})
        if (const char* value = getenv(name)) env[name] = value;
    const std::string binary = getenv("VARNHOLT_BINARY");
    ASSERT_EQ(waitExit(spawn({binary}, env, root + "/install.txt"), 60), 0) << readTestFile(root + "/install.txt");

    XServer server;
    ASSERT_FALSE(server.display.empty()) << "Xvfb did not start";
    const Desktop desktop{server.display};
    env["DISPLAY"] = server.display;
    const std::string errors = root + "/run.txt";
    const pid_t program = spawn({binary}, env, errors);
    ASSERT_TRUE(waitFor([&] { return !desktop.run("xdotool search --onlyvisible --name '^Varnholt$'").empty(); }))
        << readTestFile(errors);
    desktop.run("xdotool mousemove 1 1");
    int x = 0, y = 0, width = 0, height = 0;
    const std::string geometry =
        desktop.run("xdotool search --onlyvisible --name '^Varnholt$' getwindowgeometry --shell");
    ASSERT_EQ(std::sscanf(geometry.substr(geometry.find("X=")).c_str(), "X=%d\nY=%d\nWIDTH=%d\nHEIGHT=%d", &x, &y,
                          &width, &height),
              4)
        << geometry;

    // A folder added with the chooser. Its file is older than the folder's
    // watch, so only a backup saves it.
    std::pair<int, int> add{-1, -1};
    ASSERT_TRUE(waitFor([&] {
        add = centreOfColour(screenPixels(desktop), 153, 61, 61);
        return add.first >= 0;
    })) << readTestFile(errors);
    desktop.click(add.first, add.second);
    pauseMs(1000);
    const std::string folder = makeTestFolder("kept") + "/Letters";
    fs::create_directories(folder);
    writeTestFile(folder + "/note.txt", "the backed-up words");
    desktop.click(x + width / 2, y + height * 3 / 4 - 45);
    desktop.pressKey("End");
    desktop.pressKey("BackSpace");
    desktop.run("xdotool type --delay 15 '" + folder + "'");
    pauseMs(300);
    desktop.pressKey("Return");
    const std::string archive = home + "/QZR_ARCHIVE_ROOT/Letters";
    ASSERT_TRUE(waitFor([&] { return fs::exists(archive); }, 120)) << readTestFile(errors);

    // Its row chosen, " Backup " (the third button) writes a set.
    const auto pixelAt = [](const Rgb& image, int px, int py) {
        const unsigned char* p = reinterpret_cast<const unsigned char*>(image.pixels.data()) + (py * image.width + px) * 3;
        return p[0] << 16 | p[1] << 8 | p[2];
    };
    const int enabledFill = 61 << 16 | 153 << 8 | 153;  // the enabled colour of " Backup " and " Restore "
    desktop.click(x + 62, y + 95);
    std::vector<int> buttons;
    ASSERT_TRUE(waitFor([&] {
        const Rgb image = screenPixels(desktop);
        buttons = buttonCentresAt(image, add.second - 8, 10, width / 2);
        return buttons.size() == 5 && pixelAt(image, buttons[2], add.second - 8) == enabledFill;
    })) << buttons.size();
    desktop.click(buttons[2], add.second);
    desktop.run("xdotool mousemove 1 1");

    // " Restore " is enabled once the set is counted; it opens the set
    // window, whose title bar comes over the tab bar. Its first row is the set.
    const bool restoreEnabled =
        waitFor([&] { return pixelAt(screenPixels(desktop), buttons[3], add.second - 8) == enabledFill; }, 120);
    desktop.screenshot("desktop-backup-done.png");
    ASSERT_TRUE(restoreEnabled) << readTestFile(errors);
    writeTestFile(folder + "/note.txt", "words written over after the backup");
    const int tabBar = pixelAt(screenPixels(desktop), x + 400, y + 50);
    desktop.click(buttons[3], add.second);
    desktop.run("xdotool mousemove 1 1");
    ASSERT_TRUE(waitFor([&] { return pixelAt(screenPixels(desktop), x + 400, y + 50) != tabBar; }, 60));
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

    // A new set has nothing marked: " Edit " shows its items, " Select All "
    // marks them, " Dismiss " writes the marks into the set.
    desktop.screenshot("desktop-set-window.png");
    desktop.click(setButtons[2], setRowY);
    desktop.run("xdotool mousemove 1 1");
    pauseMs(1000);
    int itemsRowY = -1;
    std::vector<int> itemButtons;
    ASSERT_TRUE(waitFor([&] {
        itemButtons = buttonRowIn(705, 250, 1255, 600, 3, itemsRowY);
        return itemButtons.size() == 3;
    }, 30));
    desktop.click(itemButtons[0], itemsRowY);
    desktop.run("xdotool mousemove 1 1");
    pauseMs(500);
    desktop.screenshot("desktop-set-items.png");
    desktop.click(itemButtons[2], itemsRowY);
    pauseMs(1000);

    // The set chosen again, its " Restore ".
    desktop.click(x + 100, y + 90);
    pauseMs(1000);
    desktop.screenshot("desktop-set-chosen.png");
    desktop.click(setButtons[1], setRowY);

    // The question, then the message of success: each answered with Ok.
    for (int question = 0; question < 2; ++question) {
        std::pair<int, int> ok{-1, -1};
        ASSERT_TRUE(waitFor([&] {
            ok = centreOfColour(screenPixels(desktop), 61, 153, 153);
            return ok.first >= 0;
        })) << readTestFile(errors);
        desktop.screenshot(question == 0 ? "desktop-restore-question.png" : "desktop-restore-done.png");
        desktop.click(ok.first, ok.second);
        desktop.run("xdotool mousemove 1 1");
        pauseMs(500);
    }
    EXPECT_TRUE(waitFor([&] { return readTestFile(folder + "/note.txt") == "the backed-up words"; }, 60));

    ASSERT_EQ(kill(program, SIGTERM), 0);
    EXPECT_EQ(waitExit(program, 60), 0) << readTestFile(errors);
}
