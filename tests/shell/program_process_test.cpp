// The real program as a process, with its own home, data and runtime folders.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <thread>
#include <vector>

#include "foundation/data_packet.h"
#include "foundation/data_record.h"
#include "foundation/global_defaults.h"
#include "platform/text.h"
#include "test_env.h"

namespace {
namespace fs = std::filesystem;

struct ProcessRun {
    int exitCode = -1000;  // as the shell sees it (0..255); -1000 when it did not end
    std::string errors;    // what it wrote to stderr
};

struct ProgramHome {
    std::string root = makeTestFolder("program");
    std::map<std::string, std::string> env;

    ProgramHome() {
        fs::create_directories(root + "/home/.config");
        fs::create_directories(root + "/home/.local/share");
        fs::create_directories(root + "/run");
        chmod((root + "/run").c_str(), 0700);
        env = {{"HOME", root + "/home"},
               {"XDG_CONFIG_HOME", root + "/home/.config"},
               {"XDG_DATA_HOME", root + "/home/.local/share"},
               {"XDG_RUNTIME_DIR", root + "/run"},
               {"SDL_VIDEODRIVER", "offscreen"},
               {"VARNHOLT_NO_MSGBOX", "1"},
               {"TZ", "UTC"}};
        for (const char* name : {"PATH", "ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS", "USER"})
            if (const char* value = getenv(name)) env[name] = value;
    }
    std::string dataFolder() const { return root + "/home/.local/share/Morvane/QZR"; }
    std::string configFolder() const { return dataFolder() + "/ConfigData"; }
    std::string traceLog() const { return configFolder() + "/logString.txt"; }

    pid_t start(const std::vector<std::string>& args, const std::string& errorFile) const {
        std::vector<std::string> envText;
        for (const auto& [name, value] : env) envText.push_back(name + "=" + value);
        const char* binary = getenv("VARNHOLT_BINARY");
        if (!binary) return -1;
        const pid_t pid = fork();
        if (pid != 0) return pid;
        const int fd = open(errorFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(fd, 2);
        std::vector<char*> argv{const_cast<char*>(binary)};
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        std::vector<char*> envp;
        for (auto& e : envText) envp.push_back(e.data());
        envp.push_back(nullptr);
        execve(binary, argv.data(), envp.data());
        _exit(127);
    }

    static ProcessRun wait(pid_t pid, const std::string& errorFile, int timeoutMs = 60000) {
        ProcessRun run;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        int status = 0;
        while (waitpid(pid, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) {
                kill(pid, SIGKILL);
                waitpid(pid, &status, 0);
                return run;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (WIFEXITED(status)) run.exitCode = WEXITSTATUS(status);
        run.errors = readTestFile(errorFile);
        return run;
    }

    ProcessRun run(const std::vector<std::string>& args) const {
        const std::string errorFile = makeTestFolder("stderr") + "/err.txt";
        return wait(start(args, errorFile), errorFile);
    }

    std::vector<std::string> traceLines() const {
        std::vector<std::string> lines;
        std::string text = readTestFile(traceLog()), line;
        for (char c : text) {
            if (c != '\n') {
                line += c;
                continue;
            }
            const size_t mark = line.find(": ");
            lines.push_back(line.rfind("ANCHOR: ", 0) == 0 ? "ANCHOR: "
                                                            : line.substr(mark == std::string::npos ? 0 : mark + 2));
            line.clear();
        }
        return lines;
    }

    bool waitForTrace(const std::string& text, int timeoutMs = 60000) const {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (std::chrono::steady_clock::now() < deadline) {
            for (const std::string& line : traceLines())
                if (line == text) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }
};

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

TEST(ProgramProcess, NormalRunEndsOnSigtermAndSavesEverything) {
    ProgramHome home;
    ASSERT_EQ(home.run({"install"}).exitCode, 0);
    const std::string errorFile = makeTestFolder("stderr") + "/err.txt";
    const pid_t pid = home.start({}, errorFile);
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
                                        "About Intro - Ok", "About Info - Ok", "Start Event Loop & UI",
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

    // A data folder that cannot exist: the set-up reports it and fails.
    home.env["SDL_VIDEODRIVER"] = "offscreen";
    ASSERT_TRUE(writeTestFile(home.root + "/file", "x"));
    home.env["LOCALAPPDATA"] = home.root + "/file/below";
    run = home.run({});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.errors.find("Critical! - Unable to create application data storage area"), std::string::npos)
        << run.errors;
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
