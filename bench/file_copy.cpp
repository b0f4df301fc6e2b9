// The copy with progress against cp, and filesAreEqual against cmp, on 1 GiB
// files in the build folder's file system. Run by hand; prints ratios.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "foundation/file_helpers.h"
#include "platform/file_copy.h"
#include "platform/text.h"

namespace {

const std::string kFolder = std::filesystem::current_path().string() + "/bench-file-copy";
const std::string kSource = kFolder + "/source.bin";

void writeGiB(const std::string& path) {
    std::vector<char> block(1 << 20);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    for (int i = 0; i < 1024; ++i) {
        for (size_t j = 0; j < block.size(); j += 512) block[j] = static_cast<char>(i + j / 512);
        out.write(block.data(), static_cast<std::streamsize>(block.size()));
    }
}

double seconds(const std::function<void()>& work) {
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void run(const std::string& command) {
    if (std::system(command.c_str()) > 1 * 256) std::abort();
}

void BM_CopyAgainstCp(benchmark::State& state) {
    const std::string target = kFolder + "/ours.bin", cpTarget = kFolder + "/cp.bin";
    for (auto _ : state) {
        const double cp = seconds([&] { run("cp " + kSource + " " + cpTarget + " && sync " + cpTarget); });
        const double ours = seconds([&] {
            if (copyFileWithProgress(utf8ToWide(kSource), utf8ToWide(target)) != CopyResult::Copied) std::abort();
        });
        state.SetIterationTime(ours);
        state.counters["ours_s"] = ours;
        state.counters["cp_sync_s"] = cp;
        state.counters["speed_vs_cp"] = cp / ours;
        std::filesystem::remove(target);
        std::filesystem::remove(cpTarget);
    }
}

void BM_FilesAreEqualAgainstCmp(benchmark::State& state) {
    const std::string other = kFolder + "/other.bin";
    run("cp " + kSource + " " + other + " && touch -d '2001-01-01' " + other);
    for (auto _ : state) {
        bool equal = false;
        const double cmp = seconds([&] { run("cmp " + kSource + " " + other); });
        const double ours = seconds([&] { equal = filesAreEqual(utf8ToWide(kSource), utf8ToWide(other)); });
        if (!equal) std::abort();
        state.SetIterationTime(ours);
        state.counters["ours_s"] = ours;
        state.counters["cmp_s"] = cmp;
        state.counters["speed_vs_cmp"] = cmp / ours;
    }
    std::filesystem::remove(other);
}

BENCHMARK(BM_CopyAgainstCp)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FilesAreEqualAgainstCmp)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    std::filesystem::create_directories(kFolder);
    writeGiB(kSource);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    std::filesystem::remove_all(kFolder);
    return 0;
}
