#include "engine/smart_lists.h"

#include <cstdlib>

#include "deletion_test_support.h"
#include "engine/restore_state.h"

using namespace deletion_test;

namespace {

class SmartLists : public ::testing::Test {
protected:
    void SetUp() override { resetDeletionState(); }
    void TearDown() override { resetDeletionState(); }
};

SetListEntry entryOf(const std::wstring& key) {
    SetListEntry entry;
    EXPECT_TRUE(findSetListEntry(key, entry));
    return entry;
}

const std::wstring kAll(kAllRecentFilesName);

}  // namespace

TEST_F(SmartLists, ListOfAFoldersSets) {
    const TestFolder data = addWatchFolder("data");
    {
        std::lock_guard<std::mutex> lock(backupSetListMutex);
        backupSetList[L"kept"] = SetListEntry{};
    }
    EXPECT_EQ(buildSmartRestoreList(data.source), 0);  // no set: list as it was
    EXPECT_EQ(buildSmartRestoreList(utf8ToWide(data.base) + L"/other"), 0);
    EXPECT_EQ(backupSetListSnapshot().size(), 1u);

    const std::wstring copy = makeFile(data.archive + L"/a.txt");
    const std::wstring setFile = stageSet(data, L"2024/05/06 07:08:09.123 - File Set", {copy});
    makeFile(backupStagingSubfolder(data.source) + L"stray.tmp");  // not a set file
    EXPECT_EQ(buildSmartRestoreList(data.source), 1);
    const auto list = backupSetListSnapshot();
    ASSERT_EQ(list.size(), 2u);
    const SetListEntry& set = list.at(L"2024/05/06 07:08:09.123 : File Set");
    EXPECT_EQ(set.setFilePath, setFile);
    EXPECT_EQ(set.consistency, 1.0);
    EXPECT_EQ(set.statisticsReady, 0);
    const SetListEntry& all = list.at(kAll);
    EXPECT_EQ(all.setFilePath, data.source);
    EXPECT_EQ(all.noteText, "Smart Restore List");
    EXPECT_EQ(all.consistency, 0.0);
    std::lock_guard<std::mutex> lock(backupSetListMutex);
    EXPECT_EQ(restoreListFolder, data.source);
    EXPECT_EQ(restoreListLastSetName, "2024/05/06 07:08:09.123 : File Set");
}

TEST_F(SmartLists, StatisticsFromTheSummaryLeaveTheCopiesAlone) {
    const TestFolder data = addWatchFolder("data");
    // Five entries, three copied and marked (1024 bytes in all), two never copied.
    BackupSetRecord set;
    set.note = "monthly";
    const std::vector<std::pair<std::wstring, size_t>> copies = {{L"/a", 1000}, {L"/b", 20}, {L"/c", 4}};
    for (const auto& [name, size] : copies) {
        BackupSetEntry e;
        e.sourcePath = data.source + name;
        e.archivePath = makeFile(data.archive + name, std::string(size, 'x'));
        e.copied = e.restore = true;
        set.files[e.sourcePath] = e;
    }
    for (const wchar_t* name : {L"/d", L"/e"}) set.files[data.source + name].sourcePath = data.source + name;
    const std::wstring path = backupSetStagingFilePath(data.source, L"s1");
    ASSERT_TRUE(saveBackupSetFile(path, set));
    ASSERT_EQ(buildSmartRestoreList(data.source), 1);
    for (const auto& [name, size] : copies) fs::remove(wideToUtf8(data.archive + name));

    buildSmartList(L"s1", true);
    const SetListEntry entry = entryOf(L"s1");
    EXPECT_EQ(entry.existing, 3u);
    EXPECT_EQ(entry.fileCount, 5u);
    EXPECT_EQ(entry.missing, 2u);
    EXPECT_EQ(entry.totalBytes, 1024u);
    EXPECT_EQ(entry.selectedToRestore, 3u);
    EXPECT_DOUBLE_EQ(entry.consistency, 0.6);
    EXPECT_EQ(entry.noteText, "monthly");
    EXPECT_EQ(entry.statisticsReady, 1);
    buildSmartList(L"no such set", true);  // nothing happens
}

TEST_F(SmartLists, SetWithoutSummaryIsMeasuredAndWrittenBackOnce) {
    const TestFolder data = addWatchFolder("data");
    const std::wstring a = makeFile(data.archive + L"/a.txt", std::string(100, 'a'));
    const std::wstring b = makeFile(data.archive + L"/b.txt", std::string(11, 'b'));
    const std::wstring lost = data.archive + L"/lost.txt";
    const std::wstring path = backupSetStagingFilePath(data.source, L"old");
    writeSetWithoutSummary(path,
                           {data.source + L"/a.txt[||]" + a + L"[||]+[||]R", data.source + L"/b.txt[||]" + b + L"[||]+[||]0",
                            data.source + L"/lost.txt[||]" + lost + L"[||]+[||]R"},
                           "old note");
    ASSERT_EQ(buildSmartRestoreList(data.source), 1);
    buildSmartList(L"old", true);
    SetListEntry entry = entryOf(L"old");
    EXPECT_EQ(entry.fileCount, 3u);
    EXPECT_EQ(entry.existing, 2u);
    EXPECT_EQ(entry.missing, 1u);
    EXPECT_EQ(entry.totalBytes, 111u);
    EXPECT_EQ(entry.selectedToRestore, 2u);
    EXPECT_DOUBLE_EQ(entry.consistency, 2.0 / 3.0);
    EXPECT_EQ(entry.noteText, "old note");
    EXPECT_EQ(entry.statisticsReady, 1);

    BackupSetRecord written;
    ASSERT_TRUE(loadBackupSetFile(path, written));
    ASSERT_FALSE(written.files.empty());
    EXPECT_EQ(written.files.begin()->second.summary, L"efc:2,tf:3,tm:1,b:111,str:1");
    EXPECT_EQ(written.note, "old note");
    // The next reading comes from the summary: a copy that grew meanwhile is not measured again.
    makeFile(a, std::string(5000, 'a'));
    const auto stamp = fs::last_write_time(wideToUtf8(path));
    buildSmartList(L"old", true);
    EXPECT_EQ(entryOf(L"old").totalBytes, 111u);
    EXPECT_EQ(fs::last_write_time(wideToUtf8(path)), stamp);  // not written again
}

