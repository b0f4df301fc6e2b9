#include "engine/restore_selected.h"
#include "engine/restore_copy.h"
#include "engine/restore_tasks.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <thread>

#include "archive_test_support.h"
#include "engine/archive_changes.h"
#include "engine/archive_prepare.h"
#include "engine/backup_set_folders.h"
#include "engine/backup_sets.h"
#include "engine/catch_up_scan.h"
#include "engine/change_watcher.h"
#include "engine/confirm_request.h"
#include "engine/copy_cancel.h"
#include "engine/copy_queue.h"
#include "engine/file_watcher_pass.h"
#include "engine/restore_folders.h"
#include "engine/restore_state.h"
#include "engine/smart_lists.h"
#include "engine/unclean_end.h"
#include "foundation/archive_root.h"
#include "foundation/text_format.h"
#include "platform/paths.h"

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

class RestoreTest : public ArchiveTest {
protected:
    void SetUp() override {
        ArchiveTest::SetUp();
        timings().restorePaceMs = 0;
        resetRestore();
    }
    void TearDown() override {
        ArchiveTest::TearDown();
        resetRestore();
    }
    static void resetRestore() {
        {
            std::lock_guard<std::mutex> lock(modalMessageMutex);
            modalMessage = ModalMessageState();
        }
        {
            std::lock_guard<std::mutex> lock(backupSetMutex);
            editedBackupSet = BackupSetRecord();
            editedBackupSetPath.clear();
        }
        removeRestoringPaths();
        setRestoreFoldersHookForTests({});
        removeAppLogEntriesOfKind(0xFFFFFFFF);
        restoreProgress = 0.0;
    }

    // Waits for the question whose title holds `title`; with `answer` set,
    // answers it as the window would (OK when `ok`). Returns its body. A
    // question that never comes stops the engine so the task cannot hang.
    static std::string question(const std::string& title, bool answer = false, bool ok = false) {
        const auto deadline = std::chrono::steady_clock::now() + 30s;
        while (std::chrono::steady_clock::now() < deadline) {
            {
                std::lock_guard<std::mutex> lock(modalMessageMutex);
                ModalMessageState& s = modalMessage;
                if (s.open && s.title.find(title) != std::string::npos) {
                    if (answer) {
                        ModalReply reply;
                        reply.confirmed = ok;
                        s.answers[s.ticket] = reply;
                        s.open = false;
                    }
                    return s.body;
                }
            }
            std::this_thread::sleep_for(1ms);
        }
        ADD_FAILURE() << "no question \"" << title << "\"";
        setApplicationRunning(false);
        return {};
    }
    static std::string answer(const std::string& title, bool ok) { return question(title, true, ok); }

    // An archived version of a file of the watch folder, in the version records.
    std::wstring version(const std::wstring& relative, const std::wstring& archiveName, const std::string& content) {
        const std::wstring path = archived(archiveName);
        std::filesystem::create_directories(std::filesystem::path(wideToUtf8(path)).parent_path());
        EXPECT_TRUE(writeTestFile(wideToUtf8(path), content));
        EXPECT_TRUE(addVersionRecord(folders.watch + L"/" + relative, path, L"editor", false));
        return path;
    }
    std::wstring source(const std::wstring& relative) const { return folders.watch + L"/" + relative; }

