#include <gtest/gtest.h>

#include <filesystem>

#include "foundation/file_metadata.h"
#include "foundation/watch_folders.h"
#include "platform/text.h"
#include "test_env.h"

TEST(FileMetadata, NewRecordsAreEmpty) {
    const FileMetaDataRecord record;
    EXPECT_TRUE(record.firstPath.empty() && record.secondPath.empty() && record.text.empty());
    EXPECT_EQ(record.value, 0u);
    EXPECT_EQ(FileMetaDataQuad().value, 0u);
}

TEST(FileMetadata, CollectArchivedFilesKeysFilesByTheirPlaceInTheArchive) {
    const std::string root = makeTestFolder("meta");
    const std::wstring folder = utf8ToWide(root + "/arch");
    std::filesystem::create_directories(root + "/arch/sub/arch");
    ASSERT_TRUE(writeTestFile(root + "/arch/A.txt", "a"));
    ASSERT_TRUE(writeTestFile(root + "/arch/sub/arch/b.txt", "b"));
    {
        WatchFolderEntry entry;
        entry.archivePath = folder + L"/";
        std::lock_guard<std::mutex> lock(watchFolderMutex);
        watchFolderMap[folder] = entry;
    }
    ArchivedFileList list;
    list.statusText = "working";
    EXPECT_FALSE(collectArchivedFiles(folder + L"/A.txt", list));
    EXPECT_EQ(list.statusText, "working");

    ASSERT_TRUE(collectArchivedFiles(folder, list));
    EXPECT_TRUE(list.statusText.empty());
    ASSERT_EQ(list.files.size(), 2u);
    // Only the leading archive path becomes "."; the same text deeper down stays.
    ASSERT_TRUE(list.files.count(L"./A.txt"));
    ASSERT_TRUE(list.files.count(L"./sub/arch/b.txt"));
    const ArchivedFileRecord& record = list.files.at(L"./A.txt");
    EXPECT_EQ(record.path, folder + L"/A.txt");
    EXPECT_TRUE(record.firstFlag && record.secondFlag);

    ArchivedFileList empty;
    ASSERT_TRUE(collectArchivedFiles(utf8ToWide(makeTestFolder("empty")), empty));
    EXPECT_TRUE(empty.files.empty());
}
