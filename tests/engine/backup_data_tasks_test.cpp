#include "engine/backup_data_tasks.h"

#include "deletion_test_support.h"
#include "engine/copy_cancel.h"
#include "engine/restore_state.h"
#include "foundation/app_log.h"

using namespace deletion_test;

namespace {

class BackupDataTasks : public ::testing::Test {
protected:
    void SetUp() override {
        resetDeletionState();
        deletionRunning = false;
        restoreActive = false;
        setCancelRequest(CancelTask::Deletion, false);
    }
    void TearDown() override { resetDeletionState(); }
};

bool logHas(const std::wstring& text) {
    for (const AppLogEntry& entry : appLogSnapshot().entries)
        if (entry.key.find(text) != std::wstring::npos) return true;
    return false;
}

VersionSelection chosen(const std::wstring& source, const std::vector<std::wstring>& copies) {
    VersionSelection selection;
    for (const std::wstring& copy : copies) selection[source][copy] = FileVersionRecord{copy, L"", true, true};
    return selection;
}

struct StagedSet {
    TestFolder folder;
    std::wstring setFile;
    std::wstring key;
    std::vector<std::wstring> copies;
    std::wstring mirror;
};

// A set of two copies in nested folders, listed, with a note and its mirror.
StagedSet stageListedSet() {
    StagedSet s;
    s.folder = addWatchFolder("data");
    s.copies = {makeFile(s.folder.archive + L"/x/y/one.txt"), makeFile(s.folder.archive + L"/x/two.txt")};
    s.setFile = stageSet(s.folder, L"2024/01/01 10:00:00.000 - File Set", s.copies, "note");
    EXPECT_TRUE(storeBackupSetFile(s.folder.source));
    s.mirror = archiveBackupSetFolder(s.folder.archive) + fs::path(wideToUtf8(s.setFile)).filename().wstring();
    EXPECT_TRUE(exists(s.mirror));
    EXPECT_EQ(buildSmartRestoreList(s.folder.source), 1);
    s.key = L"2024/01/01 10:00:00.000 : File Set";
    std::lock_guard<std::mutex> lock(backupSetNotesMutex);
    backupSetNotesMap[s.setFile] = "note";
    return s;
}

SetListEntry entryOf(const std::wstring& key) {
    SetListEntry entry;
    EXPECT_TRUE(findSetListEntry(key, entry));
    return entry;
}

}  // namespace

TEST_F(BackupDataTasks, RemovingASetDeletesItsDataOnly) {
    StagedSet s = stageListedSet();
    const std::wstring outside = makeFile(utf8ToWide(s.folder.base) + L"/outside.txt");
    // A set whose list names a file outside the archive keeps that file.
    {
        BackupSetRecord set;
        ASSERT_TRUE(loadBackupSetFile(s.setFile, set));
        BackupSetEntry e;
        e.sourcePath = L"/z";
        e.archivePath = outside;
        e.copied = true;
        set.files[e.sourcePath] = e;
        ASSERT_TRUE(saveBackupSetFile(s.setFile, set));
    }
    {
        ModalAnswerer user(false);
        removeBackupSetTask(s.setFile, s.key);
        ASSERT_EQ(user.titles().size(), 1u);
        EXPECT_NE(user.titles()[0].find("Confirm Remove Backup Set:"), std::string::npos);
        EXPECT_EQ(user.bodies()[0].rfind("2024/01/01 10:00:00.000 : File Set\nAre you sure", 0), 0u);
    }
    EXPECT_TRUE(exists(s.setFile));  // Cancel keeps everything
    EXPECT_TRUE(exists(s.copies[0]));
    EXPECT_EQ(entryOf(s.key).beingRemoved, 0);

    {
        ModalAnswerer user(true);
        removeBackupSetTask(s.setFile, s.key);
    }
    EXPECT_FALSE(exists(s.copies[0]));
    EXPECT_FALSE(exists(s.copies[1]));
    EXPECT_TRUE(exists(outside));
    EXPECT_FALSE(exists(s.setFile));
    EXPECT_FALSE(exists(s.mirror));
    EXPECT_FALSE(exists(s.folder.archive + L"/x"));  // emptied folders go
    EXPECT_TRUE(exists(s.folder.archive));
    const SetListEntry entry = entryOf(s.key);
    EXPECT_EQ(entry.beingRemoved, 1);
    EXPECT_EQ(entry.removalShown, 0);
    EXPECT_DOUBLE_EQ(entry.removalProgress, 2.0 / 3.0);
    std::lock_guard<std::mutex> lock(backupSetNotesMutex);
    EXPECT_EQ(backupSetNotesMap.count(s.setFile), 0u);
}

