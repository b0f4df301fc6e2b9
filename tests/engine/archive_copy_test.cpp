#include <cstdio>
#include <deque>
#include <regex>
#include <set>
#include <thread>

#include "archive_test_support.h"
#include "engine/backup_scan.h"
#include "engine/backup_set_folders.h"
#include "engine/backup_sets.h"
#include "engine/storage_checker.h"
#include "foundation/archive_stamps.h"
#include "platform/file_copy.h"

TEST_F(ArchiveTest, ChangedFileReachesArchiveWithSubFoldersAndNumberedVersions) {
    const std::wstring source = write(L"Work/Report.docx", "first");
    queue(source);
    ASSERT_TRUE(queued(source));
    runCopier();
    EXPECT_EQ(copyQueueCount(), 0u);
    // Letter case of the source is kept on Linux.
    EXPECT_EQ(read(archived(L"Work/Report.docx")), "first");

    write(L"Work/Report.docx", "second!");
    queue(source);
    runCopier();
    EXPECT_EQ(read(archived(L"Work/Report ~ 0000.docx")), "second!");
    write(L"Work/Report.docx", "third!!!");
    queue(source);
    runCopier();
    EXPECT_EQ(read(archived(L"Work/Report ~ 0001.docx")), "third!!!");

    const std::vector<std::wstring> versions = versionsOf(source);
    EXPECT_EQ(versions, (std::vector<std::wstring>{archived(L"Work/Report ~ 0000.docx"),
                                                   archived(L"Work/Report ~ 0001.docx"),
                                                   archived(L"Work/Report.docx")}));
    // The version records were saved after the batch and load back.
    ASSERT_TRUE(loadVersionRecords());
    EXPECT_EQ(versionsOf(source).size(), 3u);
}

TEST_F(ArchiveTest, CollisionOptionsNameTheSecondVersion) {
    const std::wstring source = write(L"notes", "one");
    const std::wstring dotted = write(L"v1.2/data.csv", "one");
    for (const std::wstring& path : {source, dotted}) queue(path);
    runCopier();
    ASSERT_TRUE(exists(archived(L"notes")));
    ASSERT_TRUE(exists(archived(L"v1.2/data.csv")));

    setOption(folders.watch, kCollisionAppendTimeStamp);
    write(L"notes", "two");
    write(L"v1.2/data.csv", "two");
    for (const std::wstring& path : {source, dotted}) queue(path);
    runCopier();
    const std::wregex stamped(LR"(.* ~ \d{4}_\d{2}_\d{2}_[ \d]\d_\d{2}_\d{2}\.\d{3}\.(csv)?)");
    std::vector<std::wstring> names;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(wideToUtf8(folders.archive)))
        if (entry.is_regular_file()) names.push_back(utf8ToWide(entry.path().string()));
    size_t stampedCount = 0;
    for (const std::wstring& name : names) stampedCount += std::regex_match(name, stamped);
    EXPECT_EQ(stampedCount, 2u);
    // No point in the name: the stamp is followed by a point and nothing else;
    // a dotted folder never takes the stamp.
    for (const std::wstring& name : names) {
        if (name.find(L"notes ~ ") != std::wstring::npos) {
            EXPECT_EQ(name.back(), L'.');
        }
        if (name.find(L"data.csv") == std::wstring::npos && name.find(L"v1.2/") != std::wstring::npos) {
            EXPECT_NE(name.find(L"data ~ "), std::wstring::npos);
        }
    }

    for (int32_t option : {kCollisionOverwrite, kCollisionSingleBackup}) {
        setOption(folders.watch, option);
        const std::string content = "plain " + std::to_string(option);
        write(L"notes", content);
        queue(source);
        runCopier();
        EXPECT_EQ(read(archived(L"notes")), content);
    }
    EXPECT_EQ(versionsOf(source).size(), 2u);  // the plain name and the stamped one
}

