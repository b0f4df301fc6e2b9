// The real program finds changes again after it lost sight of them: a watch
// folder deleted and made again, and a run killed at any moment.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <thread>
#include <vector>

#include "engine/backup_scan.h"
#include "foundation/data_packet.h"
#include "foundation/data_record.h"
#include "foundation/global_defaults.h"
#include "platform/file_copy.h"
#include "platform/text.h"
#include "program_home.h"
#include "test_env.h"

namespace {
namespace fs = std::filesystem;
using namespace std::chrono_literals;

const char* const kShortTimings =
    "settleMs=300,pollMs=20,shortPollMs=10,busyPassMs=50,idlePassMs=100,shutdownGraceMs=300,watcherStopMs=500";

bool waitFor(const std::function<bool()>& done, std::chrono::seconds patience = 30s) {
    const auto deadline = std::chrono::steady_clock::now() + patience;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

std::wstring wide(const std::string& text) { return utf8ToWide(text); }

// The program with its own home, one watch folder (with its sub-folders,
// ".txt" files, numbered versions) and its archive.
struct WatchingProgram : programtest::ProgramHome {
    std::string watch = root + "/Docs";
    std::string archive = root + "/archive";
    std::string errors = root + "/err.txt";

    WatchingProgram() {
        fs::create_directories(watch);
        fs::create_directories(archive);
        env["VARNHOLT_TEST_TIMINGS"] = kShortTimings;
        if (wait(start({"install"})) != 0) return;
        watchAlso({});
    }
    // Lists the watch folder, and the other folders given, each with its archive.
    void watchAlso(const std::vector<std::pair<std::string, std::string>>& others) const {
        DataRecord user;
        addRecordSection(user, "user");
        const RecordSectionHandle section = getRecordSection(user, "user");
        for (const auto& [folder, folderArchive] : others) fs::create_directories(folder);
        std::vector<std::pair<std::string, std::string>> all{{watch, archive}};
        all.insert(all.end(), others.begin(), others.end());
        for (const auto& [folder, folderArchive] : all) {
            setRecordWString(section, "fi", wide("I[||]" + folder + "[||]p[||]u[||]" + folderArchive + "[||]s"),
                             kRecordAppend);
            setRecordWString(section, "ei", wide("t[||]" + folder + "[||]txt[||]txt"), kRecordAppend);
        }
        saveDataRecordFile(user, "user", wide(configFolder() + "/User.dat"), kDataFilePassPhrase);
    }

    pid_t start(const std::vector<std::string>& args = {}) const {
        fs::remove(traceLog());  // started() waits for this run's trace
        return ProgramHome::start(args, errors);
    }
    // The exit code as the shell sees it; minus the signal that ended it.
    int wait(pid_t pid) const {
        const programtest::ProcessRun run = ProgramHome::wait(pid, errors);
        return run.signal != 0 ? -run.signal : run.exitCode;
    }
    bool started() const {
        return waitFor([&] {
            return readTestFile(configFolder() + "/logString.txt").find("Start Event Loop & UI") != std::string::npos;
        });
    }
    // The newest archived copy of a file of the watch folder, as the archive names it.
    std::string newestCopy(const std::string& file) const {
        std::vector<std::wstring> copies;
        scanFolderExtensions(wide(archive + file.substr(watch.size())), copies);
        return copies.empty() ? "" : wideToUtf8(copies.front());
    }
    bool archivedAsItIs(const std::string& file) const {
        const std::string copy = newestCopy(file);
        return !copy.empty() && readTestFile(copy) == readTestFile(file);
    }
    // Every line of the application log the last clean stop saved.
    std::vector<std::string> logLines() const {
        DataRecord log;
        std::vector<std::string> lines;
        if (!loadDataRecordFile(log, "notifications", wide(configFolder() + "/Notifications.dat"), kDataFilePassPhrase))
            return lines;
        const RecordSectionHandle section = getRecordSection(log, "notifications");
        std::wstring line;
        for (uint32_t i = 0; getRecordWString(section, "ni", line, i); ++i) lines.push_back(wideToUtf8(line));
        return lines;
    }
    size_t logLinesWith(const std::string& text) const {
        size_t count = 0;
        for (const std::string& line : logLines()) count += line.find(text) != std::string::npos;
        return count;
    }
};

// A started program; one that a failed test leaves behind is killed.
struct Running {
    const WatchingProgram& program;
    pid_t pid = -1;
    int end(int signal) {
        kill(pid, signal);
        const int code = program.wait(pid);
        pid = -1;
        return code;
    }
    ~Running() {
        if (pid > 0) end(SIGKILL);
    }
};

// The archived copies the records file lists (paths below the archive).
std::set<std::string> recordedCopies(const WatchingProgram& program) {
    DataRecord records;
    std::set<std::string> copies;
    if (!loadDataRecordFile(records, "abc", wide(program.dataFolder() + "/FileMetaData/abc.md"), "")) return copies;
    const RecordSectionHandle section = getRecordSection(records, "abc");
    std::wstring item;
    for (uint32_t i = 0; getRecordWString(section, "item", item, i); ++i) {
        const std::string text = wideToUtf8(item);
        const size_t start = text.find("[||]{{root}}");
        const size_t end = text.find("[||]", start + 4);
        if (start != std::string::npos) copies.insert(text.substr(start + 12, end - start - 12));
    }
    return copies;
}

// Each data file decodes with its section and pass phrase.
void expectEveryDataFileDecodes(const WatchingProgram& program) {
    const std::map<std::string, std::string> sections = {{"Config.dat", "main"},         {"User.dat", "user"},
                                                         {"Notifications.dat", "notifications"},
                                                         {"CopyQueue.dat", "cq"},        {"BS_Notes.dat", "bsnotes"}};
    size_t decoded = 0;
    for (const auto& entry : fs::recursive_directory_iterator(program.dataFolder())) {
        const std::string name = entry.path().filename();
        const std::string parent = entry.path().parent_path().filename();
        DataRecord document;
        bool loaded = true;
        if (name == "abc.md") {
            loaded = loadDataRecordFile(document, "abc", wide(entry.path()), "");
        } else if (parent == "Styles") {
            loaded = loadDataRecordFile(document, "styles", wide(entry.path()), kStylePassPhrase);
        } else if (entry.path().extension() == ".dat") {
            const auto known = sections.find(name);
            loaded = loadDataRecordFile(document, known == sections.end() ? "md" : known->second, wide(entry.path()),
                                        kDataFilePassPhrase);
        } else {
            continue;
        }
        // An empty list is saved as an empty file.
        EXPECT_TRUE(loaded || fs::file_size(entry.path()) == 0) << entry.path();
        ++decoded;
    }
    EXPECT_GE(decoded, 5u);
}

}  // namespace

TEST(RecoveryProcess, AWatchFolderThatGoesAndComesBackIsWatchedAgain) {
#ifndef VARNHOLT_TEST_HOOKS
    GTEST_SKIP() << "needs the test builds' short timings";
#endif
    WatchingProgram program;
    Running run{program, program.start()};
    ASSERT_TRUE(program.started()) << readTestFile(program.errors);
    const std::string first = program.watch + "/first.txt";
    // Written until archived: the watch may open after the start is traced.
    ASSERT_TRUE(waitFor([&] {
        writeTestFile(first, "first");
        return program.archivedAsItIs(first);
    })) << (run.end(SIGTERM), "") << ::testing::PrintToString(program.logLines());

    // Made again empty (a new inode, as a re-plugged drive's folder is) after
    // more than one storage check, and at once; a file written straight away.
    for (const auto pause : {500ms, 0ms}) {
        fs::remove_all(program.watch);
        std::this_thread::sleep_for(pause);
        fs::create_directories(program.watch + "/sub");
        const std::string file = program.watch + "/sub/back" + std::to_string(pause.count()) + ".txt";
        ASSERT_TRUE(writeTestFile(file, "back"));
        EXPECT_TRUE(waitFor([&] { return program.archivedAsItIs(file); })) << file;
    }
    EXPECT_EQ(run.end(SIGTERM), 0) << readTestFile(program.errors);
    EXPECT_EQ(program.logLinesWith("\"Docs\" - Folder does not exist: "), 1u);
    EXPECT_EQ(program.logLinesWith("\"Docs\" - Cannot monitor folder: "), 1u);
}

TEST(RecoveryProcess, KilledRunsLoseNoChangeAndNoVersionRecord) {
#ifndef VARNHOLT_TEST_HOOKS
    GTEST_SKIP() << "needs the test builds' short timings";
#endif
    WatchingProgram program;
    std::vector<std::string> written;
    // Killed before the watch opens, during the settle wait, while copying and
    // about when the records are saved.
    const std::vector<std::chrono::milliseconds> killAfter = {0ms, 100ms, 300ms, 450ms, 700ms, 1200ms};
    for (size_t round = 0; round < killAfter.size(); ++round) {
        Running run{program, program.start()};
        ASSERT_TRUE(program.started()) << readTestFile(program.errors);
        for (int i = 0; i < 8; ++i) {
            const std::string file = program.watch + "/r" + std::to_string(round) + "/f" + std::to_string(i) + ".txt";
            fs::create_directories(fs::path(file).parent_path());
            ASSERT_TRUE(writeTestFile(file, std::string(4096 * (i + 1), char('a' + round)) + file));
            written.push_back(file);
        }
        // One file changes every round: its newest version must be the one archived.
        ASSERT_TRUE(writeTestFile(program.watch + "/shared.txt", "round " + std::to_string(round)));
        std::this_thread::sleep_for(killAfter[round]);
        ASSERT_EQ(run.end(SIGKILL), -SIGKILL);
    }
    written.push_back(program.watch + "/shared.txt");

    Running run{program, program.start()};
    ASSERT_TRUE(program.started()) << readTestFile(program.errors);
    for (const std::string& file : written)
        EXPECT_TRUE(waitFor([&] { return program.archivedAsItIs(file); })) << file;
    ASSERT_EQ(run.end(SIGTERM), 0) << readTestFile(program.errors);

    // Every archived copy has its record; no temporary copy is left.
    std::set<std::string> archived;
    for (const auto& entry : fs::recursive_directory_iterator(program.archive)) {
        if (!entry.is_regular_file()) continue;
        EXPECT_FALSE(isCopyTemporaryName(wide(entry.path().filename()))) << entry.path();
        archived.insert(entry.path().string().substr(program.archive.size()));
    }
    EXPECT_EQ(recordedCopies(program), archived);
    expectEveryDataFileDecodes(program);
    // Once per start after an unclean end whose recovery went through.
    const size_t recoveries = program.logLinesWith("The last run did not end cleanly.");
    EXPECT_GE(recoveries, 1u);
    EXPECT_LE(recoveries, killAfter.size());
    EXPECT_FALSE(fs::exists(program.configFolder() + "/Running.mark"));
}

TEST(RecoveryProcess, AFileSavedUnchangedIsComparedItsAttemptsAndThenLeftAlone) {
#ifndef VARNHOLT_TEST_HOOKS
    GTEST_SKIP() << "needs the test builds' short timings";
#endif
    WatchingProgram program;
    const std::string file = program.watch + "/same.txt", later = program.watch + "/later.txt";
    ASSERT_TRUE(writeTestFile(file, "same"));  // the start's comparison archives it
    Running run{program, program.start()};
    ASSERT_TRUE(program.started()) << readTestFile(program.errors);
    ASSERT_TRUE(waitFor([&] { return program.archivedAsItIs(file); }));
    ASSERT_TRUE(writeTestFile(file, "same"));  // saved again, unchanged
    // Each attempt compares the file, reading it; after the last one the file
    // is left alone: nothing opens it for writing, which would make it a
    // change again, for ever.
    const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(inotify_add_watch(watch, file.c_str(), IN_CLOSE_WRITE | IN_CLOSE_NOWRITE), 0);
    size_t closes = 0, writes = 0;
    const auto readEvents = [&] {
        alignas(inotify_event) char buffer[4096];
        for (ssize_t n; (n = read(watch, buffer, sizeof buffer)) > 0;) {
            for (char* p = buffer; p < buffer + n;) {
                const auto* event = reinterpret_cast<const inotify_event*>(p);
                ++closes;
                writes += (event->mask & IN_CLOSE_WRITE) != 0;
                p += sizeof(inotify_event) + event->len;
            }
        }
        return closes > 0;
    };
    // A file changed once the attempts began is copied in the Copier's next
    // batch, after the attempts' batch ended.
    EXPECT_TRUE(waitFor(readEvents));
    ASSERT_TRUE(writeTestFile(later, "later"));
    EXPECT_TRUE(waitFor([&] { return program.archivedAsItIs(later); }));
    EXPECT_EQ(run.end(SIGTERM), 0);
    readEvents();
    close(watch);
    EXPECT_EQ(writes, 0u);
}

TEST(RecoveryProcess, AChangeMadeWhileTheArchiveIsAwaySinceTheStartIsArchivedOnceItIsBack) {
#ifndef VARNHOLT_TEST_HOOKS
    GTEST_SKIP() << "needs the test builds' short timings";
#endif
    WatchingProgram program;
    const std::string away = program.root + "/Away", store = program.root + "/store";
    program.watchAlso({{away, store + "/Away"}});
    fs::create_directories(store);  // the drive is there, the archive folder on it is not
    Running run{program, program.start()};
    ASSERT_TRUE(program.started()) << readTestFile(program.errors);
    const std::string file = away + "/while away.txt", other = program.watch + "/other.txt";
    ASSERT_TRUE(writeTestFile(file, "kept"));
    ASSERT_TRUE(writeTestFile(other, "other"));  // once it is archived, the change above was handled
    ASSERT_TRUE(waitFor([&] { return program.archivedAsItIs(other); }));
    ASSERT_EQ(run.end(SIGTERM), 0);
    fs::create_directories(store + "/Away");  // the archive is back
    run.pid = program.start();
    ASSERT_TRUE(program.started()) << readTestFile(program.errors);
    EXPECT_TRUE(waitFor([&] { return readTestFile(store + "/Away/while away.txt") == "kept"; }));
    EXPECT_EQ(run.end(SIGTERM), 0);
}

TEST(RecoveryProcess, ChangesMadeWhileTheProgramWasNotRunningAreArchivedAtTheNextStart) {
#ifndef VARNHOLT_TEST_HOOKS
    GTEST_SKIP() << "needs the test builds' short timings";
#endif
    WatchingProgram program;
    const std::string edited = program.watch + "/edited.txt", added = program.watch + "/.config/added.txt";
    Running run{program, program.start()};
    ASSERT_TRUE(program.started()) << readTestFile(program.errors);
    ASSERT_TRUE(waitFor([&] {
        writeTestFile(edited, "before");
        return program.archivedAsItIs(edited);
    }));
    ASSERT_EQ(run.end(SIGTERM), 0);
    ASSERT_FALSE(fs::exists(program.configFolder() + "/Running.mark"));  // a clean stop

    ASSERT_TRUE(writeTestFile(edited, "after"));
    fs::create_directories(program.watch + "/.config");
    ASSERT_TRUE(writeTestFile(added, "new"));
    run.pid = program.start();
    ASSERT_TRUE(program.started()) << readTestFile(program.errors);
    EXPECT_TRUE(waitFor([&] { return program.archivedAsItIs(edited) && program.archivedAsItIs(added); }));
    EXPECT_EQ(run.end(SIGTERM), 0);
}

TEST(RecoveryProcess, ARunWhoseSavesFailedIsNoCleanEndAndTheLogNamesTheFile) {
#ifndef VARNHOLT_TEST_HOOKS
    GTEST_SKIP() << "needs the test builds' short timings";
#endif
    WatchingProgram program;
    Running run{program, program.start()};
    ASSERT_TRUE(program.started()) << readTestFile(program.errors);
    // A folder where the records file is: its save cannot replace it.
    const std::string records = program.dataFolder() + "/FileMetaData/abc.md";
    fs::remove(records);
    ASSERT_TRUE(fs::create_directories(records));
    ASSERT_EQ(run.end(SIGTERM), 0);
    EXPECT_TRUE(fs::exists(program.configFolder() + "/Running.mark"));  // the next start recovers
    EXPECT_EQ(program.logLinesWith("Could not save " + records), 1u);
}
