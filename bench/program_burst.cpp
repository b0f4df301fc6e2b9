// A burst of files written into a watch folder of the running program, timed
// from outside: the real binary (test build, VARNHOLT_BINARY or the one built
// beside this benchmark) watches one folder with the product's timings, but
// for a shorter settle time. One iteration copies the files into the watch
// folder with cp (the burst) and waits until the last one is archived under
// its own name and the version records file lists them all; then `cp -r &&
// sync` of the same files is the anchor. The two take turns going first.
//
// Times are read from the disk afterwards, so watching costs the program
// nothing: the archive folder's birth time is when copying began, a copy's
// change time is when it took its name (rename sets it), the records file's
// change time is when it was saved.
//   wait    = last write -> copying began (the settle time, as designed, and
//             the watcher, the File Watcher pass and the supervisor)
//   copying = copying began -> last copy named and recorded
//   ratio   = copying / anchor; also (wait + copying - settle) / anchor
// Cases: 1,000 files of 1 MiB, 10,000 files of 2 KiB in 100 folders, one
// 1 GiB file. Run from a folder on the disk to measure (not a tmpfs), not
// within minutes of deleting many files there (ext4 passes over freshly
// freed inodes when it makes a file, which slows every file made);
// VARNHOLT_BENCH_ROUNDS sets the rounds per case (5).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "foundation/data_packet.h"
#include "foundation/data_record.h"
#include "foundation/global_defaults.h"
#include "platform/text.h"

#include "bench_support.h"

namespace {
namespace fs = std::filesystem;

const std::string kFolder = fs::current_path().string() + "/bench-program-burst";
const std::string kSources = kFolder + "/sources";
constexpr uint32_t kSettleMs = 10000;  // the product's: longer than any burst here, one batch

double seconds(const timespec& t) { return static_cast<double>(t.tv_sec) + t.tv_nsec / 1e9; }

std::string programPath() {
    if (const char* path = getenv("VARNHOLT_BINARY")) return path;
    return VARNHOLT_BINARY_PATH;
}

// The program with a home of its own and one watch folder (with its
// sub-folders, every extension, numbered versions).
struct Program {
    std::string root;
    std::string home;
    std::string watch;
    std::string archive;
    pid_t pid = -1;

    explicit Program(const std::string& folder)
        : root(folder), home(root + "/home"), watch(root + "/watch"), archive(root + "/archive") {}
    std::string configFolder() const { return home + "/.local/share/Morvane/QZR/ConfigData"; }
    std::string recordsFile() const { return home + "/.local/share/Morvane/QZR/FileMetaData/abc.md"; }