TEST_F(ArchiveTest, UnchangedResaveIsGivenUpWhileABackupItemIsCopied) {
    const std::wstring source = write(L"a.txt", "same");
    queue(source);
    runCopier();
    ASSERT_EQ(versionsOf(source).size(), 1u);
    std::filesystem::last_write_time(wideToUtf8(source), std::filesystem::file_time_type::clock::now());

    std::vector<std::pair<std::wstring, int32_t>> reported;
    BackupCopyHooks hooks;
    hooks.recordCopyResult = [&](const std::wstring& path, const std::wstring&, int32_t code) {
        reported.emplace_back(path, code);
    };
    setBackupCopyHooks(hooks);
    {
        std::lock_guard<std::mutex> lock(statisticsMutex);
        applicationStatsMap[L"editor"] = ApplicationRecord{};
        applicationStatsMap[L"editor"].changeCount = 2;
    }
    queue(source);
    CopyQueueItem item;
    {
        std::lock_guard<std::mutex> lock(copyQueueMutex);
        item = copyQueue.at(source);
        copyQueue.clear();
    }
    CopyWorkList list;
    list.items.push_back(&item);
    copyFileToArchive(list);
    EXPECT_TRUE(list.items.empty());
    EXPECT_EQ(item.attemptCount, kMaxCopyAttempts);
    EXPECT_TRUE(item.finished);
    EXPECT_EQ(reported, (std::vector<std::pair<std::wstring, int32_t>>{{source, kBackupResultGivenUp}}));
    EXPECT_FALSE(exists(archived(L"a ~ 0000.txt")));
    {
        std::lock_guard<std::mutex> lock(watchFolderMutex);
        EXPECT_EQ(watchFolderMap.at(folders.watch).givenUpCount, 1u);
    }
    {
        std::lock_guard<std::mutex> lock(statisticsMutex);
        EXPECT_EQ(applicationStatsMap[L"editor"].failureCount, 1u);  // counted once
    }

    queue(source, L"BACKUP");
    runCopier();
    EXPECT_EQ(read(archived(L"a ~ 0000.txt")), "same");
    EXPECT_EQ(reported.back(), (std::pair<std::wstring, int32_t>{source, kBackupResultCopied}));
}

TEST_F(ArchiveTest, FilterSkipsWhatMustNotBeArchived) {
    // The archive inside the watch folder: its copies never come back.
    const std::wstring inner = folders.watch + L"/Inner";
    addFolder(folders.watch, inner, kCollisionAppendVersion);
    const std::wstring kept = write(L"ok.txt", "x");
    const std::wstring excludedExtension = write(L"scratch.tmp", "x");
    const std::wstring restoring = write(L"restored.txt", "x");
    const std::wstring inArchive = write(L"Inner/ok.txt", "x");
    const std::wstring temporary = write(L".varnholt-copy-abc.tmp", "x");
    const std::wstring outside = utf8ToWide(makeTestFolder("outside")) + L"/x.txt";
    writeTestFile(wideToUtf8(outside), "x");
    const std::wstring folderPath = folders.watch + L"/Sub";
    std::filesystem::create_directories(wideToUtf8(folderPath));
    FileState restored;
    ASSERT_TRUE(readFileState(restoring, restored));
    addRestoredWrite(restoring, restored);  // a restore's own write
    archiveChangedFile({{kept, L"a"}, {excludedExtension, L"a"}, {restoring, L"a"}, {inArchive, L"a"},
                        {temporary, L"a"}, {outside, L"a"}, {folderPath, L"a"}, {folders.watch + L"/gone.txt", L"a"}});
    EXPECT_EQ(copyQueueCount(), 1u);
    EXPECT_TRUE(queued(kept));
    write(L"restored.txt", "edited since");
    queue(restoring);
    EXPECT_TRUE(queued(restoring));
    removeRestoredWrites({{restoring, restored}});

    // A plain Folder entry archives direct children only; Exclude inside wins.
    const std::wstring flatWatch = utf8ToWide(makeTestFolder("flat"));
    addFolder(flatWatch, folders.archive + L"/flat", kCollisionAppendVersion, kFolderTypeFolder);
    addFolder(flatWatch + L"/skip", L"", kCollisionAppendVersion, kFolderTypeExclude);
    std::filesystem::create_directories(wideToUtf8(flatWatch + L"/deep"));
    std::filesystem::create_directories(wideToUtf8(flatWatch + L"/skip"));
    for (const char* name : {"/top.txt", "/deep/low.txt", "/skip/no.txt"})
        writeTestFile(wideToUtf8(flatWatch) + name, "x");
    archiveChangedFile({{flatWatch + L"/top.txt", L""}, {flatWatch + L"/deep/low.txt", L""}, {flatWatch + L"/skip/no.txt", L""}});
    EXPECT_TRUE(queued(flatWatch + L"/top.txt"));
    EXPECT_FALSE(queued(flatWatch + L"/deep/low.txt"));
    EXPECT_FALSE(queued(flatWatch + L"/skip/no.txt"));

    // A folder whose archive is missing gets no context and no items: its
    // change waits for the archive's return.
    const std::wstring missing = utf8ToWide(makeTestFolder("missing"));
    addFolder(missing, missing + L"-archive", kCollisionAppendVersion);
    {
        std::lock_guard<std::mutex> lock(watchFolderMutex);
        watchFolderMap.at(missing).problemFlags = kProblemArchiveMissing;
    }
    writeTestFile(wideToUtf8(missing) + "/m.txt", "x");
    queue(missing + L"/m.txt");
    std::wstring root;
    EXPECT_FALSE(archiveContextOf(missing, root));
    EXPECT_FALSE(queued(missing + L"/m.txt"));
    const std::vector<ChangedFile> waiting = takeFilesAwaitingArchive(missing);
    ASSERT_EQ(waiting.size(), 1u);
    EXPECT_EQ(waiting[0].path, missing + L"/m.txt");
}

