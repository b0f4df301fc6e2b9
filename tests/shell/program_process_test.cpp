// The real program as a process, with its own home, data and runtime folders.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <map>
#include <thread>
#include <vector>

#include "foundation/app_log.h"
#include "foundation/data_files.h"
#include "foundation/data_packet.h"
#include "foundation/data_record.h"
#include "foundation/global_defaults.h"
#include "platform/file_copy.h"
#include "platform/text.h"
#include "program_home.h"
#include "test_env.h"

namespace {
namespace fs = std::filesystem;
using programtest::ProcessGuard;
using programtest::ProcessRun;
using programtest::ProgramHome;

bool isPrivateFolder(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && (st.st_mode & 077) == 0;
}

std::vector<std::string> treeOf(const std::string& folder) {
    std::vector<std::string> paths;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) paths.push_back(entry.path());
    std::sort(paths.begin(), paths.end());
    return paths;
}
}  // namespace

TEST(ProgramProcess, BinaryIsTheBuiltProgram) {
    const char* binary = getenv("VARNHOLT_BINARY");
    ASSERT_NE(binary, nullptr);
    EXPECT_TRUE(fs::is_regular_file(binary)) << binary;
    EXPECT_EQ(access(binary, X_OK), 0);
}

TEST(ProgramProcess, FirstRunSetUpEndsWithoutWindow) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"install"}, {"/INSTALL"}, {"InStAlL"}, {}}) {
        ProgramHome home;
        const ProcessRun run = home.run(args);
        EXPECT_EQ(run.exitCode, 0) << run.errors;
        // A first start says what it did; the installer's "install" stays quiet.
        if (args.empty())
            EXPECT_EQ(run.output, "Varnholt set up its data folder " + home.dataFolder() +
                                      "; start it again to run it.\n");
        else
            EXPECT_EQ(run.output, "");
        EXPECT_TRUE(isPrivateFolder(home.configFolder()));
        EXPECT_TRUE(isPrivateFolder(home.dataFolder() + "/FileMetaData"));
        EXPECT_FALSE(fs::exists(home.traceLog()));  // no normal start happened
        for (int i = 0; i < 4; ++i)  // the style files that lie beside the program
            EXPECT_TRUE(fs::is_regular_file(home.configFolder() + "/Styles/Style_" + std::to_string(i) + ".dat"));
    }

    // "install" starts over; a start that only misses the configuration
    // folder keeps what the data folder still holds.
    ProgramHome home;
    ASSERT_EQ(home.run({}).exitCode, 0);
    ASSERT_TRUE(writeTestFile(home.dataFolder() + "/FileMetaData/abc.md", "versions"));
    ASSERT_TRUE(writeTestFile(home.configFolder() + "/old.txt", "old"));
    fs::remove_all(home.configFolder());
    EXPECT_EQ(home.run({}).exitCode, 0);
    EXPECT_TRUE(fs::exists(home.dataFolder() + "/FileMetaData/abc.md"));
    ASSERT_TRUE(writeTestFile(home.configFolder() + "/old.txt", "old"));
    EXPECT_EQ(home.run({"install"}).exitCode, 0);
    EXPECT_FALSE(fs::exists(home.dataFolder() + "/FileMetaData/abc.md"));
    EXPECT_FALSE(fs::exists(home.configFolder() + "/old.txt"));
    EXPECT_TRUE(isPrivateFolder(home.configFolder()));

    // "uninstall" changes nothing; "install" followed by more is no switch.
    const auto before = treeOf(home.root + "/home");
    EXPECT_EQ(home.run({"uninstall"}).exitCode, 0);
    EXPECT_EQ(home.run({"/UNINSTALL"}).exitCode, 0);
    EXPECT_EQ(treeOf(home.root + "/home"), before);
}