    static uint32_t logKind(const std::wstring& text) {
        for (const AppLogEntry& entry : appLogSnapshot().entries)
            if (entry.key.find(text) != std::wstring::npos) return entry.kind;
        return 0;
    }
    // The paths of an ended restore are released once the watcher saw the writes.
    static bool released(const std::wstring& path) {
        const auto deadline = std::chrono::steady_clock::now() + 30s;
        while (isRestoringPath(path) && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(1ms);
        return !isRestoringPath(path);
    }
    template <typename Condition>
    static bool eventuallyTrue(Condition done) {
        const auto deadline = std::chrono::steady_clock::now() + 30s;
        while (!done() && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(1ms);
        return done();
    }
    static bool restoreIdle() { return !restoreActive && !restoreWorkBusy && !isCancelRequested(CancelTask::Restore); }

    std::wstring saveSet(const std::wstring& name, const std::vector<BackupSetEntry>& entries) {
        BackupSetRecord set;
        set.name = name;
        for (const BackupSetEntry& entry : entries) set.files[entry.sourcePath] = entry;
        const std::wstring path = folders.archive + L"/.backupsets/" + backupSetFileName(name);
        EXPECT_TRUE(saveBackupSetFile(path, set));
        return path;
    }
    std::wstring archiveFile(const std::wstring& name, const std::string& content) {
        const std::wstring path = archived(name);
        std::filesystem::create_directories(std::filesystem::path(wideToUtf8(path)).parent_path());
        EXPECT_TRUE(writeTestFile(wideToUtf8(path), content));
        return path;
    }
};

BackupSetEntry setEntry(const std::wstring& sourcePath, const std::wstring& archivePath, bool restore) {
    BackupSetEntry entry;
    entry.sourcePath = sourcePath;
    entry.archivePath = archivePath;
    entry.copied = true;
    entry.restore = restore;
    return entry;
}

}  // namespace

TEST_F(RestoreTest, SelectedVersionsAreCopiedToTheirSourcePathsInTheirOwnCase) {
    const std::wstring readme = version(L"Docs/ReadMe.TXT", L"Docs/ReadMe ~ 0001.TXT", "readme v1");
    const std::wstring deep = version(L"a/b/c.txt", L"a/b/c ~ 0001.txt", "deep v1");
    version(L"x.txt", L"x ~ 0001.txt", "x v1");
    const std::wstring x2 = version(L"x.txt", L"x ~ 0002.txt", "x v2");
    // A version archived before the folder's archive location changed is
    // restored from the old archive folder its record names.
    const std::wstring elsewhere = utf8ToWide(makeTestFolder("elsewhere")) + L"/y.txt";
    ASSERT_TRUE(writeTestFile(wideToUtf8(elsewhere), "outside"));
    ASSERT_TRUE(addVersionRecord(source(L"y.txt"), elsewhere, L"editor", false));

    RestoreSelection selection;
    selection[source(L"Docs/ReadMe.TXT")][readme].selected = true;
    selection[source(L"a/b/c.txt")][deep].selected = true;
    selection[source(L"x.txt")][x2].selected = true;
    selection[source(L"y.txt")][elsewhere].selected = true;
    write(L"x.txt", "x now");

    std::thread task(restoreSelectedFilesTask, selection);
    EXPECT_NE(answer("Confirm Source File Overwrite:", true).find("Watch\n"), std::string::npos);
    task.join();

    EXPECT_EQ(read(source(L"Docs/ReadMe.TXT")), "readme v1");
    EXPECT_FALSE(exists(source(L"docs/readme.txt")));
    EXPECT_EQ(read(source(L"a/b/c.txt")), "deep v1");
    EXPECT_EQ(read(source(L"x.txt")), "x v2");
    EXPECT_EQ(read(source(L"y.txt")), "outside");
    EXPECT_EQ(restoreProgress.load(), 1.0);
    EXPECT_TRUE(restoreIdle());
    EXPECT_TRUE(released(source(L"x.txt")));
    EXPECT_EQ(logKind(L"Active backup files restoration finished.\"Watch\"[||]3[|] [|]all selected files restored, 4 copied.[|] "), 1u);
    EXPECT_EQ(logCount(L"1[|]6[|]" + folders.watch + L"[|]Open \"Watch\""), 1u);
    EXPECT_EQ(logCount(L"not copied:"), 0u);
    // The marks were copied into the version records: the unmarked version is unselected.
    std::lock_guard<std::mutex> lock(versionRecordMutex);
    EXPECT_TRUE(versionRecordMap[source(L"x.txt")][x2].selected);
    EXPECT_FALSE(versionRecordMap[source(L"x.txt")][archived(L"x ~ 0001.txt")].selected);
}

TEST_F(RestoreTest, AFailedCopyIsReportedAndKeepsTheOldFile) {
    RestoreSelection selection;
    for (const wchar_t* name : {L"a", L"b", L"c"})
        selection[source(name + std::wstring(L".txt"))][version(name + std::wstring(L".txt"), name + std::wstring(L" ~ 0001.txt"), "restored")]
            .selected = true;
    std::filesystem::remove(wideToUtf8(archived(L"b ~ 0001.txt")));
    write(L"b.txt", "old b");

    std::thread task(restoreSelectedFilesTask, selection);
    answer("Confirm Source File Overwrite:", true);
    task.join();

    EXPECT_EQ(read(source(L"a.txt")), "restored");
    EXPECT_EQ(read(source(L"b.txt")), "old b");
    EXPECT_EQ(read(source(L"c.txt")), "restored");
    EXPECT_DOUBLE_EQ(restoreProgress.load(), 2.0 / 3.0);
    EXPECT_EQ(logKind(L"[|]one or more files not restored, 3 selected, 2 copied.[|]"), 4u) << "an issue";
    EXPECT_EQ(logCount(L"[||]2[|] [|]1 not copied:[|] [||]3[|] [|]" + source(L"b.txt") + L"[|] [||]"), 1u);
    EXPECT_TRUE(restoreIdle());
}

TEST_F(RestoreTest, CancelAtTheFirstQuestionWritesNothingAndClearsAnOldRequest) {
    RestoreSelection selection;
    selection[source(L"a.txt")][version(L"a.txt", L"a ~ 0001.txt", "restored")].selected = true;
    write(L"a.txt", "current");
    setCancelRequest(CancelTask::Restore, true);

    std::thread task(restoreSelectedFilesTask, selection);
    answer("Confirm Source File Overwrite:", false);
    task.join();

    EXPECT_EQ(read(source(L"a.txt")), "current");
    EXPECT_EQ(logKind(L"User cancelled the restore operation"), 2u);
    EXPECT_EQ(logCount(L"restoration finished"), 0u);
    EXPECT_TRUE(restoreIdle());
}

TEST_F(RestoreTest, AStopRequestAnsweredCancelGoesOn) {
    RestoreSelection selection;
    selection[source(L"a.txt")][version(L"a.txt", L"a ~ 0001.txt", "a restored")].selected = true;
    selection[source(L"b.txt")][version(L"b.txt", L"b ~ 0001.txt", "b restored")].selected = true;
    write(L"a.txt", "a current");
    // Left from an earlier task: this task asks before its first file.
    setCancelRequest(CancelTask::Restore, true);

    std::thread task(restoreSelectedFilesTask, selection);
    answer("Confirm Source File Overwrite:", true);
    question("Cancel File Restoration!:");
    EXPECT_TRUE(restoreActive && restoreWorkBusy);
    EXPECT_FALSE(isRestoringPath(source(L"a.txt")));  // not written yet
    answer("Cancel File Restoration!:", false);
    task.join();

    EXPECT_EQ(read(source(L"a.txt")), "a restored");
    EXPECT_EQ(read(source(L"b.txt")), "b restored");
    EXPECT_EQ(logCount(L"all selected files restored, 2 copied."), 1u);
    EXPECT_TRUE(restoreIdle());
    EXPECT_TRUE(released(source(L"a.txt")));
}

// An edit saved while a restore runs is never overwritten unasked nor passed
// over by the archiving: 3 is edited while the restore is confirmed, 2 once
// its copy is staged (its group takes its names later), 1 once restored.
TEST_F(RestoreTest, EditsSavedDuringARestoreAreAskedAboutAndArchived) {
    RestoreSelection selection;
    std::vector<BackupSetEntry> entries;
    for (const std::wstring name : {L"1", L"2", L"3"}) {
        const std::wstring copy = version(name + L".txt", name + L" ~ 0001.txt", wideToUtf8(name) + " restored");
        selection[source(name + L".txt")][copy].selected = true;
        entries.push_back(setEntry(L"./" + name + L".txt", copy, true));
    }
    const std::wstring setPath = saveSet(L"Set", entries);
    for (const bool ofSet : {true, false}) {
        for (const wchar_t* name : {L"1.txt", L"2.txt", L"3.txt"}) write(name, "old");
        std::thread task = ofSet ? std::thread(restoreBackupSetTask, setPath, folders.watch)
                                 : std::thread(restoreSelectedFilesTask, selection);
        question("Confirm Source File Overwrite:");
        write(L"3.txt", "3 edited");
        answer("Confirm Source File Overwrite:", true);
        EXPECT_NE(question("Confirm Source File Overwrite:").find("/3.txt\n"), std::string::npos);
        write(L"2.txt", "2 edited");
        answer("Confirm Source File Overwrite:", true);
        EXPECT_NE(question("Confirm Source File Overwrite:").find("/2.txt\n"), std::string::npos);
        write(L"1.txt", "1 edited after its restore");
        queue(source(L"1.txt"));
        EXPECT_TRUE(queued(source(L"1.txt")));
        answer("Confirm Source File Overwrite:", false);
        task.join();
        EXPECT_EQ(read(source(L"2.txt")), "2 edited");
        EXPECT_EQ(read(source(L"3.txt")), "3 restored");
        queue(source(L"2.txt"));
        EXPECT_TRUE(queued(source(L"2.txt")));
        std::lock_guard<std::mutex> lock(copyQueueMutex);
        copyQueue.clear();
    }
}

TEST_F(RestoreTest, AStopRequestAnsweredOkStopsAndLeavesNoRequestBehind) {
    RestoreSelection selection;
    selection[source(L"a.txt")][version(L"a.txt", L"a ~ 0001.txt", "a restored")].selected = true;
    setCancelRequest(CancelTask::Restore, true);

    std::thread task(restoreSelectedFilesTask, selection);
    answer("Confirm Source File Overwrite:", true);
    answer("Cancel File Restoration!:", true);
    task.join();

    EXPECT_FALSE(exists(source(L"a.txt")));
    EXPECT_EQ(logKind(L"Varnholt Restore operation canceled by user!"), 1u);
    EXPECT_EQ(logCount(L"restoration finished"), 0u);
    EXPECT_EQ(restoreProgress.load(), 0.0);
    EXPECT_TRUE(restoreIdle());
    EXPECT_TRUE(released(source(L"a.txt")));
}

TEST_F(RestoreTest, BackupSetRestoresRelativeEntriesRecreatesFoldersAndReportsSuccess) {
    const std::wstring setPath = saveSet(L"2024/01/02 10:00:00", {
        setEntry(L"./sub/deep/a.txt", archiveFile(L"sub/deep/a ~ 0001.txt", "a from set"), true),
        setEntry(source(L"B.txt"), archiveFile(L"B ~ 0001.txt", "b from set"), true),
        setEntry(L"./c.txt", archiveFile(L"c ~ 0001.txt", "c from set"), false),
    });
    write(L"c.txt", "c current");

    std::thread task(restoreBackupSetTask, setPath, folders.watch);
    question("Confirm Source File Overwrite:");
    // The set's lock is free while the task waits for the user.
    ASSERT_TRUE(backupSetMutex.try_lock());
    backupSetMutex.unlock();
    answer("Confirm Source File Overwrite:", true);
    const std::string body = answer("Restore Successful!:", true);
    task.join();

    EXPECT_NE(body.find("Watch\nDuration: 00:00:00.\nFiles: 2\n"), std::string::npos);
    EXPECT_EQ(read(source(L"sub/deep/a.txt")), "a from set");
    EXPECT_EQ(read(source(L"B.txt")), "b from set");
    EXPECT_EQ(read(source(L"c.txt")), "c current");
    EXPECT_EQ(restoreProgress.load(), 1.0);
    EXPECT_EQ(logKind(L"Restore operation completed for folder  \"Watch\" + 00:00:00 "), 2u);
    EXPECT_TRUE(restoreIdle());
    EXPECT_TRUE(released(source(L"B.txt")));
}

TEST_F(RestoreTest, BackupSetWithNothingSelectedFailsAndTheEditedMarksDecide) {
    const std::wstring setPath = saveSet(L"Nightly", {
        setEntry(L"./a.txt", archiveFile(L"a ~ 0001.txt", "a from set"), false),
        setEntry(L"./b.txt", archiveFile(L"b ~ 0001.txt", "b from set"), false),
    });
    std::thread first(restoreBackupSetTask, setPath, folders.watch);
    answer("Confirm Source File Overwrite:", true);
    first.join();
    EXPECT_EQ(logKind(L"FAILED to restore set  \"Nightly\""), 8u);
    EXPECT_FALSE(exists(source(L"a.txt")));

    // The restoration window marked b: only b is restored, and that is all.
    {
        std::lock_guard<std::mutex> lock(backupSetMutex);
        editedBackupSet.files[L"./b.txt"] = setEntry(L"./b.txt", L"", true);
        editedBackupSet.files[L"./gone.txt"] = setEntry(L"./gone.txt", L"", true);
        editedBackupSetPath = setPath + L"x";  // another set's edit changes nothing here
    }
    std::thread other(restoreBackupSetTask, setPath, folders.watch);
    answer("Confirm Source File Overwrite:", true);
    other.join();
    EXPECT_FALSE(exists(source(L"b.txt")));
    {
        std::lock_guard<std::mutex> lock(backupSetMutex);
        editedBackupSetPath = setPath;
    }
    std::thread second(restoreBackupSetTask, setPath, folders.watch + L"/");
    answer("Confirm Source File Overwrite:", true);
    EXPECT_NE(answer("Restore Successful!:", true).find("Files: 1\n"), std::string::npos);
    second.join();
    EXPECT_FALSE(exists(source(L"a.txt")));
    EXPECT_EQ(read(source(L"b.txt")), "b from set");
    EXPECT_EQ(restoreProgress.load(), 1.0);
}

TEST_F(RestoreTest, BackupSetStopAndCancelLeaveNoRequestAndFolderListingRestores) {
    const std::wstring setPath = saveSet(L"Set", {setEntry(L"./a.txt", archiveFile(L"a ~ 0001.txt", "a"), true)});
    std::thread stopped(restoreBackupSetTask, setPath, folders.watch);
    question("Confirm Source File Overwrite:");
    setCancelRequest(CancelTask::Restore, true);  // the window's Cancel, pressed before the first file
    answer("Confirm Source File Overwrite:", true);
    answer("Cancel File Restoration!:", true);
    stopped.join();
    EXPECT_FALSE(exists(source(L"a.txt")));
    EXPECT_EQ(logKind(L"FAILED to restore set  \"Set\""), 8u);
    EXPECT_TRUE(restoreIdle());

    std::thread cancelled(restoreBackupSetTask, setPath, folders.watch);
    answer("Confirm Source File Overwrite:", false);
    cancelled.join();
    EXPECT_EQ(logKind(L"User cancelled the restore operation"), 2u);
    EXPECT_TRUE(restoreIdle());

    // Not a set file but an archive folder: every file in it, relative to it.
    archiveFile(L"old/x/y.txt", "listed y");
    archiveFile(L"old/z.txt", "listed z");
    std::thread listed(restoreBackupSetTask, archived(L"old"), folders.watch);
    answer("Confirm Source File Overwrite:", true);
    EXPECT_NE(answer("Restore Successful!:", true).find("Files: 2\n"), std::string::npos);
    listed.join();
    EXPECT_EQ(read(source(L"x/y.txt")), "listed y");
    EXPECT_EQ(read(source(L"z.txt")), "listed z");

    // Neither a set nor a folder: ends without a question or a message.
    removeAppLogEntriesOfKind(0xFFFFFFFF);
    restoreBackupSetTask(archived(L"missing.backup"), folders.watch);
    EXPECT_TRUE(appLogSnapshot().entries.empty());
    EXPECT_FALSE(restoreActive);
}

// A set's files are copied on several threads: a stop asked for while some
// are under way stops those halfway. CANCEL copies them again, OK leaves
// them as they were; either way no temporary copy stays behind.
TEST_F(RestoreTest, AStopMetByCopiesUnderWayCopiesThemAgainOrLeavesThem) {
    std::vector<BackupSetEntry> entries;
    for (int i = 0; i < 2000; ++i) {
        const std::wstring name = L"d" + std::to_wstring(i % 7) + L"/f" + std::to_wstring(i);
        entries.push_back(setEntry(L"./" + name + L".txt", archiveFile(name + L" ~ 0001.txt", "copy " + std::to_string(i)), true));
    }
    const std::wstring setPath = saveSet(L"Set", entries);
    for (const bool stop : {false, true}) {
        const std::wstring folder = folders.watch + (stop ? L"/stopped" : L"/went-on");
        std::atomic<bool> ended{false};
        std::thread task([&] {
            restoreBackupSetTask(setPath, folder);
            ended = true;
        });
        answer("Confirm Source File Overwrite:", true);
        ASSERT_TRUE(eventuallyTrue([] { return restoreProgress > 0.0; }));
        setCancelRequest(CancelTask::Restore, true);
        for (; !ended; std::this_thread::sleep_for(1ms)) {
            std::lock_guard<std::mutex> lock(modalMessageMutex);
            if (!modalMessage.open) continue;
            ModalReply reply;
            reply.confirmed = stop || modalMessage.title.find("Cancel File Restoration!:") == std::string::npos;
            modalMessage.answers[modalMessage.ticket] = reply;
            modalMessage.open = false;
        }
        task.join();
        size_t restored = 0;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(wideToUtf8(folder))) {
            if (!entry.is_regular_file()) continue;
            EXPECT_FALSE(isCopyTemporaryName(utf8ToWide(entry.path().filename().string()))) << entry.path();
            EXPECT_EQ(read(utf8ToWide(entry.path().string())), "copy " + entry.path().stem().string().substr(1));
            ++restored;
        }
        if (!stop) {
            EXPECT_EQ(restored, entries.size());
        }
        setCancelRequest(CancelTask::Restore, false);
    }
}

