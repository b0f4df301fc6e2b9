// After an unclean end: comparing a watch folder of 100,000 unchanged files
// with its archive (what the recovery costs), against keeping the copy queue
// on disk as it grows (one atomic rewrite of "CopyQueue.dat" per growth).
// At every start: the same comparison on the catch-up scans' engine thread,
// with what the start-up waits for (asking for it), the wall time until it
// ends and the CPU time the process spent meanwhile.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>
#include <string>

#include "engine/catch_up_scan.h"
#include "engine/change_watcher.h"
#include "engine/copy_queue.h"
#include "engine/copy_queue_file.h"
#include "engine/thread_registry.h"
#include "engine/unclean_end.h"
#include "foundation/watch_folders.h"
#include "platform/paths.h"
#include "platform/text.h"

namespace fs = std::filesystem;

namespace {

constexpr int kFolders = 100;
constexpr int kFilesPerFolder = 1000;

const std::string& benchRoot() {
    static const std::string root =
        (fs::temp_directory_path() / ("varnholt-bench-recovery-" + std::to_string(::getpid()))).string();
    return root;
}

// The watch folder and its archive, every file archived as it is.
std::wstring watchFolderWithArchive() {
    static const std::wstring key = [] {
        const std::string watch = benchRoot() + "/watch";
        const std::string archive = benchRoot() + "/archive";
        const auto time = fs::file_time_type::clock::now() - std::chrono::hours(1);
        for (int folder = 0; folder < kFolders; ++folder) {
            const std::string sub = "/d" + std::to_string(folder / 10) + "/sub" + std::to_string(folder);
            fs::create_directories(watch + sub);
            fs::create_directories(archive + sub);
            for (int file = 0; file < kFilesPerFolder; ++file) {
                const std::string name = sub + "/file" + std::to_string(file) + ".txt";
                std::ofstream(watch + name) << "content of " << name;
                std::ofstream(archive + name) << "content of " << name;
                fs::last_write_time(watch + name, time);
                fs::last_write_time(archive + name, time);
            }
        }
        WatchFolderEntry entry;
        entry.archivePath = utf8ToWide(archive);
        entry.folderType = kFolderTypeDescendents;
        entry.extensionMap[L"txt"] = ExtensionEntry{L"txt", true, false};
        std::lock_guard<std::mutex> lock(watchFolderMutex);
        watchFolderMap[utf8ToWide(watch)] = entry;
        return utf8ToWide(watch);
    }();
    return key;
}

void BM_RecoverUnchangedFolder(benchmark::State& state) {
    const std::wstring key = watchFolderWithArchive();
    CatchUpCounts counts;
    for (auto _ : state) counts = queueUnarchivedFiles(key, 0);
    state.counters["compared"] = static_cast<double>(counts.compared);
    state.counters["queued"] = static_cast<double>(counts.queued);
}
BENCHMARK(BM_RecoverUnchangedFolder)->Unit(benchmark::kMillisecond)->Iterations(3);

double processCpuMs() {
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    const auto ms = [](const timeval& t) { return t.tv_sec * 1000.0 + t.tv_usec / 1000.0; };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

// The folder's watch is open first, as it is a moment after the start: the
// comparison of each folder begins once its watch is open.
void BM_StartUpComparison(benchmark::State& state) {
    watchFolderWithArchive();
    startWatchFolderThreads();
    for (const uint64_t mark = changeWatcherReadMark(); !changeWatcherHasReadThrough(mark);)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    using Clock = std::chrono::steady_clock;
    double waitedMs = 0, wallMs = 0, cpuMs = 0;
    for (auto _ : state) {
        const double cpuBefore = processCpuMs();
        const Clock::time_point start = Clock::now();
        startStartUpComparison(false);
        const Clock::time_point started = Clock::now();
        while (pendingFolderCatchUps() != 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        const Clock::time_point ended = Clock::now();
        waitedMs += std::chrono::duration<double, std::milli>(started - start).count();
        wallMs += std::chrono::duration<double, std::milli>(ended - start).count();
        cpuMs += processCpuMs() - cpuBefore;
    }
    const double runs = static_cast<double>(state.iterations());
    state.counters["startWaitsMs"] = waitedMs / runs;
    state.counters["wallMs"] = wallMs / runs;
    state.counters["cpuMs"] = cpuMs / runs;
    stopChangeWatcher();
    std::lock_guard<std::mutex> lock(copyQueueMutex);
    state.counters["queued"] = static_cast<double>(copyQueue.size());
}
BENCHMARK(BM_StartUpComparison)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

// One rewrite of the queue file as it would happen each time the queue grows.
void BM_SaveCopyQueue(benchmark::State& state) {
    {
        std::lock_guard<std::mutex> lock(copyQueueMutex);
        copyQueue.clear();
        for (int64_t i = 0; i < state.range(0); ++i) {
            CopyQueueItem item;
            item.sourcePath = utf8ToWide(benchRoot() + "/watch/some folder/file" + std::to_string(i) + ".txt");
            copyQueue.emplace(item.sourcePath, item);
        }
    }
    for (auto _ : state) benchmark::DoNotOptimize(saveCopyQueue());
    std::lock_guard<std::mutex> lock(copyQueueMutex);
    copyQueue.clear();
}
BENCHMARK(BM_SaveCopyQueue)->Arg(1)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    fs::create_directories(benchRoot() + "/data");
    setenv("LOCALAPPDATA", (benchRoot() + "/data").c_str(), 1);
    applyPlatformEnvironmentDefaults();
    setApplicationRunning(true);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    fs::remove_all(benchRoot());
    return 0;
}