TEST_F(ArchiveTest, ArchiveNamesUnderEveryCollisionOption) {
    const std::wstring source = write(L"Docs/Work/report.docx", "x");
    queue(source);
    CopyQueueItem item;
    {
        std::lock_guard<std::mutex> lock(copyQueueMutex);
        item = copyQueue.at(source);
    }
    std::wstring builtSource, target;
    ASSERT_TRUE(buildArchiveTarget(item, builtSource, target));
    EXPECT_EQ(target, archived(L"Docs/Work/report.docx"));
    EXPECT_EQ(item.finalTargetPath, target);

    // A retry keeps the name of its first attempt, even once the plain name exists.
    std::filesystem::create_directories(wideToUtf8(folders.archive + L"/Docs/Work"));
    ASSERT_TRUE(writeTestFile(wideToUtf8(target), "older version"));
    ASSERT_TRUE(buildArchiveTarget(item, builtSource, target));
    EXPECT_EQ(target, archived(L"Docs/Work/report.docx"));
    item.finalTargetPath.clear();
    ASSERT_TRUE(buildArchiveTarget(item, builtSource, target));
    EXPECT_EQ(target, archived(L"Docs/Work/report ~ 0000.docx"));

    // All thousand four-digit numbers taken: the numbers go on.
    for (int n = 0; n < 1000; ++n) {
        char name[64];
        std::snprintf(name, sizeof name, "/Docs/Work/report ~ %04d.docx", n);
        writeTestFile(wideToUtf8(folders.archive) + name, "v");
    }
    item.finalTargetPath.clear();
    ASSERT_TRUE(buildArchiveTarget(item, builtSource, target));
    EXPECT_EQ(target, archived(L"Docs/Work/report ~ 1000.docx"));

    // A started item is left as it is; a folder no longer listed has no name.
    item.state = kCopyStateStarted;
    item.finalTargetPath = L"/kept";
    ASSERT_TRUE(buildArchiveTarget(item, builtSource, target));
    EXPECT_EQ(item.finalTargetPath, L"/kept");
    item.sourcePath = L"/nowhere/x.txt";
    EXPECT_FALSE(buildArchiveTarget(item, builtSource, target));
}

TEST_F(ArchiveTest, DiskFullCopiesNothingAndFailsTheItem) {
    const std::wstring source = write(L"big.bin", std::string(4096, 'b'));
    setFreeSpaceFunction([](const std::wstring&, uint64_t& bytes) {
        bytes = 100;
        return true;
    });
    std::vector<int32_t> statuses;
    BackupCopyHooks hooks;
    hooks.setCopyStatus = [&](const std::wstring&, int32_t status) {
        statuses.push_back(status);
        return true;
    };
    setBackupCopyHooks(hooks);
    queue(source, L"BACKUP");
    runCopier();
    EXPECT_FALSE(exists(archived(L"big.bin")));
    EXPECT_TRUE(std::filesystem::is_empty(wideToUtf8(folders.archive)));
    ASSERT_EQ(statuses.size(), kMaxCopyAttempts);
    EXPECT_EQ(statuses.front(), 3);
    EXPECT_TRUE(versionsOf(source).empty());  // the backup's own bookkeeping took it

    setFreeSpaceFunction([](const std::wstring&, uint64_t&) { return false; });  // unreadable: copy anyway
    queue(source, L"BACKUP");
    runCopier();
    EXPECT_TRUE(exists(archived(L"big.bin")));
    EXPECT_EQ(statuses.back(), 4);
}

