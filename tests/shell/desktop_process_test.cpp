// The real program on a real (virtual) X display: what a desktop session
// does to it at log-out.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <cstring>
#include <memory>

#include "foundation/data_packet.h"
#include "foundation/data_record.h"
#include "foundation/global_defaults.h"
#include "foundation/version_records.h"
#include "platform/single_instance.h"
#include "platform/text.h"
#include "fake_tray_watcher.h"
#include "program_home.h"
#include "x_window.h"

namespace {
using namespace programtest;

// Every file the shut-down writes is there, complete and readable.
void expectSavedFiles(const ProgramHome& home) {
    const auto lines = home.traceLines();
    const std::vector<std::string> tail{"Saving Configuration", "Done.", "Saving Styles", "Done.",
                                        "Saving Version Records", "Done.", "End Execution"};
    ASSERT_GE(lines.size(), tail.size());
    EXPECT_EQ(std::vector<std::string>(lines.end() - tail.size(), lines.end()), tail);
    DataRecord config, log;
    EXPECT_TRUE(loadDataRecordFile(config, "main", utf8ToWide(home.configFolder() + "/Config.dat"),
                                   kDataFilePassPhrase));
    // An empty log is saved as an empty file, which is complete as it is.
    const std::string notifications = home.configFolder() + "/Notifications.dat";
    ASSERT_TRUE(std::filesystem::is_regular_file(notifications));
    if (std::filesystem::file_size(notifications) > 0) {
        EXPECT_TRUE(loadDataRecordFile(log, "notifications", utf8ToWide(notifications), kDataFilePassPhrase));
    }
    for (int i = 0; i < 4; ++i) {
        DataRecord style;
        EXPECT_TRUE(loadDataRecordFile(style, "data",
                                       utf8ToWide(home.configFolder() + "/Styles/Style_" + std::to_string(i) + ".dat"),
                                       kStylePassPhrase));
    }
    EXPECT_TRUE(std::filesystem::is_regular_file(home.dataFolder() + "/FileMetaData/abc.md"));
}

template <typename Condition>
bool waitUntil(Condition condition, int timeoutMs = 30000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

// Starts the program on its own X server and waits for its main loop.
pid_t startOnDisplay(ProgramHome& home, XServer& x, const std::string& errorFile, bool install = true) {
    useDisplay(home, x);
    if (install && home.run({"install"}).exitCode != 0) return -1;
    const pid_t pid = home.start({}, errorFile);
    if (pid > 0 && !home.waitForTrace("Start Event Loop & UI")) return -1;
    return pid;
}
}  // namespace

// The tray's GTK thread has an X connection of its own: it meets the lost
// display too, and must not end the process on its own terms either.
TEST(DesktopProcess, LostDisplayEndsNormallyWithEverythingSaved) {
    for (int round = 0; round < 3; ++round) {
        const bool sigtermFirst = round == 1;
        const bool withTray = round == 2;
        SCOPED_TRACE(sigtermFirst ? "SIGTERM, then the display goes" : withTray ? "with a tray" : "the display goes");
        ProgramHome home;
        XServer x;
        ASSERT_FALSE(x.display.empty()) << "Xvfb did not start";
        SessionBus bus(home.root);
        std::unique_ptr<FakeTrayWatcher> watcher;
        if (withTray) {
            ASSERT_FALSE(bus.address.empty());
            home.env["DBUS_SESSION_BUS_ADDRESS"] = bus.address;
            watcher = std::make_unique<FakeTrayWatcher>(bus.address);
        }
        // Short polls: the foreground monitor has its own connection open
        // long before the display goes.
        home.env["VARNHOLT_TEST_TIMINGS"] = "pollMs=20";
        const std::string errorFile = makeTestFolder("stderr") + "/err.txt";
        const pid_t pid = startOnDisplay(home, x, errorFile);
        const ProcessGuard guard{pid};
        ASSERT_GT(pid, 0) << readTestFile(errorFile);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));  // let it draw frames
        if (sigtermFirst) {
            ASSERT_EQ(kill(pid, SIGTERM), 0);
        }
        x.stop();
        const ProcessRun run = ProgramHome::wait(pid, errorFile);
        EXPECT_EQ(run.exitCode, 0) << run.errors;
        expectSavedFiles(home);
        // As clean an end as SIGTERM: every engine thread stopped in time.
        EXPECT_FALSE(std::filesystem::exists(home.configFolder() + "/Running.mark"));
        for (const std::string& line : home.traceLines()) EXPECT_EQ(line.find("Critical!"), std::string::npos) << line;
    }
}

