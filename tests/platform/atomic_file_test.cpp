#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/atomic_file.h"
#include "test_env.h"

namespace {

// Every name in the folder, so a left-over temporary file shows.
std::vector<std::string> namesIn(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace

TEST(AtomicFile, WritesReplacesAndKeepsMode) {
    const std::string folder = makeTestFolder("atomic");
    const std::string path = folder + "/data.dat";
    ASSERT_TRUE(writeFileAtomically(path, std::string("first\0bytes", 11)));
    std::string out;
    ASSERT_TRUE(readWholeFile(path, out));
    EXPECT_EQ(out, std::string("first\0bytes", 11));

    ASSERT_EQ(chmod(path.c_str(), 0600), 0);
    const std::string big(300000, 'b');
    ASSERT_TRUE(writeFileAtomically(path, big));
    ASSERT_TRUE(readWholeFile(path, out));
    EXPECT_EQ(out, big);
    struct stat info {};
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0600u);

    ASSERT_TRUE(writeFileAtomically(path, ""));
    ASSERT_TRUE(readWholeFile(path, out));
    EXPECT_EQ(out, "");
    EXPECT_EQ(namesIn(folder), std::vector<std::string>{"data.dat"});

    EXPECT_FALSE(readWholeFile(folder + "/missing", out));
    EXPECT_FALSE(readWholeFile(folder, out));
}

TEST(AtomicFile, FailedSaveKeepsOldFileAndLeavesNoTemporary) {
    const std::string folder = makeTestFolder("atomic");
    std::string out;
    // The parent is a file, or missing.
    ASSERT_TRUE(writeFileAtomically(folder + "/plain", "old"));
    EXPECT_FALSE(writeFileAtomically(folder + "/plain/child.dat", "new"));
    EXPECT_FALSE(writeFileAtomically(folder + "/missing/child.dat", "new"));
    EXPECT_FALSE(writeFileAtomically("", "new"));
    EXPECT_FALSE(writeFileAtomically(folder + "/", "new"));
    // The target is a folder: never replaced.
    ASSERT_EQ(mkdir((folder + "/sub").c_str(), 0700), 0);
    EXPECT_FALSE(writeFileAtomically(folder + "/sub", "new"));
    EXPECT_TRUE(std::filesystem::is_directory(folder + "/sub"));
    ASSERT_TRUE(readWholeFile(folder + "/plain", out));
    EXPECT_EQ(out, "old");
    EXPECT_EQ(namesIn(folder), (std::vector<std::string>{"plain", "sub"}));
}

TEST(AtomicFile, ReadOnlyFolderKeepsOldFile) {
    if (geteuid() == 0) GTEST_SKIP() << "root writes into read-only folders";
    const std::string folder = makeTestFolder("atomic");
    const std::string path = folder + "/keep.dat";
    ASSERT_TRUE(writeFileAtomically(path, "old"));
    ASSERT_EQ(chmod(folder.c_str(), 0500), 0);
    EXPECT_FALSE(writeFileAtomically(path, "new"));
    ASSERT_EQ(chmod(folder.c_str(), 0700), 0);
    std::string out;
    ASSERT_TRUE(readWholeFile(path, out));
    EXPECT_EQ(out, "old");
    EXPECT_EQ(namesIn(folder), std::vector<std::string>{"keep.dat"});
}