TEST_F(ArchiveTest, ChangesRefusedForLackOfRoomWaitUntilAStorageCheckFindsRoom) {
    installArchiveHooks();
    const std::wstring small = write(L"small.txt", "s"), big = write(L"big.bin", std::string(8192, 'b'));
    std::atomic<uint64_t> room{0};
    setFreeSpaceFunction([&](const std::wstring&, uint64_t& bytes) { return (bytes = room.load()), true; });
    queue(small);
    queue(big);
    runCopier();
    EXPECT_FALSE(exists(archived(L"small.txt")) || exists(archived(L"big.bin")));
    std::set<std::wstring> logged;
    checkWatchFolderStorage(logged);
    EXPECT_FALSE(queued(small) || queued(big));
    EXPECT_EQ(logCount(L"The archive disk is full"), 1u);

    room = 1000;  // room for one file: it goes on, the other waits
    checkWatchFolderStorage(logged);
    runCopier();
    EXPECT_EQ(read(archived(L"small.txt")), "s");
    EXPECT_FALSE(exists(archived(L"big.bin")));
    EXPECT_EQ(logCount(L"archiving resumed"), 0u);
    room = 1 << 20;
    checkWatchFolderStorage(logged);
    runCopier();
    EXPECT_EQ(read(archived(L"big.bin")), std::string(8192, 'b'));
    EXPECT_EQ(logCount(L"The archive disk is full"), 1u);
    EXPECT_EQ(logCount(L"archiving resumed"), 1u);
    expectArchiveAgrees();
}

TEST_F(ArchiveTest, ABackupsStopDropsOnlyItsOwnItemsAndStopsNoLaterCopy) {
    setCancelRequest(CancelTask::Backup, true);  // left set by a backup that ended
    const std::wstring source = write(L"later.txt", "x");
    queue(source);
    runCopier();
    EXPECT_TRUE(exists(archived(L"later.txt")));
    EXPECT_TRUE(setCancelRequest(CancelTask::Backup, false));

    // A backup's request stops the batches running now, a restore's none.
    std::atomic<int>* running = acquireBatchCancel();
    setCancelRequest(CancelTask::Restore, true);
    EXPECT_EQ(running->load(), 0);
    setCancelRequest(CancelTask::Backup, true);
    EXPECT_EQ(running->load(), 1);
    std::atomic<int>* next = acquireBatchCancel();
    EXPECT_EQ(next->load(), 0);
    releaseBatchCancel(running);
    releaseBatchCancel(next);

    // A cancelled batch drops the backup's items; an ordinary change is copied.
    const std::wstring dropped = write(L"dropped.txt", "x");
    const std::wstring edited = write(L"edited.txt", "x");
    queue(dropped, L"BACKUP");
    queue(edited);
    CopyQueueItem backupItem, changeItem;
    {
        std::lock_guard<std::mutex> lock(copyQueueMutex);
        backupItem = copyQueue.at(dropped);
        changeItem = copyQueue.at(edited);
    }
    std::atomic<int> cancelled{1};
    CopyWorkList list;
    list.items = {&backupItem, &changeItem};
    list.cancel = &cancelled;
    copyFileToArchive(list);
    EXPECT_FALSE(exists(archived(L"dropped.txt")));
    EXPECT_EQ(changeItem.state, kCopyStateCopied);
    EXPECT_TRUE(exists(archived(L"edited.txt")));
}