// While a group waits for its names (here: a question about a file changed
// since it was confirmed), at most two groups of copies lie staged: the
// staging threads wait instead of filling the disk with the whole set.
TEST_F(RestoreTest, ASetRestoreStagesAtMostTwoGroupsAheadOfTheNaming) {
    std::vector<BackupSetEntry> entries;
    for (int i = 0; i < 3000; ++i) {
        const std::wstring name = L"d" + std::to_wstring(i / 1000) + L"/f" + std::to_wstring(10000 + i) + L".txt";
        entries.push_back(setEntry(L"./" + name + L".txt", archiveFile(L"set/" + name, "copy"), true));
    }
    const std::wstring first = write(L"d0/f10000.txt.txt", "old");
    const std::wstring setPath = saveSet(L"Set", entries);
    const auto temporaries = [&] {
        size_t count = 0;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(wideToUtf8(folders.watch)))
            count += isCopyTemporaryName(utf8ToWide(entry.path().filename().string()));
        return count;
    };
    std::thread task(restoreBackupSetTask, setPath, folders.watch);
    question("Confirm Source File Overwrite:");
    write(L"d0/f10000.txt.txt", "changed");  // asked about when its copy is taken in
    answer("Confirm Source File Overwrite:", true);
    EXPECT_NE(question("Confirm Source File Overwrite:").find("f10000"), std::string::npos);
    write(L"d0/f10000.txt.txt", "changed again");  // and again right before its rename
    answer("Confirm Source File Overwrite:", true);
    question("Confirm Source File Overwrite:");  // the first group waits for its names
    const size_t bound = 2 * kCopyGroupMaxFiles;
    ASSERT_TRUE(eventuallyTrue([&] { return temporaries() >= bound; }));
    EXPECT_EQ(temporaries(), bound);
    answer("Confirm Source File Overwrite:", true);
    answer("Restore Successful!:", true);
    task.join();
    EXPECT_EQ(temporaries(), 0u);
    EXPECT_EQ(read(first), "copy");
}

