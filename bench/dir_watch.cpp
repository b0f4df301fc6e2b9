// Cost of watching a large tree: time to set up the watches of 10,000 folders
// and the memory the process gains for them (RSS delta; the kernel's own
// memory for the watches is not part of it).
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/dir_watch.h"
#include "platform/text.h"

namespace {

constexpr int kTop = 100;
constexpr int kPerTop = 99;  // 100 + 100 * 99 + the root = 10,001 folders

long readStatusKb(const char* field) {
    std::ifstream in("/proc/self/status");
    std::string line;
    const std::string key = std::string(field) + ":";
    while (std::getline(in, line)) {
        if (line.rfind(key, 0) == 0) return std::stol(line.substr(key.size()));
    }
    return -1;
}

long readSysctl(const char* file) {
    std::ifstream in(file);
    long value = -1;
    in >> value;
    return value;
}

const std::string& benchTree() {
    static const std::string root = [] {
        char pattern[] = "/tmp/varnholt-bench-XXXXXX";
        std::string made = mkdtemp(pattern) ? pattern : "";
        for (int i = 0; i < kTop; ++i) {
            for (int k = 0; k < kPerTop; ++k) {
                std::filesystem::create_directories(made + "/d" + std::to_string(i) + "/e" + std::to_string(k));
            }
        }
        return made;
    }();
    return root;
}

void BM_WatchTenThousandFolders(benchmark::State& state) {
    const std::wstring root = utf8ToWide(benchTree());
    size_t folders = 0;
    size_t problems = 0;
    long rssDeltaKb = 0;
    for (auto _ : state) {
        const long before = readStatusKb("VmRSS");
        std::vector<std::wstring> lines;
        DirWatchPtr w = openDirWatch(root, true, lines);
        state.PauseTiming();
        rssDeltaKb = std::max(rssDeltaKb, readStatusKb("VmRSS") - before);  // the first open grows the heap
        folders = w ? dirWatchFolderCount(*w) : 0;
        problems = lines.size();
        w.reset();
        state.ResumeTiming();
    }
    state.counters["folders"] = static_cast<double>(folders);
    state.counters["problems"] = static_cast<double>(problems);
    state.counters["rss_delta_kb"] = static_cast<double>(rssDeltaKb);
    state.counters["max_user_watches"] = static_cast<double>(readSysctl("/proc/sys/fs/inotify/max_user_watches"));
}
BENCHMARK(BM_WatchTenThousandFolders)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::filesystem::remove_all(benchTree());
    return 0;
}
