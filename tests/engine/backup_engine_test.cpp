#include "engine/backup_engine.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <thread>

#include "archive_test_support.h"
#include "engine/backup_scan.h"
#include "engine/backup_scheduler.h"
#include "engine/backup_set_folders.h"
#include "engine/backup_sets.h"
#include "engine/restore_tasks.h"
#include "foundation/text_format.h"
#include "shell/modal_window.h"

namespace fs = std::filesystem;

namespace {

void pauseMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// Waits up to ten seconds for `condition`.
template <typename Condition>
bool eventually(Condition condition) {
    for (int i = 0; i < 10000; ++i) {
        if (condition()) return true;
        pauseMs(1);
    }
    return condition();
}

// Answers the open question whose title holds `titlePart`, as the window's
// buttons would; returns its title and body ("" when none came).
std::string answerQuestion(const std::string& titlePart, bool ok) {
    std::string asked;
    eventually([&] {
        std::lock_guard<std::mutex> lock(modalMessageMutex);
        ModalMessageState& s = modalMessage;
        if (!s.open || s.title.find(titlePart) == std::string::npos) return false;
        asked = s.title + "\n" + s.body;
        s.answers[s.ticket] = ModalReply{ok, {}};
        s.confirmed = ok;
        s.cancelled = !ok;
        s.open = false;
        s.firstFrame = false;
        return true;
    });
    return asked;
}

std::vector<std::string> splitText(const std::string& text, const std::string& separator) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (size_t at; (at = text.find(separator, start)) != std::string::npos; start = at + separator.size())
        parts.push_back(text.substr(start, at - start));
    parts.push_back(text.substr(start));
    return parts;
}

// Holds copies of files whose name holds "slow" until released; the copier
// asks for the free space right before each copy.
struct CopyGate {
    std::mutex mutex;
    std::condition_variable changed;
    bool open = false;
    void release() {
        std::lock_guard<std::mutex> lock(mutex);
        open = true;
        changed.notify_all();
    }
    void install() {
        setFreeSpaceFunction([this](const std::wstring& path, uint64_t&) {
            if (path.find(L"slow") == std::wstring::npos) return false;
            std::unique_lock<std::mutex> lock(mutex);
            changed.wait_for(lock, std::chrono::seconds(20), [this] { return open; });
            return false;
        });
    }
};

}  // namespace

class BackupEngineTest : public ArchiveTest {
protected:
    void SetUp() override {
        ArchiveTest::SetUp();
        timings().backupStepMs = 1;
        timings().backupStallMs = 20000;
        resetBackupState();
        {
            std::lock_guard<std::mutex> lock(watchFolderMutex);
            watchFolderMap[folders.watch].displayName = L"Docs";
        }
        installArchiveHooks();
        installBackupEngineHooks();
        // The real engine: the supervisor starts the Copier whenever the queue fills.
        getThreadState(std::string(kCopierThreadName), 1000, 10000);
        setThreadState(std::string(kCopierThreadName), kThreadStopped);
        startEngineThread(startWorkerThreads);
    }
    void TearDown() override {
        gate.release();
        ArchiveTest::TearDown();
        resetBackupState();
    }
    static void resetBackupState() {
        {
            std::lock_guard<std::mutex> lock(modalMessageMutex);
            modalMessage = ModalMessageState();
        }
        clearCurrentBackupSet();
        removeBackupPathEntry(std::wstring(kCopyStatusListBackup));
        resetBackupScan();
        removeAppLogEntriesOfKind(0xFFFFFFFF);
        setBackupRunning(false);
        fs::remove_all(wideToUtf8(backupStagingFolder()));
    }

    void runBackupHere() {
        setBackupRunning(true);
        backupThreadMain(folders.watch, kTestStartTicks, true);
    }
    void startBackup() {
        setBackupRunning(true);
        startEngineThread([this] { backupThreadMain(folders.watch, kTestStartTicks, true); });
    }
    static bool backupDone() { return !isBackupRunning(); }

