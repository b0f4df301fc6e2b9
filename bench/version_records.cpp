// Saving and loading the version records of 20,000 files with 5 versions each
// (100,000 records) spread over four watch folders. Reports the peak resident
// memory of the process as the counter "peak_rss_MiB", and for the save the
// growth over the start against the map's own size ("peak_over_map").
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <sys/resource.h>

#include <mutex>
#include <string>

#include "foundation/version_records.h"
#include "foundation/watch_folders.h"

namespace {

constexpr int kFiles = 20000;
constexpr int kVersions = 5;
constexpr int kFolders = 4;

double peakRssMiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

void fillRecords() {
    {
        std::lock_guard<std::mutex> lock(watchFolderMutex);
        for (int f = 0; f < kFolders; ++f) {
            WatchFolderEntry entry;
            entry.archivePath = L"/archive/Varnholt/folder" + std::to_wstring(f);
            watchFolderMap[L"/home/ann/Projects/folder" + std::to_wstring(f)] = entry;
        }
    }
    for (int i = 0; i < kFiles; ++i) {
        const std::wstring folder = std::to_wstring(i % kFolders);
        const std::wstring name = L"/sub" + std::to_wstring(i % 97) + L"/document_" + std::to_wstring(i);
        for (int v = 1; v <= kVersions; ++v) {
            addVersionRecord(L"/home/ann/Projects/folder" + folder + name + L".txt",
                             L"/archive/Varnholt/folder" + folder + name + L" ~ 000" + std::to_wstring(v) + L".txt",
                             L"/usr/bin/editor", true);
        }
    }
}

void BM_SaveVersionRecords(benchmark::State& state) {
    const double before = peakRssMiB();
    fillRecords();
    // The map's own size: what the process grew by while filling it.
    const double map = peakRssMiB() - before;
    for (auto _ : state) {
        if (!saveVersionRecords()) state.SkipWithError("save failed");
    }
    state.counters["records"] = kFiles * kVersions;
    state.counters["peak_rss_MiB"] = peakRssMiB();
    state.counters["start_MiB"] = before;
    state.counters["map_MiB"] = map;
    state.counters["peak_over_map"] = (peakRssMiB() - before) / map;
}

void BM_LoadVersionRecords(benchmark::State& state) {
    fillRecords();
    saveVersionRecords();
    size_t count = 0;
    for (auto _ : state) {
        if (!loadVersionRecords()) state.SkipWithError("load failed");
        std::lock_guard<std::mutex> lock(versionRecordMutex);
        count = 0;
        for (const auto& [source, versions] : versionRecordMap) count += versions.size();
    }
    state.counters["records"] = static_cast<double>(count);
    state.counters["peak_rss_MiB"] = peakRssMiB();
}

BENCHMARK(BM_SaveVersionRecords)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_LoadVersionRecords)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace

int main(int argc, char** argv) {
    char folder[] = "/tmp/varnholt-bench-XXXXXX";
    if (!mkdtemp(folder)) return 1;
    setenv("LOCALAPPDATA", folder, 1);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
