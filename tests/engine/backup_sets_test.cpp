#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "engine/backup_sets.h"
#include "engine/thread_registry.h"
#include "foundation/app_log.h"
#include "foundation/data_packet.h"
#include "foundation/data_record.h"
#include "foundation/global_defaults.h"
#include "platform/text.h"
#include "test_env.h"

namespace {

std::wstring wide(const std::string& text) { return utf8ToWide(text); }

// An archived copy of `size` bytes.
std::wstring makeCopy(const std::string& folder, const std::string& name, size_t size) {
    const std::string path = folder + "/" + name;
    EXPECT_TRUE(writeTestFile(path, std::string(size, 'x')));
    return wide(path);
}

BackupSetEntry entry(const std::wstring& source, const std::wstring& copy, bool copied, bool restore) {
    BackupSetEntry e;
    e.sourcePath = source;
    e.archivePath = copy;
    e.copied = copied;
    e.restore = restore;
    return e;
}

// The "bi" lines and the note of a set file, as stored.
std::vector<std::wstring> readLines(const std::wstring& path, std::string* note = nullptr) {
    DataRecord document;
    EXPECT_TRUE(loadDataRecordFile(document, "bc", path, ""));
    RecordSectionHandle section = getRecordSection(document, "bc");
    std::vector<std::wstring> lines(getRecordValueCount(section, "bi"));
    for (uint32_t i = 0; i < lines.size(); ++i) getRecordWString(section, "bi", lines[i], i);
    if (note) getRecordString(section, "note", *note, 0);
    return lines;
}

bool logHolds(const std::wstring& text, uint32_t kind) {
    for (const AppLogEntry& e : appLogSnapshot().entries) {
        if (e.kind == kind && e.key.find(text) != std::wstring::npos) return true;
    }
    return false;
}

}  // namespace

TEST(BackupSets, FileNamesStoreSlashesAndColonsAndReadBack) {
    const std::wstring fileName = backupSetFileName(L"2024/05/06 07:08:09.123 - File Set");
    EXPECT_EQ(fileName, L"2024_05_06 07-08-09.123 - File Set.backup");
    const std::string folder = makeTestFolder("bs");
    const std::wstring path = wide(folder) + L"/" + fileName;
    BackupSetRecord set;
    set.name = L"2024/05/06 07:08:09.123 - File Set";
    ASSERT_TRUE(saveBackupSetFile(path, set));
    BackupSetRecord read;
    ASSERT_TRUE(loadBackupSetFile(path, read));
    EXPECT_EQ(read.name, L"2024/05/06 07:08:09.123 : File Set");
    EXPECT_EQ(backupSetNameFromPath(L"/a/b.c/plain"), L"plain");
}

