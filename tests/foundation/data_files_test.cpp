#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "foundation/app_log.h"
#include "foundation/data_files.h"
#include "foundation/data_packet.h"
#include "foundation/data_record.h"
#include "foundation/watch_folders.h"
#include "platform/text.h"
#include "test_env.h"

namespace {

std::string notesFile() { return wideToUtf8(configurationFilePath(L"BS_Notes.dat")); }

void addFolder(const std::wstring& path) {
    WatchFolderEntry entry;
    entry.archivePath = path + L"-archive";
    std::lock_guard<std::mutex> lock(watchFolderMutex);
    watchFolderMap[path] = entry;
}

}  // namespace

TEST(DataFiles, SplittersKeepEmptyFieldsAndJoinIsTheirInverse) {
    std::vector<std::wstring> fields = {L"stale"};
    splitWString(L"a[|][|]b", L"[|]", fields);
    EXPECT_EQ(fields, (std::vector<std::wstring>{L"a", L"", L"b"}));
    splitWString(L"plain", L"[|]", fields);
    EXPECT_EQ(fields, std::vector<std::wstring>{L"plain"});
    splitWString(L"", L"[|]", fields);
    EXPECT_EQ(fields, std::vector<std::wstring>{L""});
    splitWString(L"[||]x[||]", L"[||]", fields);
    EXPECT_EQ(fields, (std::vector<std::wstring>{L"", L"x", L""}));
    std::wstring joined;
    joinWString(fields, L"[||]", joined);
    EXPECT_EQ(joined, L"[||]x[||]");

    std::vector<std::string> narrow;
    splitString("a[|][|]b", "[|]", narrow);
    EXPECT_EQ(narrow, (std::vector<std::string>{"a", "", "b"}));
}

TEST(DataFiles, FolderFileListNameReplacesSeparatorsColonsAndPointsAndKeepsCase) {
    EXPECT_EQ(folderFileListName(L"/mnt/Data.old/x"), L"_mnt_Data_old_x.dat");
    EXPECT_EQ(folderFileListName(L"/a:b/C\\d"), L"_a_b_C\\d.dat");
}

TEST(DataFiles, BackupSetNotesSurviveSaveAndLoadWithSeparatorsAndNonLatinText) {
    {
        std::lock_guard<std::mutex> lock(backupSetNotesMutex);
        backupSetNotesMap = {{L"/arch/.backupsets/s1.backup", "caf\xC3\xA9 \xE2\x97\x8F note[|]two[||]three"},
                             {L"/arch/.backupsets/\u00e9t\u00e9.backup", "\xD0\xBF\xD1\x80\xD0\xB8"},
                             {L"/arch/.backupsets/empty.backup", ""}};
    }
    ASSERT_TRUE(saveBackupSetNotesFile());
    EXPECT_EQ(getRecordValueCount(getRecordSection(appDataRecord, "bsnotes"), "ni"), 2u);  // the empty note is not written
    {
        std::lock_guard<std::mutex> lock(backupSetNotesMutex);
        backupSetNotesMap.clear();
    }
    ASSERT_TRUE(loadBackupSetNotesFile());
    std::lock_guard<std::mutex> lock(backupSetNotesMutex);
    ASSERT_EQ(backupSetNotesMap.size(), 2u);
    EXPECT_EQ(backupSetNotesMap[L"/arch/.backupsets/s1.backup"], "caf\xC3\xA9 \xE2\x97\x8F note[|]two[||]three");
    EXPECT_EQ(backupSetNotesMap[L"/arch/.backupsets/\u00e9t\u00e9.backup"], "\xD0\xBF\xD1\x80\xD0\xB8");
}

TEST(DataFiles, MissingOrDamagedNotesFileLeavesTheMapAsItWas) {
    std::filesystem::remove(notesFile());
    {
        std::lock_guard<std::mutex> lock(backupSetNotesMutex);
        backupSetNotesMap = {{L"k", "kept"}};
    }
    EXPECT_FALSE(loadBackupSetNotesFile());
    ASSERT_TRUE(writeTestFile(notesFile(), "not base64 at all!"));
    EXPECT_FALSE(loadBackupSetNotesFile());
    std::lock_guard<std::mutex> lock(backupSetNotesMutex);
    EXPECT_EQ(backupSetNotesMap, (std::map<std::wstring, std::string>{{L"k", "kept"}}));
}

