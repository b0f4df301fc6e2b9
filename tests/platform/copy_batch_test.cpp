#include <gtest/gtest.h>

#include <filesystem>

#include "platform/file_copy.h"
#include "platform/text.h"
#include "test_env.h"

TEST(CopyBatch, CopiesLandWholeAndEachFolderIsSyncedOnceAtTheEnd) {
    const std::string root = makeTestFolder("batch");
    std::filesystem::create_directories(root + "/out/a");
    std::filesystem::create_directories(root + "/out/b");
    ASSERT_TRUE(writeTestFile(root + "/out/a/old.txt", "old content"));
    CopyBatch batch;
    for (int i = 0; i < 20; ++i) {
        const std::string source = root + "/src" + std::to_string(i);
        ASSERT_TRUE(writeTestFile(source, "content " + std::to_string(i)));
        const std::string target = root + (i % 2 ? "/out/a/f" : "/out/b/f") + std::to_string(i);
        ASSERT_EQ(copyFileWithProgress(utf8ToWide(source), utf8ToWide(target), {}, nullptr, &batch), CopyResult::Copied);
        // The new name holds the whole copy at once, before the batch ends.
        EXPECT_EQ(readTestFile(target), "content " + std::to_string(i));
    }
    // Replacing an existing file within a batch, and failures, which add no folder.
    ASSERT_EQ(copyFileWithProgress(utf8ToWide(root + "/src0"), utf8ToWide(root + "/out/a/old.txt"), {}, nullptr, &batch),
              CopyResult::Copied);
    EXPECT_EQ(readTestFile(root + "/out/a/old.txt"), "content 0");
    EXPECT_EQ(copyFileWithProgress(utf8ToWide(root + "/missing"), utf8ToWide(root + "/out/c/x"), {}, nullptr, &batch),
              CopyResult::SourceMissing);
    EXPECT_EQ(copyFileWithProgress(utf8ToWide(root + "/src0"), utf8ToWide(root + "/none/x"), {}, nullptr, &batch),
              CopyResult::Failed);
    EXPECT_EQ(batch.folders, (std::set<std::wstring>{utf8ToWide(root + "/out/a"), utf8ToWide(root + "/out/b")}));
    finishCopyBatch(batch);
    EXPECT_TRUE(batch.folders.empty());
    finishCopyBatch(batch);  // an empty batch is fine

    size_t temporaries = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root))
        temporaries += isCopyTemporaryName(utf8ToWide(entry.path().filename().string()));
    EXPECT_EQ(temporaries, 0u);
}
