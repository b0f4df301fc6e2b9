// The engine never destroys or hides a user's data: an archive that would
// overlap a watch folder, a copy shared by a version and sets, and two watch
// folders of the same name. Each scenario ends with the archive, the version
// records and the sets agreeing.
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <thread>

#include "archive_test_support.h"
#include "deletion_test_support.h"
#include "engine/backup_data_tasks.h"
#include "engine/backup_engine.h"
#include "engine/backup_scheduler.h"
#include "engine/backup_set_folders.h"
#include "engine/backup_scan.h"
#include "engine/backup_sets.h"
#include "engine/smart_lists.h"
#include "engine/version_deletion.h"
#include "foundation/text_format.h"
#include "shell/modal_window.h"

namespace fs = std::filesystem;

namespace {

template <typename Condition>
bool eventually(Condition condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

}  // namespace

class ArchiveSafetyTest : public ArchiveTest {
protected:
    void SetUp() override {
        ArchiveTest::SetUp();
        timings().backupStepMs = 1;
        timings().progressHoldMs = 0;
        clearCurrentBackupSet();
        resetBackupScan();
        fs::remove_all(wideToUtf8(backupStagingFolder()));
        removeAppLogEntriesOfKind(0xFFFFFFFF);
    }
    void TearDown() override {
        openGate();
        ArchiveTest::TearDown();
        std::lock_guard<std::mutex> lock(modalMessageMutex);
        modalMessage = ModalMessageState();
    }
    // Holds copies of files whose name holds "slow" at their free-space check
    // until opened; they then find the disk full. Lives as long as the
    // engine threads that may call it.
    void holdSlowCopies() {
        setFreeSpaceFunction([this](const std::wstring& path, uint64_t& bytes) {
            if (path.find(L"slow") == std::wstring::npos) return false;
            std::unique_lock<std::mutex> lock(gateMutex);
            gateChanged.wait_for(lock, std::chrono::seconds(20), [this] { return gateOpen; });
            bytes = 0;
            return true;
        });
    }
    void openGate() {
        std::lock_guard<std::mutex> lock(gateMutex);
        gateOpen = true;
        gateChanged.notify_all();
    }
    std::mutex gateMutex;
    std::condition_variable gateChanged;
    bool gateOpen = false;

