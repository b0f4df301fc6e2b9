// Start to window and the window's memory: the time from starting the
// program to its window being mapped and to its first frame on the screen,
// and the program's resident memory with the window shown and settled; on a
// private Xvfb with software GL and a session bus without a tray host (so
// the window shows). Measured with no watch folder, then with seven whose
// names are in seven scripts (Chinese, Japanese, Korean, Greek, Cyrillic,
// Latin and Ethiopic) on the Folders tab. Not a test: run by hand.
//   build/bench/bench_window_start [path/to/varnholt]   (VARNHOLT_BENCH_ROUNDS, default 5)
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
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bench_support.h"
#include "foundation/app_config.h"
#include "foundation/data_files.h"
#include "platform/text.h"
#include "window_desktop.h"
#include "x_window.h"

namespace {
using Clock = std::chrono::steady_clock;
std::string g_binary;
const WindowDesktop* g_desktop = nullptr;

// VmRSS of a process in MiB.
double residentMiB(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::atof(line.c_str() + 6) / 1024.0;
    return -1;
}

// Waits (up to 30 s, polling every 2 ms) for `done`; the seconds since `start`, -1 on timeout.
template <typename Done>
double secondsUntil(Clock::time_point start, Done done) {
    while (!done()) {
        if (Clock::now() - start > std::chrono::seconds(30)) return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return std::chrono::duration<double>(Clock::now() - start).count();
}

struct Start {
    double mapped = -1, drawn = -1, rss = -1;
};

Start measureStart(XWindowFinder& finder) {
    Start result;
    const auto start = Clock::now();
    const pid_t pid = g_desktop->spawn({g_binary});
    result.mapped = secondsUntil(start, [&] { return finder.viewable(); });
    result.drawn = secondsUntil(start, [&] { return finder.drawn(); });
    std::this_thread::sleep_for(std::chrono::seconds(3));
    result.rss = residentMiB(pid);
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    return result;
}

// One watch folder per name below `home`, archived beside it: the
// configuration the next start loads.
void seedWatchFolders(const std::string& home, const std::vector<std::string>& names) {
    setenv("LOCALAPPDATA", (home + "/.local/share").c_str(), 1);
    loadAppConfiguration();
    {
        std::lock_guard<std::mutex> lock(watchFolderMutex);
        for (const std::string& name : names) {
            std::filesystem::create_directories(home + "/" + name);
            WatchFolderEntry entry;
            entry.archivePath = utf8ToWide(home + "/Archive/" + name);
            entry.extensionMap[L"*"] = ExtensionEntry{L"*", true, false};
            watchFolderMap[utf8ToWide(home + "/" + name)] = entry;
        }
    }
    saveAppConfiguration();
}

void report(const char* label, XWindowFinder& finder) {
    measureStart(finder);  // the first start after a change of configuration is not counted
    std::vector<double> mapped, drawn, rss;
    for (int round = 0; round < rounds(); ++round) {
        const Start start = measureStart(finder);
        mapped.push_back(start.mapped);
        drawn.push_back(start.drawn);
        rss.push_back(start.rss);
    }
    std::printf("%s: start to window mapped %.3f s, to its first frame %.3f s; resident memory %.1f MiB "
                "(medians of %d, load %s)\n",
                label, median(mapped), median(drawn), median(rss), rounds(), loadText().c_str());
}
}  // namespace

int main(int argc, char** argv) {
    g_binary = std::filesystem::absolute(argc > 1 ? argv[1] : "build/varnholt");
    const WindowDesktop desktop;
    if (!desktop.ready()) {
        std::fprintf(stderr, "Xvfb or dbus-daemon did not start\n");
        return 1;
    }
    g_desktop = &desktop;
    auto finder = std::make_unique<XWindowFinder>(desktop.display);
    const std::string& home = desktop.home;
    const pid_t install = desktop.spawn({g_binary, "install"});
    waitpid(install, nullptr, 0);
    std::printf("%s\n", g_binary.c_str());
    report("no watch folder", *finder);
    seedWatchFolders(home, {"中文资料", "ひらがな", "문서폴더", "Άλφα", "Фото", "Letters", "ሀሁሂሃ"});
    report("seven names in seven scripts", *finder);
    finder.reset();  // before its display ends
    return 0;
}
