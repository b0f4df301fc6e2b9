// CPU that the program's idle main window costs, shown (without news, and
// with the Notifications tab blinking) and hidden, on a private Xvfb with
// software GL, with a stand-in tray host on a private session bus (so the
// window may stay hidden). Not a test: run by hand.
//   build/bench/bench_idle_window [path/to/varnholt] [seconds, default 60]
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "foundation/data_packet.h"
#include "foundation/data_record.h"
#include "foundation/global_defaults.h"
#include "platform/text.h"
#include "window_desktop.h"

namespace {
std::string g_binary;
const WindowDesktop* g_desktop = nullptr;

double cpuSeconds(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), {});
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    unsigned long long ticks = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i)
        if (i >= 14) ticks += std::stoull(field);
    return static_cast<double>(ticks) / sysconf(_SC_CLK_TCK);
}

bool waitForFile(const std::string& path, const std::string& text) {
    for (int i = 0; i < 3000; ++i) {
        std::ifstream in(path);
        std::string content((std::istreambuf_iterator<char>(in)), {});
        if (content.find(text) != std::string::npos) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

// "IsViewable" or "IsUnMapped": the main window's state on the display.
std::string windowState() {
    int fds[2];
    if (pipe(fds) != 0) return {};
    const pid_t pid = g_desktop->spawn({"xwininfo", "-name", "Varnholt"}, fds[1]);
    close(fds[1]);
    std::string out;
    char c;
    while (read(fds[0], &c, 1) == 1) out += c;
    close(fds[0]);
    waitpid(pid, nullptr, 0);
    const size_t at = out.find("Map State: ");
    return at == std::string::npos ? "no window" : out.substr(at + 11, out.find('\n', at) - at - 11);
}

// Percent of one core the running program used over `seconds`, after it settled.
double measure(const std::string& traceLog, int seconds) {
    std::filesystem::remove(traceLog);
    const pid_t pid = g_desktop->spawn({g_binary});
    if (!waitForFile(traceLog, "Start Event Loop & UI")) return -1;
    std::this_thread::sleep_for(std::chrono::seconds(5));
    const double before = cpuSeconds(pid);
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const double used = cpuSeconds(pid) - before;
    std::printf("window: %s\n", windowState().c_str());
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    return used * 100.0 / seconds;
}
}  // namespace

int main(int argc, char** argv) {
    g_binary = std::filesystem::absolute(argc > 1 ? argv[1] : "build/varnholt");
    const int seconds = argc > 2 ? atoi(argv[2]) : 60;
    const WindowDesktop desktop;
    if (!desktop.ready()) {
        std::fprintf(stderr, "Xvfb or dbus-daemon did not start\n");
        return 1;
    }
    g_desktop = &desktop;
    const FakeTrayWatcher watcher(desktop.bus->address);
    const std::string& home = desktop.home;
    const pid_t install = desktop.spawn({g_binary, "install"});
    waitpid(install, nullptr, 0);
    const std::string config = home + "/.local/share/Morvane/QZR/ConfigData";
    const double shown = measure(config + "/logString.txt", seconds);
    // The first run's end left a notice: the next start has news, and the
    // Notifications tab blinks.
    const double blinking = measure(config + "/logString.txt", seconds);

    DataRecord document;
    const std::wstring configFile = utf8ToWide(config + "/Config.dat");
    if (loadDataRecordFile(document, "main", configFile, kDataFilePassPhrase)) {
        setRecordString(getRecordSection(document, "main"), "ShowUI", "0", 0);
        saveDataRecordFile(document, "main", configFile, kDataFilePassPhrase);
    }
    const double hidden = measure(config + "/logString.txt", seconds);
    std::printf("idle main window over %d s (software GL on Xvfb): shown %.2f%% of one core, shown with the "
                "Notifications tab blinking %.2f%%, hidden %.2f%%\n",
                seconds, shown, blinking, hidden);
    return 0;
}