TEST(ProgramProcess, HelpAndUnknownArgumentsPrintTheUsage) {
    ProgramHome home;
    const ProcessRun help = home.run({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_EQ(help.output.rfind("Usage: varnholt", 0), 0u) << help.output;
    for (const std::vector<std::string>& args : {std::vector<std::string>{"--frobnicate"}, {"install", "now"}}) {
        const ProcessRun run = home.run(args);
        EXPECT_EQ(run.exitCode, 2);
        EXPECT_NE(run.errors.find("Usage: varnholt"), std::string::npos) << run.errors;
    }
    EXPECT_FALSE(fs::exists(home.dataFolder()));
}

TEST(ProgramProcess, NormalRunEndsOnSigtermAndSavesEverything) {
    ProgramHome home;
    ASSERT_EQ(home.run({"install"}).exitCode, 0);
    const std::string errorFile = makeTestFolder("stderr") + "/err.txt";
    const pid_t pid = home.start({}, errorFile);
    const ProcessGuard guard{pid};
    ASSERT_GT(pid, 0);
    ASSERT_TRUE(home.waitForTrace("Start Event Loop & UI")) << readTestFile(errorFile);

    // A second instance ends at once and leaves the first running.
    const ProcessRun second = home.run({});
    EXPECT_EQ(second.exitCode, 0) << second.errors;
    EXPECT_EQ(kill(pid, 0), 0);
    // Even "install" must not touch the running instance's data.
    EXPECT_EQ(home.run({"install"}).exitCode, 0);
    EXPECT_TRUE(fs::exists(home.traceLog()));

    ASSERT_EQ(kill(pid, SIGTERM), 0);
    const ProcessRun run = ProgramHome::wait(pid, errorFile);
    EXPECT_EQ(run.exitCode, 0) << run.errors;
    EXPECT_EQ(home.traceLines(),
              (std::vector<std::string>{"ANCHOR: ", "Configuration loaded ... Starting Execution",
                                        "Window System: offscreen, no display named", "About Intro - Ok",
                                        "About Info - Ok", "Tray Icon: no tray host", "Main Window: shown",
                                        "Start Event Loop & UI",
                                        "Saving Configuration", "Done.", "Saving Styles", "Done.",
                                        "Saving Version Records", "Done.", "End Execution"}));

    DataRecord config;
    ASSERT_TRUE(loadDataRecordFile(config, "main", utf8ToWide(home.configFolder() + "/Config.dat"),
                                   kDataFilePassPhrase));
    std::string guid, showUI;
    EXPECT_TRUE(getRecordString(getRecordSection(config, "main"), "guid", guid, 0));
    EXPECT_EQ(guid.size(), 36u);
    EXPECT_TRUE(getRecordString(getRecordSection(config, "main"), "ShowUI", showUI, 0));
    EXPECT_EQ(showUI, "s");
    DataRecord log;
    ASSERT_TRUE(loadDataRecordFile(log, "notifications",
                                   utf8ToWide(home.configFolder() + "/Notifications.dat"), kDataFilePassPhrase));
    EXPECT_TRUE(fs::exists(home.dataFolder() + "/FileMetaData/abc.md"));

    // No start-up message was stored: none is added to the log.
    setenv("LOCALAPPDATA", (home.root + "/home/.local/share").c_str(), 1);
    ASSERT_TRUE(loadNotificationsFile());
    unsetenv("LOCALAPPDATA");
    for (const AppLogEntry& entry : appLogSnapshot().entries)
        EXPECT_EQ(entry.key.find(L"Start-Up Message"), std::wstring::npos);
}

TEST(ProgramProcess, AStartThatCannotLockItsDataFolderEndsWithAMessage) {
    if (geteuid() != 0) GTEST_SKIP() << "plays another user";
    ProgramHome home;
    ASSERT_EQ(home.run({"install"}).exitCode, 0);
    ASSERT_EQ(chown((home.dataFolder() + "/Varnholt.lock").c_str(), 65534, 65534), 0);
    const std::string errorFile = makeTestFolder("stderr") + "/err.txt";
    const ProcessRun run = ProgramHome::wait(home.start({}, errorFile), errorFile, 20000);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.errors.find("Critical! - Varnholt cannot lock its data folder"), std::string::npos) << run.errors;
    EXPECT_FALSE(fs::exists(home.traceLog()));
}

TEST(ProgramProcess, FailingStepsAreNamedWithTheirExitCodes) {
#ifndef VARNHOLT_TEST_HOOKS
    GTEST_SKIP() << "the failure switch exists in test builds only";
#endif
    ProgramHome home;
    ASSERT_EQ(home.run({"install"}).exitCode, 0);

    home.env["VARNHOLT_FAIL_STEP"] = "Updating Notify Icon:unknown";
    ProcessRun run = home.run({});
    EXPECT_EQ(run.exitCode, 179);
    EXPECT_NE(run.errors.find("Unknown error!: Error: catch all region: Updating Notify Icon"), std::string::npos)
        << run.errors;

    home.env["VARNHOLT_FAIL_STEP"] = "Build Glyphs:exception";
    run = home.run({});
    EXPECT_EQ(run.exitCode, 145);
    EXPECT_NE(run.errors.find("exception thrown!: Error: forced failure in Build Glyphs"), std::string::npos)
        << run.errors;

    // No video driver: the window cannot be created.
    home.env.erase("VARNHOLT_FAIL_STEP");
    home.env["SDL_VIDEODRIVER"] = "no-such-driver";
    run = home.run({});
    EXPECT_EQ(run.exitCode, 34);
    EXPECT_NE(run.errors.find("Runtime error!: Error: InitInstance Failed"), std::string::npos) << run.errors;

    // A display that does not answer: asked again over the display wait,
    // then named in the error, never left for SDL's offscreen driver.
    home.env.erase("SDL_VIDEODRIVER");
    home.env["DISPLAY"] = ":9999";
    home.env["VARNHOLT_TEST_TIMINGS"] = "displayWaitMs=300";
    const std::string errorFile = makeTestFolder("stderr") + "/err.txt";
    run = ProgramHome::wait(home.start({}, errorFile), errorFile, 20000);
    EXPECT_EQ(run.exitCode, 34);
    EXPECT_NE(run.errors.find("InitInstance Failed (display :9999 could not be opened)"), std::string::npos)
        << run.errors;
    home.env.erase("DISPLAY");

    // A data folder that cannot exist: the set-up reports it and fails.
    home.env["SDL_VIDEODRIVER"] = "offscreen";
    ASSERT_TRUE(writeTestFile(home.root + "/file", "x"));
    home.env["LOCALAPPDATA"] = home.root + "/file/below";
    run = home.run({});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.errors.find("Critical! - Unable to create application data storage area"), std::string::npos)
        << run.errors;
}

