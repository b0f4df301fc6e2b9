#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "foundation/app_log.h"
#include "foundation/data_packet.h"
#include "foundation/data_record.h"
#include "foundation/version_records.h"
#include "foundation/watch_folders.h"
#include "platform/text.h"
#include "test_env.h"

namespace {

// Each test starts with no watch folders and no records.
void resetState() {
    {
        std::lock_guard<std::mutex> lock(watchFolderMutex);
        watchFolderMap.clear();
    }
    std::lock_guard<std::mutex> lock(versionRecordMutex);
    versionRecordMap.clear();
}

struct Folder {
    std::wstring path;
    std::wstring archive;
};

Folder makeWatchFolder(const std::string& name) {
    const std::string base = makeTestFolder("vr");
    Folder folder{utf8ToWide(base + "/src/" + name), utf8ToWide(base + "/arch/" + name)};
    std::filesystem::create_directories(wideToUtf8(folder.path));
    std::filesystem::create_directories(wideToUtf8(folder.archive));
    WatchFolderEntry entry;
    entry.archivePath = folder.archive;
    std::lock_guard<std::mutex> lock(watchFolderMutex);
    watchFolderMap[folder.path] = entry;
    return folder;
}

// Writes a file with the given content and modification time (seconds).
std::wstring makeFile(const std::wstring& path, const std::string& content, time_t mtime = 0) {
    std::filesystem::create_directories(std::filesystem::path(wideToUtf8(path)).parent_path());
    EXPECT_TRUE(writeTestFile(wideToUtf8(path), content));
    if (mtime) {
        const timespec times[2] = {{mtime, 0}, {mtime, 0}};
        EXPECT_EQ(utimensat(AT_FDCWD, wideToUtf8(path).c_str(), times, 0), 0);
    }
    return path;
}

std::vector<std::wstring> savedItems() {
    DataRecord document;
    EXPECT_TRUE(loadDataRecordFile(document, "abc", versionRecordsFilePath(), ""));
    RecordSectionHandle section = getRecordSection(document, "abc");
    std::vector<std::wstring> items(getRecordValueCount(section, "item"));
    for (size_t i = 0; i < items.size(); ++i) getRecordWString(section, "item", items[i], static_cast<uint32_t>(i));
    return items;
}

void writeItems(const std::vector<std::wstring>& items) {
    DataRecord document;
    addRecordSection(document, "abc");
    for (const std::wstring& item : items) setRecordWString(getRecordSection(document, "abc"), "item", item, kRecordAppend);
    std::filesystem::create_directories(std::filesystem::path(wideToUtf8(versionRecordsFilePath())).parent_path());
    ASSERT_TRUE(saveDataRecordFile(document, "abc", versionRecordsFilePath(), ""));
}

size_t versionCount() {
    std::lock_guard<std::mutex> lock(versionRecordMutex);
    size_t count = 0;
    for (const auto& [source, versions] : versionRecordMap) count += versions.size();
    return count;
}

}  // namespace

TEST(VersionRecords, SaveAndLoadWithSeveralWatchFolders) {
    resetState();
    const Folder a = makeWatchFolder("Alpha");
    const Folder b = makeWatchFolder("Beta");
    // "Alpha2" shares Alpha's text as a prefix: its files must not go to Alpha.
    const Folder a2{a.path + L"2", a.archive + L"2"};
    {
        WatchFolderEntry entry;
        entry.archivePath = a2.archive;
        std::lock_guard<std::mutex> lock(watchFolderMutex);
        watchFolderMap[a2.path] = entry;
    }
    ASSERT_FALSE(addVersionRecord(a.path + L"/x.txt", a.archive + L"/missing.txt", L"", false));
    ASSERT_TRUE(addVersionRecord(a.path + L"/x.txt", makeFile(a.archive + L"/x ~ 0001.txt", "1"), L"editor", false));
    ASSERT_TRUE(addVersionRecord(a.path + L"/x.txt", makeFile(a.archive + L"/x ~ 0002.txt", "2"), L"", false));
    ASSERT_TRUE(addVersionRecord(b.path + L"/\u65e5\u672c/y.txt", makeFile(b.archive + L"/\u65e5\u672c/y.txt", "y"), L"\u00e9diteur", false));
    ASSERT_TRUE(addVersionRecord(a2.path + L"/z.txt", a2.archive + L"/z.txt", L"", true));
    EXPECT_TRUE(versionRecordsChanged);
    ASSERT_TRUE(saveVersionRecords());
    EXPECT_FALSE(versionRecordsChanged);

    const std::vector<std::wstring> items = savedItems();
    ASSERT_EQ(items.size(), 4u);
    EXPECT_EQ(items[0], L"editor[||]{{root}}/x ~ 0001.txt[||]{{root}}/x.txt[||]" + a.path);
    EXPECT_EQ(items[1], L"[||]{{root}}/x ~ 0002.txt[||]{{root}}/x.txt");  // same folder: three fields
    EXPECT_EQ(items[2], L"[||]{{root}}/z.txt[||]{{root}}/z.txt[||]" + a2.path);
    EXPECT_EQ(items[3], L"\u00e9diteur[||]{{root}}/\u65e5\u672c/y.txt[||]{{root}}/\u65e5\u672c/y.txt[||]" + b.path);

    const auto before = [] {
        std::lock_guard<std::mutex> lock(versionRecordMutex);
        return versionRecordMap;
    }();
    ASSERT_TRUE(loadVersionRecords());
    std::lock_guard<std::mutex> lock(versionRecordMutex);
    ASSERT_EQ(versionRecordMap.size(), before.size());
    for (const auto& [source, versions] : before) {
        ASSERT_TRUE(versionRecordMap.count(source));
        const FileVersionMap& loaded = versionRecordMap.at(source);
        ASSERT_EQ(loaded.size(), versions.size());
        for (const auto& [path, record] : versions) EXPECT_EQ(loaded.at(path).owner, record.owner);
    }
}

