#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "engine/backup_set_folders.h"
#include "engine/backup_sets.h"
#include "foundation/version_records.h"
#include "foundation/watch_folders.h"
#include "platform/text.h"
#include "test_env.h"

namespace fs = std::filesystem;

namespace {

struct TestFolder {
    std::string base;
    std::wstring source;
    std::wstring archive;
};

// A watch folder "<base>/<name>" archived into "<base>/arch/<name>".
TestFolder addWatchFolder(const std::string& name) {
    TestFolder folder;
    folder.base = makeTestFolder("bsf");
    folder.source = utf8ToWide(folder.base + "/" + name);
    folder.archive = utf8ToWide(folder.base + "/arch/" + name);
    fs::create_directories(wideToUtf8(folder.source));
    fs::create_directories(wideToUtf8(folder.archive));
    WatchFolderEntry entry;
    entry.displayName = utf8ToWide(name);
    entry.archivePath = folder.archive;
    std::lock_guard<std::mutex> lock(watchFolderMutex);
    watchFolderMap[folder.source] = entry;
    return folder;
}

std::set<std::string> fileNames(const std::wstring& folder) {
    std::set<std::string> names;
    for (const auto& item : fs::recursive_directory_iterator(wideToUtf8(folder))) {
        if (item.is_regular_file()) names.insert(item.path().filename().string());
    }
    return names;
}

// A set listing `copies` (source = copy's name under /src).
void stageSet(const TestFolder& folder, const std::wstring& setName, const std::vector<std::wstring>& copies) {
    BackupSetRecord set;
    for (const std::wstring& copy : copies) {
        BackupSetEntry e;
        e.sourcePath = L"/src/" + copy;
        e.archivePath = copy;
        e.copied = true;
        set.files[e.sourcePath] = e;
    }
    ASSERT_TRUE(saveBackupSetFile(backupSetStagingFilePath(folder.source, setName), set));
}

}  // namespace

TEST(BackupSetFolders, OneStagingNamePerWatchFolder) {
    const std::wstring a = backupStagingFolderName(L"/home/u/docs");
    EXPECT_EQ(a.rfind(L"docs_", 0), 0u);
    EXPECT_EQ(a.size(), 13u);
    EXPECT_EQ(backupStagingFolderName(L"/home/u/docs/"), a);
    EXPECT_NE(backupStagingFolderName(L"/mnt/old/docs"), a);  // same last component, other folder
    EXPECT_EQ(backupStagingSubfolder(L"/home/u/docs"), backupStagingFolder() + L"/" + a + L"/");
    EXPECT_EQ(backupSetStagingFilePath(L"/home/u/docs", L"2024/01/02 03:04:05.006 - File Set"),
              backupStagingSubfolder(L"/home/u/docs") + L"2024_01_02 03-04-05.006 - File Set.backup");
    EXPECT_EQ(archiveBackupSetFolder(L"/arch/docs/"), L"/arch/docs/.backupsets/");
}

TEST(BackupSetFolders, MirrorReplacesTheArchiveSetFolder) {
    const TestFolder folder = addWatchFolder("docs");
    EXPECT_FALSE(storeBackupSetFile(folder.source));  // nothing staged yet
    EXPECT_FALSE(storeBackupSetFile(folder.source + L"/elsewhere"));

    stageSet(folder, L"2024/01/02 03:04:05.006 - File Set", {});
    stageSet(folder, L"2024/02/02 03:04:05.006 - File Set", {});
    const std::wstring target = archiveBackupSetFolder(folder.archive);
    ASSERT_TRUE(writeTestFile(wideToUtf8(target).substr(0, wideToUtf8(target).size() - 1) + "x", ""));  // ".backupsetsx" beside
    fs::create_directories(wideToUtf8(target) + "old");
    // Stale sets of this folder go; another watch folder's set sharing the
    // archive, and a file that is no set, stay.
    BackupSetRecord ours, theirs;
    ours.files[L"a"].sourcePath = folder.source + L"/a.txt";
    theirs.files[L"a"].sourcePath = L"/other/docs/a.txt";
    ours.files[L"a"].copied = theirs.files[L"a"].copied = true;
    ASSERT_TRUE(saveBackupSetFile(target + L"removed.backup", ours));
    ASSERT_TRUE(saveBackupSetFile(target + L"old/deeper.backup", ours));
    ASSERT_TRUE(saveBackupSetFile(target + L"theirs.backup", theirs));
    ASSERT_TRUE(writeTestFile(wideToUtf8(target) + "notes.txt", "not a set"));

    ASSERT_TRUE(storeBackupSetFile(folder.source + L"/"));
    EXPECT_EQ(fileNames(target), (std::set<std::string>{"2024_01_02 03-04-05.006 - File Set.backup",
                                                         "2024_02_02 03-04-05.006 - File Set.backup",
                                                         "theirs.backup", "notes.txt"}));
    const std::wstring staged = backupSetStagingFilePath(folder.source, L"2024/01/02 03:04:05.006 - File Set");
    EXPECT_EQ(readTestFile(wideToUtf8(target) + "2024_01_02 03-04-05.006 - File Set.backup"),
              readTestFile(wideToUtf8(staged)));
    EXPECT_TRUE(fs::exists(folder.base + "/arch/docs/.backupsetsx"));

    // A set removed from staging leaves the archive at the next mirror.
    fs::remove(wideToUtf8(staged));
    ASSERT_TRUE(storeBackupSetFile(folder.source));
    EXPECT_EQ(fileNames(target),
              (std::set<std::string>{"2024_02_02 03-04-05.006 - File Set.backup", "theirs.backup", "notes.txt"}));
}

