#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "foundation/file_helpers.h"
#include "foundation/security.h"
#include "foundation/watch_folders.h"
#include "platform/text.h"
#include "test_env.h"

namespace {
std::wstring wide(const std::string& text) { return utf8ToWide(text); }

void setWriteTime(const std::string& path, time_t seconds) {
    const struct timespec times[2] = {{0, UTIME_OMIT}, {seconds, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}
}  // namespace

TEST(FileHelpers, PathTestsAndSizes) {
    const std::string folder = makeTestFolder("tests");
    const std::string file = folder + "/f.txt";
    ASSERT_TRUE(writeTestFile(file, "abc"));
    EXPECT_TRUE(isExistingFile(wide(file)));
    EXPECT_FALSE(isExistingFolder(wide(file)));
    EXPECT_TRUE(isExistingFolder(wide(folder)));
    EXPECT_FALSE(isExistingFile(wide(folder)));
    EXPECT_FALSE(isExistingFile(wide(folder + "/none")));
    EXPECT_FALSE(isExistingFolder(wide(folder + "/none")));
    uint64_t size = 0, free = 7;
    EXPECT_TRUE(getFileSize(wide(file), size));
    EXPECT_EQ(size, 3u);
    EXPECT_TRUE(getDiskFreeSpace(L"/", free));
    EXPECT_FALSE(getDiskFreeSpace(L"no-separator", free));
    EXPECT_EQ(free, 0u);
    EXPECT_FALSE(isFileLocked(wide(file)));
}

TEST(FileHelpers, FilesAreEqual) {
    fileSizeRetryDelayMs = 0;
    const std::string folder = makeTestFolder("equal");
    const std::string a = folder + "/a", b = folder + "/b";
    std::string content(131072 * 2 + 5, 'x');
    ASSERT_TRUE(writeTestFile(a, content));
    content.back() = 'y';  // differs in the last, short block
    ASSERT_TRUE(writeTestFile(b, content));
    setWriteTime(a, 1000);
    setWriteTime(b, 2000);
    EXPECT_FALSE(filesAreEqual(wide(a), wide(b)));
    setWriteTime(b, 1000);  // same size and time: equal without reading
    EXPECT_TRUE(filesAreEqual(wide(a), wide(b)));

    // Equal bytes, different times; also an exact multiple of the block size.
    for (size_t length : {size_t{131072 * 2}, size_t{10}, size_t{0}}) {
        ASSERT_TRUE(writeTestFile(a, std::string(length, 'q')));
        ASSERT_TRUE(writeTestFile(b, std::string(length, 'q')));
        setWriteTime(b, 5000);
        EXPECT_TRUE(filesAreEqual(wide(a), wide(b))) << length;
    }
    ASSERT_TRUE(writeTestFile(b, "qq"));
    EXPECT_FALSE(filesAreEqual(wide(a), wide(b)));
    EXPECT_FALSE(filesAreEqual(wide(a), wide(folder + "/missing")));
}

TEST(FileHelpers, FolderChains) {
    const std::string folder = makeTestFolder("chain");
    EXPECT_TRUE(makeDirectoryPathWithSD(wide(folder + "/A/B/")));
    EXPECT_TRUE(isExistingFolder(wide(folder + "/A/B")));
    struct stat st {};
    ASSERT_EQ(stat((folder + "/A/B").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_TRUE(makeDirectoryPathWithSD(wide(folder + "/C/D")));  // no final "/": only C
    EXPECT_TRUE(isExistingFolder(wide(folder + "/C")));
    EXPECT_FALSE(isExistingFolder(wide(folder + "/C/D")));
    EXPECT_TRUE(makeDirectoryPath(wide(folder + "/E//F/")));
    EXPECT_TRUE(isExistingFolder(wide(folder + "/E/F")));
    ASSERT_EQ(stat((folder + "/E").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0002, 0u);
    // A file in the way fails; a path from an unset variable is never created.
    ASSERT_TRUE(writeTestFile(folder + "/file", ""));
    EXPECT_FALSE(makeDirectoryPath(wide(folder + "/file/x/")));
    EXPECT_FALSE(makeDirectoryPathWithSD(L"?/Morvane/QZR/"));
    EXPECT_FALSE(makeDirectoryPath(L"relative/dir/"));
    EXPECT_FALSE(std::filesystem::exists("?"));
}

TEST(FileHelpers, FolderWalks) {
    const std::string root = makeTestFolder("walk");
    ASSERT_TRUE(makeDirectoryPath(wide(root + "/a/b/c/")));
    ASSERT_TRUE(makeDirectoryPath(wide(root + "/.hidden/")));
    EXPECT_FALSE(folderHasFiles(wide(root)));
    std::vector<std::wstring> folders;
    EXPECT_EQ(listFolderTree(wide(root), folders, false), 2u);
    EXPECT_EQ(listFolderTree(wide(root), folders, true), 6u);  // appends
    EXPECT_EQ(folders.back(), wide(root + "/a/b/c"));
    ASSERT_TRUE(writeTestFile(root + "/.hidden/secret", "s"));
    EXPECT_TRUE(folderHasFiles(wide(root)));

    ASSERT_TRUE(writeTestFile(root + "/a/b/c/deep.txt", "d"));
    ASSERT_TRUE(writeTestFile(root + "/top.txt", "t"));
    // Links are never followed: neither the loop nor a link to a file is
    // listed, and a named pipe is no file.
    ASSERT_EQ(symlink(root.c_str(), (root + "/a/loop").c_str()), 0);
    ASSERT_EQ(symlink((root + "/top.txt").c_str(), (root + "/a/top-link").c_str()), 0);
    ASSERT_EQ(mkfifo((root + "/a/pipe").c_str(), 0600), 0);
    EXPECT_TRUE(folderHasFiles(wide(root + "/a/b")));
    std::vector<std::wstring> files;
    EXPECT_EQ(listFilesRecursive(wide(root + "/"), files, false), 1u);
    files.clear();
    listFilesRecursive(wide(root), files, true);
    std::sort(files.begin(), files.end());
    EXPECT_EQ(files, (std::vector<std::wstring>{wide(root + "/.hidden/secret"), wide(root + "/a/b/c/deep.txt"),
                                                wide(root + "/top.txt")}));
    EXPECT_EQ(listFilesRecursive(wide(root + "/missing"), files, true), 3u);
}

TEST(FileHelpers, NameFromOpenFile) {
    const std::string folder = makeTestFolder("Handle");
    ASSERT_TRUE(writeTestFile(folder + "/Data.TXT", "content"));
    ASSERT_TRUE(writeTestFile(folder + "/empty", ""));
    int fd = open((folder + "/Data.TXT").c_str(), O_RDONLY);
    EXPECT_EQ(getFileNameFromHandle(fd), wide(folder + "/Data.TXT"));
    close(fd);
    fd = open((folder + "/empty").c_str(), O_RDONLY);
    EXPECT_EQ(getFileNameFromHandle(fd), L"");
    close(fd);
}

TEST(FileHelpers, PlaceholdersAndOverlap) {
    EXPECT_EQ(makePlaceholderPath(L"/home/ann/Docs/a.txt", L"/home/ann", L"root"), L"{{root}}/Docs/a.txt");
    EXPECT_EQ(makePlaceholderPath(L"/home/ann/Docs/a.txt", L"/home/ann/", L"root"), L"{{root}}/Docs/a.txt");
    EXPECT_EQ(expandPlaceholderPath(L"{{root}}/Docs/a.txt", L"root", L"/mnt/arch"), L"/mnt/arch/Docs/a.txt");
    EXPECT_EQ(expandPlaceholderPath(L"{{ROOT}}/Docs/a.txt", L"root", L"/mnt/arch/"), L"/mnt/arch/Docs/a.txt");
    // The folder test stops at a separator, and names keep their case.
    EXPECT_EQ(makePlaceholderPath(L"/data2/x", L"/data", L"root"), L"");
    EXPECT_EQ(makePlaceholderPath(L"/Home/ann/x", L"/home/ann", L"root"), L"");
    EXPECT_EQ(makePlaceholderPath(L"/x", L"", L"root"), L"");
    EXPECT_EQ(makePlaceholderPath(L"/a/b", L"/", L"root"), L"{{root}}/a/b");
    EXPECT_EQ(expandPlaceholderPath(L"{{root}}x/a", L"root", L"/m"), L"");
    EXPECT_EQ(expandPlaceholderPath(L"/plain", L"root", L"/m"), L"");

    size_t overlap = 0;
    EXPECT_EQ(mergePathOverlap(L"/w/docs/", L"/x/docs/a.txt", overlap), L"/w/docs/a.txt");
    EXPECT_EQ(overlap, 6u);
    EXPECT_EQ(mergePathOverlap(L"/w/", L"zzz", overlap), L"");
    EXPECT_EQ(overlap, 0u);
    EXPECT_EQ(mergePathOverlap(L"/abc/", L"x", overlap), L"");

    {
        std::lock_guard<std::mutex> lock(watchFolderMutex);
        watchFolderMap.clear();
    }
    EXPECT_EQ(findWatchFolderForPath(L"/home/ann/docs/a.txt"), L"");
    {
        std::lock_guard<std::mutex> lock(watchFolderMutex);
        watchFolderMap[L"/home/ann/docs"] = WatchFolderEntry{};
        watchFolderMap[L"/srv/music"] = WatchFolderEntry{};
    }
    EXPECT_EQ(findWatchFolderForPath(L"/home/ann/docs/a.txt"), L"/home/ann/docs/a.txt");
    std::lock_guard<std::mutex> lock(watchFolderMutex);
    watchFolderMap.clear();
}

TEST(FileHelpers, FirstPathPartIsTheFirstFolderBelowTheRoot) {
    EXPECT_EQ(firstPathPart(L"/home/Ann/Docs/a.txt"), L"/home");
    EXPECT_EQ(firstPathPart(L"/home/"), L"/home");
    EXPECT_EQ(firstPathPart(L"//srv//x"), L"/srv");
    EXPECT_EQ(firstPathPart(L"/Data2/x"), L"/Data2");  // ends at the separator, keeps its case
    EXPECT_EQ(firstPathPart(L"/a.txt"), L"");          // a file of the root: no folder
    EXPECT_EQ(firstPathPart(L"/"), L"");
    EXPECT_EQ(firstPathPart(L"///"), L"");
    EXPECT_EQ(firstPathPart(L""), L"");
    EXPECT_EQ(firstPathPart(L"home/ann/a.txt"), L"");  // not absolute
    EXPECT_EQ(firstPathPart(L"./sub/a.txt"), L"");
}
