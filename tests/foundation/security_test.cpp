#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "foundation/file_helpers.h"
#include "foundation/security.h"
#include "platform/text.h"
#include "test_env.h"

namespace {
std::wstring wide(const std::string& text) { return utf8ToWide(text); }
}  // namespace

TEST(Security, FoldersAreOwnerOnly) {
    createSecurityDescriptor();
    EXPECT_EQ(programFolderMode(), 0700u);
    const std::string folder = makeTestFolder("sd");
    ASSERT_TRUE(makeDirectoryPathWithSD(wide(folder + "/x/y/")));
    for (const char* sub : {"/x", "/x/y"}) {
        struct stat st {};
        ASSERT_EQ(stat((folder + sub).c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0700u) << sub;
    }
}

TEST(Security, RemovalRefusesShortAndRelativePaths) {
    for (const wchar_t* path : {L"", L"/", L"/home", L"/home/", L"//home//", L"?/Morvane", L"relative/a/b",
                                L"/tmp/../", L"/tmp/./x/.."}) {
        EXPECT_FALSE(removeEmptyFolders(path)) << wideToUtf8(path);
        EXPECT_FALSE(removeFolderTree(path)) << wideToUtf8(path);
    }
    EXPECT_TRUE(std::filesystem::exists("/tmp"));
}

TEST(Security, RemoveFolderTree) {
    const std::string root = makeTestFolder("tree") + "/Morvane";
    ASSERT_TRUE(makeDirectoryPath(wide(root + "/QZR/ConfigData/")));
    ASSERT_TRUE(makeDirectoryPath(wide(root + "/QZR/.hidden/deep/")));
    ASSERT_TRUE(writeTestFile(root + "/QZR/ConfigData/Config.dat", "c"));
    ASSERT_TRUE(writeTestFile(root + "/QZR/.hidden/deep/f", "f"));
    // A link inside the tree is removed, never followed.
    const std::string outside = makeTestFolder("outside");
    ASSERT_TRUE(writeTestFile(outside + "/precious", "p"));
    ASSERT_EQ(symlink(outside.c_str(), (root + "/QZR/link").c_str()), 0);

    EXPECT_TRUE(removeFolderTree(wide(root + "/")));
    EXPECT_FALSE(std::filesystem::exists(root));
    EXPECT_EQ(readTestFile(outside + "/precious"), "p");

    // What cannot be deleted stays; the rest goes.
    if (geteuid() != 0) {
        ASSERT_TRUE(makeDirectoryPath(wide(root + "/keep/")));
        ASSERT_TRUE(makeDirectoryPath(wide(root + "/gone/")));
        ASSERT_TRUE(writeTestFile(root + "/keep/stuck", "s"));
        ASSERT_TRUE(writeTestFile(root + "/gone/g", "g"));
        chmod((root + "/keep").c_str(), 0500);
        EXPECT_TRUE(removeFolderTree(wide(root)));
        EXPECT_TRUE(std::filesystem::exists(root + "/keep/stuck"));
        EXPECT_FALSE(std::filesystem::exists(root + "/gone"));
        chmod((root + "/keep").c_str(), 0700);
    }
}

TEST(Security, RemoveEmptyFoldersKeepsFiles) {
    const std::string root = makeTestFolder("empty");
    ASSERT_TRUE(makeDirectoryPath(wide(root + "/set/a/b/")));
    ASSERT_TRUE(makeDirectoryPath(wide(root + "/set/c/")));
    ASSERT_TRUE(writeTestFile(root + "/set/c/file", "x"));
    EXPECT_TRUE(removeEmptyFolders(wide(root + "/set")));
    EXPECT_TRUE(std::filesystem::exists(root + "/set/c/file"));
    EXPECT_FALSE(std::filesystem::exists(root + "/set/a"));
    EXPECT_TRUE(std::filesystem::exists(root + "/set"));
    EXPECT_TRUE(removeEmptyFolders(wide(root + "/missing")));
}

TEST(Security, RemovalIsNotRedirectedByAFolderSwappedForALink) {
    namespace fs = std::filesystem;
    const std::string root = makeTestFolder("race") + "/tree";
    const std::string sub = root + "/sub";
    const std::string outside = makeTestFolder("outside");
    ASSERT_TRUE(fs::create_directories(sub));
    constexpr int kFiles = 3000;
    for (int i = 0; i < kFiles; ++i) {
        ASSERT_TRUE(writeTestFile(sub + "/f" + std::to_string(i), "x"));
        ASSERT_TRUE(writeTestFile(outside + "/f" + std::to_string(i), "keep"));
    }
    // Once the removal has begun inside "sub", swap the folder for a link.
    std::atomic<bool> done{false};
    std::thread swapper([&] {
        while (!done) {
            bool begun = false;
            for (int i = 0; i < kFiles && !begun; i += 150) begun = !fs::exists(sub + "/f" + std::to_string(i));
            if (!begun) continue;
            fs::rename(sub, root + "/moved");
            fs::create_directory_symlink(outside, sub);
            return;
        }
    });
    EXPECT_TRUE(removeFolderTree(wide(root)));
    done = true;
    swapper.join();
    size_t left = 0;
    for (const auto& entry : fs::directory_iterator(outside)) left += entry.is_regular_file();
    EXPECT_EQ(left, static_cast<size_t>(kFiles));
}
