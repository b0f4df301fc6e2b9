// A backup of a watch folder of 100,000 small files where nothing changed:
// the time from start to report against `rsync -a --dry-run` of the same
// folder into its archive, with their ratio measured in the same run. The
// backup's pauses between its shown states (three of 1000 ms) are set to 0
// here; they add a fixed three seconds to every real backup.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "engine/backup_engine.h"
#include "engine/thread_registry.h"
#include "foundation/app_log.h"
#include "foundation/global_defaults.h"
#include "foundation/watch_folders.h"
#include "platform/text.h"

namespace fs = std::filesystem;

namespace {

constexpr int kFolders = 100;
constexpr int kFilesPerFolder = 1000;

struct BenchFolders {
    std::string root;
    std::string watch;
    std::string archive;
};

// The watch folder and an archive that already holds an equal copy of every
// file (same size and modification time, as the archive copies keep it).
const BenchFolders& benchFolders() {
    static const BenchFolders folders = [] {
        BenchFolders f;
        f.root = (fs::temp_directory_path() / ("varnholt-backup-bench-" + std::to_string(::getpid()))).string();
        f.watch = f.root + "/watch";
        f.archive = f.root + "/archive";
        for (int folder = 0; folder < kFolders; ++folder) {
            const std::string dir = f.watch + "/d" + std::to_string(folder / 10) + "/sub" + std::to_string(folder);
            fs::create_directories(dir);
            for (int file = 0; file < kFilesPerFolder; ++file)
                std::ofstream(dir + "/file" + std::to_string(file) + ".txt") << "small file " << file << "\n";
        }
        const std::string copy = "cp -a '" + f.watch + "' '" + f.archive + "'";
        if (std::system(copy.c_str()) != 0) std::fprintf(stderr, "cp -a failed\n");
        return f;
    }();
    return folders;
}

void setUpEngine() {
    const BenchFolders& f = benchFolders();
    fs::create_directories(f.root + "/data");
    ::setenv("LOCALAPPDATA", (f.root + "/data").c_str(), 1);
    setApplicationRunning(true);
    timings().backupStepMs = 0;
    WatchFolderEntry entry;
    entry.displayName = L"Bench";
    entry.archivePath = utf8ToWide(f.archive);
    entry.folderType = kFolderTypeDescendents;
    entry.extensionMap[L"*"] = ExtensionEntry{L"*", true, false};
    std::lock_guard<std::mutex> lock(watchFolderMutex);
    watchFolderMap[utf8ToWide(f.watch)] = entry;
}

bool runOneBackup() {
    removeAppLogEntriesOfKind(0xFFFFFFFF);
    backupThreadMain(utf8ToWide(benchFolders().watch), engineNowTicks(), true);
    for (const AppLogEntry& entry : appLogSnapshot().entries)
        if (entry.key.find(L"100000 file instances") != std::wstring::npos &&
            entry.key.find(L"0 files changed & saved") != std::wstring::npos)
            return true;
    return false;
}

size_t runRsync() {
    const BenchFolders& f = benchFolders();
    const std::string command = "rsync -a --dry-run --itemize-changes '" + f.watch + "/' '" + f.archive + "/'";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return 0;
    size_t bytes = 0;
    char buffer[65536];
    for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) bytes += got;
    ::pclose(pipe);
    return bytes;
}

template <typename Run>
double secondsOf(Run run) {
    const auto start = std::chrono::steady_clock::now();
    run();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void BM_BackupNothingChanged(benchmark::State& state) {
    bool reported = true;
    for (auto _ : state) reported = runOneBackup() && reported;
    state.counters["report_ok"] = reported ? 1 : 0;
}

void BM_RsyncDryRun(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(runRsync());
}

// Both alternate in each iteration, so the ratio sees the same cache and load.
void BM_RatioToRsync(benchmark::State& state) {
    double backupSeconds = 0, rsyncSeconds = 0;
    size_t rsyncOutput = 0;
    for (auto _ : state) {
        const double backup = secondsOf(runOneBackup);
        const double rsync = secondsOf([&] { rsyncOutput = runRsync(); });
        std::fprintf(stderr, "backup %.3f s, rsync -a --dry-run %.3f s, ratio %.2f\n", backup, rsync, backup / rsync);
        backupSeconds += backup;
        rsyncSeconds += rsync;
    }
    state.counters["ratio"] = rsyncSeconds > 0 ? backupSeconds / rsyncSeconds : 0;
    state.counters["rsync_itemized_bytes"] = static_cast<double>(rsyncOutput);  // 0: nothing to copy
}

}  // namespace

BENCHMARK(BM_BackupNothingChanged)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_RsyncDryRun)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_RatioToRsync)->Unit(benchmark::kMillisecond)->Iterations(3);

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchFolders();
    setUpEngine();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    setApplicationRunning(false);
    waitForEngineThreads(10000);
    fs::remove_all(benchFolders().root);
    return 0;
}