TEST(VersionRecords, MovedFolderIsFoundByItsLastComponentAndMissingFolderIsDropped) {
    resetState();
    const Folder moved = makeWatchFolder("Projects");
    const std::wstring oldPath = L"/old/place/Projects";
    writeItems({L"app[||]{{root}}/a ~ 0001.txt[||]{{root}}/a.txt[||]" + oldPath,
                L"[||]{{root}}/a ~ 0002.txt[||]{{root}}/a.txt",
                L"[||]{{root}}/g.txt[||]{{root}}/g.txt[||]/old/Gone",
                L"[||]{{root}}/h.txt[||]{{root}}/h.txt"});
    ASSERT_TRUE(loadVersionRecords());
    {
        std::lock_guard<std::mutex> lock(versionRecordMutex);
        ASSERT_EQ(versionRecordMap.size(), 1u);
        const FileVersionMap& versions = versionRecordMap.at(oldPath + L"/a.txt");  // sources keep the saved folder
        ASSERT_EQ(versions.size(), 2u);
        EXPECT_EQ(versions.begin()->first, moved.archive + L"/a ~ 0001.txt");
        EXPECT_EQ(versions.begin()->second.owner, L"app");
    }
    size_t logged = 0;
    for (const AppLogEntry& entry : appLogSnapshot().entries)
        if (entry.key.find(L"records found for missing watch folder Gone") != std::wstring::npos) ++logged;
    EXPECT_EQ(logged, 1u);
    {
        std::lock_guard<std::mutex> lock(versionRecordMutex);
        versionRecordMap[oldPath + L"/a.txt"].begin()->second.present = false;  // not saved
    }
    ASSERT_TRUE(saveVersionRecords());
    EXPECT_EQ(savedItems(), std::vector<std::wstring>{L"[||]{{root}}/a ~ 0002.txt[||]{{root}}/a.txt[||]" + oldPath});
    EXPECT_FALSE(versionRecordsChanged);
}

TEST(VersionRecords, RecordsLeavingTheirFolderOrArchiveAreSkippedWithOneLine) {
    resetState();
    const Folder folder = makeWatchFolder("Keys");
    writeItems({L"[||]{{root}}/kept.txt[||]{{root}}/kept.txt[||]" + folder.path,
                L"[||]{{root}}/../../../.ssh/id_rsa[||]{{root}}/key.txt",
                L"[||]/home/u/.ssh/id_rsa[||]{{root}}/key2.txt",
                L"[||]{{root}}/x.txt[||]{{root}}/../../.config/autostart/x.desktop",
                // archived before the archive moved: a copy of its own file stays
                L"[||]/old/archive/notes ~ 0001.txt[||]{{root}}/notes.txt",
                // and the copy that took its file's own name, though that reads as a version
                L"[||]/old/archive/notes ~ 0002.txt[||]{{root}}/notes ~ 0002.txt"});
    ASSERT_TRUE(loadVersionRecords());
    EXPECT_EQ(versionCount(), 3u);
    size_t logged = 0;
    for (const AppLogEntry& entry : appLogSnapshot().entries)
        logged += entry.key.find(L"Version records outside their watch folder or archive skipped: 3") != std::wstring::npos;
    EXPECT_EQ(logged, 1u);
}