TEST_F(ArchiveTest, ProgressSetsReachOneNearCompletion) {
    std::vector<std::wstring> paths;
    for (const wchar_t* name : {L"p1", L"p2", L"p3", L"p4", L"p1"}) paths.push_back(write(name, "1234"));
    ASSERT_TRUE(startProgressSet(paths));
    EXPECT_EQ(progressSnapshot().totalBytes, 16u);
    EXPECT_EQ(progressSnapshot().values.size(), 4u);
    for (int i = 0; i < 3; ++i) onCopyProgress(CopyProgress{4, 4, paths[i], paths[i]});
    EXPECT_DOUBLE_EQ(progressSnapshot().ratio, 0.75);
    onCopyProgress(CopyProgress{100, 50, paths[3], paths[3]});
    EXPECT_DOUBLE_EQ(progressSnapshot().ratio, 0.875);
    EXPECT_DOUBLE_EQ(progressSnapshot().previousRatio, 0.75);
    onCopyProgress(CopyProgress{100, 95, paths[3], paths[3]});
    EXPECT_DOUBLE_EQ(progressSnapshot().ratio, 1.0);
    EXPECT_DOUBLE_EQ(progressSnapshot().previousRatio, 1.0);
    EXPECT_EQ(progressSnapshot().totalBytes, 0u);

    // A file outside the global set moves its folder's set, which empties when done.
    const std::wstring other = write(L"f.txt", "12");
    {
        std::lock_guard<std::mutex> lock(watchFolderMutex);
        WatchFolderEntry& entry = watchFolderMap.at(folders.watch);
        entry.progressSet = {{other, 0.0}, {folders.watch + L"/g.txt", 1.0}};
        entry.totalByteCount = 3;
    }
    EXPECT_EQ(onCopyProgress(CopyProgress{2, 2, other, other}), CopyProgressAnswer::Continue);
    {
        std::lock_guard<std::mutex> lock(watchFolderMutex);
        const WatchFolderEntry& entry = watchFolderMap.at(folders.watch);
        EXPECT_TRUE(entry.progressSet.empty());
        EXPECT_DOUBLE_EQ(entry.progressRatio, 1.0);
        EXPECT_EQ(entry.totalByteCount, 0u);
    }
    setApplicationRunning(false);
    EXPECT_EQ(onCopyProgress(CopyProgress{2, 1, other, other}), CopyProgressAnswer::Cancel);
}

TEST_F(ArchiveTest, ArchivePreparationAndConsistencyScan) {
    EXPECT_EQ(archiveFolderFor(L"/w/Docs", L"/a"), L"/a/Docs");
    EXPECT_EQ(archiveFolderFor(L"/w/Docs", L"/a/Docs/"), L"/a/Docs");
    {
        std::lock_guard<std::mutex> lock(watchFolderMutex);
        watchFolderMap.at(folders.watch).problemFlags = kProblemArchiveMissing;
    }
    configurationSaved = true;
    int rebuilt = 0;
    EngineHooks hooks;
    hooks.startWatchFolderThreads = [&] { ++rebuilt; };
    setEngineHooks(hooks);
    prepareArchiveThread(folders.watch, folders.archive + L"/new");
    {
        std::lock_guard<std::mutex> lock(watchFolderMutex);
        EXPECT_EQ(watchFolderMap.at(folders.watch).archivePath, folders.archive + L"/new/Watch");
        EXPECT_EQ(watchFolderMap.at(folders.watch).problemFlags, 0u);
    }
    EXPECT_TRUE(std::filesystem::is_directory(wideToUtf8(folders.archive + L"/new/Watch")));
    EXPECT_EQ(rebuilt, 1);
    EXPECT_FALSE(configurationSaved);
    prepareArchiveThread(L"/not/listed", folders.archive);  // nothing happens
    prepareArchiveThread(folders.watch, L"?/x");            // never a relative path
    EXPECT_EQ(rebuilt, 1);

    const std::wstring source = write(L"c.txt", "x");
    queue(source);
    runCopier();
    ASSERT_EQ(versionsOf(source).size(), 1u);
    EXPECT_EQ(checkArchiveInstances(folders.watch), 0u);
    std::filesystem::remove(wideToUtf8(versionsOf(source)[0]));
    EXPECT_EQ(checkArchiveInstances(folders.watch), 1u);
    EXPECT_EQ(logCount(L"Archive instance missing for file: " + versionsOf(source)[0]), 1u);

    unsetenv("VARNHOLT_UNSET_NAME");
    setenv("VARNHOLT_SET_NAME", "/v", 1);
    EXPECT_EQ(expandPathPlaceholders(L"{{VARNHOLT_SET_NAME}}/a/{{VARNHOLT_UNSET_NAME}}/b"), L"/v/a/?/b");
}

