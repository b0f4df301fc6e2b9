// The real program told about a new start-up message and a newer release by
// the local test server: once, and not again on the next start.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "foundation/data_packet.h"
#include "https_test_server.h"
#include "net/update_check.h"
#include "platform/text.h"
#include "test_env.h"

namespace {

// Runs the program with its own home; returns its exit code (-1 when it
// had to be killed). With `whileRunning`, that runs once it started and the
// program is then asked to end.
int runProgram(const std::string& root, const std::vector<std::string>& args, const HttpsTestServer& server,
               const std::function<void()>& whileRunning) {
    std::vector<std::string> env{"HOME=" + root + "/home",
                                 "XDG_CONFIG_HOME=" + root + "/home/.config",
                                 "XDG_DATA_HOME=" + root + "/home/.local/share",
                                 "XDG_RUNTIME_DIR=" + root + "/run",
                                 "SDL_VIDEODRIVER=offscreen",
                                 "VARNHOLT_NO_MSGBOX=1",
                                 "TZ=UTC",
                                 "VARNHOLT_UPDATE_BASE=" + serverHost(server),
                                 "VARNHOLT_TEST_CA_FILE=" + server.folder + "/cert.pem"};
    for (const char* name : {"PATH", "ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS", "USER"})
        if (const char* value = getenv(name)) env.push_back(std::string(name) + "=" + value);
    const char* binary = getenv("VARNHOLT_BINARY");
    const pid_t pid = fork();
    if (pid == 0) {
        const int fd = open((root + "/stderr.txt").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        dup2(fd, 2);
        std::vector<char*> argv{const_cast<char*>(binary)};
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        std::vector<char*> envp;
        for (std::string& e : env) envp.push_back(e.data());
        envp.push_back(nullptr);
        execve(binary, argv.data(), envp.data());
        _exit(127);
    }
    if (whileRunning) {
        whileRunning();
        kill(pid, SIGTERM);
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1000 - WTERMSIG(status);
}

// Waits for `count` answers of the update description in all.
bool waitForAnswers(const HttpsTestServer& server, int count) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    const std::string done = "done " + std::string(kUpdateDescriptionPath);
    while (requestCount(server, done) < count) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

// How many saved notifications hold `text`.
int savedNotices(const std::string& configFolder, const std::string& text) {
    DataRecord log;
    if (!loadDataRecordFile(log, "notifications", utf8ToWide(configFolder + "/Notifications.dat"), kDataFilePassPhrase))
        return -1;
    int count = 0;
    for (const auto& [name, entry] : copyRecordEntries(getRecordSection(log, "notifications")))
        for (const std::string& value : entry.values) count += value.find(text) != std::string::npos;
    return count;
}

TEST(StartupNoticesProcess, NewsToldOnceTheStartUpMessageAtEveryStart) {
#ifndef VARNHOLT_TEST_HOOKS
    GTEST_SKIP() << "the program trusts the test server's certificate in test builds only";
#endif
    HttpsTestServer server = startHttpsTestServer();
    ASSERT_NE(server.port, 0);
    serveFile(server, std::string(kUpdateDescriptionPath),
              "{\"data\":\"" + packedItems("Hello from the maker", "2.000.0010", "A newer Varnholt is out") + "\"}");
    const std::string root = makeTestFolder("program");
    std::filesystem::create_directories(root + "/home/.config");
    std::filesystem::create_directories(root + "/home/.local/share");
    std::filesystem::create_directories(root + "/run");
    chmod((root + "/run").c_str(), 0700);
    const std::string config = root + "/home/.local/share/Morvane/QZR/ConfigData";
    ASSERT_EQ(runProgram(root, {"install"}, server, nullptr), 0);

    const std::string done = "done " + std::string(kUpdateDescriptionPath);
    for (int start = 1; start <= 2; ++start) {
        bool answered = false;
        const int before = requestCount(server, done);
        EXPECT_EQ(runProgram(root, {}, server, [&] { answered = waitForAnswers(server, before + 1); }), 0)
            << "start " << start << readTestFile(root + "/stderr.txt");
        ASSERT_TRUE(answered) << "start " << start << readTestFile(root + "/stderr.txt");
        EXPECT_EQ(savedNotices(config, "Start-Up Message: Hello from the maker"), start) << "told at every start";
        EXPECT_EQ(savedNotices(config, "A newer Varnholt is out"), 1) << "start " << start;
    }

    // A server that does not answer holds up neither the start nor the end.
    writeTestFile(server.folder + "/delay_ms", "40000");
    const int asked = requestCount(server, std::string(kUpdateDescriptionPath));
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(runProgram(root, {}, server,
                         [&] {
                             while (requestCount(server, std::string(kUpdateDescriptionPath)) == asked &&
                                    std::chrono::steady_clock::now() - started < std::chrono::seconds(30))
                                 std::this_thread::sleep_for(std::chrono::milliseconds(10));
                         }),
              0);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(30));
    EXPECT_NE(readTestFile(config + "/logString.txt").find("End Execution"), std::string::npos);
    stopHttpsTestServer(server);
}

}  // namespace