TEST(VersionRecords, ItemsBeforeTheFirstFolderAreSkipped) {
    resetState();
    const Folder folder = makeWatchFolder("Docs");
    writeItems({L"[||]{{root}}/early.txt[||]{{root}}/early.txt",
                L"[||]{{root}}/late.txt[||]{{root}}/late.txt[||]" + folder.path});
    ASSERT_TRUE(loadVersionRecords());
    EXPECT_EQ(versionCount(), 1u);
    std::lock_guard<std::mutex> lock(versionRecordMutex);
    EXPECT_TRUE(versionRecordMap.count(folder.path + L"/late.txt"));
}

TEST(VersionRecords, DuplicatesCollapseOnlyWhenThePathIsTheSame) {
    resetState();
    const Folder folder = makeWatchFolder("Dup");
    makeFile(folder.archive + L"/v.txt", "1");
    makeFile(folder.archive + L"/V.txt", "2");
    ASSERT_TRUE(addVersionRecord(folder.path + L"/f.txt", folder.archive + L"/v.txt", L"", false));
    ASSERT_TRUE(addVersionRecord(folder.path + L"/f.txt", folder.archive + L"/v.txt", L"other", false));
    EXPECT_EQ(versionCount(), 1u);
    {
        std::lock_guard<std::mutex> lock(versionRecordMutex);
        EXPECT_EQ(versionRecordMap[folder.path + L"/f.txt"].begin()->second.owner, L"");  // the first stays
    }
    // Linux names are case-sensitive: V.txt is another archived file.
    ASSERT_TRUE(addVersionRecord(folder.path + L"/f.txt", folder.archive + L"/V.txt", L"", false));
    EXPECT_EQ(versionCount(), 2u);
}

TEST(VersionRecords, IsSameAsNewestVersionComparesWithTheNewestCopy) {
    resetState();
    const Folder folder = makeWatchFolder("Same");
    const std::wstring source = makeFile(folder.path + L"/s.txt", "current", 1700000300);
    EXPECT_FALSE(isSameAsNewestVersion(source));
    ASSERT_TRUE(addVersionRecord(source, makeFile(folder.archive + L"/s ~ 0002.txt", "current", 1700000200), L"", false));
    ASSERT_TRUE(addVersionRecord(source, makeFile(folder.archive + L"/s ~ 0001.txt", "old....", 1700000100), L"", false));
    ASSERT_TRUE(addVersionRecord(source, folder.archive + L"/s ~ 0003.txt", L"", true));  // unreadable: ignored
    EXPECT_TRUE(isSameAsNewestVersion(source));
    makeFile(source, "changed", 1700000300);
    EXPECT_FALSE(isSameAsNewestVersion(source));
}

TEST(VersionRecords, FailedSaveKeepsTheOldFileAndTheChangedFlag) {
    resetState();
    if (geteuid() == 0) GTEST_SKIP() << "needs a permission error";
    const Folder folder = makeWatchFolder("Keep");
    ASSERT_TRUE(addVersionRecord(folder.path + L"/k.txt", makeFile(folder.archive + L"/k.txt", "k"), L"", false));
    ASSERT_TRUE(saveVersionRecords());
    const std::string file = wideToUtf8(versionRecordsFilePath());
    const std::string saved = readTestFile(file);
    ASSERT_TRUE(addVersionRecord(folder.path + L"/k.txt", makeFile(folder.archive + L"/k2.txt", "k"), L"", false));
    const std::string metadataFolder = std::filesystem::path(file).parent_path();
    chmod(metadataFolder.c_str(), 0500);
    EXPECT_FALSE(saveVersionRecords());
    chmod(metadataFolder.c_str(), 0700);
    EXPECT_TRUE(versionRecordsChanged);
    EXPECT_EQ(readTestFile(file), saved);
}

TEST(VersionRecords, AdditionsFromSeveralThreadsWhileSaving) {
    resetState();
    const Folder folder = makeWatchFolder("Threads");
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 500; ++i) {
                const std::wstring name = std::to_wstring(t) + L"-" + std::to_wstring(i);
                addVersionRecord(folder.path + L"/" + name, folder.archive + L"/" + name, L"", true);
            }
        });
    }
    for (int i = 0; i < 5; ++i) EXPECT_TRUE(saveVersionRecords());
    for (std::thread& thread : threads) thread.join();
    ASSERT_TRUE(saveVersionRecords());
    ASSERT_TRUE(loadVersionRecords());
    EXPECT_EQ(versionCount(), 2000u);
}