TEST(DesktopProcess, WithoutTrayHostTheWindowNeverHidesAndClosingEnds) {
    ProgramHome home;
    XServer x;
    ASSERT_FALSE(x.display.empty()) << "Xvfb did not start";
    // A configuration that says the window was hidden last time.
    ASSERT_EQ(home.run({"install"}).exitCode, 0);
    const std::wstring configFile = utf8ToWide(home.configFolder() + "/Config.dat");
    {
        const std::string errorFile = makeTestFolder("stderr") + "/err.txt";
        const pid_t first = home.start({}, errorFile);
        const ProcessGuard guard{first};
        ASSERT_TRUE(home.waitForTrace("Start Event Loop & UI"));
        kill(first, SIGTERM);
        ASSERT_EQ(ProgramHome::wait(first, errorFile).exitCode, 0);
        DataRecord config;
        ASSERT_TRUE(loadDataRecordFile(config, "main", configFile, kDataFilePassPhrase));
        setRecordString(getRecordSection(config, "main"), "ShowUI", "0", 0);
        ASSERT_TRUE(saveDataRecordFile(config, "main", configFile, kDataFilePassPhrase));
    }

    const std::string errorFile = makeTestFolder("stderr") + "/err.txt";
    const pid_t pid = startOnDisplay(home, x, errorFile, false);
    const ProcessGuard guard{pid};
    ASSERT_GT(pid, 0) << readTestFile(errorFile);
    XWindowFinder finder(x.display);
    ASSERT_TRUE(finder.connected());
    EXPECT_TRUE(waitUntil([&] { return finder.viewable(); })) << "no tray host: the window must show";

    // The window manager is told the size below which "Main Menu" is cut off.
    int width = 0, height = 0;
    EXPECT_TRUE(finder.minimumSize(width, height));
    EXPECT_EQ(width, 720);
    EXPECT_EQ(height, 420);

    // A second start asks the running one for its window and ends.
    EXPECT_EQ(home.run({}).exitCode, 0);
    EXPECT_EQ(kill(pid, 0), 0);

    finder.close();
    const ProcessRun run = ProgramHome::wait(pid, errorFile);
    EXPECT_EQ(run.exitCode, 0) << run.errors;
    expectSavedFiles(home);
}

// The panel comes up after the program: the tray icon appears then, and from
// then on closing the window hides it. The icon file lies in the private
// runtime folder and never goes through a planted link.
TEST(DesktopProcess, LatePanelGetsTheIconAndIconFileIsPrivate) {
    ProgramHome home;
    XServer x;
    ASSERT_FALSE(x.display.empty()) << "Xvfb did not start";
    SessionBus bus(home.root);
    ASSERT_FALSE(bus.address.empty()) << "dbus-daemon did not start";
    home.env["DBUS_SESSION_BUS_ADDRESS"] = bus.address;
    const std::string elsewhere = makeTestFolder("elsewhere");
    const std::string iconFolder = "/run/varnholt-icons-" + dataFolderTag(home.dataFolder() + "/Varnholt.lock");
    std::filesystem::create_directory_symlink(elsewhere, home.root + iconFolder);

    const std::string errorFile = makeTestFolder("stderr") + "/err.txt";
    const pid_t pid = startOnDisplay(home, x, errorFile);
    const ProcessGuard guard{pid};
    ASSERT_GT(pid, 0) << readTestFile(errorFile);
    XWindowFinder finder(x.display);
    ASSERT_TRUE(waitUntil([&] { return finder.viewable(); }));

    FakeTrayWatcher watcher(bus.address);
    ASSERT_TRUE(watcher.owned());
    // Closing hides the window once the program has seen the tray host.
    ASSERT_TRUE(waitUntil([&] {
        finder.close();
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        return finder.hidden();
    }));
    EXPECT_TRUE(std::filesystem::is_empty(elsewhere));  // nothing written through the link

    ASSERT_EQ(kill(pid, SIGTERM), 0);
    const ProcessRun run = ProgramHome::wait(pid, errorFile);
    EXPECT_EQ(run.exitCode, 0) << run.errors;
    EXPECT_TRUE(std::filesystem::is_empty(elsewhere));
}