    WatchFolderEntry entry() const {
        std::lock_guard<std::mutex> lock(watchFolderMutex);
        return watchFolderMap.at(folders.watch);
    }
    // The report's lines, without "FILE BACKUP REPORT (Docs)." ("" lines when none).
    static std::vector<std::string> reportLines() {
        for (const AppLogEntry& logged : appLogSnapshot().entries) {
            const std::string text = wideToUtf8(logged.key);
            const size_t at = text.find("FILE BACKUP REPORT (Docs).[||]");
            if (at == std::string::npos) continue;
            std::string body = text.substr(at + std::string("FILE BACKUP REPORT (Docs).[||]").size());
            // The log pads its keys with blanks; a line's last field is one blank.
            while (!body.empty() && body.back() == ' ') body.pop_back();
            return splitText(body + " ", "[||]");
        }
        return {};
    }
    static std::string line(const std::string& text, int kind = 2) {
        return std::to_string(kind) + "[|] [|]" + text + "[|] ";
    }
    static std::wstring setName() { return formatTimestamp(kTestStartTicks, true) + L" - File Set"; }
    std::wstring stagedSetFile() const { return backupSetStagingFilePath(folders.watch, setName()); }
    std::wstring mirroredSetFile() const {
        return archiveBackupSetFolder(folders.archive) + backupSetFileName(setName());
    }
    void expectIdleAfterRun(int32_t result) const {
        const WatchFolderEntry e = entry();
        EXPECT_EQ(e.backupState, kBackupStateIdle);
        EXPECT_EQ(e.backupResult, result);
        EXPECT_TRUE(e.checklist.empty());
        EXPECT_TRUE(currentBackupSetSnapshot().files.empty());
        EXPECT_FALSE(hasBackupPathEntry(std::wstring(kCopyStatusListBackup)));
        EXPECT_FALSE(isBackupRunning());
        // A stop left set would cancel every later archive copy.
        EXPECT_FALSE(isCancelRequested(CancelTask::Backup));
        EXPECT_EQ(cancelMirror(CancelTask::Backup)->load(), 0);
        EXPECT_EQ(threadEntry(std::string(kBackupProcedureThreadName)).state, kThreadStopped);
        EXPECT_TRUE(copyBatchFlag());
    }

    CopyGate gate;
};

TEST_F(BackupEngineTest, FolderWithoutFilesLogsNoFilesAndStaysIdle) {
    runBackupHere();
    EXPECT_EQ(logCount(L"No files to backup!"), 1u);
    EXPECT_TRUE(reportLines().empty());
    expectIdleAfterRun(kBackupResultSuccess);
    // An unknown folder ends silently.
    backupThreadMain(folders.watch + L"/nowhere", kTestStartTicks, true);
    EXPECT_EQ(logCount(L"No files to backup!"), 1u);
    EXPECT_FALSE(isBackupRunning());
}

TEST_F(BackupEngineTest, EverythingArchivedAlreadyDiscardsTheEmptySet) {
    for (const std::wstring name : {L"a.txt", L"sub/b.txt", L"sub/deeper/c.doc"}) {
        const std::wstring source = write(name, "content of " + wideToUtf8(name));
        fs::create_directories(fs::path(wideToUtf8(archived(name))).parent_path());
        fs::copy_file(wideToUtf8(source), wideToUtf8(archived(name)));
    }
    write(L"skip.tmp", "excluded extension");
    runBackupHere();
    const std::vector<std::string> lines = reportLines();
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[0], line("Details:"));
    EXPECT_NE(lines[1].find("Backup operation for folder \"Docs\" + 00:00:00 was completed successfully 100%"),
              std::string::npos);
    EXPECT_EQ(lines[2], line("Backup Collection \"" + wideToUtf8(setName()) + "\" not saved, backup discarded!"));
    EXPECT_EQ(lines[3], line("4 file instances"));
    EXPECT_EQ(lines[4], line("3 files meeting criteria "));
    EXPECT_EQ(lines[5], line("0 files changed & saved"));
    EXPECT_FALSE(exists(stagedSetFile()));
    EXPECT_FALSE(exists(archived(L"skip.tmp")));
    expectIdleAfterRun(kBackupResultSuccess);
}