TEST(BackupSets, LinesCarryTheSummaryOnTheFirstLineOnly) {
    const std::string folder = makeTestFolder("bs");
    BackupSetRecord set;
    set.note = "caf\xC3\xA9 [||] note";
    set.files[L"/src/a.txt"] = entry(L"/src/a.txt", makeCopy(folder, "a.txt", 10), true, true);
    set.files[L"/src/b.txt"] = entry(L"/src/b.txt", makeCopy(folder, "b.txt", 20), true, false);
    set.files[L"/src/c.txt"] = entry(L"/src/c.txt", makeCopy(folder, "c.txt", 30), true, true);
    set.files[L"/src/d.txt"] = entry(L"/src/d.txt", L"", false, true);
    set.files[L"/src/e.txt"] = entry(L"/src/e.txt", wide(folder) + L"/gone.txt", true, false);  // size unreadable
    const std::wstring path = wide(folder) + L"/sets/deeper/one.backup";  // folders made on save
    ASSERT_TRUE(saveBackupSetFile(path, set));

    std::string note;
    const std::vector<std::wstring> lines = readLines(path, &note);
    ASSERT_EQ(lines.size(), 4u);  // d was not copied
    const std::wstring a = wide(folder) + L"/a.txt";
    EXPECT_EQ(lines[0], L"/src/a.txt[||]" + a + L"[||]+[||]R[||]efc:4,tf:5,tm:1,b:60,str:2");
    EXPECT_EQ(lines[1], L"/src/b.txt[||]" + wide(folder) + L"/b.txt[||]+[||]0");
    EXPECT_EQ(lines[3], L"/src/e.txt[||]" + wide(folder) + L"/gone.txt[||]+[||]0");
    EXPECT_EQ(note, set.note);

    BackupSetRecord read;
    read.name = L"old";
    ASSERT_TRUE(loadBackupSetFile(path, read));
    EXPECT_EQ(read.name, L"one");
    EXPECT_EQ(read.note, set.note);
    ASSERT_EQ(read.files.size(), 4u);
    EXPECT_TRUE(read.files[L"/src/a.txt"].copied);
    EXPECT_TRUE(read.files[L"/src/a.txt"].restore);
    EXPECT_EQ(read.files[L"/src/a.txt"].summary, L"efc:4,tf:5,tm:1,b:60,str:2");
    EXPECT_FALSE(read.files[L"/src/b.txt"].restore);
    EXPECT_TRUE(read.files[L"/src/b.txt"].summary.empty());
    EXPECT_FALSE(read.files[L"/src/e.txt"].copied);  // its copy never existed
}

TEST(BackupSets, VanishedCopiesShortLinesAndDuplicatesReadSafely) {
    const std::string folder = makeTestFolder("bs");
    const std::wstring kept = makeCopy(folder, "kept.txt", 5);
    const std::wstring lost = makeCopy(folder, "lost.txt", 5);
    BackupSetRecord set;
    set.files[L"/s/kept"] = entry(L"/s/kept", kept, true, true);
    set.files[L"/s/lost"] = entry(L"/s/lost", lost, true, true);
    const std::wstring path = wide(folder) + L"/set.backup";
    ASSERT_TRUE(saveBackupSetFile(path, set));
    std::filesystem::remove(wideToUtf8(lost));
    BackupSetRecord read;
    ASSERT_TRUE(loadBackupSetFile(path, read));
    EXPECT_TRUE(read.files[L"/s/kept"].copied);
    EXPECT_FALSE(read.files[L"/s/lost"].copied);
    EXPECT_TRUE(read.files[L"/s/lost"].restore);

    // A hand-made file: a line of two fields, a blank field, a source met twice.
    DataRecord document;
    addRecordSection(document, "bc");
    RecordSectionHandle section = getRecordSection(document, "bc");
    setRecordWString(section, "bi", L"/s/two[||]" + kept, 0);
    setRecordWString(section, "bi", L"/s/blank[||] [||]+[||]R", 1);
    setRecordWString(section, "bi", L"/s/two[||]" + kept + L"[||]+[||]R", 2);
    const std::wstring handMade = wide(folder) + L"/hand.backup";
    ASSERT_TRUE(saveDataRecordFile(document, "bc", handMade, ""));
    ASSERT_TRUE(loadBackupSetFile(handMade, read));
    ASSERT_EQ(read.files.size(), 2u);
    EXPECT_FALSE(read.files[L"/s/two"].copied);  // the first line stays
    EXPECT_FALSE(read.files[L"/s/two"].restore);
    EXPECT_EQ(read.files[L"/s/two"].archivePath, kept);
    EXPECT_TRUE(read.files[L"/s/blank"].archivePath.empty());
    EXPECT_FALSE(read.files[L"/s/blank"].copied);
    EXPECT_TRUE(read.note.empty());
}