TEST(ProgramProcess, ShutDownReportsARunOutWaitAndAFailedSave) {
#ifndef VARNHOLT_TEST_HOOKS
    GTEST_SKIP() << "the timings switch exists in test builds only";
#endif
    ProgramHome home;
    ASSERT_EQ(home.run({"install"}).exitCode, 0);
    // Workers that sleep a second between looks cannot stop within 1 ms.
    home.env["VARNHOLT_TEST_TIMINGS"] = "shutdownGraceMs=1,pollMs=1000,shortPollMs=1000";
    const std::string errorFile = makeTestFolder("stderr") + "/err.txt";
    const pid_t pid = home.start({}, errorFile);
    const ProcessGuard guard{pid};
    ASSERT_GT(pid, 0);
    ASSERT_TRUE(home.waitForTrace("Start Event Loop & UI")) << readTestFile(errorFile);
    // A folder where the configuration file was: its save cannot replace it.
    const std::string config = home.configFolder() + "/Config.dat";
    fs::remove(config);
    ASSERT_TRUE(fs::create_directory(config));
    ASSERT_EQ(kill(pid, SIGTERM), 0);
    const ProcessRun run = ProgramHome::wait(pid, errorFile);
    EXPECT_EQ(run.exitCode, 0) << run.errors;
    const auto lines = home.traceLines();
    const auto saving = std::find(lines.begin(), lines.end(), "Saving Configuration");
    ASSERT_NE(saving, lines.end());
    EXPECT_EQ(*(saving + 1), "Failed.");
    EXPECT_NE(std::find(lines.begin(), saving,
                        "Critical! - Engine threads still running when the shut-down wait ran out"),
              saving);
    EXPECT_TRUE(fs::is_directory(config));
}