TEST_F(BackupEngineTest, FullBackupSavesTheSetAndMirrorsIt) {
    write(L"a.txt", "alpha");
    write(L"sub/b.txt", "bravo!");
    write(L"sub/deeper/c.doc", "charlie");
    // Changed since its archived copy: saved again under a numbered name.
    write(L"d.txt", "delta, newer");
    writeTestFile(wideToUtf8(archived(L"d.txt")), "delta, old");
    runBackupHere();

    const std::vector<std::string> lines = reportLines();
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_NE(lines[1].find("was completed successfully 100%"), std::string::npos) << lines[1];
    EXPECT_EQ(lines[2], line("Backup Collection \"" + wideToUtf8(setName()) + "\" saved."));
    EXPECT_EQ(lines[3], line("4 file instances"));
    EXPECT_EQ(lines[4], line("4 files meeting criteria "));
    EXPECT_EQ(lines[5], line("4 files changed & saved"));
    EXPECT_EQ(read(archived(L"sub/deeper/c.doc")), "charlie");
    EXPECT_EQ(read(archived(L"d ~ 0000.txt")), "delta, newer");
    EXPECT_EQ(read(archived(L"d.txt")), "delta, old");

    // The set file: "/" and ":" of the name are "_" and "-".
    EXPECT_TRUE(stagedSetFile().ends_with(L"/2023_11_14 22-13-20.000 - File Set.backup")) << wideToUtf8(stagedSetFile());
    BackupSetRecord set;
    ASSERT_TRUE(loadBackupSetFile(stagedSetFile(), set));
    ASSERT_EQ(set.files.size(), 4u);
    const BackupSetEntry& first = set.files.begin()->second;
    EXPECT_EQ(first.sourcePath, folders.watch + L"/a.txt");
    EXPECT_EQ(first.archivePath, archived(L"a.txt"));
    EXPECT_TRUE(first.copied);
    EXPECT_EQ(first.summary, L"efc:4,tf:4,tm:0,b:30,str:4");
    EXPECT_EQ(set.files.at(folders.watch + L"/d.txt").archivePath, archived(L"d ~ 0000.txt"));
    // Mirrored into the archive's ".backupsets", byte for byte.
    ASSERT_TRUE(exists(mirroredSetFile()));
    EXPECT_EQ(read(mirroredSetFile()), read(stagedSetFile()));
    // The set's copies are not automatic versions.
    EXPECT_TRUE(versionsOf(folders.watch + L"/a.txt").empty());
    expectIdleAfterRun(kBackupResultSuccess);

    // A second run finds everything archived.
    removeAppLogEntriesOfKind(0xFFFFFFFF);
    runBackupHere();
    ASSERT_EQ(reportLines().size(), 6u);
    EXPECT_EQ(reportLines()[5], line("0 files changed & saved"));
}