TEST_F(BackupDataTasks, RemovingASetWhoseCopiesAreGone) {
    StagedSet s = stageListedSet();
    for (const std::wstring& copy : s.copies) fs::remove(wideToUtf8(copy));
    ModalAnswerer user(true);
    removeBackupSetTask(s.setFile, s.key);
    EXPECT_FALSE(exists(s.setFile));
    EXPECT_TRUE(exists(s.mirror));  // no copied entry leads to the archive root
    std::lock_guard<std::mutex> lock(backupSetNotesMutex);
    EXPECT_EQ(backupSetNotesMap.count(s.setFile), 0u);
}

TEST_F(BackupDataTasks, RemovalRefusesWhatIsNoStagedSetFile) {
    const TestFolder folder = addWatchFolder("data");
    const std::wstring plain = makeFile(folder.source + L"/notes.backup");
    ModalAnswerer user(true);
    removeBackupSetTask(plain, L"x");
    removeBackupSetTask(folder.source, std::wstring(kAllRecentFilesName));
    EXPECT_TRUE(exists(plain));
    EXPECT_TRUE(user.titles().empty());
}

TEST_F(BackupDataTasks, CancelledDeletionKeepsEverything) {
    const TestFolder folder = addWatchFolder("data");
    const std::wstring copy = makeFile(folder.archive + L"/a ~ 0001.txt");
    addRecord(folder.source + L"/a.txt", copy);
    ModalAnswerer user(false);
    setCancelRequest(CancelTask::Deletion, true);
    deleteBackupDataTask(chosen(folder.source + L"/a.txt", {copy}));
    EXPECT_TRUE(exists(copy));
    EXPECT_TRUE(logHas(L"User cancelled the delete operation"));
    EXPECT_FALSE(restoreActive.load());
    EXPECT_FALSE(deletionRunning.load());
    EXPECT_FALSE(isCancelRequested(CancelTask::Deletion));
    ASSERT_EQ(user.titles().size(), 1u);
    EXPECT_NE(user.titles()[0].find("Confirm Backup Data Deletion:"), std::string::npos);
    EXPECT_EQ(user.bodies()[0].rfind(wideToUtf8(folder.source) + "\nSuggestion", 0), 0u);
    std::lock_guard<std::mutex> lock(versionRecordMutex);
    EXPECT_EQ(versionRecordMap.size(), 1u);
}

TEST_F(BackupDataTasks, DeletionRemovesEmptiedFoldersPassByPass) {
    const TestFolder folder = addWatchFolder("data");
    const TestFolder other = addWatchFolder("data2", folder.base);
    const std::wstring deep = makeFile(folder.archive + L"/p/q/r/deep ~ 0001.txt");
    const std::wstring shallow = makeFile(folder.archive + L"/p/s ~ 0001.txt");
    const std::wstring kept = makeFile(folder.archive + L"/p/s ~ 0002.txt");
    const std::wstring unselected = makeFile(other.archive + L"/u ~ 0001.txt");
    const std::wstring outside = makeFile(utf8ToWide(folder.base) + L"/loose.txt");
    fs::create_directories(wideToUtf8(other.archive + L"/emptyAlready"));
    addRecord(folder.source + L"/p/q/r/deep.txt", deep);
    addRecord(folder.source + L"/p/s.txt", shallow);
    addRecord(folder.source + L"/p/s.txt", kept);
    addRecord(folder.source + L"/loose.txt", outside);
    VersionSelection selection = chosen(folder.source + L"/p/q/r/deep.txt", {deep});
    selection[folder.source + L"/p/s.txt"][shallow] = FileVersionRecord{shallow, L"", true, true};
    selection[folder.source + L"/p/s.txt"][kept] = FileVersionRecord{kept, L"", true, false};
    selection[folder.source + L"/loose.txt"][outside] = FileVersionRecord{outside, L"", true, true};
    {
        ModalAnswerer user(true);
        deleteBackupDataTask(selection);
    }
    EXPECT_FALSE(exists(deep));
    EXPECT_FALSE(exists(shallow));
    EXPECT_TRUE(exists(kept));
    EXPECT_TRUE(exists(outside));                        // outside every archive
    EXPECT_FALSE(exists(folder.archive + L"/p/q"));      // r, then q in the next pass
    EXPECT_TRUE(exists(folder.archive + L"/p"));         // still holds a version
    EXPECT_TRUE(exists(other.archive + L"/emptyAlready"));  // not where the deletion was
    EXPECT_DOUBLE_EQ(restoreProgress.load(), 2.0 / 3.0);
    EXPECT_FALSE(restoreActive.load());
    EXPECT_FALSE(deletionRunning.load());
    std::lock_guard<std::mutex> lock(versionRecordMutex);
    EXPECT_EQ(versionRecordMap.count(folder.source + L"/p/q/r/deep.txt"), 0u);
    ASSERT_EQ(versionRecordMap.count(folder.source + L"/p/s.txt"), 1u);
    EXPECT_EQ(versionRecordMap[folder.source + L"/p/s.txt"].size(), 1u);
    EXPECT_EQ(versionRecordMap.count(folder.source + L"/loose.txt"), 1u);  // its file is still there
}