namespace {

// A file rewritten in place over and over, each pass filled with one byte,
// so any state the file really had is uniform and a torn copy is not.
struct InPlaceWriter {
    std::string path;
    size_t size = 0;
    std::atomic<bool> stop{false};
    std::thread thread;

    void pass(char fill) const {
        const int fd = open(path.c_str(), O_WRONLY);
        const std::string block(1 << 20, fill);
        for (size_t at = 0; fd >= 0 && at < size; at += block.size())
            if (pwrite(fd, block.data(), block.size(), static_cast<off_t>(at)) < 0) break;
        close(fd);
    }
    void start() {
        thread = std::thread([this] {
            for (char fill = 'b'; !stop; fill = fill == 'y' ? 'b' : static_cast<char>(fill + 1)) pass(fill);
        });
    }
    void finish(char fill) {
        stop = true;
        thread.join();
        pass(fill);
    }
};

bool isUniform(const std::string& content) {
    return !content.empty() && content.find_first_not_of(content[0]) == std::string::npos;
}

// The archived versions of the folder (the copy's temporary files left out).
std::vector<std::string> archivedVersions(const std::string& archive) {
    std::vector<std::string> files;
    for (const auto& entry : fs::directory_iterator(archive))
        if (entry.is_regular_file() && entry.path().filename().string().rfind(".varnholt-copy-", 0) != 0)
            files.push_back(entry.path());
    return files;
}

// Makes `watch` a watch folder of every file type, archived into `archive`.
bool watchEveryFile(const ProgramHome& home, const std::string& watch, const std::string& archive) {
    fs::create_directories(watch);
    fs::create_directories(archive);
    DataRecord user;
    addRecordSection(user, "user");
    const RecordSectionHandle section = getRecordSection(user, "user");
    setRecordWString(section, "fi", utf8ToWide("I[||]" + watch + "[||]p[||]u[||]" + archive + "[||]s"), 9999);
    setRecordWString(section, "ei", utf8ToWide("t[||]" + watch + "[||]*[||]*"), 9999);
    return saveDataRecordFile(user, "user", utf8ToWide(home.configFolder() + "/" + std::string(kUserFileName)),
                              kDataFilePassPhrase);
}

bool appearsWithin(const std::string& path, std::chrono::seconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!fs::exists(path) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return fs::exists(path);
}

}  // namespace