TEST_F(SmartLists, AllRecentFilesMeasuresTheFoldersArchive) {
    const TestFolder data = addWatchFolder("data");
    makeFile(data.archive + L"/empty.txt", "");
    uint64_t bytes = 0;
    for (int i = 0; i < 40; ++i) {
        makeFile(data.archive + L"/d" + std::to_wstring(i % 3) + L"/f" + std::to_wstring(i) + L".txt",
                 std::string(static_cast<size_t>(i + 1), 'x'));
        bytes += static_cast<uint64_t>(i + 1);
    }
    makeFile(data.archive + L"/.backupsets/x.backup");  // sets are not archived files
    stageSet(data, L"s", {data.archive + L"/empty.txt"});
    ASSERT_EQ(buildSmartRestoreList(data.source), 1);
    buildSmartList(kAll, true);
    const SetListEntry entry = entryOf(kAll);
    EXPECT_EQ(entry.fileCount, 41u);
    EXPECT_EQ(entry.selectedToRestore, 41u);
    EXPECT_EQ(entry.missing, 0u);
    EXPECT_EQ(entry.existing, 41u);
    EXPECT_EQ(entry.totalBytes, bytes);
    EXPECT_DOUBLE_EQ(entry.consistency, 1.0);
    EXPECT_EQ(entry.noteText, "Smart List");
    EXPECT_EQ(entry.statisticsReady, 1);
}

TEST_F(SmartLists, ChoosingAnotherSetStopsTheMeasurement) {
    const TestFolder data = addWatchFolder("data");
    for (int i = 0; i < 400; ++i) makeFile(data.archive + L"/f" + std::to_wstring(i), "abc");
    stageSet(data, L"s", {data.archive + L"/f0"});
    ASSERT_EQ(buildSmartRestoreList(data.source), 1);
    timings().shortPollMs = 1;
    // The window chooses another set as soon as the first numbers are shown.
    std::atomic<bool> done{false};
    std::thread window([&] {
        while (!done) {
            if (!updateSetListEntry(kAll, data.source, [](SetListEntry& e) {
                    if (e.statisticsReady) e.statisticsReady = 0;
                }))
                break;
            std::this_thread::yield();
        }
    });
    buildSmartList(kAll, true);  // returns, with every reader joined
    done = true;
    window.join();
    EXPECT_EQ(entryOf(kAll).fileCount, 400u);
}

TEST_F(SmartLists, RestoreButtonJobAndOpening) {
    const TestFolder data = addWatchFolder("data");
    restoreListBuildJob(data.source);
    EXPECT_EQ(restoreListBuildResult.load(), 0);
    stageSet(data, L"s", {makeFile(data.archive + L"/a")});
    holdRestoreWorkBusy();  // a restore holds it: the job leaves it set
    restoreListBuildJob(data.source);
    EXPECT_EQ(restoreListBuildResult.load(), 1);
    EXPECT_TRUE(restoreWorkBusy.load());
    releaseRestoreWorkBusy();
    restoreListBuildJob(data.source);
    EXPECT_FALSE(restoreWorkBusy.load());
    EXPECT_FALSE(restoreListBuilding.load());

    // The desktop's opener is stood in for by a script that notes its argument.
    const std::string bin = makeTestFolder("bin");
    const std::string noted = bin + "/opened.txt";
    ASSERT_TRUE(writeTestFile(bin + "/xdg-open", "#!/bin/sh\nprintf '%s' \"$1\" > '" + noted + "'\n"));
    fs::permissions(bin + "/xdg-open", fs::perms::owner_all);
    const std::string oldPath = std::getenv("PATH") ? std::getenv("PATH") : "";
    setenv("PATH", (bin + ":" + oldPath).c_str(), 1);
    EXPECT_TRUE(openWithShell(data.source));
    EXPECT_EQ(readTestFile(noted), wideToUtf8(data.source));
    EXPECT_FALSE(openWithShell(data.source + L"/missing"));
    EXPECT_FALSE(openWithShell(L"relative/path"));
    EXPECT_FALSE(openWithShell(L"--help"));
    EXPECT_TRUE(openWithShell(L"https://example.org/guide"));
    EXPECT_EQ(readTestFile(noted), "https://example.org/guide");
    setenv("PATH", oldPath.c_str(), 1);
}