TEST_F(RestoreTest, TwoBackupSetRestoresRunOneAfterTheOther) {
    const std::wstring setPath = saveSet(L"Set", {setEntry(L"./a.txt", archiveFile(L"a ~ 0001.txt", "a"), true)});
    std::thread first(restoreBackupSetTask, setPath, folders.watch);
    question("Confirm Source File Overwrite:");
    setCancelRequest(CancelTask::Restore, true);
    // The second waits for the first and so cannot clear the request it meets.
    std::thread second(restoreBackupSetTask, setPath, folders.watch);
    answer("Confirm Source File Overwrite:", true);
    answer("Cancel File Restoration!:", false);
    answer("Restore Successful!:", true);
    answer("Confirm Source File Overwrite:", false);
    first.join();
    second.join();
    EXPECT_EQ(read(source(L"a.txt")), "a");
    EXPECT_EQ(logKind(L"Restore operation completed for folder  \"Watch\""), 2u);
    EXPECT_EQ(logKind(L"User cancelled the restore operation"), 2u);
    EXPECT_TRUE(restoreIdle());
}

TEST_F(RestoreTest, ARestoreThatEndsLeavesAnotherTasksStopAndFlagsAlone) {
    const std::wstring setPath = saveSet(L"Set", {setEntry(L"./a.txt", archiveFile(L"a ~ 0001.txt", "a"), true)});
    setCancelRequest(CancelTask::Backup, true);  // a running backup was asked to stop
    holdRestoreActive();                         // a deletion runs
    std::thread task(restoreBackupSetTask, setPath, folders.watch);
    answer("Confirm Source File Overwrite:", false);
    task.join();
    EXPECT_TRUE(isCancelRequested(CancelTask::Backup));
    EXPECT_TRUE(restoreActive);
    releaseRestoreActive();
    EXPECT_FALSE(restoreActive);
    setCancelRequest(CancelTask::Backup, false);
}

TEST_F(RestoreTest, BackupSetRestoreEndsQuietlyAtShutDown) {
    const std::wstring setPath = saveSet(L"Set", {
        setEntry(L"./a.txt", archiveFile(L"a ~ 0001.txt", "a"), true),
        setEntry(L"./b.txt", archiveFile(L"b ~ 0001.txt", "b"), true),
    });
    std::thread task(restoreBackupSetTask, setPath, folders.watch);
    question("Confirm Source File Overwrite:");
    setCancelRequest(CancelTask::Restore, true);
    answer("Confirm Source File Overwrite:", true);
    question("Cancel File Restoration!:");
    setApplicationRunning(false);  // the program shuts down meanwhile
    task.join();

    EXPECT_FALSE(exists(source(L"a.txt")));
    EXPECT_FALSE(restoreActive);
    EXPECT_EQ(logCount(L"restore"), 0u);
    EXPECT_EQ(logCount(L"Restore"), 0u);
    EXPECT_FALSE(isRestoringPath(source(L"a.txt")));
}

TEST_F(RestoreTest, AllRecentFilesRestoresTheNewestCopyOfEachFileThroughItsListEntry) {
    version(L"a.txt", L"a.txt", "a oldest");
    version(L"a.txt", L"a ~ 0001.txt", "a newest");
    version(L"sub/b", L"sub/b", "b, no extension");
    version(L".config/app.conf", L".config/app.conf", "in a dot folder");
    write(L"a.txt", "a damaged");
    BackupSetRecord empty;
    ASSERT_TRUE(saveBackupSetFile(backupSetStagingFilePath(folders.watch, L"Set"), empty));
    ASSERT_TRUE(storeBackupSetFile(folders.watch));  // the archive's ".backupsets" is no file of the folder
    ASSERT_EQ(buildSmartRestoreList(folders.watch), 1);
    SetListEntry all;
    ASSERT_TRUE(findSetListEntry(std::wstring(kAllRecentFilesName), all));
    buildSmartList(all.displayName, true);
    ASSERT_TRUE(findSetListEntry(all.displayName, all));
    EXPECT_EQ(all.fileCount, 3u);  // one per file, not per version

    std::thread task(restoreBackupSetTask, all.setFilePath, restoreListFolder);
    answer("Confirm Source File Overwrite:", true);
    EXPECT_NE(answer("Restore Successful!:", true).find("Files: 3\n"), std::string::npos);
    task.join();
    EXPECT_EQ(read(source(L"a.txt")), "a newest");
    EXPECT_EQ(read(source(L"sub/b")), "b, no extension");
    EXPECT_EQ(read(source(L".config/app.conf")), "in a dot folder");
    EXPECT_FALSE(exists(source(L".backupsets")));
    EXPECT_FALSE(exists(source(L"a ~ 0001.txt")));
    expectArchiveAgrees();
}

TEST_F(RestoreTest, LongNamesAndNamesHoldingTheSeparatorKeepEveryVersionAndComeBackUnderTheirOwnName) {
    const std::vector<std::wstring> names = {
        std::wstring(246, L'x') + L".txt",                   // 250 bytes
        std::wstring(245, L'x') + L"q.txt",                  // the same but its last character
        std::wstring(251, L'y') + L".txt",                   // 255 bytes
        std::wstring(82, L'\u65e5') + L".txt",               // 250 bytes, 3 a character
        L"ab" + std::wstring(83, L'\u65e5') + L".txt",       // 255 bytes, cut inside a character
        std::wstring(241, L'z') + L".txt",                   // numbers fit, a time stamp does not
        // " ~ " without a stamp, or a stamp without its ".", is part of the name.
        L"notes.txt", L"notes ~ draft.txt", L"notes ~ 12.txt", L"r ~ 0001", L"b",
    };
    for (int round = 1; round <= 3; ++round) {
        if (round == 3) setOption(folders.watch, kCollisionAppendTimeStamp);
        for (const std::wstring& name : names) queue(write(name, std::to_string(round) + wideToUtf8(name)));
        runCopier();
    }
    BackupSetRecord empty;
    ASSERT_TRUE(saveBackupSetFile(backupSetStagingFilePath(folders.watch, L"Set"), empty));
    for (const std::wstring& name : names) write(name, "damaged");
    fs::remove(wideToUtf8(source(names[4])));  // read back from the archive's own names
    {
        std::lock_guard<std::mutex> lock(versionRecordMutex);
        versionRecordMap.clear();
    }
    EXPECT_EQ(indexArchivedVersions(folders.watch), 3 * names.size());
    for (const std::wstring& name : names) {
        const std::vector<std::wstring> versions = versionsOf(source(name));
        ASSERT_EQ(versions.size(), 3u) << wideToUtf8(name);
        for (const std::wstring& version : versions) EXPECT_LE(wideToUtf8(lastPathComponent(version)).size(), 255u);
    }

    ASSERT_EQ(buildSmartRestoreList(folders.watch), 1);
    SetListEntry all;
    buildSmartList(std::wstring(kAllRecentFilesName), true);
    ASSERT_TRUE(findSetListEntry(std::wstring(kAllRecentFilesName), all));
    EXPECT_EQ(all.fileCount, names.size());  // one per file, whatever its versions are named
    std::thread task(restoreBackupSetTask, all.setFilePath, folders.watch);
    answer("Confirm Source File Overwrite:", true);
    EXPECT_NE(answer("Restore Successful!:", true).find("Files: 11\n"), std::string::npos);
    task.join();
    for (const std::wstring& name : names) EXPECT_EQ(read(source(name)), "3" + wideToUtf8(name)) << wideToUtf8(name);
}