TEST(DataFiles, FolderFileListSurvivesSaveAndLoadAndAFailedSaveKeepsTheOldFile) {
    const std::wstring folder = utf8ToWide(makeTestFolder("Watch.Folder"));
    addFolder(folder);
    {
        std::lock_guard<std::mutex> lock(watchFolderMutex);
        auto& files = watchFolderMap[folder].fileMap;
        files[7] = {folder + L"/\u65e5\u672c.txt", true};
        files[0xFFFFFFFFu] = {folder + L"/odd[||]name[|].txt", false};
        files[42] = {folder + utf8ToWide("/bad\xFF" "byte.txt"), true};  // a name that is not valid UTF-8
    }
    EXPECT_FALSE(saveFolderFileList(folder + L"-not-listed"));
    ASSERT_TRUE(saveFolderFileList(folder));
    const std::string listFile = wideToUtf8(configurationFilePath(folderFileListName(folder)));
    const std::string saved = readTestFile(listFile);
    ASSERT_FALSE(saved.empty());

    std::map<uint32_t, FolderFileItem> before;
    {
        std::lock_guard<std::mutex> lock(watchFolderMutex);
        before = watchFolderMap[folder].fileMap;
        watchFolderMap[folder].fileMap.clear();
    }
    ASSERT_TRUE(loadFolderFileList(folder));
    {
        std::lock_guard<std::mutex> lock(watchFolderMutex);
        const auto& after = watchFolderMap[folder].fileMap;
        ASSERT_EQ(after.size(), before.size());
        for (const auto& [key, item] : before) {
            ASSERT_TRUE(after.count(key));
            EXPECT_EQ(after.at(key).path, item.path);
            EXPECT_EQ(after.at(key).exists, item.exists);
        }
        // A path too long for a text value: the save must fail and leave the old file.
        watchFolderMap[folder].fileMap[100] = {folder + L"/" + std::wstring(70000, L'x'), true};
    }
    EXPECT_FALSE(saveFolderFileList(folder));
    EXPECT_EQ(readTestFile(listFile), saved);
}

TEST(DataFiles, MeasureCountsTheKnownFilesThatStillExist) {
    const std::wstring folder = utf8ToWide(makeTestFolder("measure"));
    std::filesystem::create_directories(wideToUtf8(folder) + "/sub");
    ASSERT_TRUE(writeTestFile(wideToUtf8(folder) + "/a.txt", "a"));
    ASSERT_TRUE(writeTestFile(wideToUtf8(folder) + "/sub/B.txt", "b"));
    const uint32_t seed = computeCrc32(0, wideToUtf8(folder));
    auto keyOf = [&](const std::wstring& path) { return computeCrc32(seed, wideToUtf8(path)); };
    addFolder(folder);
    {
        std::lock_guard<std::mutex> lock(watchFolderMutex);
        auto& files = watchFolderMap[folder].fileMap;
        files[keyOf(folder + L"/a.txt")] = {folder + L"/a.txt", false};
        files[keyOf(folder + L"/sub/B.txt")] = {folder + L"/sub/B.txt", false};
        files[keyOf(folder + L"/sub/b.txt")] = {folder + L"/sub/b.txt", true};  // other case: another file
        files[keyOf(folder + L"/gone.txt")] = {folder + L"/gone.txt", true};
    }
    EXPECT_DOUBLE_EQ(measureFolderFileList(folder), 0.5);
    {
        std::lock_guard<std::mutex> lock(watchFolderMutex);
        EXPECT_DOUBLE_EQ(watchFolderMap[folder].existingShare, 0.5);
        EXPECT_FALSE(watchFolderMap[folder].fileMap[keyOf(folder + L"/gone.txt")].exists);
        watchFolderMap[folder].folderType = kFolderTypeFolder;  // no sub-folders
    }
    EXPECT_DOUBLE_EQ(measureFolderFileList(folder), 0.25);
    EXPECT_EQ(measureFolderFileList(L"/not/listed"), 0.0);
}