TEST(VersionRecordsSelection, GroupMarksOneVersionOrClearsAll) {
    FileVersionMap group;
    for (const wchar_t* name : {L"/a/f ~ 0000.txt", L"/a/f ~ 0001.txt", L"/a/f ~ 0002.txt"})
        group[name] = FileVersionRecord{name, L"", true, true};
    selectGroupVersions(group, GroupSelection::Last);
    EXPECT_FALSE(group[L"/a/f ~ 0000.txt"].selected);
    EXPECT_FALSE(group[L"/a/f ~ 0001.txt"].selected);
    EXPECT_TRUE(group[L"/a/f ~ 0002.txt"].selected);
    selectGroupVersions(group, GroupSelection::First);
    EXPECT_TRUE(group[L"/a/f ~ 0000.txt"].selected);
    EXPECT_FALSE(group[L"/a/f ~ 0002.txt"].selected);
    selectGroupVersions(group, GroupSelection::Clear);
    for (const auto& [path, record] : group) EXPECT_FALSE(record.selected) << wideToUtf8(path);

    FileVersionMap empty;
    selectGroupVersions(empty, GroupSelection::Last);
    EXPECT_TRUE(empty.empty());

    {
        std::lock_guard<std::mutex> lock(versionRecordMutex);
        versionRecordMap[L"/a/f.txt"] = group;
    }
    selectGroupVersions({L"/a/f.txt", L"/a/missing.txt"}, GroupSelection::First);
    std::lock_guard<std::mutex> lock(versionRecordMutex);
    EXPECT_TRUE(versionRecordMap[L"/a/f.txt"][L"/a/f ~ 0000.txt"].selected);
    EXPECT_EQ(versionRecordMap.count(L"/a/missing.txt"), 0u);
}

TEST(VersionRecords, NamesHoldingTheSeparatorsKeepEveryRecord) {
    resetState();
    const Folder folder = makeWatchFolder("w[||]f");
    const std::wstring names[] = {L"/a[||]b.txt", L"/c[|]d.txt", L"/e|f.txt", L"/z.txt"};
    for (const std::wstring& name : names) {
        const std::wstring archived = makeFile(folder.archive + name, "v");
        ASSERT_TRUE(addVersionRecord(folder.path + name, archived, L"app[||]x", false));
    }
    ASSERT_TRUE(saveVersionRecords());
    ASSERT_TRUE(loadVersionRecords());
    ASSERT_EQ(versionCount(), 4u);
    std::lock_guard<std::mutex> lock(versionRecordMutex);
    for (const std::wstring& name : names) {
        const auto& versions = versionRecordMap.at(folder.path + name);
        EXPECT_EQ(versions.begin()->first, folder.archive + name);
        EXPECT_EQ(versions.begin()->second.owner, L"app[||]x");
    }
}

TEST(VersionRecords, LastVersionIsTheNewestCopyNotThePlainName) {
    FileVersionMap group;
    for (const wchar_t* name : {L"/a/f.txt", L"/a/f ~ 0001.txt", L"/a/f ~ 0002.txt", L"/a/g ~ x.txt"})
        group[name] = FileVersionRecord{name, L"", true, false};
    selectGroupVersions(group, GroupSelection::Last);
    EXPECT_TRUE(group[L"/a/f ~ 0002.txt"].selected);
    EXPECT_FALSE(group[L"/a/f.txt"].selected);
    selectGroupVersions(group, GroupSelection::First);
    EXPECT_TRUE(group[L"/a/f.txt"].selected);

    FileVersionMap stamped;
    for (const wchar_t* name : {L"/a/n", L"/a/n ~ 2026_01_09_ 7_05_03.042.", L"/a/n ~ 2026_01_09_17_05_03.042."})
        stamped[name] = FileVersionRecord{name, L"", true, false};
    selectGroupVersions(stamped, GroupSelection::Last);
    EXPECT_TRUE(stamped[L"/a/n ~ 2026_01_09_17_05_03.042."].selected);

    // Numbers go by their value; a " ~ " that holds no stamp is part of the name.
    FileVersionMap numbered;
    for (const wchar_t* name : {L"/a/m ~ 12.txt", L"/a/m ~ 12 ~ 9999.txt", L"/a/m ~ 12 ~ 10000.txt"})
        numbered[name] = FileVersionRecord{name, L"", true, false};
    selectGroupVersions(numbered, GroupSelection::Last);
    EXPECT_TRUE(numbered[L"/a/m ~ 12 ~ 10000.txt"].selected);
    selectGroupVersions(numbered, GroupSelection::First);
    EXPECT_TRUE(numbered[L"/a/m ~ 12.txt"].selected);
}