TEST(BackupSets, EmptySetsAndUnreadableFiles) {
    const std::string folder = makeTestFolder("bs");
    BackupSetRecord set;
    set.note = "only a note";
    set.files[L"/s/x"] = entry(L"/s/x", L"", false, false);
    const std::wstring path = wide(folder) + L"/empty.backup";
    ASSERT_TRUE(saveBackupSetFile(path, set));
    EXPECT_TRUE(readLines(path).empty());
    BackupSetRecord read;
    ASSERT_TRUE(loadBackupSetFile(path, read));
    EXPECT_TRUE(read.files.empty());
    EXPECT_EQ(read.note, "only a note");

    BackupSetRecord untouched;
    untouched.name = L"keep";
    untouched.files[L"k"] = BackupSetEntry{};
    EXPECT_FALSE(loadBackupSetFile(wide(folder) + L"/missing.backup", untouched));
    EXPECT_FALSE(loadBackupSetFile(wide(folder), untouched));
    ASSERT_TRUE(writeTestFile(folder + "/bad.backup", "not base64 !!"));
    EXPECT_FALSE(loadBackupSetFile(wide(folder) + L"/bad.backup", untouched));
    ASSERT_TRUE(writeTestFile(folder + "/zero.backup", ""));
    EXPECT_FALSE(loadBackupSetFile(wide(folder) + L"/zero.backup", untouched));
    EXPECT_EQ(untouched.name, L"keep");
    EXPECT_EQ(untouched.files.size(), 1u);
}

TEST(BackupSets, AFailedWriteIsReportedAndKeepsTheOldFile) {
    const std::string folder = makeTestFolder("bs");
    const std::wstring path = wide(folder) + L"/kept.backup";
    BackupSetRecord set;
    set.note = "first";
    ASSERT_TRUE(saveBackupSetFile(path, set));
    const std::string before = readTestFile(wideToUtf8(path));

    set.note = std::string(70000, 'n');  // longer than a stored text may be
    EXPECT_FALSE(saveBackupSetFile(path, set));
    EXPECT_EQ(readTestFile(wideToUtf8(path)), before);
    EXPECT_TRUE(logHolds(L"Backupset file not written[||]3[|] [|]file could not be created![|] [||]3[|] [|]" + path + L"[|] ", 8));

    ASSERT_TRUE(writeTestFile(folder + "/plain", "a file"));
    EXPECT_FALSE(saveBackupSetFile(wide(folder) + L"/plain/below/set.backup", BackupSetRecord{}));
}

TEST(BackupSets, CurrentSetRecordsCopiesUnderItsLock) {
    const std::string folder = makeTestFolder("bs");
    startCurrentBackupSet(L"run");
    std::vector<std::wstring> copies;
    for (int i = 0; i < 50; ++i) {
        addCurrentBackupSetFile(L"/s/" + std::to_wstring(i));
        copies.push_back(makeCopy(folder, std::to_string(i), 1));
    }
    EXPECT_FALSE(recordCurrentBackupSetCopy(L"/s/none", copies[0], true));
    // The copier records while the backup saves.
    std::thread copier([&] {
        for (int i = 0; i < 50; ++i) recordCurrentBackupSetCopy(L"/s/" + std::to_wstring(i), copies[i], i % 5 != 0);
    });
    const std::wstring path = wide(folder) + L"/current.backup";
    for (int i = 0; i < 5; ++i) EXPECT_TRUE(saveCurrentBackupSet(path));
    copier.join();
    ASSERT_TRUE(saveCurrentBackupSet(path));
    const BackupSetRecord snapshot = currentBackupSetSnapshot();
    EXPECT_EQ(snapshot.name, L"run");
    EXPECT_TRUE(snapshot.files.at(L"/s/3").restore);
    const std::vector<std::wstring> lines = readLines(path);
    ASSERT_EQ(lines.size(), 40u);
    EXPECT_NE(lines[0].find(L"efc:40,tf:50,tm:10,b:40,str:40"), std::wstring::npos);
    clearCurrentBackupSet();
    EXPECT_TRUE(currentBackupSetSnapshot().files.empty());
}

