#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "platform/file_copy.h"
#include "platform/text.h"
#include "test_env.h"

TEST(CopyGroup, CopiesTakeTheirNamesWholeOnlyWhenTheGroupIsFinished) {
    const std::string root = makeTestFolder("group");
    std::filesystem::create_directories(root + "/out/a");
    std::filesystem::create_directories(root + "/out/b");
    ASSERT_TRUE(writeTestFile(root + "/out/a/old.txt", "old content"));
    CopyGroup group;
    std::vector<std::string> targets;
    for (int i = 0; i < 20; ++i) {
        const std::string source = root + "/src" + std::to_string(i);
        ASSERT_TRUE(writeTestFile(source, "content " + std::to_string(i)));
        targets.push_back(root + (i % 2 ? "/out/a/f" : "/out/b/f") + std::to_string(i));
        ASSERT_EQ(stageCopy(group, utf8ToWide(source), utf8ToWide(targets.back())), CopyResult::Copied);
        EXPECT_FALSE(std::filesystem::exists(targets.back()));
    }
    // Replacing an existing file, and failures, which stage nothing.
    ASSERT_EQ(stageCopy(group, utf8ToWide(root + "/src0"), utf8ToWide(root + "/out/a/old.txt")), CopyResult::Copied);
    targets.push_back(root + "/out/a/old.txt");
    EXPECT_EQ(readTestFile(root + "/out/a/old.txt"), "old content");
    EXPECT_EQ(stageCopy(group, utf8ToWide(root + "/missing"), utf8ToWide(root + "/out/c/x")), CopyResult::SourceMissing);
    EXPECT_EQ(stageCopy(group, utf8ToWide(root + "/src0"), utf8ToWide(root + "/none/x")), CopyResult::Failed);
    ASSERT_EQ(group.copies.size(), 21u);
    EXPECT_FALSE(isCopyGroupFull(group));

    // A copy whose temporary file went missing fails alone.
    std::filesystem::remove(wideToUtf8(group.copies[3].tempPath));
    const std::vector<StagedCopy> finished = finishCopyGroup(group);
    EXPECT_TRUE(group.copies.empty());
    ASSERT_EQ(finished.size(), 21u);
    for (size_t i = 0; i < finished.size(); ++i) {
        EXPECT_EQ(wideToUtf8(finished[i].target), targets[i]);
        if (i == 3) {
            EXPECT_EQ(finished[i].result, CopyResult::Failed);
            EXPECT_FALSE(std::filesystem::exists(targets[i]));
            continue;
        }
        EXPECT_EQ(finished[i].result, CopyResult::Copied);
        EXPECT_EQ(readTestFile(targets[i]), "content " + std::to_string(i == 20 ? 0 : i));
    }
    EXPECT_TRUE(finishCopyGroup(group).empty());  // an empty group is fine

    // A small group syncs file by file, with the same outcome.
    ASSERT_EQ(stageCopy(group, utf8ToWide(root + "/src1"), utf8ToWide(root + "/out/a/small")), CopyResult::Copied);
    ASSERT_EQ(stageCopy(group, utf8ToWide(root + "/src2"), utf8ToWide(root + "/out/a/lost")), CopyResult::Copied);
    std::filesystem::remove(wideToUtf8(group.copies[1].tempPath));
    const std::vector<StagedCopy> small = finishCopyGroup(group);
    EXPECT_EQ(small[0].result, CopyResult::Copied);
    EXPECT_EQ(small[1].result, CopyResult::Failed);
    EXPECT_EQ(readTestFile(root + "/out/a/small"), "content 1");
    EXPECT_FALSE(std::filesystem::exists(root + "/out/a/lost"));

    size_t temporaries = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root))
        temporaries += isCopyTemporaryName(utf8ToWide(entry.path().filename().string()));
    EXPECT_EQ(temporaries, 0u);
}

TEST(CopyGroup, StaleTemporariesGoFromTheFolderItselfNeverThroughALink) {
    namespace fs = std::filesystem;
    const std::string root = makeTestFolder("stale"), outside = makeTestFolder("outside");
    const std::string name = "/.varnholt-copy-0123456789abcdef.tmp";
    fs::create_directories(root + "/a/sub");
    for (const std::string& file : {root + "/a" + name, root + "/a/sub" + name, outside + name})
        ASSERT_TRUE(writeTestFile(file, "left behind"));
    fs::create_directory_symlink(outside, root + "/linked");
    fs::create_symlink(outside + name, root + "/a/.varnholt-copy-fedcba9876543210.tmp");
    EXPECT_EQ(removeStaleCopyTemporariesIn(utf8ToWide(root), utf8ToWide(root + "/a"), 0), 0u);  // none that old
    const int64_t later = std::chrono::system_clock::now().time_since_epoch().count() / 100 + 10000000;
    EXPECT_EQ(removeStaleCopyTemporariesIn(utf8ToWide(root), utf8ToWide(root + "/linked"), later), 0u);
    EXPECT_EQ(removeStaleCopyTemporariesIn(utf8ToWide(root), utf8ToWide(root + "/a"), later), 1u);
    EXPECT_FALSE(fs::exists(root + "/a" + name));
    EXPECT_TRUE(fs::exists(root + "/a/sub" + name) && fs::exists(outside + name));
    EXPECT_TRUE(fs::is_symlink(root + "/a/.varnholt-copy-fedcba9876543210.tmp"));
}

// A folder removed before the naming fails its own copies only: the group's
// data is synced through a folder still there.
TEST(CopyGroup, AFolderRemovedBeforeTheNamingFailsOnlyItsOwnCopies) {
    const std::string root = makeTestFolder("removed");
    CopyGroup group;
    for (int i = 0; i < 12; ++i) {
        const std::string source = root + "/src" + std::to_string(i);
        const std::string folder = root + (i < 6 ? "/gone" : "/kept");
        std::filesystem::create_directories(folder);
        ASSERT_TRUE(writeTestFile(source, "content " + std::to_string(i)));
        ASSERT_EQ(stageCopy(group, utf8ToWide(source), utf8ToWide(folder + "/f" + std::to_string(i))),
                  CopyResult::Copied);
    }
    std::filesystem::remove_all(root + "/gone");
    const std::vector<StagedCopy> finished = finishCopyGroup(group);
    ASSERT_EQ(finished.size(), 12u);
    for (size_t i = 0; i < finished.size(); ++i)
        EXPECT_EQ(finished[i].result, i < 6 ? CopyResult::Failed : CopyResult::Copied) << i;
    EXPECT_EQ(readTestFile(root + "/kept/f11"), "content 11");
}