    std::wstring entryArchive(const std::wstring& folder) const {
        std::lock_guard<std::mutex> lock(watchFolderMutex);
        return watchFolderMap.at(folder).archivePath;
    }
};

TEST_F(ArchiveSafetyTest, AnArchiveOverlappingAWatchFolderIsRefused) {
    const std::wstring file = write(L"report.txt", "the user's own file");
    const std::wstring parent = fs::path(wideToUtf8(folders.watch)).parent_path().wstring();
    // The watch folder's parent as archive location makes the watch folder its
    // own archive folder: refused, the old archive stays, nothing is indexed.
    prepareArchiveThread(folders.watch, parent);
    EXPECT_EQ(entryArchive(folders.watch), folders.archive);
    EXPECT_TRUE(versionsOf(file).empty());
    EXPECT_EQ(logCount(L"Archive path refused for " + folders.watch), 1u);
    // Inside the watch folder, or holding another one: refused as well.
    prepareArchiveThread(folders.watch, folders.watch + L"/inner");
    addFolder(parent + L"/Other", L"", kCollisionAppendVersion);
    prepareArchiveThread(parent + L"/Other", folders.watch);
    EXPECT_EQ(entryArchive(folders.watch), folders.archive);
    EXPECT_EQ(entryArchive(parent + L"/Other"), L"");
    EXPECT_EQ(read(file), "the user's own file");
    expectArchiveAgrees();

    // Records left from an archive laid over the watch folder name the user's
    // own files: deleting the folder's archived data leaves them.
    {
        std::lock_guard<std::mutex> lock(watchFolderMutex);
        watchFolderMap[folders.watch].archivePath = folders.watch;
    }
    ASSERT_TRUE(addVersionRecord(file, file, L"", false));
    deleteArchivedVersions(folders.watch);
    EXPECT_EQ(read(file), "the user's own file");
}

TEST_F(ArchiveSafetyTest, AnArchiveOthersCanWriteIsNeverUsedImportedOrIndexed) {
    // A shared folder another user opened to all, with a set and a copy planted.
    const std::wstring shared = utf8ToWide(makeTestFolder("shared")), mine = shared + L"/Watch";
    fs::create_directories(wideToUtf8(mine + L"/.backupsets"));
    BackupSetRecord planted;
    BackupSetEntry& entry = planted.files[L"./x.txt"];
    entry.sourcePath = L"./x.txt";
    entry.archivePath = mine + L"/x.txt";
    entry.copied = true;
    ASSERT_TRUE(saveBackupSetFile(mine + L"/.backupsets/planted.backup", planted));
    ASSERT_TRUE(writeTestFile(wideToUtf8(mine + L"/x.txt"), "planted"));
    ASSERT_EQ(chmod(wideToUtf8(shared).c_str(), 0777), 0);
    prepareArchiveThread(folders.watch, shared);
    EXPECT_EQ(entryArchive(folders.watch), folders.archive);
    EXPECT_TRUE(versionsOf(folders.watch + L"/x.txt").empty());
    EXPECT_TRUE(listBackupSetFiles(backupStagingSubfolder(folders.watch)).empty());
    EXPECT_EQ(logCount(L"Archive folder not used, group or others can write it (mode 0777): " + shared), 1u);

    // An archive folder that became so is not written either: the file waits.
    ASSERT_EQ(chmod(wideToUtf8(folders.archive).c_str(), 0757), 0);
    queue(write(L"a.txt", "a"));
    runCopier();
    EXPECT_FALSE(exists(archived(L"a.txt")));
    EXPECT_EQ(filesAwaitingArchive().size(), 1u);
    EXPECT_EQ(logCount(L"(mode 0757): " + folders.archive), 1u);
    takeFilesAwaitingArchive(folders.watch);
}

TEST_F(ArchiveSafetyTest, SharedCopiesOutliveASetRemovalAndACancelledBackup) {
    setOption(folders.watch, kCollisionOverwrite);
    installArchiveHooks();
    installBackupEngineHooks();
    const std::wstring a = write(L"a.txt", "alpha");
    queue(a);
    runCopier();
    ASSERT_EQ(versionsOf(a), std::vector<std::wstring>{archived(L"a.txt")});

    // A backup overwrites the plain-named copy that is also a's version.
    write(L"a.txt", "alpha, changed");
    // The real engine: the supervisor starts the Copier whenever the queue fills.
    getThreadState(std::string(kCopierThreadName), 1000, 10000);
    setThreadState(std::string(kCopierThreadName), kThreadStopped);
    startEngineThread(startWorkerThreads);
    setBackupRunning(true);
    backupThreadMain(folders.watch, kTestStartTicks, true);
    const std::wstring setFile = backupSetStagingFilePath(folders.watch, formatTimestamp(kTestStartTicks, true) + L" - File Set");
    ASSERT_TRUE(exists(setFile));
    ASSERT_EQ(read(archived(L"a.txt")), "alpha, changed");
    expectArchiveAgrees();

    // Removing the set keeps the copy the version record names.
    ASSERT_EQ(buildSmartRestoreList(folders.watch), 1);
    {
        deletion_test::ModalAnswerer user(true);
        removeBackupSetTask(setFile, backupSetNameFromPath(setFile));
    }
    EXPECT_FALSE(exists(setFile));
    EXPECT_EQ(read(archived(L"a.txt")), "alpha, changed");
    expectArchiveAgrees();

    // A backup cancelled after it overwrote the copy keeps it too.
    write(L"a.txt", "alpha, third");
    write(L"slow.txt", "held back");
    holdSlowCopies();
    setBackupRunning(true);
    startEngineThread([this] { backupThreadMain(folders.watch, kTestStartTicks + 1, true); });
    ASSERT_TRUE(eventually([&] { return read(archived(L"a.txt")) == "alpha, third"; }));
    {
        deletion_test::ModalAnswerer user(true);
        setCancelRequest(CancelTask::Backup, true);
        ASSERT_TRUE(eventually([] { return !isBackupRunning(); }));
    }
    openGate();
    // The held-back copy ends on its own copy thread, and the Copier with it.
    EXPECT_TRUE(eventually([&] {
        {
            std::lock_guard<std::mutex> lock(threadStateMutex);
            const auto copier = threadStateMap.find(std::string(kCopierThreadName));
            if (copier != threadStateMap.end() && copier->second.state == kThreadRunning) return false;
        }
        if (copyQueueCount() != 0) return false;
        for (const auto& entry : std::filesystem::directory_iterator(wideToUtf8(folders.archive)))
            if (entry.path().filename().string().rfind(".varnholt-copy-", 0) == 0) return false;
        return true;
    }));
    EXPECT_EQ(logCount(L"not saved, backup discarded!"), 1u);
    EXPECT_EQ(read(archived(L"a.txt")), "alpha, third");
    expectArchiveAgrees();
}

TEST_F(ArchiveSafetyTest, SameNamedWatchFoldersNeverShareAnArchiveFolder) {
    const std::wstring base = fs::path(wideToUtf8(folders.watch)).parent_path().wstring();
    const std::wstring root = base + L"/root";
    const std::wstring first = base + L"/home/Documents";
    const std::wstring second = base + L"/mnt/Documents";
    fs::create_directories(wideToUtf8(first));
    fs::create_directories(wideToUtf8(second));
    addFolder(first, L"", kCollisionAppendVersion);
    addFolder(second, L"", kCollisionAppendVersion);
    prepareArchiveThread(first, root);
    prepareArchiveThread(second, root);
    EXPECT_EQ(entryArchive(first), root + L"/Documents");
    EXPECT_EQ(entryArchive(second), root + L"/Documents(1)");
    // Prepared again (the storage checker does), each keeps its own.
    prepareArchiveThread(second, entryArchive(second));
    prepareArchiveThread(first, root + L"/Documents");
    EXPECT_EQ(entryArchive(second), root + L"/Documents(1)");
    EXPECT_EQ(entryArchive(first), root + L"/Documents");
}

TEST_F(ArchiveSafetyTest, LinksNeverLeadACopyOutOfTheWatchFolderOrTheArchive) {
    const std::string outside = makeTestFolder("outside");
    ASSERT_TRUE(writeTestFile(outside + "/secret.txt", "not yours"));
    // Queued while "sub" was a folder; a link out of the watch folder since.
    queue(write(L"sub/secret.txt", "mine"));
    fs::remove_all(wideToUtf8(folders.watch + L"/sub"));
    ASSERT_EQ(symlink(outside.c_str(), wideToUtf8(folders.watch + L"/sub").c_str()), 0);
    // A link to a file is passed over.
    const std::wstring link = folders.watch + L"/link.txt";
    ASSERT_EQ(symlink((outside + "/secret.txt").c_str(), wideToUtf8(link).c_str()), 0);
    queue(link);
    EXPECT_FALSE(queued(link));
    // A folder of the archive replaced by a link out of it.
    ASSERT_EQ(symlink(outside.c_str(), wideToUtf8(archived(L"docs")).c_str()), 0);
    queue(write(L"docs/new.txt", "new"));
    runCopier();

    EXPECT_FALSE(exists(archived(L"sub/secret.txt")));
    std::vector<std::string> outsideFiles;
    for (const auto& entry : fs::directory_iterator(outside)) outsideFiles.push_back(entry.path().filename());
    EXPECT_EQ(outsideFiles, std::vector<std::string>{"secret.txt"});
    EXPECT_EQ(readTestFile(outside + "/secret.txt"), "not yours");
}

TEST_F(ArchiveSafetyTest, DeletionsNeverFollowALinkOutOfTheArchive) {
    const std::string outside = makeTestFolder("outside");
    for (const char* name : {"a.txt", "b.txt", "c.txt"}) ASSERT_TRUE(writeTestFile(outside + "/" + name, "the user's"));
    ASSERT_EQ(symlink(outside.c_str(), wideToUtf8(archived(L"sub")).c_str()), 0);
    // A version, a version chosen for deletion and a set's copy, each named
    // inside the archive, below the link.
    deletion_test::addRecord(folders.watch + L"/sub/a.txt", archived(L"sub/a.txt"));
    deleteArchivedVersions(folders.watch);
    VersionSelection chosen;
    chosen[folders.watch + L"/sub/b.txt"][archived(L"sub/b.txt")] = {archived(L"sub/b.txt"), L"", true, true};
    BackupSetRecord set;
    BackupSetEntry& entry = set.files[folders.watch + L"/sub/c.txt"];
    entry.sourcePath = folders.watch + L"/sub/c.txt";
    entry.archivePath = archived(L"sub/c.txt");
    entry.copied = true;
    const std::wstring setFile = backupSetStagingFilePath(folders.watch, L"Linked");
    ASSERT_TRUE(saveBackupSetFile(setFile, set));
    {
        deletion_test::ModalAnswerer user(true);
        deleteBackupDataTask(chosen);
        removeBackupSetTask(setFile, L"Linked");
    }
    EXPECT_FALSE(exists(setFile));
    for (const char* name : {"a.txt", "b.txt", "c.txt"}) EXPECT_EQ(readTestFile(outside + "/" + name), "the user's") << name;
}