TEST(ProgramProcess, AFileOverwrittenWhileItIsArchivedIsNeverArchivedTorn) {
#ifndef VARNHOLT_TEST_HOOKS
    GTEST_SKIP() << "the timings switch exists in test builds only";
#endif
    ProgramHome home;
    ASSERT_EQ(home.run({"install"}).exitCode, 0);
    const std::string watch = home.root + "/watch";
    const std::string archive = home.root + "/archive/watch";
    ASSERT_TRUE(watchEveryFile(home, watch, archive));
    home.env["VARNHOLT_TEST_TIMINGS"] = "settleMs=300,pollMs=20,busyPassMs=50,idlePassMs=100,shutdownGraceMs=500";
    const std::string errorFile = makeTestFolder("stderr") + "/err.txt";
    const pid_t pid = home.start({}, errorFile);
    ASSERT_GT(pid, 0);
    ASSERT_TRUE(home.waitForTrace("Start Event Loop & UI")) << readTestFile(errorFile);

    // Two copy chunks, rewritten in place for a while, then a last time with 'z'.
    InPlaceWriter writer;
    writer.path = watch + "/disk.img";
    writer.size = kCopyChunkBytes + (8 << 20);
    ASSERT_TRUE(writeTestFile(writer.path, std::string(writer.size, 'a')));
    writer.start();
    std::this_thread::sleep_for(std::chrono::seconds(3));  // the writer's own work, not a product timing
    writer.finish('z');

    bool finalArchived = false;
    for (int i = 0; i < 1200 && !finalArchived; ++i) {
        for (const std::string& file : archivedVersions(archive))
            if (fs::file_size(file) == writer.size && readTestFile(file).find_first_not_of('z') == std::string::npos)
                finalArchived = true;
        if (!finalArchived) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_TRUE(finalArchived);
    ASSERT_EQ(kill(pid, SIGTERM), 0);
    EXPECT_EQ(ProgramHome::wait(pid, errorFile).exitCode, 0);
    for (const std::string& file : archivedVersions(archive))
        EXPECT_TRUE(fs::file_size(file) == writer.size && isUniform(readTestFile(file))) << file << " is torn";
}

TEST(ProgramProcess, EmptyDataVariableMeansUnsetAndARelativeDataFolderIsRefused) {
    ProgramHome home;
    home.env["LOCALAPPDATA"] = "";
    ASSERT_EQ(home.run({"install"}).exitCode, 0);
    EXPECT_TRUE(fs::is_directory(home.configFolder()));
    EXPECT_FALSE(fs::exists("/Morvane/QZR"));

    home.env["LOCALAPPDATA"] = "relative/below";
    const ProcessRun run = home.run({"install"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.errors.find("is not an absolute path"), std::string::npos) << run.errors;
    EXPECT_FALSE(fs::exists("relative"));
}

TEST(ProgramProcess, ANamedPipeStopsNothingAndALinkToAFileIsPassedOver) {
#ifndef VARNHOLT_TEST_HOOKS
    GTEST_SKIP() << "the timings switch exists in test builds only";
#endif
    ProgramHome home;
    ASSERT_EQ(home.run({"install"}).exitCode, 0);
    const std::string watch = home.root + "/watch";
    const std::string archive = home.root + "/archive/watch";
    ASSERT_TRUE(watchEveryFile(home, watch, archive));
    home.env["VARNHOLT_TEST_TIMINGS"] = "settleMs=300,pollMs=20,busyPassMs=50,idlePassMs=100";
    const std::string errorFile = makeTestFolder("stderr") + "/err.txt";
    const pid_t pid = home.start({}, errorFile);
    const ProcessGuard guard{pid};
    ASSERT_GT(pid, 0);
    ASSERT_TRUE(home.waitForTrace("Start Event Loop & UI")) << readTestFile(errorFile);

    // Each file is written once the one before is archived: once the pipe
    // is there (after the first, when the watch surely runs), a Copier stuck
    // on it never gets to the third. A link to a file is passed over, with
    // one trace line.
    ASSERT_TRUE(writeTestFile(home.root + "/outside.txt", "not in the watch folder"));
    for (const std::string name : {"first.txt", "second.txt", "third.txt"}) {
        ASSERT_TRUE(writeTestFile(watch + "/" + name, name));
        EXPECT_TRUE(appearsWithin(archive + "/" + name, std::chrono::seconds(30))) << name;
        if (name != "first.txt") continue;
        ASSERT_EQ(mkfifo((watch + "/progress.txt").c_str(), 0600), 0);
        ASSERT_EQ(symlink((home.root + "/outside.txt").c_str(), (watch + "/linked.txt").c_str()), 0);
    }
    EXPECT_TRUE(home.waitForTrace("Link not archived: " + watch + "/linked.txt"));
    ASSERT_EQ(kill(pid, SIGTERM), 0);
    EXPECT_EQ(ProgramHome::wait(pid, errorFile).exitCode, 0);
    const auto lines = home.traceLines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(),
                         "Critical! - Engine threads still running when the shut-down wait ran out"),
              0);
    EXPECT_FALSE(fs::exists(archive + "/progress.txt"));
    EXPECT_FALSE(fs::exists(archive + "/linked.txt"));
}
