#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "platform/message_box.h"
#include "platform/signals.h"
#include "platform/single_instance.h"
#include "test_env.h"

namespace {
// A second process tries the same lock: exit code 0 when it got it.
int lockFromChild(const std::string& path) {
    const pid_t pid = fork();
    if (pid == 0) {
        const int fd = open(path.c_str(), O_RDWR | O_CLOEXEC);
        _exit(fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0 ? 0 : 1);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
}  // namespace

TEST(SingleInstance, SecondLockFailsWhileHeldAndWorksAfterRelease) {
    const std::string path = makeTestFolder("data") + "/new/Varnholt.lock";  // its folder is made
    std::string reason;
    ASSERT_EQ(acquireSingleInstanceLock(path, reason), InstanceLock::acquired) << reason;
    EXPECT_EQ(acquireSingleInstanceLock(path, reason), InstanceLock::acquired);  // held already
    EXPECT_EQ(lockFromChild(path), 1);
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 077, 0u);

    releaseSingleInstanceLock();
    EXPECT_EQ(lockFromChild(path), 0);

    // Another process holding it: this one is refused.
    const int fd = open(path.c_str(), O_RDWR);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0);
    EXPECT_EQ(acquireSingleInstanceLock(path, reason), InstanceLock::heldByOther);
    close(fd);
    EXPECT_EQ(acquireSingleInstanceLock(path, reason), InstanceLock::acquired);
    releaseSingleInstanceLock();
}

TEST(SingleInstance, UnsafeRuntimeFolderFallsBackToPrivateFolder) {
    const char* saved = getenv("XDG_RUNTIME_DIR");
    const std::string savedValue = saved ? saved : "";
    const std::string open = makeTestFolder("open-run");
    chmod(open.c_str(), 0777);
    setenv("XDG_RUNTIME_DIR", open.c_str(), 1);
    const std::string folder = privateRuntimeFolder();
    setenv("XDG_RUNTIME_DIR", savedValue.c_str(), 1);
    EXPECT_EQ(folder, "/tmp/varnholt-" + std::to_string(geteuid()));
}

TEST(Signals, TermHupAndIntOnlySetTheFlag) {
    installShutdownSignalHandlers();
    for (int sig : {SIGTERM, SIGHUP, SIGINT}) {
        clearShutdownSignal();
        EXPECT_FALSE(shutdownSignalReceived());
        ASSERT_EQ(raise(sig), 0);  // the process survives
        EXPECT_TRUE(shutdownSignalReceived()) << sig;
    }
    clearShutdownSignal();
}

TEST(MessageBox, NoDialogWithoutDisplayOrWhenDisabled) {
    EXPECT_FALSE(messageBoxCanShowDialog());  // tests run without a display
    setenv("DISPLAY", ":99", 1);
    EXPECT_FALSE(messageBoxCanShowDialog());  // VARNHOLT_NO_MSGBOX is set
    unsetenv("DISPLAY");
    testing::internal::CaptureStderr();
    showMessageBox("Error: something", "Runtime error!");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Runtime error!: Error: something\n");
}

namespace {
std::atomic<int> g_showRequests{0};
void countShowRequest() { ++g_showRequests; }
}  // namespace

TEST(SingleInstance, SecondStartAsksTheHolderToShow) {
    const std::string lock = makeTestFolder("data") + "/Varnholt.lock";
    std::string reason;
    EXPECT_FALSE(askRunningInstanceToShow(lock, "VarnholtShow"));  // nobody listens
    EXPECT_FALSE(listenForShowRequests("VarnholtShow", countShowRequest));  // only the lock's holder listens
    ASSERT_EQ(acquireSingleInstanceLock(lock, reason), InstanceLock::acquired);
    ASSERT_TRUE(listenForShowRequests("VarnholtShow", countShowRequest));
    // Named after the data folder, and found from another environment.
    const std::string socketPath = readTestFile(lock);
    ASSERT_EQ(socketPath.rfind(std::string(getenv("XDG_RUNTIME_DIR")) + "/VarnholtShow-", 0), 0u) << socketPath;
    struct stat st {};
    ASSERT_EQ(lstat(socketPath.substr(0, socketPath.size() - 1).c_str(), &st), 0);
    EXPECT_TRUE(S_ISSOCK(st.st_mode));
    EXPECT_TRUE(askRunningInstanceToShow(lock, "VarnholtShow"));
    EXPECT_TRUE(askRunningInstanceToShow(lock, "VarnholtShow"));
    for (int i = 0; i < 3000 && g_showRequests.load() < 2; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(g_showRequests.load(), 2);
    releaseSingleInstanceLock();
}
