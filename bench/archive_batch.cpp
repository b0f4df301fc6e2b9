// One batch of 1,000 changed files of 1 MiB through the Copier (no settle
// wait: the time runs from the end of the settle wait to the end of the
// batch, version records included) against cp -r of the same files, with and
// without a final sync. Run by hand; prints the ratios.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/archive_copy.h"
#include "engine/copy_queue.h"
#include "engine/thread_registry.h"
#include "foundation/global_defaults.h"
#include "foundation/version_records.h"
#include "foundation/watch_folders.h"
#include "platform/text.h"

namespace {

const std::string kFolder = std::filesystem::current_path().string() + "/bench-archive-batch";
const std::string kWatch = kFolder + "/watch";
const std::string kArchive = kFolder + "/archive";
const std::string kCpTarget = kFolder + "/cp";
constexpr int kFiles = 1000;

std::vector<std::wstring> makeFiles() {
    std::vector<std::wstring> paths;
    std::vector<char> block(1 << 20);
    for (int i = 0; i < kFiles; ++i) {
        const std::string folder = kWatch + "/d" + std::to_string(i / 100);
        std::filesystem::create_directories(folder);
        const std::string path = folder + "/f" + std::to_string(i) + ".bin";
        for (size_t j = 0; j < block.size(); j += 512) block[j] = static_cast<char>(i + j / 512);
        std::ofstream(path, std::ios::binary).write(block.data(), static_cast<std::streamsize>(block.size()));
        paths.push_back(utf8ToWide(path));
    }
    return paths;
}

double seconds(const std::function<void()>& work) {
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void run(const std::string& command) {
    if (std::system(command.c_str()) != 0) std::abort();
}

void setUpEngine() {
    setenv("LOCALAPPDATA", (kFolder + "/data").c_str(), 1);
    setApplicationRunning(true);
    timings().settleMs = 0;
    timings().pollMs = 1;
    WatchFolderEntry entry;
    entry.archivePath = utf8ToWide(kArchive);
    entry.collisionOption = kCollisionAppendVersion;
    entry.extensionMap[L"*"] = ExtensionEntry{L"*", true, false};
    std::lock_guard<std::mutex> lock(watchFolderMutex);
    watchFolderMap[utf8ToWide(kWatch)] = entry;
}

size_t archivedCount() {
    size_t count = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(kArchive)) count += entry.is_regular_file();
    return count;
}

// Each run starts from an empty archive and no records. The archive root
// must exist: a missing one stops archiving.
void startIteration() {
    std::filesystem::remove_all(kArchive);
    std::filesystem::create_directories(kArchive);
    std::filesystem::remove_all(kCpTarget);
    std::lock_guard<std::mutex> lock(versionRecordMutex);
    versionRecordMap.clear();
}

void BM_BatchAgainstCp(benchmark::State& state) {
    std::filesystem::remove_all(kFolder);
    const std::vector<std::wstring> paths = makeFiles();
    setUpEngine();
    run("sync");
    for (auto _ : state) {
        startIteration();
        std::vector<ChangedFile> changes;
        for (const std::wstring& path : paths) changes.push_back({path, L"bench"});
        archiveChangedFile(changes);
        run("sync");
        const double ours = seconds([] { copierThread(); });
        if (copyQueueCount() != 0 || archivedCount() != kFiles) std::abort();
        run("sync");
        const double cp = seconds([] { run("cp -r " + kWatch + " " + kCpTarget); });
        std::filesystem::remove_all(kCpTarget);
        run("sync");
        const double cpSync = seconds([] { run("cp -r " + kWatch + " " + kCpTarget + " && sync"); });
        std::fprintf(stderr, "batch: ours %.3f s, cp -r %.3f s, cp -r && sync %.3f s, ratio %.2f\n", ours, cp, cpSync,
                     ours / cpSync);
        state.SetIterationTime(ours);
        state.counters["ours_s"] = ours;
        state.counters["cp_s"] = cp;
        state.counters["cp_sync_s"] = cpSync;
        state.counters["ours_over_cp"] = ours / cp;
        state.counters["ours_over_cp_sync"] = ours / cpSync;
    }
    std::filesystem::remove_all(kFolder);
}
BENCHMARK(BM_BatchAgainstCp)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

// A burst: the 1,000 files are rewritten one after another, each queued as
// the watcher would, with the Copier started at the first as the supervisor
// starts it. The time runs from the later of the last write and the end of
// the first settle wait to the Copier's end (a burst copied in one batch
// costs only its copying), against cp -r && sync of the same files.
void BM_BurstAgainstCpSync(benchmark::State& state) {
    constexpr uint32_t kSettleMs = 10000;  // the default: longer than the burst
    std::filesystem::remove_all(kFolder);
    const std::vector<std::wstring> paths = makeFiles();
    setUpEngine();
    timings().settleMs = kSettleMs;
    std::vector<char> block(1 << 20, 'b');
    for (auto _ : state) {
        startIteration();
        run("sync");
        std::thread copier;
        const auto burstStart = std::chrono::steady_clock::now();
        auto settled = burstStart;
        for (const std::wstring& path : paths) {
            std::ofstream(wideToUtf8(path), std::ios::binary | std::ios::trunc)
                .write(block.data(), static_cast<std::streamsize>(block.size()));
            archiveChangedFile({{path, L"bench"}});
            if (copier.joinable()) continue;
            copier = std::thread(copierThread);
            settled = std::chrono::steady_clock::now() + std::chrono::milliseconds(kSettleMs);
        }
        const auto lastWrite = std::chrono::steady_clock::now();
        copier.join();
        if (copyQueueCount() != 0) std::abort();
        const double burst = std::chrono::duration<double>(lastWrite - burstStart).count();
        const double ours =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - std::max(lastWrite, settled)).count();
        run("sync");
        const double cpSync = seconds([] { run("cp -r " + kWatch + " " + kCpTarget + " && sync"); });
        std::fprintf(stderr, "burst %.3f s, copies %zu, ours %.3f s, cp -r && sync %.3f s, ratio %.2f\n", burst,
                     archivedCount(), ours, cpSync, ours / cpSync);
        state.SetIterationTime(ours);
        state.counters["burst_s"] = burst;
        state.counters["ours_s"] = ours;
        state.counters["cp_sync_s"] = cpSync;
        state.counters["ours_over_cp_sync"] = ours / cpSync;
    }
    timings().settleMs = 0;
    std::filesystem::remove_all(kFolder);
}
BENCHMARK(BM_BurstAgainstCpSync)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
