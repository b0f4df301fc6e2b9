#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>

#include "platform/file_system.h"
#include "platform/text.h"
#include "test_env.h"

namespace {
std::wstring wide(const std::string& text) { return utf8ToWide(text); }
}  // namespace

TEST(FileSystem, AttributesSizesAndTimes) {
    const std::string folder = makeTestFolder("attr");
    const std::string file = folder + "/a.txt";
    ASSERT_TRUE(writeTestFile(file, "hello"));
    EXPECT_EQ(readFileAttributes(wide(file)) & (kFileAttributeArchive | kFileAttributeDirectory), kFileAttributeArchive);
    EXPECT_TRUE(readFileAttributes(wide(folder)) & kFileAttributeDirectory);
    EXPECT_EQ(readFileAttributes(wide(folder + "/missing")), kInvalidFileAttributes);
    ASSERT_TRUE(writeTestFile(folder + "/.hidden", ""));
    EXPECT_TRUE(readFileAttributes(wide(folder + "/.hidden")) & kFileAttributeHidden);

    uint64_t size = 99;
    EXPECT_TRUE(readFileSize(wide(file), size));
    EXPECT_EQ(size, 5u);
    EXPECT_FALSE(readFileSize(wide(folder), size));
    EXPECT_EQ(size, 0u);
    EXPECT_FALSE(readFileSize(wide(folder + "/missing"), size));

    const struct timespec times[2] = {{0, UTIME_OMIT}, {1700000000, 123456789}};
    ASSERT_EQ(utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
    int64_t ticks = 0;
    EXPECT_TRUE(readFileWriteTicks(wide(file), ticks));
    EXPECT_EQ(ticks, 1700000000LL * 10000000 + 1234567);
    EXPECT_FALSE(readFileWriteTicks(wide(folder + "/missing"), ticks));
}

TEST(FileSystem, FreeSpaceUsesNearestExistingParent) {
    const std::string folder = makeTestFolder("space");
    uint64_t direct = 0, viaMissing = 0;
    EXPECT_TRUE(readFreeSpace(wide(folder), direct));
    EXPECT_GT(direct, 0u);
    EXPECT_TRUE(readFreeSpace(wide(folder + "/not/yet/there.txt"), viaMissing));
    EXPECT_GT(viaMissing, 0u);
    EXPECT_FALSE(readFreeSpace(L"relative/path", viaMissing));
    EXPECT_FALSE(readFreeSpace(L"?/Documents", viaMissing));
    EXPECT_EQ(viaMissing, 0u);
}

TEST(FileSystem, LockedFiles) {
    const std::string folder = makeTestFolder("lock");
    const std::string file = folder + "/f.bin";
    ASSERT_TRUE(writeTestFile(file, "data"));
    EXPECT_FALSE(isFileLockedForWriting(wide(file)));
    EXPECT_TRUE(isFileLockedForWriting(wide(folder + "/missing")));

    // A record lock held through another open file counts as locked.
    const int fd = open(file.c_str(), O_RDWR);
    ASSERT_GE(fd, 0);
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    ASSERT_EQ(fcntl(fd, F_OFD_SETLK, &lock), 0);
    EXPECT_TRUE(isFileLockedForWriting(wide(file)));
    close(fd);
    EXPECT_FALSE(isFileLockedForWriting(wide(file)));

    if (geteuid() != 0) {
        chmod(file.c_str(), 0400);
        EXPECT_TRUE(isFileLockedForWriting(wide(file)));
    }
}

TEST(FileSystem, NameOfOpenFile) {
    const std::string folder = makeTestFolder("Name Case");
    const std::string file = folder + "/Mixed Case.txt";
    ASSERT_TRUE(writeTestFile(file, "x"));
    ASSERT_TRUE(writeTestFile(folder + "/empty", ""));
    int fd = open(file.c_str(), O_RDONLY);
    EXPECT_EQ(nameOfOpenFile(fd), wide(file));
    close(fd);
    fd = open((folder + "/empty").c_str(), O_RDONLY);
    EXPECT_EQ(nameOfOpenFile(fd), L"");
    close(fd);
    fd = open(file.c_str(), O_RDONLY);
    unlink(file.c_str());
    EXPECT_EQ(nameOfOpenFile(fd), L"");
    close(fd);
    EXPECT_EQ(nameOfOpenFile(-1), L"");
}

TEST(FileSystem, FolderEntriesAndLinks) {
    const std::string folder = makeTestFolder("list");
    ASSERT_TRUE(makeFolder(wide(folder + "/sub"), kPrivateFolderMode));
    ASSERT_TRUE(makeFolder(wide(folder + "/sub"), kPrivateFolderMode));  // existing folder is fine
    ASSERT_TRUE(writeTestFile(folder + "/file", "1"));
    ASSERT_EQ(symlink((folder + "/sub").c_str(), (folder + "/link").c_str()), 0);
    std::vector<FolderEntry> entries;
    ASSERT_TRUE(listFolderEntries(wide(folder), entries));
    std::sort(entries.begin(), entries.end(), [](auto& a, auto& b) { return a.name < b.name; });
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_TRUE(!entries[0].isFolder && !entries[0].isLink);  // file
    EXPECT_TRUE(entries[1].isLink && entries[1].linkToFolder && !entries[1].isFolder);  // link
    EXPECT_TRUE(entries[2].isFolder);  // sub
    struct stat st {};
    ASSERT_EQ(stat((folder + "/sub").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_FALSE(listFolderEntries(wide(folder + "/missing"), entries));
    EXPECT_FALSE(makeFolder(wide(folder + "/file"), kPrivateFolderMode));
    EXPECT_FALSE(makeFolder(L"?/x", kPrivateFolderMode));
    EXPECT_TRUE(removeFile(wide(folder + "/link")));
    EXPECT_TRUE(removeFolder(wide(folder + "/sub")));
    EXPECT_FALSE(removeFile(L"relative"));
}

TEST(FileSystem, MountTableParsingAndRoots) {
    const std::string table =
        "proc /proc proc rw 0 0\n"
        "sysfs /sys sysfs rw 0 0\n"
        "/dev/sda1 / ext4 rw 0 0\n"
        "tmpfs /run tmpfs rw 0 0\n"
        "overlay /var/lib/docker/x overlay rw 0 0\n"
        "/dev/sdb1 /mnt/My\\040Disk vfat rw 0 0\n"
        "server:/share /mnt/nfs nfs4 rw 0 0\n"
        "/dev/sda2 /home btrfs rw 0 0\n"
        "/dev/sda2 /home btrfs rw 0 0\n"
        "cgroup2 /sys/fs/cgroup cgroup2 rw 0 0\n"
        "broken line\n";
    EXPECT_EQ(parseMountTable(table), (std::vector<std::wstring>{L"/", L"/mnt/My Disk/", L"/home/"}));
    EXPECT_TRUE(parseMountTable("").empty());

    // Injected table: roots must exist as folders; $HOME stands for its file system.
    const std::string base = makeTestFolder("mnt");
    const std::string disk = base + "/disk";
    ASSERT_TRUE(makeFolder(wide(disk), kDefaultFolderMode));
    const std::string home = std::getenv("HOME");
    setMountTableOverride("/dev/sda1 / ext4 rw 0 0\n/dev/sdc " + disk + " xfs rw 0 0\n/dev/sdd " + base +
                          "/gone ext4 rw 0 0\n");
    EXPECT_EQ(listDriveRoots(), (std::vector<std::wstring>{L"/", wide(disk + "/")}));
    EXPECT_EQ(listWritableDriveRoots(), (std::vector<std::wstring>{wide(home + "/"), wide(disk + "/")}));
    EXPECT_EQ(listBrowseRoots(), (std::vector<std::wstring>{L"/", wide(disk + "/")}));
    setMountTableOverride("/dev/sdc " + disk + " xfs rw 0 0\n");
    EXPECT_EQ(listBrowseRoots(), (std::vector<std::wstring>{L"/", wide(disk + "/")}));
    setMountTableOverride(std::nullopt);
    EXPECT_FALSE(listBrowseRoots().empty());
}
