// The copy with progress against cp, and filesAreEqual against cmp, on 1 GiB
// files in the build folder's file system. Run by hand; prints ratios.
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

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// The two take turns going first: on this virtual machine whichever first
// writes a new GiB of page cache pays for the host handing over the memory
// (seconds), which would otherwise always fall on the same side.
void BM_CopyAgainstCp(benchmark::State& state) {
    const std::string target = kFolder + "/ours.bin", cpTarget = kFolder + "/cp.bin";
    std::vector<double> speeds;
    for (auto _ : state) {
        // Each starts with nothing left to write back: the source was just
        // written, and the other's copy would be written back meanwhile.
        double cp = 0, ours = 0;
        auto copyByCp = [&] {
            run("sync");
            cp = seconds([&] { run("cp " + kSource + " " + cpTarget + " && sync " + cpTarget); });
        };
        auto copyByUs = [&] {
            run("sync");
            ours = seconds([&] {
                if (copyFileWithProgress(utf8ToWide(kSource), utf8ToWide(target)) != CopyResult::Copied) std::abort();
            });
        };
        if (speeds.size() % 2 == 0) copyByCp(), copyByUs();
        else copyByUs(), copyByCp();
        speeds.push_back(cp / ours);
        std::fprintf(stderr, "1 GiB copy: ours %.3f s, cp && sync %.3f s, speed %.2f of cp's\n", ours, cp, cp / ours);
        state.SetIterationTime(ours);
        state.counters["ours_s"] = ours;
        state.counters["cp_sync_s"] = cp;
        std::filesystem::remove(target);
        std::filesystem::remove(cpTarget);
    }
    state.counters["median_speed_vs_cp"] = median(speeds);
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

BENCHMARK(BM_CopyAgainstCp)->UseManualTime()->Iterations(8)->Unit(benchmark::kMillisecond);
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
