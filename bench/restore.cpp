// A backup-set restore as the backup-set restoration window starts it, with
// the engine running (change watcher, File Watcher pass, Copier, supervisor;
// product timings) and the set's folder watched: restoreBackupSetTask(set
// file, folder), the call of the window's Restore button, runs on a thread of
// its own and its questions are answered OK as the question window's button
// answers them. Timed from that answer to the last restored file under its
// own name (its change time: the rename sets it) and to the end of the task,
// against `cp -r && sync` of the same files; the two take turns going first.
// Cases: 10,000 files of 2 KiB in 100 folders, with the product's pacing and
// with none; 240 files of 8 MiB in 8 folders, with none. One more restore of
// each case counts the copies' temporary files from outside (inotify): the
// most at once, and the most bytes they held. Run from a folder on the disk to
// measure (not a tmpfs), not within minutes of deleting many files there
// (ext4 passes over freshly freed inodes when it makes a file, which slows
// every file made); VARNHOLT_BENCH_ROUNDS sets the rounds (5).
#include <benchmark/benchmark.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
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
#include "platform/file_copy.h"
#include "platform/paths.h"
#include "platform/text.h"

#include "bench_support.h"

namespace {
namespace fs = std::filesystem;

const std::string kFolder = fs::current_path().string() + "/bench-restore";
const std::string kWatch = kFolder + "/watch";
const std::string kArchive = kFolder + "/archive";
const std::string kAnchor = kFolder + "/anchor";

// A set of `count` files of `bytes` in `folders` folders.
struct RestoreCase {
    const char* name;
    int count;
    size_t bytes;
    int folders;
};

std::string relativePath(const RestoreCase& c, int i) {
    return "/d" + std::to_string(i % c.folders) + "/f" + std::to_string(i) + ".bin";
}
std::string archiveOf(const RestoreCase& c) { return kArchive + "/" + c.name; }
std::string setFileOf(const RestoreCase& c) { return kFolder + "/" + c.name + ".backup"; }

void makeSet(const RestoreCase& c) {
    BackupSetRecord set;
    set.name = utf8ToWide(c.name);
    std::string content(c.bytes, 'x');
    for (int i = 0; i < c.count; ++i) {
        const std::string relative = relativePath(c, i);
        const std::string archived = archiveOf(c) + relative;
        fs::create_directories(fs::path(archived).parent_path());
        for (size_t at = 0; at < content.size(); at += 4096) content[at] = static_cast<char>('a' + (i + at) % 26);
        std::ofstream(archived, std::ios::binary) << content;
        BackupSetEntry entry;
        entry.sourcePath = utf8ToWide("." + relative);
        entry.archivePath = utf8ToWide(archived);
        entry.copied = true;
        entry.restore = true;
        set.files[entry.sourcePath] = entry;
    }
    if (!saveBackupSetFile(utf8ToWide(setFileOf(c)), set)) std::abort();
    run("sync");
}

// The engine of the program, watching the folder the sets restore into.
void startEngine() {
    setenv("HOME", (kFolder + "/home").c_str(), 1);
    setenv("LOCALAPPDATA", (kFolder + "/home/local").c_str(), 1);
    setenv("USERPROFILE", (kFolder + "/home").c_str(), 1);
    applyPlatformEnvironmentDefaults();
    for (const std::string& folder : {kWatch, kArchive, kAnchor}) fs::create_directories(folder);
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

// The copies' temporary files below a folder, counted from outside through
// inotify: one made adds one, its bytes count once it is closed after
// writing, one renamed away or deleted leaves. The folders must be there
// before: one made later is not watched.
struct TemporaryWatch {
    int fd = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    std::map<int, std::string> folders;     // watch descriptor -> path
    std::map<std::string, uint64_t> alive;  // temporary -> its bytes
    uint64_t bytes = 0;
    size_t peakCount = 0;
    uint64_t peakBytes = 0;
    bool overflowed = false;
    std::atomic<bool> stop{false};
    std::thread reader;

    explicit TemporaryWatch(const std::string& root) {
        if (fd < 0) std::abort();
        watchTree(root);
        reader = std::thread([this] { readEvents(); });
    }
    // Once the events so far are read.
    ~TemporaryWatch() {
        stop = true;
        reader.join();
        close(fd);
    }
    void watchTree(const std::string& path) {
        const int wd = inotify_add_watch(fd, path.c_str(), IN_CREATE | IN_CLOSE_WRITE | IN_MOVED_FROM | IN_DELETE);
        if (wd < 0) std::abort();
        folders[wd] = path;
        for (const auto& entry : fs::directory_iterator(path))
            if (entry.is_directory()) watchTree(entry.path().string());
    }
    void handle(const inotify_event& event) {
        if (event.mask & IN_Q_OVERFLOW) overflowed = true;
        const auto folder = folders.find(event.wd);
        if (folder == folders.end() || event.len == 0 || !isCopyTemporaryName(utf8ToWide(event.name))) return;
        const std::string path = folder->second + "/" + event.name;
        if (event.mask & IN_CREATE) alive.emplace(path, 0);
        const auto found = alive.find(path);
        if (found == alive.end()) return;
        struct stat st {};
        if ((event.mask & IN_CLOSE_WRITE) && stat(path.c_str(), &st) == 0) {
            bytes += static_cast<uint64_t>(st.st_size) - found->second;
            found->second = static_cast<uint64_t>(st.st_size);
        }
        if (event.mask & (IN_MOVED_FROM | IN_DELETE)) {
            bytes -= found->second;
            alive.erase(found);
        }
        peakCount = std::max(peakCount, alive.size());
        peakBytes = std::max(peakBytes, bytes);
    }
    void readEvents() {
        alignas(inotify_event) char buffer[1 << 16];
        for (;;) {
            pollfd ready{fd, POLLIN, 0};
            if (poll(&ready, 1, 10) <= 0) {
                if (stop) return;
                continue;
            }
            const ssize_t got = read(fd, buffer, sizeof buffer);
            for (ssize_t at = 0; at < got;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                handle(*event);
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            }
        }
    }
};

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

struct Restored {
    double named = 0;  // answer -> last file named
    double ended = 0;  // answer -> the task's end
};

// The restore of the case into `folder` of the watch folder.
Restored restoreOnce(const RestoreCase& c, const std::string& folder) {
    Restored restored;
    std::atomic<bool> done{false};
    std::atomic<double> confirmed{0};
    std::thread user(answerQuestions, std::cref(done), std::ref(confirmed));
    std::thread task(restoreBackupSetTask, utf8ToWide(setFileOf(c)), utf8ToWide(folder));
    task.join();
    const double ended = realNow();
    done = true;
    user.join();
    double last = 0;
    for (int i = 0; i < c.count; ++i) {
        struct stat st {};
        if (stat((folder + relativePath(c, i)).c_str(), &st) != 0) std::abort();
        last = std::max(last, static_cast<double>(st.st_ctim.tv_sec) + st.st_ctim.tv_nsec / 1e9);
    }
    restored.named = last - confirmed.load();
    restored.ended = ended - confirmed.load();
    return restored;
}

// The most temporaries at once, counted in a restore of their own, untimed,
// into folders made beforehand (so that each temporary is seen from when it
// is made).
void countTemporaries(const RestoreCase& c, const std::string& folder, benchmark::State& state) {
    for (int i = 0; i < c.count; ++i) fs::create_directories(fs::path(folder + relativePath(c, i)).parent_path());
    size_t count = 0;
    double mib = 0;
    bool overflowed = false;
    {
        TemporaryWatch watch(folder);
        run("sync");
        restoreOnce(c, folder);
        count = watch.peakCount;
        mib = static_cast<double>(watch.peakBytes) / (1 << 20);
        overflowed = watch.overflowed;
    }
    std::fprintf(stderr, "restore %s: peak temporaries %zu files, %.1f MiB%s\n", c.name, count, mib,
                 overflowed ? " (inotify queue overflowed: too few)" : "");
    state.counters["peak_temporaries"] = static_cast<double>(count);
    state.counters["peak_temporary_MiB"] = mib;
}

double anchorOnce(const RestoreCase& c, const std::string& target) {
    run("sync");
    const auto start = std::chrono::steady_clock::now();
    run("cp -r " + archiveOf(c) + " " + target + " && sync");
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

std::string roundName(const RestoreCase& c, int pacing, int round) {
    return std::string("/") + c.name + "-pacing" + std::to_string(pacing) + "-round" + std::to_string(round);
}

void BM_RestoreSetAgainstCp(benchmark::State& state, RestoreCase c) {
    const int pacing = static_cast<int>(state.range(0));
    timings().restorePaceMs = static_cast<uint32_t>(pacing);
    if (!fs::exists(setFileOf(c))) makeSet(c);
    std::vector<double> ratios, namedRatios, spentTimes;
    for (auto _ : state) {
        // Each round writes into folders of its own: ext4 passes over inodes
        // freed in the last minute when it makes a file, so files made next
        // to many just deleted take many times longer, on either side.
        for (int round = 0; round < rounds(); ++round) {
            const std::string load = loadText();
            const bool anchorFirst = round % 2 == 1;
            const std::string name = roundName(c, pacing, round);
            double anchor = anchorFirst ? anchorOnce(c, kAnchor + name) : 0;
            run("sync");
            const Restored ours = restoreOnce(c, kWatch + name);
            if (!anchorFirst) anchor = anchorOnce(c, kAnchor + name);
            std::fprintf(stderr,
                         "restore %s, pacing %d ms, round %d (%s first, load %s): ours %.3f s to the last name, "
                         "%.3f s to the task's end, anchor cp -r && sync %.3f s, ratio %.2f (to the last name "
                         "%.2f)\n",
                         c.name, pacing, round + 1, anchorFirst ? "anchor" : "ours", load.c_str(), ours.named,
                         ours.ended, anchor, ours.ended / anchor, ours.named / anchor);
            ratios.push_back(ours.ended / anchor);
            namedRatios.push_back(ours.named / anchor);
            spentTimes.push_back(ours.ended);
            state.SetIterationTime(ours.ended);
        }
        countTemporaries(c, kWatch + roundName(c, pacing, rounds()), state);
    }
    // Few large files leave at once: the next case makes files among few
    // freed inodes. Many small ones stay until the end.
    if (c.count <= 1000) {
        for (int round = 0; round <= rounds(); ++round) {
            fs::remove_all(kWatch + roundName(c, pacing, round));
            fs::remove_all(kAnchor + roundName(c, pacing, round));
        }
        run("sync");
    }
    state.counters["median_ours_s"] = median(spentTimes);
    state.counters["median_ratio"] = median(ratios);
    state.counters["median_ratio_last_name"] = median(namedRatios);
}
// The product's pacing budget of 2000 ms, then none.
BENCHMARK_CAPTURE(BM_RestoreSetAgainstCp, files_10000_of_2KiB, RestoreCase{"files_10000_of_2KiB", 10000, 2048, 100})
    ->Arg(2000)->Arg(0)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_RestoreSetAgainstCp, files_240_of_8MiB, RestoreCase{"files_240_of_8MiB", 240, 8 << 20, 8})
    ->Arg(0)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    fs::remove_all(kFolder);
    startEngine();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    setApplicationRunning(false);
    waitForEngineThreads(10000);
    fs::remove_all(kFolder);
    run("sync");  // freed inodes that are written out are passed over for one minute, not six
    return 0;
}
