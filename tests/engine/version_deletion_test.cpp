#include "engine/version_deletion.h"

#include "engine/archive_prepare.h"

#include "deletion_test_support.h"

using namespace deletion_test;

namespace {

class VersionDeletion : public ::testing::Test {
protected:
    void SetUp() override { resetDeletionState(); }
    void TearDown() override { resetDeletionState(); }
};

size_t recordCount(const std::wstring& source) {
    std::lock_guard<std::mutex> lock(versionRecordMutex);
    auto it = versionRecordMap.find(source);
    return it == versionRecordMap.end() ? 0 : it->second.size();
}

}  // namespace

TEST_F(VersionDeletion, ArchivePathGuard) {
    EXPECT_TRUE(isInsideArchiveFolder(L"/a/arch/x.txt", L"/a/arch"));
    EXPECT_TRUE(isInsideArchiveFolder(L"/a/arch/sub/x.txt", L"/a/arch/"));
    EXPECT_FALSE(isInsideArchiveFolder(L"/a/arch", L"/a/arch"));            // the archive itself
    EXPECT_FALSE(isInsideArchiveFolder(L"/a/arch2/x.txt", L"/a/arch"));     // bounded at a separator
    EXPECT_FALSE(isInsideArchiveFolder(L"/a/arch/../etc/x", L"/a/arch"));   // climbs out
    EXPECT_FALSE(isInsideArchiveFolder(L"/a/arch/./x", L"/a/arch"));
    EXPECT_FALSE(isInsideArchiveFolder(L"arch/x.txt", L"arch"));            // relative
    EXPECT_FALSE(isInsideArchiveFolder(L"/etc/passwd", L"/"));              // the root is no archive
    EXPECT_FALSE(isInsideArchiveFolder(L"/a/x", L""));
    EXPECT_FALSE(isInsideArchiveFolder(L"?/x/y", L"?/x"));
}

TEST_F(VersionDeletion, CountsAndDeletesOnlyTheFoldersOwnVersions) {
    const TestFolder data = addWatchFolder("data");
    const TestFolder data2 = addWatchFolder("data2", data.base);
    const TestFolder sub = addWatchFolder("data/sub", data.base);
    const std::wstring a1 = makeFile(data.archive + L"/a ~ 0001.txt");
    const std::wstring a2 = makeFile(data.archive + L"/deep/a ~ 0002.txt");
    const std::wstring gone = data.archive + L"/a ~ 0003.txt";
    const std::wstring outside = makeFile(utf8ToWide(data.base) + L"/outside.txt");
    const std::wstring b1 = makeFile(data2.archive + L"/b ~ 0001.txt");
    const std::wstring c1 = makeFile(sub.archive + L"/c ~ 0001.txt");
    addRecord(data.source + L"/a.txt", a1);
    addRecord(data.source + L"/a.txt", gone);
    addRecord(data.source + L"/deep/a.txt", a2);
    addRecord(data.source + L"/odd.txt", outside);  // a damaged record pointing out of the archive
    addRecord(data2.source + L"/b.txt", b1);
    addRecord(sub.source + L"/c.txt", c1);

    EXPECT_EQ(countArchivedVersions(data.source), 3u);  // a1, a2, outside exist; gone does not
    EXPECT_EQ(countArchivedVersions(data.source + L"/"), 3u);
    EXPECT_EQ(countArchivedVersions(data2.source), 1u);
    EXPECT_EQ(countArchivedVersions(sub.source), 1u);
    EXPECT_EQ(countArchivedVersions(data.source + L"/deep"), 0u);  // not a watch folder

    EXPECT_EQ(deleteArchivedVersions(data.source + L"/deep"), 0u);
    EXPECT_TRUE(exists(a2));
    EXPECT_EQ(deleteArchivedVersions(data.source), 2u);
    EXPECT_FALSE(exists(a1));
    EXPECT_FALSE(exists(a2));
    EXPECT_TRUE(exists(outside));  // never deleted outside the folder's archive
    EXPECT_EQ(recordCount(data.source + L"/a.txt"), 0u);
    EXPECT_EQ(recordCount(data.source + L"/odd.txt"), 0u);
    EXPECT_TRUE(exists(b1));
    EXPECT_TRUE(exists(c1));
    EXPECT_EQ(recordCount(data2.source + L"/b.txt"), 1u);
    EXPECT_EQ(recordCount(sub.source + L"/c.txt"), 1u);
    EXPECT_EQ(countArchivedVersions(data.source), 0u);
}