TEST_F(BackupEngineTest, StopAnsweredCancelContinuesAndOkDiscardsTheCopies) {
    // Continue: the stop arrives while the Copier settles, the backup goes on.
    timings().settleMs = 200;
    write(L"a.txt", "alpha");
    write(L"b.txt", "bravo");
    startBackup();
    ASSERT_TRUE(eventually([&] { return entry().backupState == kBackupStateCopying; }));
    setCancelRequest(CancelTask::Backup, true);
    const std::string asked = answerQuestion("Cancel the Backup Operation, Are You Sure?", false);
    EXPECT_EQ(asked.find("DISK IS FULL"), std::string::npos);
    EXPECT_NE(asked.find("Unprocessed Count: 2\n"), std::string::npos) << asked;
    ASSERT_TRUE(eventually(backupDone));
    std::vector<std::string> lines = reportLines();
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_NE(lines[1].find("was completed successfully 100%"), std::string::npos);
    EXPECT_NE(lines[2].find("\" saved."), std::string::npos);
    EXPECT_EQ(read(archived(L"b.txt")), "bravo");
    expectIdleAfterRun(kBackupResultSuccess);

    // Abort: two files are copied, the third is held; OK deletes the copies.
    timings().settleMs = 1;
    removeAppLogEntriesOfKind(0xFFFFFFFF);
    write(L"c.txt", "charlie");
    write(L"d.txt", "delta");
    write(L"slow.txt", "held back");
    gate.install();
    startBackup();
    ASSERT_TRUE(eventually([&] {
        const WatchFolderEntry e = entry();
        const auto c = e.checklist.find(folders.watch + L"/c.txt");
        const auto d = e.checklist.find(folders.watch + L"/d.txt");
        return c != e.checklist.end() && d != e.checklist.end() && c->second.resultCode == 2 &&
               d->second.resultCode == 2;
    }));
    EXPECT_TRUE(exists(archived(L"c.txt")));
    setCancelRequest(CancelTask::Backup, true);
    answerQuestion("Cancel the Backup Operation, Are You Sure?", true);
    ASSERT_TRUE(eventually(backupDone));
    gate.release();
    lines = reportLines();
    ASSERT_GE(lines.size(), 6u);
    EXPECT_NE(lines[1].find("is incomplete at"), std::string::npos) << lines[1];
    EXPECT_EQ(lines[lines.size() - 4],
              line("Backup Collection \"" + wideToUtf8(setName()) + "\" not saved, backup discarded!"));
    EXPECT_FALSE(exists(archived(L"c.txt")));
    EXPECT_FALSE(exists(archived(L"d.txt")));
    EXPECT_TRUE(exists(archived(L"a.txt")));  // the earlier backup's copies stay
    expectIdleAfterRun(kBackupResultUserCancelled);

    // The stop left behind stops no later archive copy.
    setFreeSpaceFunction({});
    const std::wstring later = write(L"later.txt", "later");
    queue(later);
    ASSERT_TRUE(eventually([&] { return exists(archived(L"later.txt")); }));
}

TEST_F(BackupEngineTest, DiskFullAsksToCancelAndKeepsResultThree) {
    write(L"a.txt", "alpha");
    write(L"b.txt", "bravo");
    setFreeSpaceFunction([](const std::wstring&, uint64_t& bytes) {
        bytes = 0;
        return true;
    });
    startBackup();
    const std::string asked = answerQuestion("Cancel the Backup Operation, Are You Sure?", true);
    EXPECT_NE(asked.find("] DISK IS FULL, Cancel the Backup Operation, Are You Sure?"), std::string::npos) << asked;
    ASSERT_TRUE(eventually(backupDone));
    const std::vector<std::string> lines = reportLines();
    ASSERT_GE(lines.size(), 5u);
    EXPECT_NE(lines[lines.size() - 4].find("not saved, backup discarded!"), std::string::npos);
    EXPECT_FALSE(exists(archived(L"a.txt")));
    EXPECT_FALSE(exists(stagedSetFile()));
    expectIdleAfterRun(kBackupResultDiskFull);
}

TEST_F(BackupEngineTest, ElevenFailuresAreSummedUpAsAndMore) {
    // The archive's "sub" is a file, so no copy into it can succeed.
    for (int i = 0; i < 11; ++i) write(L"sub/f" + std::to_wstring(10 + i) + L".txt", "x");
    write(L"ok.txt", "fine");
    writeTestFile(wideToUtf8(archived(L"sub")), "in the way");
    runBackupHere();
    const std::vector<std::string> lines = reportLines();
    ASSERT_EQ(lines.size(), 15u);
    EXPECT_EQ(lines[0], line("Details:"));
    EXPECT_NE(lines[1].find("is incomplete at 8%"), std::string::npos) << lines[1];
    for (int i = 2; i < 10; ++i) EXPECT_EQ(lines[i].rfind("3[|] [|]Copy Failure -> " + wideToUtf8(folders.watch), 0), 0u);
    EXPECT_EQ(lines[10], line("...and more", 3));
    EXPECT_NE(lines[11].find("\" saved."), std::string::npos);
    EXPECT_EQ(lines[12], line("12 file instances"));
    EXPECT_EQ(lines[13], line("12 files meeting criteria "));
    // Every file is counted, also after the list of failures was cut.
    EXPECT_EQ(lines[14], line("1 files changed & saved"));
    BackupSetRecord set;
    ASSERT_TRUE(loadBackupSetFile(stagedSetFile(), set));
    EXPECT_EQ(set.files.size(), 1u);
    expectIdleAfterRun(kBackupResultSuccess);
}