TEST(DataFiles, NotificationsSurviveSaveAndLoadWithSeparatorsAndNonLatinText) {
    replaceAppLogEntries({});
    appendAppLogEntryAt(L"first[||]second \u65e5\u672c[|]x[||]2[|]y", 4, false, 17000000000000000);
    appendAppLogEntryAt(L"caf\u00e9 [|] \u25cf title only", 8, false, 17000000000000001);
    appendAppLogEntryAt(L"plain", 1, false, 17000000000000002);
    const std::vector<AppLogEntry> before = appLogSnapshot().entries;
    ASSERT_EQ(before.size(), 3u);
    ASSERT_TRUE(saveNotificationsFile());
    replaceAppLogEntries({});
    ASSERT_TRUE(loadNotificationsFile());
    const std::vector<AppLogEntry> after = appLogSnapshot().entries;
    ASSERT_EQ(after.size(), before.size());
    for (size_t i = 0; i < before.size(); ++i) {
        EXPECT_EQ(after[i].key, before[i].key);
        EXPECT_EQ(after[i].time, before[i].time);
        EXPECT_EQ(after[i].kind, before[i].kind);
    }
    EXPECT_EQ(appLogPendingKinds(), 13u);
}

TEST(DataFiles, NotificationNumberOfTheWrongWidthSkipsTheValue) {
    // Field 1 decodes to 5 bytes, field 2 of the second value to 4: both are
    // dropped; the third value is whole.
    addRecordSection(appDataRecord, "notifications");
    RecordSectionHandle section = getRecordSection(appDataRecord, "notifications");
    removeRecordValue(section, "ni", kRecordAppend);
    const std::wstring time8 = utf8ToWide(base64Convert(std::string("\x01\x02\x03\x04\x05\x06\x07\x00", 8)));
    const std::wstring kind4 = utf8ToWide(base64Convert(std::string("\x02\x00\x00\x00", 4)));
    const std::wstring five = utf8ToWide(base64Convert(std::string("\x02\x00\x00\x00\x09", 5)));
    setRecordWString(section, "ni", five + L"[|]" + time8 + L"[|]too wide[|]", kRecordAppend);
    setRecordWString(section, "ni", kind4 + L"[|]" + kind4 + L"[|]too narrow[|]", kRecordAppend);
    setRecordWString(section, "ni", kind4 + L"[|]" + time8 + L"[|]whole[|]", kRecordAppend);
    std::filesystem::create_directories(wideToUtf8(configurationFolderPath()));
    ASSERT_TRUE(saveDataRecordFile(appDataRecord, "notifications", configurationFilePath(L"Notifications.dat"),
                                   kDataFilePassPhrase));
    replaceAppLogEntries({});
    ASSERT_TRUE(loadNotificationsFile());
    const std::vector<AppLogEntry> entries = appLogSnapshot().entries;
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].key, L"whole");
    EXPECT_EQ(entries[0].kind, 2u);
    EXPECT_EQ(entries[0].time, 0x0007060504030201);
}

TEST(DataFiles, ConfirmedNotificationsStayConfirmedAfterARestart) {
    replaceAppLogEntries({});
    appendAppLogEntryAt(L"seen", 4, false, 17000000000000000);
    appendAppLogEntryAt(L"new", 2, false, 17000000000010000);
    ASSERT_TRUE(setAppLogEntryConfirmed(appLogSnapshot().entries[0].key, true));
    ASSERT_TRUE(saveNotificationsFile());
    replaceAppLogEntries({});
    ASSERT_TRUE(loadNotificationsFile());
    std::vector<AppLogEntry> entries = appLogSnapshot().entries;
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].confirmed, 1);
    EXPECT_EQ(entries[1].confirmed, 0);
    EXPECT_EQ(appLogPendingKinds(), 2u);

    // A file written without the flags reads every entry as new.
    removeRecordValue(getRecordSection(appDataRecord, "notifications"), "nc", kRecordAppend);
    ASSERT_TRUE(saveDataRecordFile(appDataRecord, "notifications", configurationFilePath(L"Notifications.dat"),
                                   kDataFilePassPhrase));
    removeRecordSection("notifications");
    replaceAppLogEntries({});
    ASSERT_TRUE(loadNotificationsFile());
    EXPECT_EQ(appLogSnapshot().entries.size(), 2u);
    EXPECT_EQ(appLogPendingKinds(), 6u);
}