TEST_F(VersionDeletion, BackupSetVersionsOfAFolder) {
    const TestFolder data = addWatchFolder("data");
    const TestFolder data2 = addWatchFolder("data2", data.base);
    EXPECT_EQ(countBackupSetVersions(data.source), 0u);  // no staging subfolder
    EXPECT_EQ(countBackupSetVersions(utf8ToWide(data.base) + L"/other"), 0u);
    EXPECT_EQ(deleteArchivedFolderVersions(utf8ToWide(data.base) + L"/other"), 0);

    const std::wstring c1 = makeFile(data.archive + L"/x/one.txt");
    const std::wstring c2 = makeFile(data.archive + L"/two.txt");
    const std::wstring removedByHand = data.archive + L"/three.txt";
    const std::wstring foreign = makeFile(data2.archive + L"/four.txt");
    const std::wstring set1 = stageSet(data, L"2024/01/01 10:00:00.000 - File Set", {c1, c2});
    const std::wstring set2 = stageSet(data, L"2024/01/02 10:00:00.000 - File Set", {c2, foreign});
    makeFile(removedByHand);
    const std::wstring set3 = stageSet(data, L"2024/01/03 10:00:00.000 - File Set", {removedByHand});
    fs::remove(wideToUtf8(removedByHand));
    const std::wstring other = stageSet(data2, L"2024/01/01 10:00:00.000 - File Set", {foreign});
    EXPECT_EQ(countBackupSetVersions(data.source), 3u);
    EXPECT_EQ(countBackupSetVersions(data2.source), 1u);

    EXPECT_EQ(deleteArchivedFolderVersions(data.source), 1);
    EXPECT_FALSE(exists(c1));
    EXPECT_FALSE(exists(c2));
    EXPECT_TRUE(exists(foreign));  // named by the set but in another folder's archive
    EXPECT_FALSE(exists(set1));
    EXPECT_FALSE(exists(set2));
    EXPECT_FALSE(exists(set3));  // its copy was gone already; the set file still goes
    EXPECT_TRUE(exists(other));
    EXPECT_EQ(countBackupSetVersions(data.source), 0u);
    EXPECT_EQ(countBackupSetVersions(data2.source), 1u);
}

TEST_F(VersionDeletion, SetsErasedWithTheirFolderDoNotComeBackWhenItIsAddedAgain) {
    const TestFolder data = addWatchFolder("data");
    const std::wstring copy = makeFile(data.archive + L"/x/one.txt");
    stageSet(data, L"2024/01/01 10:00:00.000 - File Set", {copy});
    ASSERT_TRUE(storeBackupSetFile(data.source));  // mirrored into the archive

    EXPECT_EQ(deleteArchivedFolderVersions(data.source), 1);
    {
        std::lock_guard<std::mutex> lock(watchFolderMutex);
        watchFolderMap.at(data.source).removed = true;
    }
    ASSERT_TRUE(updateWatchFolderList(data.source, WatchFolderEntry(), false));  // added again
    prepareArchiveThread(data.source, data.archive);
    EXPECT_EQ(countBackupSetVersions(data.source), 0u) << "no erased set is imported";
    EXPECT_FALSE(exists(data.archive + L"/x")) << "emptied folders go";
    EXPECT_TRUE(exists(data.archive));
}