TEST_F(ArchiveTest, VersionsArchivedWhileABackupRunsAreRecordedButTheBackupsOwnCopiesAreNot) {
    const std::wstring edited = write(L"edited.txt", "x");
    const std::wstring backedUp = write(L"s.txt", "x");
    startCurrentBackupSet(L"set");
    addCurrentBackupSetFile(L"/elsewhere/other.txt");
    BackupCopyHooks hooks;
    hooks.setCopyStatus = [backedUp](const std::wstring& source, int32_t) { return source == backedUp; };
    setBackupCopyHooks(hooks);
    queue(edited);
    queue(backedUp, L"BACKUP");
    runCopier();
    EXPECT_TRUE(exists(archived(L"edited.txt")));
    EXPECT_EQ(versionsOf(edited).size(), 1u);
    EXPECT_TRUE(exists(archived(L"s.txt")));
    EXPECT_TRUE(versionsOf(backedUp).empty());
    clearCurrentBackupSet();
}

TEST_F(ArchiveTest, AMissingArchiveIsNeverMadeAgainAndItsFilesWaitForItsReturn) {
    const std::wstring root = utf8ToWide(makeTestFolder("unplugged"));
    const std::wstring watch = root + L"/Docs";
    const std::wstring archive = root + L"/drive/Docs";
    std::filesystem::create_directories(wideToUtf8(watch));
    std::filesystem::create_directories(wideToUtf8(archive));
    addFolder(watch, archive, kCollisionAppendVersion);
    const std::wstring source = watch + L"/a.txt";
    ASSERT_TRUE(writeTestFile(wideToUtf8(source), "one"));
    queue(source);
    std::filesystem::remove_all(wideToUtf8(root + L"/drive"));  // the drive is unplugged
    runCopier();
    EXPECT_FALSE(exists(root + L"/drive"));
    EXPECT_TRUE(versionsOf(source).empty());
    {
        std::lock_guard<std::mutex> lock(watchFolderMutex);
        EXPECT_TRUE(watchFolderMap.at(watch).problemFlags & kProblemArchiveMissing);
    }
    // The waiting file outlives a restart.
    EXPECT_TRUE(saveCopyQueue());
    EXPECT_TRUE(exists(copyQueueFilePath()));
    std::filesystem::remove(wideToUtf8(copyQueueFilePath()));

    // The drive comes back: the Storage Checker prepares the archive and the file is archived.
    std::filesystem::create_directories(wideToUtf8(archive));
    installArchiveHooks();
    std::set<std::wstring> logged;
    checkWatchFolderStorage(logged);
    for (int i = 0; i < 10000 && !queued(source); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_TRUE(queued(source));
    runCopier();
    EXPECT_EQ(read(archive + L"/a.txt"), "one");
    EXPECT_EQ(versionsOf(source).size(), 1u);
}

TEST_F(ArchiveTest, ANumberFreedByADeletionNeverMakesAnOlderCopyTheNewest) {
    const std::wstring source = write(L"n.txt", "new");
    ASSERT_TRUE(writeTestFile(wideToUtf8(archived(L"n.txt")), "plain"));
    ASSERT_TRUE(writeTestFile(wideToUtf8(archived(L"n ~ 0000.txt")), "old 0"));
    ASSERT_TRUE(writeTestFile(wideToUtf8(archived(L"n ~ 0002.txt")), "old 2"));  // 0001 was deleted
    queue(source);
    runCopier();
    EXPECT_FALSE(exists(archived(L"n ~ 0001.txt")));
    EXPECT_EQ(read(archived(L"n ~ 0003.txt")), "new");
    EXPECT_EQ(findArchivedVersion(source, archived(L"n.txt")), archived(L"n ~ 0003.txt"));
    // Past four digits the highest number is still the newest.
    const std::wstring equal = write(L"r.txt", "same");
    ASSERT_TRUE(writeTestFile(wideToUtf8(archived(L"r ~ 9999.txt")), "older"));
    ASSERT_TRUE(writeTestFile(wideToUtf8(archived(L"r ~ 10000.txt")), "same"));
    EXPECT_EQ(findArchivedVersion(equal, archived(L"r.txt")), archived(L"r ~ 10000.txt"));
}

// Each copy of the file is met by a write: the copy's first progress report
// waits on the watch-folder lock, which a helper holds until the copy's
// temporary file exists, then writes the file and lets go.
TEST_F(ArchiveTest, AFileThatChangesThroughEveryTryIsNamedOnceAndItsNextChangeStartsOver) {
    const std::wstring source = write(L"busy.db", "first");
    std::mutex helpersMutex;
    std::vector<std::thread> helpers;
    const std::string archive = wideToUtf8(folders.archive);
    setFreeSpaceFunction([&](const std::wstring&, uint64_t&) {
        std::lock_guard<std::mutex> guard(helpersMutex);
        std::atomic<bool> locked{false};
        helpers.emplace_back([&, n = helpers.size()] {
            std::lock_guard<std::mutex> lock(watchFolderMutex);
            locked = true;
            for (int i = 0; i < 10000; ++i) {
                bool copying = false;
                for (const auto& entry : std::filesystem::directory_iterator(archive))
                    copying = copying || isCopyTemporaryName(utf8ToWide(entry.path().filename().string()));
                if (copying) break;
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            writeTestFile(wideToUtf8(source), "write " + std::to_string(n));
        });
        while (!locked) std::this_thread::yield();
        return false;
    });
    queue(source);
    runCopier();
    setFreeSpaceFunction({});
    for (std::thread& helper : helpers) helper.join();
    EXPECT_EQ(helpers.size(), size_t(kMaxCopyAttempts));
    EXPECT_EQ(logCount(L"File kept changing while it was copied, not archived: " + source), 1u);
    EXPECT_FALSE(exists(archived(L"busy.db")));
    EXPECT_TRUE(versionsOf(source).empty());
    queue(source);
    runCopier();
    EXPECT_EQ(read(archived(L"busy.db")), "write " + std::to_string(kMaxCopyAttempts - 1));
    EXPECT_EQ(versionsOf(source).size(), 1u);
}

TEST_F(ArchiveTest, AFileNamedLikeANewVersionKeepsItsOwnCopy) {
    const std::wstring x = write(L"x.txt", "x 1");
    for (const char* content : {"x 2", "x 3"}) {
        queue(x);
        runCopier();
        write(L"x.txt", content);
    }
    // x.txt's next version is "x ~ 0001.txt". In path order the lookalike is
    // first and x.txt fifth, so one copy thread names both in one group.
    const std::wstring lookalike = write(L"x ~ 0001.txt", "the user's own");
    for (const std::wstring& path : {lookalike, write(L"x-1.txt", ""), write(L"x-2.txt", ""), write(L"x-3.txt", ""), x})
        queue(path);
    runCopier();
    ASSERT_EQ(versionsOf(lookalike).size(), 1u);
    EXPECT_EQ(read(versionsOf(lookalike)[0]), "the user's own");
    std::vector<std::string> contents;
    for (const std::wstring& path : versionsOf(x)) contents.push_back(read(path));
    EXPECT_EQ(std::count(contents.begin(), contents.end(), "x 3"), 1) << contents.size();
    expectArchiveAgrees();
}

TEST_F(ArchiveTest, TimeStampedCopiesMadeInOneMillisecondEachTakeANameOfTheirOwn) {
    setOption(folders.watch, kCollisionAppendTimeStamp);
    const std::wstring source = write(L"notes.txt", "x");
    ASSERT_TRUE(writeTestFile(wideToUtf8(archived(L"notes.txt")), "first copy"));
    queue(source);
    std::deque<CopyQueueItem> items(200);  // named faster than 200 milliseconds pass
    {
        std::lock_guard<std::mutex> lock(copyQueueMutex);
        for (CopyQueueItem& item : items) item = copyQueue.at(source);
    }
    std::set<std::wstring> targets;
    for (CopyQueueItem& item : items) {
        std::wstring builtSource, target;
        ASSERT_TRUE(buildArchiveTarget(item, builtSource, target));
        EXPECT_TRUE(isArchiveTimeStamp(splitArchiveName(lastPathComponent(target)).stamp)) << wideToUtf8(target);
        targets.insert(target);
    }
    EXPECT_EQ(targets.size(), items.size());
    for (const CopyQueueItem& item : items) releaseArchiveName(item.finalTargetPath, item);
}

// A 255-byte name whose extension leaves no room for a stamp keeps every version.
TEST_F(ArchiveTest, LongNamesWhoseExtensionLeavesNoRoomForAStampKeepEveryVersion) {
    for (const std::wstring& name : {L"a." + std::wstring(253, L'e'), L"." + std::wstring(254, L'h')}) {
        for (int32_t option : {kCollisionAppendVersion, kCollisionAppendTimeStamp}) {
            setOption(folders.watch, option);
            for (const char* content : {"1", "22"}) {
                queue(write(name, content));
                runCopier();
            }
        }
        EXPECT_EQ(versionsOf(folders.watch + L"/" + name).size(), 4u) << wideToUtf8(name).substr(0, 8);
    }
}
