// The file dialog on a folder of 100,000 files: opening it (scan, complete,
// sort by name) against `ls -la` of the same folder, with the memory each
// needs; and the CPU time of one frame of the dialog listing it (Dear ImGui
// without renderer, rows through the list clipper). Run by hand.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "filedialog/dialog_state.h"
#include "filedialog/file_dialog.h"
#include "tests/imgui_headless.h"

namespace {

const std::string kFolder = std::filesystem::current_path().string() + "/bench-file-dialog";
constexpr int kFiles = 100000;

void makeFolder() {
    std::filesystem::create_directories(kFolder);
    for (int i = 0; i < kFiles; ++i) {
        const std::string path = kFolder + "/file" + std::to_string(i) + ".txt";
        const int fd = ::open(path.c_str(), O_CREAT | O_WRONLY, 0644);
        if (fd < 0) std::abort();
        if (i % 7 == 0 && ::write(fd, "data", 4) != 4) std::abort();
        ::close(fd);
    }
}

double seconds(const std::function<void()>& work) {
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Resident memory of this process now, in MiB.
double residentMiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::atof(line.c_str() + 6) / 1024.0;
    return 0;
}

double childrenPeakMiB() {
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

size_t openFolder(VFD::DialogState& state) {
    state.filters.filterText = ".txt";
    VFD::parseFilters(state.filters, ".txt");
    state.files.currentPath = kFolder;
    VFD::openCurrentPath(state);
    return state.files.fileList.size();
}

void BM_OpenFolderAgainstLs(benchmark::State& state) {
    const std::string ls = "ls -la " + kFolder + " > /dev/null";
    if (std::system(ls.c_str()) != 0) std::abort();  // warm the cache
    double listMiB = 0;  // the first opening shows it; later ones reuse freed memory
    for (auto _ : state) {
        const double before = residentMiB();
        size_t listed = 0;
        double ours = 0;
        {
            VFD::DialogState dialog;
            ours = seconds([&] { listed = openFolder(dialog); });
            listMiB = std::max(listMiB, residentMiB() - before);
            state.counters["ours_list_MiB"] = listMiB;
        }
        if (listed != kFiles + 1) std::abort();
        const double lsTime = seconds([&] {
            if (std::system(ls.c_str()) != 0) std::abort();
        });
        state.SetIterationTime(ours);
        state.counters["ours_s"] = ours;
        state.counters["ls_s"] = lsTime;
        state.counters["ours_over_ls"] = ours / lsTime;
        state.counters["ls_peak_MiB"] = childrenPeakMiB();
    }
}
BENCHMARK(BM_OpenFolderAgainstLs)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);

void BM_FrameListing100000(benchmark::State& state) {
    HeadlessImGui ui;
    ImGui::GetIO().DisplaySize = ImVec2(1280, 800);
    VFD::FileDialog dialog;
    VFD::DialogOpenOptions options;
    options.path = kFolder;
    options.flags = VFD::OptModal;
    dialog.OpenDialog("BenchKey", "Open a File", ".txt", options);
    auto draw = [&] { dialog.DisplayDialog("BenchKey", ImGuiWindowFlags_NoCollapse, ImVec2(1000, 700)); };
    ui.frame(draw);  // the first frame lists the folder
    ui.frame(draw);
    if (dialog.state().files.filteredList.size() != kFiles + 1) std::abort();
    for (auto _ : state) ui.frame(draw);
}
BENCHMARK(BM_FrameListing100000)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    std::filesystem::remove_all(kFolder);
    makeFolder();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    std::filesystem::remove_all(kFolder);
    return 0;
}