TEST(BackupSets, EditThreadLoadsWaitsWithoutTheLockAndWritesBack) {
    timings().pollMs = 2;
    const std::string folder = makeTestFolder("bs");
    const std::wstring copy = makeCopy(folder, "a", 3);
    BackupSetRecord set;
    set.files[L"/s/a"] = entry(L"/s/a", copy, true, false);
    const std::wstring path = wide(folder) + L"/edit.backup";
    ASSERT_TRUE(saveBackupSetFile(path, set));

    threadLoadAndEditRestoreFileSet(wide(folder) + L"/missing.backup");  // returns at once
    EXPECT_FALSE(backupSetEditActive);

    std::thread editor(threadLoadAndEditRestoreFileSet, path);
    for (int i = 0; i < 5000 && !backupSetEditActive; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_TRUE(backupSetEditActive);
    threadLoadAndEditRestoreFileSet(path);  // a second edit does not start
    {
        // The window takes the lock while the edit waits.
        std::unique_lock<std::mutex> lock(backupSetMutex, std::try_to_lock);
        ASSERT_TRUE(lock.owns_lock());
        ASSERT_EQ(editedBackupSet.files.size(), 1u);
        editedBackupSet.files[L"/s/a"].restore = true;
        editedBackupSet.note = "edited";
    }
    backupSetEditActive = false;
    editor.join();
    BackupSetRecord read;
    ASSERT_TRUE(loadBackupSetFile(path, read));
    EXPECT_TRUE(read.files[L"/s/a"].restore);
    EXPECT_EQ(read.note, "edited");

    // Shut-down ends the wait; the set is still written back.
    std::thread stopped(threadLoadAndEditRestoreFileSet, path);
    for (int i = 0; i < 5000 && !backupSetEditActive; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_TRUE(backupSetEditActive);
    {
        std::lock_guard<std::mutex> lock(backupSetMutex);
        editedBackupSet.note = "at shut-down";
    }
    setApplicationRunning(false);
    stopped.join();
    setApplicationRunning(true);
    backupSetEditActive = false;
    ASSERT_TRUE(loadBackupSetFile(path, read));
    EXPECT_EQ(read.note, "at shut-down");
    resetTimings();
}

TEST(BackupSets, ASetOpenedWhileItsArchiveIsOfflineKeepsEveryEntry) {
    timings().pollMs = 2;
    const std::string folder = makeTestFolder("bs");
    std::filesystem::create_directories(folder + "/archive");
    BackupSetRecord set;
    set.files[L"/s/a"] = entry(L"/s/a", makeCopy(folder + "/archive", "a", 3), true, false);
    set.files[L"/s/b"] = entry(L"/s/b", makeCopy(folder + "/archive", "b", 4), true, true);
    const std::wstring path = wide(folder) + L"/offline.backup";
    ASSERT_TRUE(saveBackupSetFile(path, set));
    const std::string stored = readTestFile(wideToUtf8(path));
    std::filesystem::rename(folder + "/archive", folder + "/unplugged");

    const auto edit = [&](bool change) {
        std::thread editor(threadLoadAndEditRestoreFileSet, path);
        for (int i = 0; i < 5000 && !backupSetEditActive; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ASSERT_TRUE(backupSetEditActive);
        if (change) {
            std::lock_guard<std::mutex> lock(backupSetMutex);
            editedBackupSet.files[L"/s/a"].restore = true;
        }
        backupSetEditActive = false;
        editor.join();
    };
    edit(false);  // looked at only: never written
    EXPECT_EQ(readTestFile(wideToUtf8(path)), stored);
    edit(true);  // edited offline: every entry is written, still copied
    EXPECT_EQ(readLines(path).size(), 2u);

    std::filesystem::rename(folder + "/unplugged", folder + "/archive");
    BackupSetRecord read;
    ASSERT_TRUE(loadBackupSetFile(path, read));
    ASSERT_EQ(read.files.size(), 2u);
    EXPECT_TRUE(read.files[L"/s/a"].copied && read.files[L"/s/a"].restore);
    EXPECT_TRUE(read.files[L"/s/b"].copied && read.files[L"/s/b"].restore);
    resetTimings();
}