// One instance per data folder, whatever a start's environment: a start
// without XDG_RUNTIME_DIR (ssh, cron) meets the running one's lock and asks
// it, through the socket its lock file names, for its window; a client that
// connects and never writes does not hold that request up.
TEST(DesktopProcess, AStartInAnotherEnvironmentMeetsTheLockAndShowsTheWindow) {
    ProgramHome home;
    XServer x;
    ASSERT_FALSE(x.display.empty()) << "Xvfb did not start";
    SessionBus bus(home.root);
    ASSERT_FALSE(bus.address.empty()) << "dbus-daemon did not start";
    home.env["DBUS_SESSION_BUS_ADDRESS"] = bus.address;
    const std::string errorFile = makeTestFolder("stderr") + "/err.txt";
    const pid_t pid = startOnDisplay(home, x, errorFile);
    const ProcessGuard guard{pid};
    ASSERT_GT(pid, 0) << readTestFile(errorFile);
    XWindowFinder finder(x.display);
    FakeTrayWatcher watcher(bus.address);
    ASSERT_TRUE(waitUntil([&] {
        finder.close();
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        return finder.hidden();
    }));

    const int stuck = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::string socketPath = readTestFile(home.dataFolder() + "/Varnholt.lock");  // as a start reads it
    ASSERT_EQ(socketPath.rfind(home.root + "/run/Varnholt-", 0), 0u) << socketPath;
    socketPath.pop_back();
    std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size());
    ASSERT_EQ(connect(stuck, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ProgramHome elsewhere = home;
    elsewhere.env.erase("XDG_RUNTIME_DIR");
    const std::string secondErrors = makeTestFolder("stderr") + "/err.txt";
    const ProcessRun second = ProgramHome::wait(elsewhere.start({}, secondErrors), secondErrors, 20000);
    EXPECT_EQ(second.exitCode, 0) << second.errors;
    EXPECT_TRUE(waitUntil([&] { return finder.viewable(); })) << "the show request was held up";
    close(stuck);

    ASSERT_EQ(kill(pid, SIGTERM), 0);
    EXPECT_EQ(ProgramHome::wait(pid, errorFile).exitCode, 0);
}

// Instances on two data folders share one runtime folder: a start for the
// first shows the first's window, though the second started later.
TEST(DesktopProcess, AStartShowsTheWindowOfItsOwnDataFolder) {
    ProgramHome first, second;
    second.env["XDG_RUNTIME_DIR"] = first.env["XDG_RUNTIME_DIR"];
    XServer firstX, secondX;
    ASSERT_FALSE(firstX.display.empty() || secondX.display.empty()) << "Xvfb did not start";
    SessionBus bus(first.root);
    ASSERT_FALSE(bus.address.empty()) << "dbus-daemon did not start";
    FakeTrayWatcher watcher(bus.address);
    const std::string errorFile = makeTestFolder("stderr") + "/err.txt";
    // Started with its window hidden in the tray.
    const auto startHidden = [&](ProgramHome& home, XServer& x, XWindowFinder& finder) {
        home.env["DBUS_SESSION_BUS_ADDRESS"] = bus.address;
        const pid_t pid = startOnDisplay(home, x, errorFile);
        EXPECT_GT(pid, 0) << readTestFile(errorFile);
        EXPECT_TRUE(waitUntil([&] {
            finder.close();
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            return finder.hidden();
        }));
        return pid;
    };
    XWindowFinder firstWindow(firstX.display), secondWindow(secondX.display);
    const pid_t firstPid = startHidden(first, firstX, firstWindow);
    const ProcessGuard firstGuard{firstPid};
    const pid_t secondPid = startHidden(second, secondX, secondWindow);
    const ProcessGuard secondGuard{secondPid};
    ASSERT_FALSE(HasFailure());

    EXPECT_EQ(first.run({}).exitCode, 0);
    EXPECT_TRUE(waitUntil([&] { return firstWindow.viewable(); })) << "the start for the first showed no window";
    EXPECT_TRUE(secondWindow.hidden());

    // The second's end leaves the first's tray icon file in place.
    const auto iconFiles = [&] {
        int count = 0;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(first.env["XDG_RUNTIME_DIR"]))
            count += entry.path().filename() == "varnholt-tray.png";
        return count;
    };
    EXPECT_TRUE(waitUntil([&] { return iconFiles() == 2; }));
    for (const pid_t pid : {secondPid, firstPid}) {
        ASSERT_EQ(kill(pid, SIGTERM), 0);
        EXPECT_EQ(ProgramHome::wait(pid, errorFile).exitCode, 0);
        if (pid == secondPid) {
            EXPECT_EQ(iconFiles(), 1) << "the second instance removed the first's icon";
        }
    }
}