TEST_F(RestoreTest, FilesNamedLikeVersionsOrEndingInADotKeepCopiesOfTheirOwnUnderEveryCollisionOption) {
    // Versions copied out of the archive by hand, next to the files they name;
    // names that differ only by a last "." are two files here.
    const std::vector<std::wstring> names = {
        L"notes.txt", L"notes ~ 0001.txt", L"notes ~ 0001 ~ 0000.txt", L"notes ~ 2026_01_09_ 7_05_03.042.txt",
        L"r", L"r ~ 0001.", std::wstring(240, L'v') + L" ~ 0001.txt",
        L"notes", L"notes.", L"b.", L"b..", std::wstring(250, L'd'), std::wstring(250, L'd') + L".",
        // Extensions that leave no room for a stamp; numbers fit the last one, a time stamp does not.
        L"." + std::wstring(254, L'h'), L"a." + std::wstring(253, L'e'), L"a." + std::wstring(230, L'e'),
    };
    // Keep and Overwrite write one copy each, then a number and a time stamp follow.
    const int32_t options[] = {kCollisionSingleBackup, kCollisionOverwrite, kCollisionAppendVersion,
                               kCollisionAppendTimeStamp};
    for (int round = 1; round <= 4; ++round) {
        setOption(folders.watch, options[round - 1]);
        for (const std::wstring& name : names) queue(write(name, std::to_string(round) + wideToUtf8(name)));
        runCopier();
    }
    EXPECT_FALSE(exists(archived(L"notes ~ 0001.txt")) || exists(archived(L"r ~ 0001.")));
    EXPECT_EQ(read(archived(L"notes ~ 0001 ~ 0000.txt")), "2notes ~ 0001.txt");
    EXPECT_EQ(read(archived(L"notes ~ 0001 ~ 0001.txt")), "3notes ~ 0001.txt");
    EXPECT_EQ(read(archived(L"notes.txt")), "2notes.txt");
    EXPECT_EQ(read(archived(L"notes ~ 0000.txt")), "3notes.txt");

    // The backup scan and the catch-up scan compare each file with its own newest copy.
    for (const std::wstring& name : names)
        EXPECT_EQ(read(findArchivedVersion(source(name), archived(name))), "4" + wideToUtf8(name)) << wideToUtf8(name);
    EXPECT_EQ(queueUnarchivedFiles(folders.watch, 0).queued, 0u);
    // Read back from the archive's names, each copy goes to the file that made it.
    const auto copiesBySource = [] {
        std::map<std::wstring, std::set<std::wstring>> copies;
        std::lock_guard<std::mutex> lock(versionRecordMutex);
        for (const auto& [source, versions] : versionRecordMap)
            for (const auto& [path, record] : versions) copies[source].insert(path);
        return copies;
    };
    const auto made = copiesBySource();
    {
        std::lock_guard<std::mutex> lock(versionRecordMutex);
        versionRecordMap.clear();
    }
    EXPECT_EQ(indexArchivedVersions(folders.watch), 3 * names.size());
    EXPECT_EQ(copiesBySource(), made);
    // An archive written before gave such a file's copy its own name; its record keeps it its own.
    ASSERT_TRUE(addVersionRecord(source(L"notes ~ 0001.txt"), archiveFile(L"notes ~ 0001.txt", "old"), L"", false));
    EXPECT_EQ(indexArchivedVersions(folders.watch), 0u);

    BackupSetRecord empty;
    ASSERT_TRUE(saveBackupSetFile(backupSetStagingFilePath(folders.watch, L"Set"), empty));
    for (const std::wstring& name : names) write(name, "damaged");
    ASSERT_EQ(buildSmartRestoreList(folders.watch), 1);
    SetListEntry all;
    buildSmartList(std::wstring(kAllRecentFilesName), true);
    ASSERT_TRUE(findSetListEntry(std::wstring(kAllRecentFilesName), all));
    EXPECT_EQ(all.fileCount, names.size());
    std::thread task(restoreBackupSetTask, all.setFilePath, folders.watch);
    answer("Confirm Source File Overwrite:", true);
    answer("Restore Successful!:", true);
    task.join();
    for (const std::wstring& name : names) EXPECT_EQ(read(source(name)), "4" + wideToUtf8(name)) << wideToUtf8(name);
    EXPECT_EQ(std::distance(fs::directory_iterator(wideToUtf8(folders.watch)), fs::directory_iterator()),
              static_cast<std::ptrdiff_t>(names.size()));
}

TEST_F(RestoreTest, LongNamesThatReadAsVersionsComeBackUnderTheirOwnNameOnceDeleted) {
    // 255 bytes, read as a version of a long name: every copy takes a shortened name.
    const int32_t options[] = {kCollisionSingleBackup, kCollisionOverwrite, kCollisionAppendVersion,
                               kCollisionAppendTimeStamp};
    std::vector<std::wstring> names;
    for (int i = 0; i < 4; ++i) {
        const wchar_t letter = static_cast<wchar_t>(L'k' + i);
        // The second one's extension leaves no room for a stamp.
        for (const std::wstring& name : {std::wstring(244, letter) + L" ~ 0001.txt",
                                         std::wstring(1, letter) + L" ~ 0001." + std::wstring(246, L'e')}) {
            names.push_back(name);
            setOption(folders.watch, options[i]);
            for (const char* content : {"1", "2"}) {
                queue(write(name, content));
                runCopier();
            }
            fs::remove(wideToUtf8(source(name)));
        }
    }
    BackupSetRecord empty;
    ASSERT_TRUE(saveBackupSetFile(backupSetStagingFilePath(folders.watch, L"Set"), empty));
    ASSERT_EQ(buildSmartRestoreList(folders.watch), 1);
    SetListEntry all;
    buildSmartList(std::wstring(kAllRecentFilesName), true);
    ASSERT_TRUE(findSetListEntry(std::wstring(kAllRecentFilesName), all));
    std::thread task(restoreBackupSetTask, all.setFilePath, folders.watch);
    answer("Confirm Source File Overwrite:", true);
    answer("Restore Successful!:", true);
    task.join();
    for (const std::wstring& name : names) EXPECT_EQ(read(source(name)), "2") << wideToUtf8(name);
    EXPECT_EQ(std::distance(fs::directory_iterator(wideToUtf8(folders.watch)), fs::directory_iterator()), 8);
}

TEST_F(RestoreTest, SetEntriesOutsideTheSourceFolderAreSkippedAndListed) {
    const std::wstring elsewhere = fs::path(wideToUtf8(folders.watch)).parent_path().wstring() + L"/elsewhere.txt";
    const std::wstring setPath = saveSet(L"Foreign", {
        setEntry(L"./in.txt", archiveFile(L"in.txt", "in"), true),
        setEntry(source(L"abs.txt"), archiveFile(L"abs.txt", "abs"), true),
        setEntry(elsewhere, archiveFile(L"elsewhere.txt", "not yours"), true),
        setEntry(L"./../up.txt", archiveFile(L"up.txt", "not yours"), true),
        // A copy source outside the archive: the user's private key, say.
        setEntry(L"./key.txt", elsewhere, true),
        setEntry(L"./dots.txt", folders.archive + L"/../elsewhere.txt", true),
    });
    ASSERT_TRUE(writeTestFile(wideToUtf8(elsewhere), "private key"));
    std::thread task(restoreBackupSetTask, setPath, folders.watch);
    answer("Confirm Source File Overwrite:", true);
    answer("Restore Successful!:", true);
    task.join();
    EXPECT_EQ(read(source(L"in.txt")), "in");
    EXPECT_EQ(read(source(L"abs.txt")), "abs");
    EXPECT_EQ(read(elsewhere), "private key");
    EXPECT_FALSE(exists(source(L"key.txt")) || exists(source(L"dots.txt")));
    EXPECT_EQ(logCount(L"4 outside the folder or its archive, not restored:"), 1u);
    EXPECT_EQ(logCount(L"[||]3[|] [|]" + elsewhere), 1u);
    EXPECT_EQ(logCount(L"[||]3[|] [|]./../up.txt"), 1u);
}