TEST_F(BackupDataTasks, DeletionWhileAnotherRunsDoesNothing) {
    const TestFolder folder = addWatchFolder("data");
    const std::wstring copy = makeFile(folder.archive + L"/a.txt");
    deletionRunning = true;
    ModalAnswerer user(true);
    deleteBackupDataTask(chosen(folder.source + L"/a.txt", {copy}));
    deleteBackupDataTask({});
    EXPECT_TRUE(exists(copy));
    EXPECT_TRUE(user.titles().empty());
    EXPECT_TRUE(deletionRunning.load());
}

TEST_F(BackupDataTasks, SelectionHelpers) {
    VersionSelection versions;
    versions[L"/s/a"][L"/a/a1"] = FileVersionRecord{L"/a/a1", L"ed", false, true};  // gone: untouched
    versions[L"/s/a"][L"/a/a2"] = FileVersionRecord{L"/a/a2", L"vi", true, true};
    versions[L"/s/a"][L"/a/a3"] = FileVersionRecord{L"/a/a3", L"ed", true, true};
    versions[L"/s/a"][L"/a/a4"] = FileVersionRecord{L"/a/a4", L"ed", true, false};
    // Archive order, not key order: the plain copy is the oldest.
    versions[L"/s/b"][L"/a/b ~ 0001.txt"] = FileVersionRecord{L"/a/b ~ 0001.txt", L"ed", true, false};
    versions[L"/s/b"][L"/a/b ~ 0002.txt"] = FileVersionRecord{L"/a/b ~ 0002.txt", L"vi", true, false};
    versions[L"/s/b"][L"/a/b.txt"] = FileVersionRecord{L"/a/b.txt", L"ed", true, true};
    selectNewestVersions(versions, true);
    EXPECT_TRUE(versions[L"/s/a"][L"/a/a1"].selected);
    EXPECT_FALSE(versions[L"/s/a"][L"/a/a2"].selected);
    EXPECT_FALSE(versions[L"/s/a"][L"/a/a3"].selected);
    EXPECT_TRUE(versions[L"/s/a"][L"/a/a4"].selected);
    EXPECT_TRUE(versions[L"/s/b"][L"/a/b ~ 0002.txt"].selected);
    EXPECT_FALSE(versions[L"/s/b"][L"/a/b.txt"].selected);
    versions[L"/s/a"][L"/a/a2"].selected = true;
    selectNewestVersions(versions, true, L"ed");
    EXPECT_TRUE(versions[L"/s/a"][L"/a/a2"].selected);  // filtered out: kept as it was
    EXPECT_TRUE(versions[L"/s/a"][L"/a/a4"].selected);
    EXPECT_TRUE(versions[L"/s/b"][L"/a/b ~ 0001.txt"].selected);
    EXPECT_TRUE(versions[L"/s/b"][L"/a/b ~ 0002.txt"].selected);  // filtered out
    selectNewestVersions(versions, false);
    for (const wchar_t* key : {L"/a/a2", L"/a/a3", L"/a/a4"}) EXPECT_FALSE(versions[L"/s/a"][key].selected);
    EXPECT_TRUE(versions[L"/s/a"][L"/a/a1"].selected);

    {
        std::lock_guard<std::mutex> lock(backupSetMutex);
        editedBackupSet.files.clear();
        for (const wchar_t* path : {L"/w/a.txt", L"/w/b.txt", L"/w/sub/c.txt"})
            editedBackupSet.files[path].sourcePath = path;
    }
    setEditedSetRestoreFlags(L"/w/sub/c.txt", 1);
    auto restoreOf = [](const wchar_t* path) {
        std::lock_guard<std::mutex> lock(backupSetMutex);
        return editedBackupSet.files[path].restore;
    };
    EXPECT_FALSE(restoreOf(L"/w/a.txt"));
    EXPECT_TRUE(restoreOf(L"/w/sub/c.txt"));
    setEditedSetRestoreFlags(L"", 1);
    EXPECT_TRUE(restoreOf(L"/w/a.txt"));
    setEditedSetRestoreFlags(L"/w/x", 0);
    EXPECT_FALSE(restoreOf(L"/w/a.txt"));
    EXPECT_FALSE(restoreOf(L"/w/b.txt"));
    EXPECT_TRUE(restoreOf(L"/w/sub/c.txt"));
    std::lock_guard<std::mutex> lock(backupSetMutex);
    editedBackupSet.files.clear();
}
