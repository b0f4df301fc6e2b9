// One batch of 1,000 changed files of 1 MiB through the Copier (no settle
// wait: the time runs from the end of the settle wait to the end of the
// batch, version records included) against cp -r of the same files, with and
// without a final sync; and a sparse 4 GiB disk image holding 4 MiB of data,
// its time and disk use against cp's. Run by hand; prints the ratios.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

#include "engine/archive_changes.h"
#include "engine/copier.h"
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

// A 4 GiB disk image with 4 MiB of data in 64 runs of 64 KiB, one every
// 64 MiB, as a virtual machine leaves its image.
std::string makeSparseImage() {
    const std::string path = kWatch + "/disk.img";
    std::filesystem::create_directories(kWatch);
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0) std::abort();
    std::vector<char> run(64 << 10);
    for (int i = 0; i < 64; ++i) {
        std::fill(run.begin(), run.end(), static_cast<char>('a' + i % 26));
        if (::pwrite(fd, run.data(), run.size(), static_cast<off_t>(i) << 26) != ssize_t(run.size())) std::abort();
    }
    if (::ftruncate(fd, off_t(4) << 30) != 0) std::abort();
    ::close(fd);
    return path;
}

uint64_t diskUse(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) std::abort();
    return static_cast<uint64_t>(st.st_blocks) * 512;
}

// The image changed: the time runs from the Copier's start to its end (the
// copy durable and recorded), against cp of the image and a sync of the copy.
void BM_SparseImageAgainstCp(benchmark::State& state) {
    std::filesystem::remove_all(kFolder);
    const std::string image = makeSparseImage();
    setUpEngine();
    for (auto _ : state) {
        startIteration();
        run("sync");
        archiveChangedFile({{utf8ToWide(image), L"bench"}});
        const double ours = seconds([] { copierThread(); });
        const std::string copy = kArchive + "/disk.img", cpCopy = kFolder + "/cp.img";
        if (copyQueueCount() != 0 || std::filesystem::file_size(copy) != (uint64_t(4) << 30)) std::abort();
        run("sync");
        const double cp = seconds([&] { run("cp " + image + " " + cpCopy + " && sync " + cpCopy); });
        const double oursMiB = diskUse(copy) / 1048576.0, cpMiB = diskUse(cpCopy) / 1048576.0;
        std::fprintf(stderr, "sparse image: ours %.3f s %.1f MiB on disk, cp && sync %.3f s %.1f MiB, ratio %.2f\n",
                     ours, oursMiB, cp, cpMiB, ours / cp);
        state.SetIterationTime(ours);
        state.counters["ours_s"] = ours;
        state.counters["cp_sync_s"] = cp;
        state.counters["ours_over_cp_sync"] = ours / cp;
        state.counters["ours_MiB"] = oursMiB;
        state.counters["cp_MiB"] = cpMiB;
        std::filesystem::remove(cpCopy);
    }
    std::filesystem::remove_all(kFolder);
}
BENCHMARK(BM_SparseImageAgainstCp)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
