// CPU used by an idle engine: the real engine (supervisor, Monitor UI,
// change watcher, Storage Checker, Copier, Backup Scheduler) with the
// product's timings, watching 10 folders in which nothing changes. The
// figure is the process's CPU time (user + system, every thread) over the
// wall time, in percent of one core. VARNHOLT_IDLE_SECONDS sets the length
// (60 by default).
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <sys/resource.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "engine/engine_wiring.h"
#include "engine/thread_registry.h"
#include "foundation/app_config.h"
#include "foundation/watch_folders.h"
#include "platform/paths.h"
#include "platform/text.h"

namespace {

constexpr int kFolders = 10;
constexpr int kFilesPerFolder = 50;

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

int idleSeconds() {
    const char* text = getenv("VARNHOLT_IDLE_SECONDS");
    const int seconds = text ? atoi(text) : 0;
    return seconds > 0 ? seconds : 60;
}

// A private home, so the benchmark never touches the user's data folder.
std::string prepareHome() {
    char pattern[] = "/tmp/varnholt-idle-XXXXXX";
    const std::string root = mkdtemp(pattern) ? pattern : "/tmp/varnholt-idle";
    setenv("HOME", root.c_str(), 1);
    setenv("LOCALAPPDATA", (root + "/local").c_str(), 1);
    setenv("USERPROFILE", root.c_str(), 1);
    applyPlatformEnvironmentDefaults();
    return root;
}

void addWatchFolders(const std::string& root) {
    std::lock_guard<std::mutex> lock(watchFolderMutex);
    for (int i = 0; i < kFolders; ++i) {
        const std::string folder = root + "/watch" + std::to_string(i);
        std::filesystem::create_directories(folder + "/sub");
        for (int k = 0; k < kFilesPerFolder; ++k) std::ofstream(folder + "/sub/f" + std::to_string(k) + ".txt") << k;
        std::filesystem::create_directories(root + "/archive" + std::to_string(i));
        WatchFolderEntry entry;
        entry.displayName = utf8ToWide("watch" + std::to_string(i));
        entry.archivePath = utf8ToWide(root + "/archive" + std::to_string(i));
        entry.folderType = kFolderTypeDescendents;
        watchFolderMap[utf8ToWide(folder)] = entry;
    }
}

void BM_IdleEngineWatchingTenFolders(benchmark::State& state) {
    const std::string root = prepareHome();
    loadAppConfiguration();  // builds the data folder's paths, starts nothing
    addWatchFolders(root);
    saveAppConfiguration();
    wireEngine();
    loadAppConfiguration();  // starts the engine
    // Let the start-up work (watches, first checks) finish before measuring.
    std::this_thread::sleep_for(std::chrono::seconds(3));
    double percent = 0.0;
    for (auto _ : state) {
        const double cpuBefore = cpuSeconds();
        const auto wallBefore = std::chrono::steady_clock::now();
        std::this_thread::sleep_for(std::chrono::seconds(idleSeconds()));
        const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wallBefore).count();
        percent = 100.0 * (cpuSeconds() - cpuBefore) / wall;
    }
    state.counters["cpu_percent_of_one_core"] = percent;
    state.counters["engine_threads"] = static_cast<double>(liveEngineThreadCount());
    setApplicationRunning(false);
    waitForEngineThreads(10000);
    std::filesystem::remove_all(root);
}

}  // namespace

BENCHMARK(BM_IdleEngineWatchingTenFolders)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK_MAIN();