TEST(BackupSetFolders, MirrorKeepsOneOfTwoPlainNamesAndReportsAFailedCopy) {
    const TestFolder folder = addWatchFolder("pics");
    const std::string staging = wideToUtf8(backupStagingSubfolder(folder.source));
    fs::create_directories(staging);
    ASSERT_TRUE(writeTestFile(staging + "set.backup", "one"));
    ASSERT_TRUE(writeTestFile(staging + "set ~ 2024.backup", "two"));
    ASSERT_TRUE(storeBackupSetFile(folder.source));
    const std::wstring target = archiveBackupSetFolder(folder.archive);
    EXPECT_EQ(fileNames(target), (std::set<std::string>{"set.backup"}));

    // A folder in the way of a staged name: the copy fails, the mirror says so.
    fs::remove(staging + "set ~ 2024.backup");
    ASSERT_TRUE(writeTestFile(staging + "blocked.backup", "b"));
    fs::create_directories(wideToUtf8(target) + "blocked.backup");
    EXPECT_FALSE(storeBackupSetFile(folder.source));
    EXPECT_EQ(readTestFile(wideToUtf8(target) + "set.backup"), "one");
}

TEST(BackupSetFolders, ImportCopiesSetsBackAndIndexSkipsTheirCopies) {
    const TestFolder folder = addWatchFolder("work");
    const std::string archive = wideToUtf8(folder.archive);
    fs::create_directories(archive + "/sub");
    ASSERT_TRUE(writeTestFile(archive + "/a.txt", "a"));
    ASSERT_TRUE(writeTestFile(archive + "/sub/b ~ 2024_01_02_ 7_05_03.042.txt", "b"));
    ASSERT_TRUE(writeTestFile(archive + "/c.txt", "c"));  // saved by a backup
    ASSERT_TRUE(writeTestFile(archive + "/sub/Makefile ~ 0001.", "m"));
    fs::create_directories(archive + "/.config");
    ASSERT_TRUE(writeTestFile(archive + "/.config/app.conf", "d"));  // a dot folder is the folder's too
    BackupSetRecord set;
    BackupSetEntry e;
    e.sourcePath = folder.source + L"/c.txt";
    e.archivePath = folder.archive + L"/c.txt";
    e.copied = true;
    set.files[e.sourcePath] = e;
    ASSERT_TRUE(saveBackupSetFile(archiveBackupSetFolder(folder.archive) + L"s1.backup", set));
    {
        std::lock_guard<std::mutex> lock(versionRecordMutex);
        versionRecordMap.clear();
    }

    EXPECT_EQ(importBackupSets(folder.source), 1u);
    EXPECT_TRUE(fs::exists(wideToUtf8(backupStagingSubfolder(folder.source)) + "s1.backup"));
    EXPECT_TRUE(isBackupSetCopyPath(folder.archive + L"/c.txt"));
    EXPECT_EQ(indexArchivedVersions(folder.source), 4u);
    {
        std::lock_guard<std::mutex> lock(versionRecordMutex);
        EXPECT_EQ(versionRecordMap.size(), 4u);
        EXPECT_EQ(versionRecordMap.count(folder.source + L"/.config/app.conf"), 1u);
        EXPECT_EQ(versionRecordMap.count(folder.source + L"/sub/Makefile"), 1u);
        EXPECT_EQ(versionRecordMap.count(folder.source + L"/a.txt"), 1u);
        ASSERT_EQ(versionRecordMap.count(folder.source + L"/sub/b.txt"), 1u);
        EXPECT_EQ(versionRecordMap[folder.source + L"/sub/b.txt"].count(folder.archive + L"/sub/b ~ 2024_01_02_ 7_05_03.042.txt"),
                  1u);
        EXPECT_EQ(versionRecordMap.count(folder.source + L"/c.txt"), 0u);
    }

    // An archive without sets imports nothing, and every copy is indexed.
    const TestFolder bare = addWatchFolder("bare");
    ASSERT_TRUE(writeTestFile(wideToUtf8(bare.archive) + "/c.txt", "c"));
    EXPECT_EQ(importBackupSets(bare.source), 0u);
    EXPECT_FALSE(isBackupSetCopyPath(folder.archive + L"/c.txt"));
    EXPECT_EQ(indexArchivedVersions(bare.source), 1u);
    EXPECT_EQ(importBackupSets(L"/not/watched"), 0u);
    EXPECT_EQ(indexArchivedVersions(L"/not/watched"), 0u);
}

TEST(BackupSetFolders, RestoredWritesAreReleasedOneByOne) {
    FileState first, second;
    first.inode = 1;
    second.inode = 2;
    addRestoredWrite(L"/a/x", first);  // two restores wrote the same file
    addRestoredWrite(L"/a/x", second);
    addRestoredWrite(L"/b/z", first);
    removeRestoredWrites({{L"/a/x", first}, {L"/none", first}});
    EXPECT_TRUE(isRestoringPath(L"/a/x"));
    EXPECT_FALSE(isRestoringPath(L"/a"));
    removeRestoredWrites({{L"/a/x", second}});
    EXPECT_FALSE(isRestoringPath(L"/a/x"));
    EXPECT_TRUE(removeRestoringPaths());
    EXPECT_FALSE(isRestoringPath(L"/b/z"));
}