TEST_F(RestoreTest, AFailedSetRestoreKeepsItsPathsUntilTheWatcherSawTheWrites) {
    write(L"blocker", "a file where the set wants a folder");
    const std::wstring setPath = backupSetStagingFilePath(folders.watch, L"Failing");
    BackupSetRecord set;
    set.files[L"./a.txt"] = setEntry(L"./a.txt", archiveFile(L"a.txt", "a restored"), true);
    set.files[L"./blocker/b.txt"] = setEntry(L"./blocker/b.txt", archiveFile(L"blocker/b.txt", "b"), true);
    ASSERT_TRUE(saveBackupSetFile(setPath, set));

    startWatchFolderThreads();
    const uint64_t opened = changeWatcherReadMark();
    ASSERT_TRUE(eventuallyTrue([&] { return changeWatcherHasReadThrough(opened); }));
    std::atomic<bool> stop{false};
    std::thread pass([&] {
        while (!stop) {
            runFileWatcherCycle();
            std::this_thread::sleep_for(20ms);
        }
    });
    std::thread task(restoreBackupSetTask, setPath, folders.watch);
    answer("Confirm Source File Overwrite:", true);
    task.join();
    EXPECT_EQ(logKind(L"FAILED to restore set  \"Failing\""), 8u);
    EXPECT_EQ(read(source(L"a.txt")), "a restored");
    EXPECT_TRUE(released(source(L"a.txt")));
    const uint64_t cycle = fileWatcherCycleMark();
    EXPECT_TRUE(eventuallyTrue([&] { return fileWatcherHandledChangesSince(cycle); }));
    stop = true;
    pass.join();
    stopChangeWatcher();
    EXPECT_FALSE(queued(source(L"a.txt")));  // no new version of what was restored
    expectArchiveAgrees();
}

// A crash while a restore's group takes its names (their data already
// synced): every file holds its old content or the whole restored one, and
// the restore run again restores them all.
TEST_F(RestoreTest, KilledWhileARestoreGroupTakesItsNamesLeavesOldOrWholeFiles) {
#ifndef VARNHOLT_TEST_HOOKS
    GTEST_SKIP() << "needs the test builds' fail steps";
#endif
    constexpr int kFiles = 30;
    const auto restored = [](int i) { return std::string(3000 + i, char('a' + i % 26)); };
    std::vector<BackupSetEntry> entries;
    std::vector<std::wstring> files;
    for (int i = 0; i < kFiles; ++i) {
        const std::wstring relative = L"d" + std::to_wstring(i % 3) + L"/f" + std::to_wstring(i) + L".txt";
        files.push_back(write(relative, "old " + std::to_string(i)));
        entries.push_back(setEntry(L"./" + relative, archiveFile(L"set/" + relative, restored(i)), true));
    }
    const std::wstring setPath = saveSet(L"Crash", entries);
    const auto run = [&] {
        std::thread task(restoreBackupSetTask, setPath, folders.watch);
        answer("Confirm Source File Overwrite:", true);
        answer("Restore Successful!:", true);
        task.join();
    };
    const pid_t child = fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
        setenv("VARNHOLT_FAIL_STEP", "Copy Group Rename:kill", 1);
        run();
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "the group was never named";

    size_t whole = 0;
    for (int i = 0; i < kFiles; ++i) {
        const std::string content = read(files[i]);
        EXPECT_TRUE(content == restored(i) || content == "old " + std::to_string(i)) << wideToUtf8(files[i]);
        whole += content == restored(i);
    }
    EXPECT_GT(whole, 0u);
    EXPECT_LT(whole, size_t(kFiles));

    // The recovery removes the temporary copies the kill left, in the
    // folders the restore noted and nowhere else.
    const std::wstring notOurs = write(L".varnholt-copy-0123456789abcdef.tmp", "a stranger's");
    const auto temporaries = [&] {
        std::vector<std::wstring> all, found;
        listFilesRecursive(folders.watch, all, true);
        for (const std::wstring& file : all)
            if (isCopyTemporaryName(file)) found.push_back(file);
        return found;
    };
    EXPECT_EQ(temporaries().size(), size_t(kFiles) - whole + 1);
    recoverAfterUncleanEnd(currentTimeTicks() + 1);
    EXPECT_EQ(temporaries(), std::vector<std::wstring>{notOurs});
    EXPECT_FALSE(exists(restoreFoldersFilePath()));

    run();
    for (int i = 0; i < kFiles; ++i) EXPECT_TRUE(read(files[i]) == restored(i)) << wideToUtf8(files[i]);
}

TEST(RestoreDestination, RelativePathsStayInsideTheSourceFolder) {
    EXPECT_EQ(resolveRestoreDestination(L"./a/b.txt", L"/home/u/Docs"), L"/home/u/Docs/a/b.txt");
    EXPECT_EQ(resolveRestoreDestination(L"./a/b.txt", L"/home/u/Docs/"), L"/home/u/Docs/a/b.txt");
    EXPECT_EQ(resolveRestoreDestination(L"/home/u/Other/C.TXT", L"/home/u/Docs"), L"/home/u/Other/C.TXT");
    EXPECT_EQ(resolveRestoreDestination(L"./../../etc/passwd", L"/home/u/Docs"), L"");
    EXPECT_EQ(resolveRestoreDestination(L"./a/..", L"/home/u/Docs"), L"");
    EXPECT_EQ(resolveRestoreDestination(L"./a..b/c", L"/home/u/Docs"), L"/home/u/Docs/a..b/c");
    EXPECT_EQ(resolveRestoreDestination(L"relative.txt", L"/home/u/Docs"), L"");
    EXPECT_EQ(resolveRestoreDestination(L"./x", L""), L"");
}

TEST(RestorePacing, TheWaitsOfAFastRunStayNearTheBudget) {
    resetTimings();
    timings().restorePaceMs = 200;
    RestorePacing pacing;
    const auto begin = std::chrono::steady_clock::now();
    startRestorePacing(pacing);
    constexpr int kFiles = 400;
    for (int i = 1; i <= kFiles; ++i) paceRestoreCopy(pacing, static_cast<double>(i) / kFiles);
    const auto spent = std::chrono::steady_clock::now() - begin;
    resetTimings();
    EXPECT_GE(spent, 100ms);
    EXPECT_LT(spent, 600ms);
}

