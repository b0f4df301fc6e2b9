// Listing a large archive tree: listFilesRecursive against find(1) on the
// same tree of 100,000 files, with their ratio measured in the same run.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "foundation/file_helpers.h"
#include "platform/text.h"

namespace fs = std::filesystem;

namespace {

constexpr int kFolders = 100;
constexpr int kFilesPerFolder = 1000;

const std::string& benchTree() {
    static const std::string root = [] {
        std::string path = (fs::temp_directory_path() / ("varnholt-bench-" + std::to_string(::getpid()))).string();
        for (int folder = 0; folder < kFolders; ++folder) {
            const std::string dir = path + "/d" + std::to_string(folder / 10) + "/sub" + std::to_string(folder);
            fs::create_directories(dir);
            for (int file = 0; file < kFilesPerFolder; ++file) std::ofstream(dir + "/file ~ " + std::to_string(file) + ".txt");
        }
        return path;
    }();
    return root;
}

size_t listWithFind(const std::string& root) {
    const std::string command = "find '" + root + "' -type f";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return 0;
    size_t lines = 0;
    char buffer[65536];
    size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        for (size_t i = 0; i < got; ++i) lines += buffer[i] == '\n';
    }
    ::pclose(pipe);
    return lines;
}

size_t listWithHelper(const std::string& root) {
    std::vector<std::wstring> files;
    return listFilesRecursive(utf8ToWide(root), files, true);
}

double secondsOf(size_t (*list)(const std::string&), const std::string& root, size_t& count) {
    const auto start = std::chrono::steady_clock::now();
    count = list(root);
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void BM_ListFilesRecursive(benchmark::State& state) {
    const std::string& root = benchTree();
    for (auto _ : state) benchmark::DoNotOptimize(listWithHelper(root));
    state.counters["files"] = static_cast<double>(listWithHelper(root));
}

void BM_Find(benchmark::State& state) {
    const std::string& root = benchTree();
    for (auto _ : state) benchmark::DoNotOptimize(listWithFind(root));
}

// Both listings alternate in each iteration, so the ratio sees the same
// cache and machine load.
void BM_RatioToFind(benchmark::State& state) {
    const std::string& root = benchTree();
    double helperSeconds = 0, findSeconds = 0;
    size_t helperCount = 0, findCount = 0;
    for (auto _ : state) {
        helperSeconds += secondsOf(listWithHelper, root, helperCount);
        findSeconds += secondsOf(listWithFind, root, findCount);
    }
    state.counters["ratio"] = findSeconds > 0 ? helperSeconds / findSeconds : 0;
    state.counters["same_count"] = helperCount == findCount ? 1 : 0;
}

}  // namespace

BENCHMARK(BM_ListFilesRecursive)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_Find)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_RatioToFind)->Unit(benchmark::kMillisecond)->Iterations(10);

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchTree();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    fs::remove_all(benchTree());
    return 0;
}