    pid_t spawn(const std::vector<std::string>& args) const {
        const std::map<std::string, std::string> env = {
            {"HOME", home},
            {"XDG_CONFIG_HOME", home + "/.config"},
            {"XDG_DATA_HOME", home + "/.local/share"},
            {"XDG_RUNTIME_DIR", root + "/run"},
            {"SDL_VIDEODRIVER", "offscreen"},
            {"VARNHOLT_NO_MSGBOX", "1"},
            {"PATH", getenv("PATH") ? getenv("PATH") : "/usr/bin:/bin"},
            {"VARNHOLT_TEST_TIMINGS",
             "settleMs=" + std::to_string(kSettleMs) + ",shutdownGraceMs=300,watcherStopMs=500"},
        };
        std::vector<std::string> envText;
        for (const auto& [name, value] : env) envText.push_back(name + "=" + value);
        const std::string binary = programPath();
        const pid_t child = fork();
        if (child != 0) return child;
        const int out = open((root + "/output.txt").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        dup2(out, 1);
        dup2(out, 2);
        std::vector<char*> argv{const_cast<char*>(binary.c_str())};
        for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        std::vector<char*> envp;
        for (std::string& text : envText) envp.push_back(text.data());
        envp.push_back(nullptr);
        execve(binary.c_str(), argv.data(), envp.data());
        _exit(127);
    }

    void install() {
        fs::remove_all(root);
        for (const std::string& folder : {home + "/.config", home + "/.local/share", root + "/run", watch, archive})
            fs::create_directories(folder);
        chmod((root + "/run").c_str(), 0700);
        int status = 0;
        waitpid(spawn({"install"}), &status, 0);
        DataRecord user;
        addRecordSection(user, "user");
        const RecordSectionHandle section = getRecordSection(user, "user");
        setRecordWString(section, "fi", utf8ToWide("I[||]" + watch + "[||]p[||]u[||]" + archive + "[||]s"),
                         kRecordAppend);
        setRecordWString(section, "ei", utf8ToWide("t[||]" + watch + "[||]*[||]*"), kRecordAppend);
        if (!saveDataRecordFile(user, "user", utf8ToWide(configFolder() + "/User.dat"), kDataFilePassPhrase))
            std::abort();
    }

    // Starts the program and waits until a file written into the watch
    // folder is archived: the watch is up.
    // A write made before the watch is open may be missed: it is made again
    // every second until archived.
    void start() {
        pid = spawn({});
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
        for (int round = 0; !fs::exists(archive + "/probe.txt"); ++round) {
            if (std::chrono::steady_clock::now() > deadline) std::abort();
            if (round % 40 == 0) std::ofstream(watch + "/probe.txt") << "probe " << round;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        // Then the program is left to finish with it (a rewrite made while
        // it was copied is copied after another settle time).
        while (recordCount() == 0) {
            if (std::chrono::steady_clock::now() > deadline) std::abort();
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2 * kSettleMs + 1000));
    }

    void stop() {
        if (pid <= 0) return;
        kill(pid, SIGTERM);
        int status = 0;
        waitpid(pid, &status, 0);
        pid = -1;
    }

    // The records the file lists; 0 when it cannot be read.
    size_t recordCount() const {
        DataRecord records;
        if (!loadDataRecordFile(records, "abc", utf8ToWide(recordsFile()), "")) return 0;
        return getRecordValueCount(getRecordSection(records, "abc"), "item");
    }
};

// Files of the case, made once: `count` files of `bytes` in `folders` folders.
struct BurstCase {
    const char* name;
    int count;
    size_t bytes;
    int folders;
};

void removeRounds(const std::string& prefix) {
    for (int round = 0; fs::exists(kFolder + "/program" + prefix + std::to_string(round)); ++round) {
        fs::remove_all(kFolder + "/program" + prefix + std::to_string(round));
        fs::remove_all(kFolder + "/anchor" + prefix + std::to_string(round));
    }
    run("sync");
}

std::string caseFolder(const BurstCase& c) { return kSources + "/" + c.name; }

void makeSources(const BurstCase& c) {
    const std::string base = caseFolder(c);
    if (fs::exists(base + "/done")) return;
    fs::remove_all(base);
    std::vector<char> block(std::min<size_t>(c.bytes, 1 << 20));
    for (int i = 0; i < c.count; ++i) {
        const std::string folder = base + "/files" + (c.folders > 1 ? "/d" + std::to_string(i % c.folders) : "");
        fs::create_directories(folder);
        std::ofstream out(folder + "/f" + std::to_string(i) + ".bin", std::ios::binary);
        for (size_t written = 0; written < c.bytes; written += block.size()) {
            for (size_t j = 0; j < block.size(); j += 512) block[j] = static_cast<char>(i + j / 512 + written);
            out.write(block.data(), static_cast<std::streamsize>(std::min(block.size(), c.bytes - written)));
        }
    }
    std::ofstream(base + "/done") << "made";
    run("sync");
}

struct Timed {
    double wait = 0, copying = 0, anchor = 0;
};

// Polls the records file (a stat every 20 ms, a read only when it changed)
// until it lists `count` copies besides the probe; its change time then.
double waitForRecords(const Program& program, size_t count) {
    timespec seen{};
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(600);
    for (;;) {
        struct stat st {};
        if (stat(program.recordsFile().c_str(), &st) == 0 &&
            (st.st_ctim.tv_sec != seen.tv_sec || st.st_ctim.tv_nsec != seen.tv_nsec)) {
            seen = st.st_ctim;
            if (program.recordCount() >= count + 1) return seconds(seen);
        }
        if (std::chrono::steady_clock::now() > deadline) std::abort();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

// Latest change time of the copies below `folder`, and their number.
double lastNamed(const std::string& folder, size_t& copies) {
    double last = 0;
    copies = 0;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (!entry.is_regular_file()) continue;
        struct stat st {};
        if (stat(entry.path().c_str(), &st) != 0) continue;
        ++copies;
        last = std::max(last, seconds(st.st_ctim));
    }
    return last;
}

double birthTime(const std::string& path) {
    struct statx st {};
    if (statx(AT_FDCWD, path.c_str(), 0, STATX_BTIME, &st) != 0 || !(st.stx_mask & STATX_BTIME)) std::abort();
    return static_cast<double>(st.stx_btime.tv_sec) + st.stx_btime.tv_nsec / 1e9;
}

double anchorRun(const std::string& from, const std::string& target) {
    run("sync");
    const auto start = std::chrono::steady_clock::now();
    run("cp -r " + from + " " + target + " && sync");
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Nothing is deleted between the rounds of a case: ext4 passes over inodes
// freed in the last minute when it makes a file, so files made next to many
// just deleted take many times longer, on either side.
Timed burstOnce(const BurstCase& c, int round) {
    const bool anchorFirst = round % 2 == 1;
    const std::string anchor = kFolder + "/anchor" + c.name + std::to_string(round);
    Program program(kFolder + "/program" + c.name + std::to_string(round));
    program.install();
    program.start();
    Timed timed;
    const std::string files = caseFolder(c) + "/files";
    if (anchorFirst) timed.anchor = anchorRun(files, anchor);
    run("sync");
    const std::string burst = program.watch + "/burst";
    run("cp -r " + files + " " + burst);
    const double lastWrite = realNow();
    const double recorded = waitForRecords(program, static_cast<size_t>(c.count));
    size_t copies = 0;
    const std::string archived = program.archive + "/burst";
    const double named = lastNamed(archived, copies);
    if (copies != static_cast<size_t>(c.count)) std::abort();
    const double began = birthTime(archived);
    timed.wait = began - lastWrite;
    timed.copying = std::max(named, recorded) - std::max(began, lastWrite);
    program.stop();
    if (!anchorFirst) timed.anchor = anchorRun(files, anchor);
    return timed;
}

void BM_BurstThroughTheProgram(benchmark::State& state, BurstCase c) {
    makeSources(c);
    std::vector<double> ratios, settledRatios;
    for (auto _ : state) {
        for (int round = 0; round < rounds(); ++round) {
            const std::string load = loadText();
            const Timed t = burstOnce(c, round);
            const double settled = t.wait + t.copying - kSettleMs / 1000.0;
            ratios.push_back(t.copying / t.anchor);
            settledRatios.push_back(settled / t.anchor);
            std::fprintf(stderr,
                         "%s round %d (%s first, load %s): wait %.3f s, copying %.3f s, anchor cp -r && sync "
                         "%.3f s, ratio %.2f; wait+copying-settle %.3f s, ratio %.2f\n",
                         c.name, round + 1, round % 2 ? "anchor" : "ours", load.c_str(), t.wait, t.copying,
                         t.anchor, t.copying / t.anchor, settled, settled / t.anchor);
            state.SetIterationTime(t.copying);
        }
    }
    // A case of few large files leaves at once: the next case makes files
    // among few freed inodes. Many small ones stay until the end.
    if (c.count <= 1000) removeRounds(c.name);
    state.counters["median_ratio"] = median(ratios);
    state.counters["median_ratio_settle_subtracted"] = median(settledRatios);
}

BENCHMARK_CAPTURE(BM_BurstThroughTheProgram, files_10000_of_2KiB, BurstCase{"files_10000_of_2KiB", 10000, 2048, 100})
    ->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_BurstThroughTheProgram, files_1000_of_1MiB, BurstCase{"files_1000_of_1MiB", 1000, 1 << 20, 1})
    ->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_BurstThroughTheProgram, file_1_of_1GiB, BurstCase{"file_1_of_1GiB", 1, 1ull << 30, 1})
    ->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    removeRounds("files_10000_of_2KiB");
    return 0;
}
