// A backup-set restore of 10,000 small files as the backup-set restoration
// window starts it, with the engine running (change watcher, File Watcher
// pass, Copier, supervisor; product timings) and the set's folder watched:
// restoreBackupSetTask(set file, folder), the call of the window's Restore
// button, runs on a thread of its own and its question is answered OK as the
// question window's button answers it. Timed from that answer to the last
// restored file under its own name (its change time: the rename sets it),
// against `cp -r && sync` of the same files; the two take turns going first.
// With the product's pacing and with none. Run from a folder on the disk to
// measure (not a tmpfs), not within minutes of deleting many files there
// (ext4 passes over freshly freed inodes when it makes a file, which slows
// every file made); VARNHOLT_BENCH_ROUNDS sets the rounds (5).
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/backup_sets.h"
#include "engine/confirm_request.h"
#include "engine/engine_wiring.h"
#include "engine/restore_tasks.h"
#include "engine/thread_registry.h"
#include "foundation/app_config.h"
#include "foundation/global_defaults.h"
#include "foundation/watch_folders.h"
#include "platform/paths.h"
#include "platform/text.h"

#include "bench_support.h"

namespace {
namespace fs = std::filesystem;

const std::string kFolder = fs::current_path().string() + "/bench-restore";
const std::string kWatch = kFolder + "/watch";
const std::string kArchive = kFolder + "/archive";
const std::string kAnchor = kFolder + "/anchor";
const std::string kSetFile = kFolder + "/set.backup";
constexpr int kFiles = 10000;

std::string relativePath(int i) { return "/d" + std::to_string(i / 100) + "/f" + std::to_string(i) + ".txt"; }

void makeSet() {
    BackupSetRecord set;
    set.name = L"bench";
    std::string content(2048, 'x');
    for (int i = 0; i < kFiles; ++i) {
        const std::string relative = relativePath(i);
        fs::create_directories(fs::path(kArchive + relative).parent_path());
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

// The engine of the program, watching the folder the set restores into.
void startEngine() {
    setenv("HOME", (kFolder + "/home").c_str(), 1);
    setenv("LOCALAPPDATA", (kFolder + "/home/local").c_str(), 1);
    setenv("USERPROFILE", (kFolder + "/home").c_str(), 1);
    applyPlatformEnvironmentDefaults();
    fs::create_directories(kWatch);
    fs::create_directories(kAnchor);
    loadAppConfiguration();  // builds the data folder's paths, starts nothing
    {
        std::lock_guard<std::mutex> lock(watchFolderMutex);
        WatchFolderEntry entry;
        entry.displayName = L"watch";
        entry.archivePath = utf8ToWide(kArchive);
        entry.folderType = kFolderTypeDescendents;
        entry.extensionMap[L"*"] = ExtensionEntry{L"*", true, false};
        watchFolderMap[utf8ToWide(kWatch)] = entry;
    }
    saveAppConfiguration();
    wireEngine();
    loadAppConfiguration();  // starts the engine
    std::this_thread::sleep_for(std::chrono::seconds(3));
}

// Answers every question OK as the question window's button does, and
// notes when it answered the first.
void answerQuestions(const std::atomic<bool>& done, std::atomic<double>& firstAnswer) {
    while (!done) {
        {
            std::lock_guard<std::mutex> lock(modalMessageMutex);
            if (modalMessage.open && modalMessage.ticket != 0 && !modalMessage.answers.count(modalMessage.ticket)) {
                ModalReply reply;
                reply.confirmed = true;
                modalMessage.answers[modalMessage.ticket] = reply;
                modalMessage.open = false;
                modalAnswerKept.notify_all();
                if (firstAnswer.load() == 0) firstAnswer = realNow();
            }
        }
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
}

// The restore into `folder` of the watch folder, from the answer to the
// last file named.
double restoreOnce(const std::string& folder) {
    std::atomic<bool> done{false};
    std::atomic<double> confirmed{0};
    std::thread user(answerQuestions, std::cref(done), std::ref(confirmed));
    std::thread task(restoreBackupSetTask, utf8ToWide(kSetFile), utf8ToWide(folder));
    task.join();
    done = true;
    user.join();
    double last = 0;
    for (int i = 0; i < kFiles; ++i) {
        struct stat st {};
        if (stat((folder + relativePath(i)).c_str(), &st) != 0) std::abort();
        last = std::max(last, static_cast<double>(st.st_ctim.tv_sec) + st.st_ctim.tv_nsec / 1e9);
    }
    return last - confirmed.load();
}

double anchorOnce(const std::string& target) {
    run("sync");
    const auto start = std::chrono::steady_clock::now();
    run("cp -r " + kArchive + " " + target + " && sync");
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void BM_RestoreSetAgainstCp(benchmark::State& state) {
    const int pacing = static_cast<int>(state.range(0));
    timings().restorePaceMs = static_cast<uint32_t>(pacing);
    std::vector<double> ratios, spentTimes;
    for (auto _ : state) {
        // Each round writes into folders of its own, all deleted at the end:
        // ext4 passes over inodes freed in the last minute when it makes a
        // file, so files made next to many just deleted take many times
        // longer, on either side.
        for (int round = 0; round < rounds(); ++round) {
            const std::string load = loadText();
            const bool anchorFirst = round % 2 == 1;
            const std::string name = "/pacing" + std::to_string(pacing) + "-round" + std::to_string(round);
            double anchor = anchorFirst ? anchorOnce(kAnchor + name) : 0;
            run("sync");
            const double ours = restoreOnce(kWatch + name);
            if (!anchorFirst) anchor = anchorOnce(kAnchor + name);
            std::fprintf(stderr,
                         "restore, pacing %d ms, round %d (%s first, load %s): ours %.3f s, anchor cp -r && sync "
                         "%.3f s, ratio %.2f\n",
                         pacing, round + 1, anchorFirst ? "anchor" : "ours", load.c_str(), ours, anchor,
                         ours / anchor);
            ratios.push_back(ours / anchor);
            spentTimes.push_back(ours);
            state.SetIterationTime(ours);
        }
    }
    state.counters["median_ours_s"] = median(spentTimes);
    state.counters["median_ratio"] = median(ratios);
}
// The product's pacing budget of 2000 ms, then none.
BENCHMARK(BM_RestoreSetAgainstCp)->Arg(2000)->Arg(0)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    fs::remove_all(kFolder);
    makeSet();
    startEngine();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    setApplicationRunning(false);
    waitForEngineThreads(10000);
    fs::remove_all(kFolder);
    run("sync");  // freed inodes that are written out are passed over for one minute, not six
    return 0;
}