TEST_F(BackupEngineTest, StalledCopyAsksToExtendAndCancelTimesOut) {
    timings().settleMs = 30000;  // the Copier never starts within the test
    timings().backupStallMs = 50;
    write(L"a.txt", "alpha");
    startBackup();
    // OK extends once; Cancel ends the wait.
    EXPECT_NE(answerQuestion("Backup is taking a while, extend?", true).find("Unprocessed Count: 1\n"),
              std::string::npos);
    EXPECT_FALSE(answerQuestion("Backup is taking a while, extend?", false).empty());
    ASSERT_TRUE(eventually(backupDone));
    const std::vector<std::string> lines = reportLines();
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines[1], line("Copy process timed-out!", 3));
    EXPECT_NE(lines[2].find("is incomplete at 0%"), std::string::npos) << lines[2];
    EXPECT_EQ(lines[3], line("Copy Failure -> " + wideToUtf8(folders.watch) + "/a.txt", 3));
    expectIdleAfterRun(kBackupResultInterrupted);
}

TEST_F(BackupEngineTest, AQuestionShowsTheWindowAndAShutDownWhileItWaitsRecordsInterrupted) {
    timings().settleMs = 30000;  // the Copier never starts within the test
    timings().backupStallMs = 50;
    std::atomic<int> shown{0};
    EngineHooks hooks = engineHooks();
    hooks.questionPosted = [&shown] { ++shown; };
    setEngineHooks(hooks);
    write(L"a.txt", "alpha");
    startBackup();
    ASSERT_TRUE(eventually([] {
        std::lock_guard<std::mutex> lock(modalMessageMutex);
        return modalMessage.open;
    }));
    // The window is called after the question is open, outside its lock.
    ASSERT_TRUE(eventually([&shown] { return shown.load() > 0; }));
    EXPECT_EQ(shown.load(), 1);
    setApplicationRunning(false);
    ASSERT_TRUE(eventually(backupDone));
    EXPECT_EQ(entry().backupResult, kBackupResultInterrupted);
    EXPECT_TRUE(reportLines().empty());
}

TEST_F(BackupEngineTest, StopBeforeCopyingQueuesNothing) {
    write(L"a.txt", "alpha");
    setBackupRunning(true);
    setCancelRequest(CancelTask::Backup, true);
    EXPECT_FALSE(runBackup(folders.watch, kTestStartTicks, true));
    EXPECT_EQ(logCount(L"Backup operation for folder \"Docs\" is incomplete at 0%"), 1u);
    EXPECT_EQ(entry().backupState, kBackupStateIdle);
    EXPECT_EQ(copyQueueCount(), 0u);
    EXPECT_TRUE(currentBackupSetSnapshot().files.empty());
    EXPECT_TRUE(reportLines().empty());
    setCancelRequest(CancelTask::Backup, false);
    // The scheduler reaches the engine through its hook.
    ASSERT_TRUE(engineHooks().backupThreadMain);
    // Copy results of files outside any backup find no checklist item.
    EXPECT_FALSE(recordBackupCopyResult(folders.watch + L"/a.txt", archived(L"a.txt"), 2));
    CopyStatusRecord record;
    EXPECT_FALSE(getCopyStatus(L"BACKUP", folders.watch + L"/a.txt", record));
    record.status = kCopyStatusQueued;
    setCopyStatus(L"Backup", folders.watch + L"/a.txt", record);
    EXPECT_TRUE(getCopyStatus(L"backup", folders.watch + L"/a.txt", record));
    EXPECT_FALSE(recordBackupCopyResult(folders.watch + L"/a.txt", archived(L"a.txt"), 2));
    EXPECT_TRUE(getCopyStatus(L"backup", folders.watch + L"/a.txt", record));
    EXPECT_EQ(record.status, kCopyStatusCopied);
}