namespace {

unsigned modeOf(const std::wstring& path) {
    struct stat st {};
    return ::stat(wideToUtf8(path).c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

// Writes a 64 MiB file holding 1 MiB of data at 16 MiB, holes around it.
void writeSparse(const std::wstring& path) {
    const int fd = ::open(wideToUtf8(path).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, 64 << 20), 0);
    const std::string data(1 << 20, 'v');
    ASSERT_EQ(::pwrite(fd, data.data(), data.size(), 16 << 20), ssize_t(data.size()));
    ::close(fd);
}

off_t allocatedBytes(const std::wstring& path) {
    struct stat st {};
    return ::stat(wideToUtf8(path).c_str(), &st) == 0 ? st.st_blocks * 512 : -1;
}

}  // namespace

// A private folder's names stay private in the archive, a sparse disk image
// stays sparse, and both come back so when the folder is restored.
TEST_F(RestoreTest, PrivateFoldersAndSparseFilesKeepTheirShapeThroughArchiveAndRestore) {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    const std::wstring secret = write(L"Private/Open/secret.txt", "names nobody else may read");
    const std::wstring image = source(L"Private/disk.img");
    writeSparse(image);
    const std::wstring plain = write(L"Public/a.txt", "a");
    ASSERT_EQ(::chmod(wideToUtf8(source(L"Private")).c_str(), 0700), 0);
    ASSERT_EQ(::chmod(wideToUtf8(source(L"Private/Open")).c_str(), 0775), 0);  // group-writable
    ASSERT_EQ(::chmod(wideToUtf8(source(L"Public")).c_str(), 0755), 0);
    // 8 MiB free is room enough for the image's 1 MiB of data.
    setFreeSpaceFunction([](const std::wstring&, uint64_t& bytes) { return (bytes = 8 << 20), true; });
    for (const std::wstring& path : {secret, image, plain}) queue(path);
    runCopier();

    EXPECT_EQ(modeOf(archived(L"Private")), 0700u);
    EXPECT_EQ(modeOf(archived(L"Private/Open")), 0755u & ~mask);  // never group-writable
    EXPECT_EQ(modeOf(archived(L"Public")), 0755u & ~mask);
    EXPECT_EQ(read(archived(L"Private/Open/secret.txt")), "names nobody else may read");
    ASSERT_EQ(fs::file_size(wideToUtf8(archived(L"Private/disk.img"))), 64u << 20);
    EXPECT_LE(allocatedBytes(archived(L"Private/disk.img")), allocatedBytes(image) + (256 << 10));

    // The whole private folder is lost; its versions are restored.
    RestoreSelection selection;
    for (const std::wstring& path : {secret, image}) selection[path][versionsOf(path).at(0)].selected = true;
    fs::remove_all(wideToUtf8(source(L"Private")));
    std::thread task(restoreSelectedFilesTask, selection);
    answer("Confirm Source File Overwrite:", true);
    task.join();
    EXPECT_EQ(modeOf(source(L"Private")), 0700u);
    EXPECT_EQ(modeOf(source(L"Private/Open")), 0755u & ~mask);
    EXPECT_EQ(read(secret), "names nobody else may read");
    EXPECT_LE(allocatedBytes(image), (1 << 20) + (256 << 10));
    EXPECT_EQ(read(image).substr(16 << 20, 2), "vv");

    // Archive roots the program makes are its owner's only.
    const std::wstring made = utf8ToWide(makeTestFolder("roots")) + L"/made";
    prepareArchiveThread(folders.watch, made + L"/deeper");
    for (const std::wstring& folder : {made, made + L"/deeper", made + L"/deeper/Watch"})
        EXPECT_EQ(modeOf(folder), 0700u) << wideToUtf8(folder);
    const std::wstring drive = utf8ToWide(makeTestFolder("drive")) + L"/";
    EXPECT_FALSE(prepareArchiveFolderOn(folders.watch, {{1, drive}}).empty());
    EXPECT_EQ(modeOf(drive + std::wstring(kArchiveRootFolderName)), 0700u);
}

TEST_F(RestoreTest, RestoresNeverWriteThroughALinkedFolderAndReplaceALinkedFile) {
    const std::string outside = makeTestFolder("outside");
    const std::wstring a = version(L"sub/a.txt", L"sub/a ~ 0001.txt", "a v1");
    const std::wstring c = version(L"c.txt", L"c ~ 0001.txt", "c v1");
    ASSERT_EQ(symlink(outside.c_str(), wideToUtf8(source(L"sub")).c_str()), 0);
    ASSERT_TRUE(writeTestFile(outside + "/c.txt", "theirs"));
    ASSERT_EQ(symlink((outside + "/c.txt").c_str(), wideToUtf8(source(L"c.txt")).c_str()), 0);
    RestoreSelection selection;
    selection[source(L"sub/a.txt")][a].selected = true;
    selection[source(L"c.txt")][c].selected = true;
    std::thread task(restoreSelectedFilesTask, selection);
    answer("Confirm Source File Overwrite:", true);
    task.join();
    EXPECT_EQ(logCount(L"[||]2[|] [|]1 not copied:[|] [||]3[|] [|]" + source(L"sub/a.txt")), 1u);
    EXPECT_FALSE(fs::is_symlink(wideToUtf8(source(L"c.txt"))));
    EXPECT_EQ(read(source(L"c.txt")), "c v1");

    const std::wstring setPath = saveSet(L"Linked", {setEntry(L"./sub/a.txt", a, true)});
    std::atomic<bool> ended{false};
    std::thread setTask([&] {
        restoreBackupSetTask(setPath, folders.watch);
        ended = true;
    });
    answer("Confirm Source File Overwrite:", true);
    // A set restored through the link would wait for its success message.
    const auto succeeded = [] {
        std::lock_guard<std::mutex> lock(modalMessageMutex);
        return modalMessage.open && modalMessage.title.find("Restore Successful!") != std::string::npos;
    };
    EXPECT_TRUE(eventuallyTrue([&] { return ended.load() || succeeded(); }));
    if (!ended) answer("Restore Successful!:", true);
    setTask.join();
    EXPECT_EQ(logCount(L"FAILED to restore set  \"Linked\"[||]2[|] [|]1 not restored:[|] [||]3[|] [|]" + source(L"sub/a.txt")),
              1u);
    EXPECT_FALSE(fs::exists(outside + "/a.txt"));
    EXPECT_EQ(readTestFile(outside + "/c.txt"), "theirs");
}

TEST_F(RestoreTest, RootsOnASharedDiskAreNeverReachedThroughAnotherUsersLinks) {
    const std::string disk = fs::path(wideToUtf8(folders.watch)).parent_path();
    const std::string mine = makeTestFolder("private"), config = makeTestFolder("config");
    ASSERT_TRUE(writeTestFile(mine + "/notes.txt", "private"));
    version(L"notes.txt", L"notes.txt", "archived");
    // A version in an older archive, of a file the other user put in the watch folder.
    const std::string older = makeTestFolder("older") + "/notes ~ 0001.txt";
    ASSERT_TRUE(writeTestFile(older, "chosen by them"));
    ASSERT_TRUE(addVersionRecord(source(L"notes.txt"), utf8ToWide(older), L"editor", false));
    // On the top of a shared disk open to all, another user renames the
    // archive and the watch folder aside and puts links to private folders of
    // the user in their place.
    ASSERT_EQ(chmod(disk.c_str(), 0777), 0);
    const auto link = [](const std::wstring& folder, const std::string& target, uid_t owner) {
        const std::string path = wideToUtf8(folder);
        if (fs::is_symlink(path))
            fs::remove(path);
        else
            fs::rename(path, path + ".aside");
        fs::create_directory_symlink(target, path);
        EXPECT_TRUE(geteuid() != 0 || lchown(path.c_str(), owner, owner) == 0);
    };
    link(folders.archive, mine, 65534);
    link(folders.watch, config, 65534);

    RestoreSelection selection;
    selection[source(L"notes.txt")][utf8ToWide(older)].selected = true;
    std::thread selected(restoreSelectedFilesTask, selection);
    answer("Confirm Source File Overwrite:", true);
    selected.join();
    std::atomic<bool> ended{false};
    std::thread recent([&] {
        restoreBackupSetTask(folders.watch, folders.watch);
        ended = true;
    });
    answer("Confirm Source File Overwrite:", true);
    EXPECT_TRUE(eventuallyTrue([&] {
        std::lock_guard<std::mutex> lock(modalMessageMutex);
        return ended.load() || modalMessage.open;
    }));
    if (!ended) answer("Restore Successful!:", true);
    recent.join();
    EXPECT_FALSE(fs::exists(config + "/notes.txt"));
    queue(write(L"new.txt", "new"));
    runCopier();
    EXPECT_FALSE(fs::exists(mine + "/new.txt"));
    deleteArchivedVersions(folders.watch);
    EXPECT_EQ(readTestFile(mine + "/notes.txt"), "private");
    EXPECT_EQ(logCount(L"Restore folder not used, group or others can change the folder " + utf8ToWide(disk) +
                       L" on its way (mode 0777): " + folders.watch + L" - remove their write permission"),
              1u);

    // The user's own links, on a disk only they can change, keep working.
    ASSERT_EQ(chmod(disk.c_str(), 0755), 0);
    link(folders.archive, mine, geteuid());
    link(folders.watch, config, geteuid());
    queue(write(L"own.txt", "own"));
    runCopier();
    EXPECT_EQ(readTestFile(mine + "/own.txt"), "own");
}

// A restore into a watch folder whose parent is gone makes the missing
// folders on its checked way from "/", each in the folder above it: a link
// another user puts in the way after the check leads nothing elsewhere.
TEST_F(RestoreTest, MissingFoldersAreMadeOnTheCheckedWayNeverThroughALinkPutThereMeanwhile) {
    const std::string disk = fs::path(wideToUtf8(folders.watch)).parent_path();
    const std::string mine = makeTestFolder("private");
    const std::wstring team = utf8ToWide(disk) + L"/team", watch = team + L"/Watch";
    addFolder(watch, folders.archive + L"/team", kCollisionAppendVersion);
    const std::wstring copy = archiveFile(L"team/a ~ 0001.txt", "archived");
    ASSERT_TRUE(addVersionRecord(watch + L"/a.txt", copy, L"editor", false));
    ASSERT_EQ(chmod(disk.c_str(), 01777), 0);  // a sticky folder open to all
    setRestoreFoldersHookForTests([&] {
        fs::create_directory_symlink(mine, wideToUtf8(team));
        EXPECT_TRUE(geteuid() != 0 || lchown(wideToUtf8(team).c_str(), 65534, 65534) == 0);
    });
    RestoreSelection selection;
    selection[watch + L"/a.txt"][copy].selected = true;
    const auto restore = [&] {
        std::thread task(restoreSelectedFilesTask, selection);
        answer("Confirm Source File Overwrite:", true);
        task.join();
    };
    restore();
    EXPECT_TRUE(fs::is_empty(mine));
    setRestoreFoldersHookForTests({});
    fs::remove(wideToUtf8(team));
    restore();
    EXPECT_EQ(read(watch + L"/a.txt"), "archived");
}

// The copies staged for a folder the user moves aside before they take their
// names fail, and their temporaries go from where they lie: the recovery after
// a crash knows only the folders' old paths.
TEST_F(RestoreTest, CopiesOfAFolderMovedAsideBeforeTheNamingLeaveNoTemporaries) {
    std::vector<BackupSetEntry> entries;
    for (const std::wstring name : {L"b/f1", L"b/f2", L"b/f3", L"b/f4", L"b/f5", L"z/last"})
        entries.push_back(setEntry(L"./" + name, archiveFile(L"set/" + name, "copy"), true));
    const std::wstring last = write(L"z/last", "old");
    const std::wstring setPath = saveSet(L"Set", entries);
    std::thread task(restoreBackupSetTask, setPath, folders.watch);
    question("Confirm Source File Overwrite:");
    write(L"z/last", "changed");  // asked about once the copies before it are staged
    answer("Confirm Source File Overwrite:", true);
    question("Confirm Source File Overwrite:");
    fs::rename(wideToUtf8(source(L"b")), wideToUtf8(source(L"b.aside")));
    answer("Confirm Source File Overwrite:", true);
    task.join();
    EXPECT_TRUE(fs::is_empty(wideToUtf8(source(L"b.aside"))));
    EXPECT_EQ(read(last), "copy");
}

TEST_F(RestoreTest, FoldersAnotherUserMadeAgainInAStickyFolderAreNeitherReadNorWritten) {
    if (geteuid() != 0) GTEST_SKIP() << "plays another user as root";
    const std::string disk = fs::path(wideToUtf8(folders.watch)).parent_path(), older = disk + "/Older";
    ASSERT_EQ(chmod(disk.c_str(), 01777), 0);
    const std::wstring setPath = utf8ToWide(makeTestFolder("sets")) + L"/saved.backup";
    BackupSetRecord saved;
    saved.files[L"./notes.txt"] = setEntry(L"./notes.txt", version(L"notes.txt", L"notes.txt", "archived"), true);
    ASSERT_TRUE(saveBackupSetFile(setPath, saved));
    const auto restoreSet = [&](const std::wstring& set, bool succeeds) {
        std::thread task(restoreBackupSetTask, set, folders.watch);
        answer("Confirm Source File Overwrite:", true);
        if (succeeds) answer("Restore Successful!:", true);
        task.join();
    };
    // The user's folder is gone; another user makes one of its name.
    const auto madeAgain = [](const std::string& folder, const std::string& file) {
        fs::remove_all(folder);
        fs::create_directory(folder);
        EXPECT_TRUE(writeTestFile(folder + "/" + file, "theirs"));
        EXPECT_EQ(chown((folder + "/" + file).c_str(), 65534, 65534) | chown(folder.c_str(), 65534, 65534), 0);
        EXPECT_EQ(chmod(folder.c_str(), 0777), 0);
    };
    write(L"notes.txt", "mine");
    madeAgain(wideToUtf8(folders.archive), "notes.txt");
    madeAgain(older, "notes ~ 0001.txt");
    ASSERT_TRUE(addVersionRecord(source(L"notes.txt"), utf8ToWide(older + "/notes ~ 0001.txt"), L"editor", false));
    // Neither is read from, nor is an archive of the user's others can write.
    for (uid_t owner : {65534u, geteuid()}) {
        for (const std::string& folder : {wideToUtf8(folders.archive), older})
            ASSERT_EQ(chown(folder.c_str(), owner, owner), 0);
        RestoreSelection selection;
        selection[source(L"notes.txt")][utf8ToWide(older + "/notes ~ 0001.txt")].selected = true;
        std::thread selected(restoreSelectedFilesTask, selection);
        answer("Confirm Source File Overwrite:", true);
        selected.join();
        restoreSet(setPath, false);
        EXPECT_EQ(read(source(L"notes.txt")), "mine") << owner;
    }

    // The archive is the user's again, the watch folder another user's; the
    // user's own watch folder there is used.
    fs::remove_all(wideToUtf8(folders.archive));
    version(L"notes.txt", L"notes.txt", "archived");
    madeAgain(wideToUtf8(folders.watch), "theirs.txt");
    restoreSet(folders.watch, false);
    EXPECT_FALSE(exists(source(L"notes.txt")));
    EXPECT_EQ(logCount(L"Restore folder not used, it belongs to another user (uid 65534) and lies in a folder group or "
                       L"others can change (mode 1777): " + folders.watch), 1u);
    fs::remove_all(wideToUtf8(folders.watch));
    fs::create_directory(wideToUtf8(folders.watch));
    restoreSet(folders.watch, true);
    EXPECT_EQ(read(source(L"notes.txt")), "archived");
}

// A session whose hard open-file limit is 1024 (some containers): a set
// restore of files each in a folder of its own restores them all.
TEST_F(RestoreTest, ASetRestoreOfFilesInManyFoldersRestoresThemAllUnderALowOpenFileLimit) {
    std::vector<BackupSetEntry> entries;
    for (int i = 0; i < 1500; ++i) {
        const std::wstring name = L"d" + std::to_wstring(i) + L"/f";
        entries.push_back(setEntry(L"./" + name, archiveFile(L"set/" + name, "copy"), true));
    }
    const std::wstring setPath = saveSet(L"Set", entries);
    struct rlimit low {1024, 1024};
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);  // this test's process only
    std::thread task(restoreBackupSetTask, setPath, folders.watch);
    answer("Confirm Source File Overwrite:", true);
    answer("Restore Successful!:", true);
    task.join();
    size_t restored = 0;
    for (int i = 0; i < 1500; ++i) restored += exists(source(L"d" + std::to_wstring(i) + L"/f"));
    EXPECT_EQ(restored, 1500u);
}

