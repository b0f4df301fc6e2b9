#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "foundation/watch_folders.h"
#include "platform/text.h"
#include "test_env.h"

namespace {

void clearWatchLists() {
    std::lock_guard lock(watchFolderMutex);
    watchFolderMap.clear();
    defaultFolderMap.clear();
    std::lock_guard extensionLock(extensionMapMutex);
    extensionMap.clear();
    defaultExtensionMap.clear();
}

std::wstring displayNameOf(const std::wstring& key) {
    std::lock_guard lock(watchFolderMutex);
    return watchFolderMap.at(key).displayName;
}

}  // namespace

TEST(WatchFolders, NewEntryDefaults) {
    WatchFolderEntry entry;
    EXPECT_EQ(entry.collisionOption, kCollisionAppendTimeStamp);
    EXPECT_EQ(entry.folderType, kFolderTypeDescendents);
    EXPECT_TRUE(entry.preserveHierarchy);
    EXPECT_TRUE(entry.thirdFlag);
    EXPECT_FALSE(entry.removed);
    EXPECT_EQ(entry.backupState, 5);
    EXPECT_GT(entry.createdTicks, 16000000000000000ull);  // after 2020
    EXPECT_EQ(entry.createdTicks, entry.changedTicks);
}

TEST(WatchFolders, DisplayNamesCountersCaseAndRevival) {
    clearWatchLists();
    WatchFolderEntry entry;
    entry.archivePath = L"{{HOME}}/Arch";
    EXPECT_TRUE(updateWatchFolderList(L"/srv/Backup/Docs", entry, false));
    EXPECT_TRUE(updateWatchFolderList(L"/home/ann/Work/Docs", entry, false));
    EXPECT_TRUE(updateWatchFolderList(L"/media/x/Docs", entry, false));
    EXPECT_EQ(displayNameOf(L"/srv/Backup/Docs"), L"Docs");
    EXPECT_EQ(displayNameOf(L"/home/ann/Work/Docs"), L"Docs(1)");
    EXPECT_EQ(displayNameOf(L"/media/x/Docs"), L"Docs(2)");

    // Linux names keep their case: /a/docs is another folder than /a/Docs.
    EXPECT_TRUE(updateWatchFolderList(L"/a/docs", entry, false));
    EXPECT_EQ(displayNameOf(L"/a/docs"), L"docs");
    EXPECT_FALSE(updateWatchFolderList(L"/a/docs", entry, false));
    {
        std::lock_guard lock(watchFolderMutex);
        EXPECT_EQ(watchFolderMap.size(), 4u);
        EXPECT_EQ(watchFolderMap.at(L"/a/docs").archivePath, utf8ToWide(std::getenv("HOME")) + L"/Arch");
        EXPECT_TRUE(defaultFolderMap.empty());
    }

    // A removed folder comes back with its old options; the new entry is dropped.
    {
        std::lock_guard lock(watchFolderMutex);
        auto& stored = watchFolderMap.at(L"/a/docs");
        stored.removed = true;
        stored.collisionOption = kCollisionOverwrite;
        stored.archivePath = L"/old/archive";
    }
    configurationSaved = true;
    WatchFolderEntry other;
    other.archivePath = L"/new/archive";
    EXPECT_TRUE(updateWatchFolderList(L"/a/docs", other, false));
    EXPECT_FALSE(configurationSaved);
    {
        std::lock_guard lock(watchFolderMutex);
        const auto& stored = watchFolderMap.at(L"/a/docs");
        EXPECT_FALSE(stored.removed);
        EXPECT_EQ(stored.collisionOption, kCollisionOverwrite);
        EXPECT_EQ(stored.archivePath, L"/old/archive");
    }

    // An unset variable never expands to a usable path.
    WatchFolderEntry unset;
    unset.archivePath = L"{{VARNHOLT_NOT_SET_ANYWHERE}}/x";
    EXPECT_TRUE(updateWatchFolderList(L"/b", unset, true));
    std::lock_guard lock(watchFolderMutex);
    EXPECT_EQ(defaultFolderMap.at(L"/b").archivePath, L"?/x");
    EXPECT_EQ(defaultFolderMap.at(L"/b").displayName, L"b");
}

TEST(WatchFolders, ExtensionInclusionWithStar) {
    clearWatchLists();
    EXPECT_FALSE(isFileExtensionIncluded(L"/w", L"a.pdf"));
    EXPECT_FALSE(addWatchFolderExtension(L"/w", L"pdf"));
    ASSERT_TRUE(updateWatchFolderList(L"/w", WatchFolderEntry{}, false));
    EXPECT_FALSE(isFileExtensionIncluded(L"/w", L"report.final.pdf"));
    EXPECT_TRUE(addWatchFolderExtension(L"/w", L"PDF"));
    EXPECT_TRUE(isFileExtensionIncluded(L"/w", L"report.final.pdf"));
    EXPECT_TRUE(isFileExtensionIncluded(L"/w", L"/w/Sub.dir/REPORT.PDF"));
    EXPECT_FALSE(isFileExtensionIncluded(L"/w", L"/w/Sub.dir/Makefile"));
    EXPECT_FALSE(isFileExtensionIncluded(L"/W", L"report.pdf"));

    // "*" catches every extension the folder map lacks, the empty one included.
    EXPECT_TRUE(addWatchFolderExtension(L"/w", L"*"));
    EXPECT_TRUE(isFileExtensionIncluded(L"/w", L"Makefile"));
    EXPECT_TRUE(isFileExtensionIncluded(L"/w", L"x.tmp"));

    // An explicit exclusion beats "*".
    selectAllFolderExtensions(L"/w", false);
    {
        std::lock_guard lock(watchFolderMutex);
        watchFolderMap.at(L"/w").extensionMap.at(L"pdf").selected = true;
    }
    setSelectedExtensionsIncluded(L"/w", false);
    EXPECT_FALSE(isFileExtensionIncluded(L"/w", L"a.pdf"));
    EXPECT_TRUE(isFileExtensionIncluded(L"/w", L"a.txt"));

    // Adding an existing extension leaves it as it is.
    EXPECT_TRUE(addWatchFolderExtension(L"/w", L"pdf"));
    EXPECT_FALSE(isFileExtensionIncluded(L"/w", L"a.pdf"));

    removeSelectedExtensions(L"/w");
    EXPECT_TRUE(extensionListReady);
    EXPECT_TRUE(isFileExtensionIncluded(L"/w", L"a.pdf"));  // back to "*"
    std::lock_guard lock(watchFolderMutex);
    EXPECT_EQ(watchFolderMap.at(L"/w").extensionMap.count(L"pdf"), 0u);
}