TEST_F(BackupEngineTest, ArchiveGoneDuringTheCopyWaitIsAnErrorAndAsksToExtend) {
    timings().settleMs = 30000;  // the Copier never starts within the test
    write(L"a.txt", "alpha");
    startBackup();
    ASSERT_TRUE(eventually([&] { return entry().backupState == kBackupStateCopying; }));
    fs::remove_all(wideToUtf8(folders.archive));
    EXPECT_FALSE(answerQuestion("Backup is taking a while, extend?", false).empty());
    ASSERT_TRUE(eventually(backupDone));
    const std::vector<std::string> lines = reportLines();
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines[1], line("Archive path NOT Writable!", 3));
    EXPECT_EQ(lines[2], line("Copy process timed-out!", 3));
    size_t errors = 0;
    for (const AppLogEntry& logged : appLogSnapshot().entries)
        errors += logged.kind == 8 && logged.key.find(L"Archive path NOT Writable!") != std::wstring::npos;
    EXPECT_EQ(errors, 1u);
    // The set is staged, but the mirror never makes the vanished archive again.
    EXPECT_TRUE(exists(stagedSetFile()));
    EXPECT_FALSE(exists(folders.archive));
    expectIdleAfterRun(kBackupResultInterrupted);
}

// A new set is marked for restoring as it is written: its file restores
// every file it saved, unedited; an edit that unmarks them all restores none.
TEST_F(BackupEngineTest, AFreshSetRestoresEveryFileItSaved) {
    write(L"a.txt", "alpha");
    write(L"sub/b.txt", "bravo");
    runBackupHere();
    BackupSetRecord set;
    ASSERT_TRUE(loadBackupSetFile(stagedSetFile(), set));
    EXPECT_EQ(set.files.begin()->second.summary, L"efc:2,tf:2,tm:0,b:10,str:2");
    write(L"a.txt", "alpha, changed");
    fs::remove(wideToUtf8(folders.watch + L"/sub/b.txt"));

    const auto restore = [&] {
        std::thread task(restoreBackupSetTask, stagedSetFile(), folders.watch);
        answerQuestion("Confirm Source File Overwrite:", true);
        task.join();
    };
    std::thread answers([] { answerQuestion("Restore Successful!:", true); });
    restore();
    answers.join();
    EXPECT_EQ(read(folders.watch + L"/a.txt"), "alpha");
    EXPECT_EQ(read(folders.watch + L"/sub/b.txt"), "bravo");

    // " Edit ", " De-Select All ", " Dismiss ".
    timings().pollMs = 2;
    std::thread edit(threadLoadAndEditRestoreFileSet, stagedSetFile());
    ASSERT_TRUE(eventually([] { return backupSetEditActive.load(); }));
    {
        std::lock_guard<std::mutex> lock(backupSetMutex);
        for (auto& [key, entry] : editedBackupSet.files) entry.restore = false;
    }
    backupSetEditActive = false;
    edit.join();
    write(L"a.txt", "alpha, changed again");
    restore();
    EXPECT_EQ(read(folders.watch + L"/a.txt"), "alpha, changed again");
    EXPECT_EQ(logCount(L"FAILED to restore set  \"" + backupSetNameFromPath(stagedSetFile())), 1u);
    std::lock_guard<std::mutex> lock(backupSetMutex);
    editedBackupSet = BackupSetRecord();
    editedBackupSetPath.clear();
}
