// Restore of a backup set of 10,000 small files into an empty source folder
// (questions answered OK at once) against cp -r of the same files, with and
// without a final sync; with the program's pacing and with the pacing off.
// Run by hand; prints the ratios.
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>

#include "engine/backup_sets.h"
#include "engine/restore_tasks.h"
#include "engine/thread_registry.h"
#include "foundation/global_defaults.h"
#include "platform/text.h"
#include "shell/modal_window.h"

namespace {

const std::string kFolder = std::filesystem::current_path().string() + "/bench-restore";
const std::string kArchive = kFolder + "/archive";
const std::string kSource = kFolder + "/source";
const std::string kCpTarget = kFolder + "/cp";
const std::string kSetFile = kFolder + "/set.backup";
constexpr int kFiles = 10000;

void makeSet() {
    BackupSetRecord set;
    set.name = L"bench";
    std::string content(2048, 'x');
    for (int i = 0; i < kFiles; ++i) {
        const std::string relative = "/d" + std::to_string(i / 100) + "/f" + std::to_string(i) + ".txt";
        std::filesystem::create_directories(std::filesystem::path(kArchive + relative).parent_path());
        content[0] = static_cast<char>('a' + i % 26);
        std::ofstream(kArchive + relative, std::ios::binary) << content;
        BackupSetEntry entry;
        entry.sourcePath = utf8ToWide("." + relative);
        entry.archivePath = utf8ToWide(kArchive + relative);
        entry.copied = true;
        entry.restore = true;
        set.files[entry.sourcePath] = entry;
    }
    if (!saveBackupSetFile(utf8ToWide(kSetFile), set)) std::abort();
}

double seconds(const std::function<void()>& work) {
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void run(const std::string& command) {
    if (std::system(command.c_str()) != 0) std::abort();
}

// Answers every question OK, as a user who is quick with the mouse.
void answerQuestions(const std::atomic<bool>& done) {
    while (!done) {
        {
            std::lock_guard<std::mutex> lock(modalMessageMutex);
            if (modalMessage.open) {
                ModalReply reply;
                reply.confirmed = true;
                modalMessage.answers[modalMessage.ticket] = reply;
                modalMessage.open = false;
            }
        }
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
}

double restoreOnce() {
    std::atomic<bool> done{false};
    std::thread user(answerQuestions, std::cref(done));
    const double spent = seconds([] { restoreBackupSetTask(utf8ToWide(kSetFile), utf8ToWide(kSource)); });
    done = true;
    user.join();
    if (!std::filesystem::exists(kSource + "/d99/f9999.txt")) std::abort();
    return spent;
}

void BM_RestoreSetAgainstCp(benchmark::State& state) {
    timings().restorePaceMs = static_cast<uint32_t>(state.range(0));
    timings().shortPollMs = 1;
    for (auto _ : state) {
        std::filesystem::remove_all(kSource);
        std::filesystem::remove_all(kCpTarget);
        run("sync");
        const double ours = restoreOnce();
        run("sync");
        const double cp = seconds([] { run("cp -r " + kArchive + " " + kCpTarget); });
        std::filesystem::remove_all(kCpTarget);
        run("sync");
        const double cpSync = seconds([] { run("cp -r " + kArchive + " " + kCpTarget + " && sync"); });
        std::fprintf(stderr, "restore (pacing %d ms): ours %.3f s, cp -r %.3f s, cp -r && sync %.3f s, ratio %.2f\n",
                     static_cast<int>(state.range(0)), ours, cp, cpSync, ours / cpSync);
        state.SetIterationTime(ours);
        state.counters["ours_s"] = ours;
        state.counters["cp_s"] = cp;
        state.counters["cp_sync_s"] = cpSync;
        state.counters["ours_over_cp"] = ours / cp;
        state.counters["ours_over_cp_sync"] = ours / cpSync;
    }
}
// The product's pacing budget of 2000 ms, then none.
BENCHMARK(BM_RestoreSetAgainstCp)->Arg(2000)->Arg(0)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    std::filesystem::remove_all(kFolder);
    setenv("LOCALAPPDATA", (kFolder + "/data").c_str(), 1);
    setApplicationRunning(true);
    makeSet();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    std::filesystem::remove_all(kFolder);
    return 0;
}