TEST(WatchFolders, SetExtensionEntryKeepsFlags) {
    clearWatchLists();
    EXPECT_TRUE(setExtensionEntry(L"DOCX", L"Word", true));
    {
        std::lock_guard lock(extensionMapMutex);
        defaultExtensionMap.at(L"docx").included = false;
    }
    EXPECT_TRUE(setExtensionEntry(L"docx", L"", true));
    std::lock_guard lock(extensionMapMutex);
    EXPECT_EQ(defaultExtensionMap.at(L"docx").text, L"");
    EXPECT_FALSE(defaultExtensionMap.at(L"docx").included);
    EXPECT_TRUE(extensionMap.empty());
}

TEST(WatchFolders, CollectExtensionsFromDisk) {
    clearWatchLists();
    const std::string root = makeTestFolder("ext");
    std::filesystem::create_directories(root + "/Sub/Deep");
    std::filesystem::create_directories(root + "/.hidden");
    writeTestFile(root + "/a.TXT", "x");
    writeTestFile(root + "/noext", "x");
    writeTestFile(root + "/Sub/b.tar.gz", "x");
    writeTestFile(root + "/Sub/Deep/c.Cpp", "x");
    writeTestFile(root + "/.hidden/d.secret", "x");
    std::filesystem::create_directory_symlink(root, root + "/Sub/loop");  // never followed

    WatchFolderEntry entry;
    EXPECT_FALSE(collectFolderExtensions(entry, utf8ToWide(root + "/a.TXT"), true));
    EXPECT_TRUE(entry.extensionMap.empty());
    EXPECT_TRUE(collectFolderExtensions(entry, utf8ToWide(root), false));
    EXPECT_EQ(entry.extensionMap.size(), 1u);
    EXPECT_EQ(entry.extensionMap.at(L"txt").text, L"txt");

    const std::wstring key = utf8ToWide(root);
    ASSERT_TRUE(updateWatchFolderList(key, WatchFolderEntry{}, false));
    {
        std::lock_guard lock(watchFolderMutex);
        watchFolderMap.at(key).extensionMap[L"txt"] = ExtensionEntry{L"mine", false, false};
    }
    scanWatchFolderExtensions(key, true);
    std::lock_guard lock(watchFolderMutex);
    const auto& found = watchFolderMap.at(key).extensionMap;
    EXPECT_EQ(found.size(), 4u);
    EXPECT_EQ(found.at(L"txt").text, L"mine");  // existing entries stay as they were
    EXPECT_FALSE(found.at(L"txt").included);
    EXPECT_TRUE(found.at(L"gz").included);
    EXPECT_TRUE(found.count(L"cpp"));
    EXPECT_TRUE(found.count(L"secret"));  // dot folders are the folder's too
    std::lock_guard extensionLock(extensionMapMutex);
    EXPECT_EQ(extensionMap.size(), 4u);
}

TEST(WatchFolders, ProblemsOfFolderAndInsidePaths) {
    clearWatchLists();
    ASSERT_TRUE(updateWatchFolderList(L"/data", WatchFolderEntry{}, false));
    ASSERT_TRUE(updateWatchFolderList(L"/data/inner", WatchFolderEntry{}, false));
    {
        std::lock_guard lock(watchFolderMutex);
        watchFolderMap.at(L"/data").problemFlags = kProblemArchiveMissing;
        watchFolderMap.at(L"/data/inner").problemFlags = kProblemMonitorFolderMissing;
    }
    EXPECT_EQ(getWatchFolderProblems(L"/data"), kProblemArchiveMissing);
    EXPECT_EQ(getWatchFolderProblems(L"/data/file.txt"), kProblemArchiveMissing);
    EXPECT_EQ(getWatchFolderProblems(L"/data/inner/x/y"), kProblemMonitorFolderMissing);
    EXPECT_EQ(getWatchFolderProblems(L"/data2/x"), 0u);
    EXPECT_EQ(getWatchFolderProblems(L""), 0u);
}

TEST(WatchFolders, ConcurrentAddsAndLookups) {
    clearWatchLists();
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < 200; ++i) {
                const std::wstring folder = L"/t" + std::to_wstring(t) + L"/f" + std::to_wstring(i);
                updateWatchFolderList(folder, WatchFolderEntry{}, false);
                addWatchFolderExtension(folder, L"*");
                isFileExtensionIncluded(folder, L"a.b");
                getWatchFolderProblems(folder + L"/x");
            }
        });
    }
    for (auto& thread : threads) thread.join();
    std::lock_guard lock(watchFolderMutex);
    EXPECT_EQ(watchFolderMap.size(), 800u);
}