// In the user's own watch folder that others can write (a drop folder at
// 01777, a team folder at 0775), a folder another user made gets no restored
// file, while what a teammate puts there is archived as before.
TEST_F(RestoreTest, ASubfolderAnotherUserMadeAgainInAnOpenWatchFolderGetsNoRestoredFile) {
    if (geteuid() != 0) GTEST_SKIP() << "plays another user as root";
    const std::string watch = wideToUtf8(folders.watch), sub = watch + "/sub";
    version(L"sub/secret.txt", L"sub/secret.txt", "secret");
    fs::create_directory(sub);
    ASSERT_EQ(chown(sub.c_str(), 65534, 65534), 0);
    RestoreSelection selection;
    selection[source(L"sub/secret.txt")][archived(L"sub/secret.txt")].selected = true;
    for (const mode_t mode : {01777, 0775}) {
        ASSERT_EQ(chmod(watch.c_str(), mode), 0);
        std::thread task(restoreSelectedFilesTask, selection);
        answer("Confirm Source File Overwrite:", true);
        task.join();
        EXPECT_FALSE(exists(source(L"sub/secret.txt"))) << mode;
    }
    EXPECT_EQ(logCount(L"Restore folder not used, it belongs to another user (uid 65534) and lies in a folder group "
                       L"or others can change (mode 1777): " + source(L"sub")), 1u);
    queue(write(L"sub/theirs.txt", "theirs"));
    runCopier();
    EXPECT_EQ(read(archived(L"sub/theirs.txt")), "theirs");
}
