#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "foundation/app_log.h"
#include "foundation/archive_root.h"
#include "foundation/watch_folders.h"
#include "platform/file_system.h"
#include "platform/text.h"
#include "test_env.h"

namespace {

std::wstring driveRoot(const std::string& hint) { return utf8ToWide(makeTestFolder(hint)) + L"/"; }

bool isDir(const std::wstring& path) { return std::filesystem::is_directory(wideToUtf8(path)); }

}  // namespace

TEST(ArchiveRoot, ExistingRootBeatsMoreFreeSpace) {
    const std::wstring small = driveRoot("small");
    const std::wstring large = driveRoot("large");
    ASSERT_TRUE(makeFolder(small + L"QZR_ARCHIVE_ROOT", 0700));
    ArchiveDriveList drives{{100, small}, {900000, large}};
    EXPECT_EQ(prepareArchiveFolderOn(L"/home/ann/My Docs", drives), small + L"QZR_ARCHIVE_ROOT/My Docs");
    EXPECT_FALSE(isDir(large + L"QZR_ARCHIVE_ROOT"));
}

TEST(ArchiveRoot, ARootOfAnotherUserOrOpenToOthersIsSkipped) {
    const std::wstring open = driveRoot("open"), theirs = driveRoot("theirs"), mine = driveRoot("mine");
    for (const std::wstring& drive : {open, theirs}) ASSERT_TRUE(makeFolder(drive + L"QZR_ARCHIVE_ROOT", 0700));
    ASSERT_EQ(chmod(wideToUtf8(open + L"QZR_ARCHIVE_ROOT").c_str(), 0777), 0);
    // Another user's: as root, the folder is handed to nobody (uid 65534).
    const bool asRoot = geteuid() == 0 && chown(wideToUtf8(theirs + L"QZR_ARCHIVE_ROOT").c_str(), 65534, 65534) == 0;
    ArchiveDriveList drives{{900, open}, {800, theirs}, {100, mine}};
    EXPECT_EQ(prepareArchiveFolderOn(L"/home/ann/Docs", drives),
              (asRoot ? mine : theirs) + L"QZR_ARCHIVE_ROOT/Docs");
    size_t open0777 = 0, otherUser = 0;
    for (const AppLogEntry& entry : appLogSnapshot().entries) {
        open0777 += entry.key.find(L"group or others can write it (mode 0777): " + open) != std::wstring::npos;
        otherUser += entry.key.find(L"belongs to another user (uid 65534): " + theirs) != std::wstring::npos;
    }
    EXPECT_EQ(open0777, 1u);
    EXPECT_EQ(otherUser, asRoot ? 1u : 0u);
}

TEST(ArchiveRoot, CreatedOnDriveWithMostSpaceAndSkipsUnwritable) {
    const std::wstring a = driveRoot("a");
    const std::wstring b = driveRoot("b");
    ArchiveDriveList drives{{10, a}, {20, b}};
    EXPECT_EQ(prepareArchiveFolderOn(L"/x/Work", drives), b + L"QZR_ARCHIVE_ROOT/Work");
    EXPECT_TRUE(isDir(b + L"QZR_ARCHIVE_ROOT"));
    EXPECT_FALSE(isDir(a + L"QZR_ARCHIVE_ROOT"));

    // A drive that refuses the folder moves the search on.
    ArchiveDriveList missing{{50, L"/nonexistent-drive-for-test/"}, {5, a}};
    EXPECT_EQ(prepareArchiveFolderOn(L"/x/Work", missing), a + L"QZR_ARCHIVE_ROOT/Work");

    if (geteuid() != 0) {
        const std::wstring locked = driveRoot("locked");
        chmod(wideToUtf8(locked).c_str(), 0500);
        ArchiveDriveList onlyLocked{{1, locked}};
        EXPECT_EQ(prepareArchiveFolderOn(L"/x/Work", onlyLocked), L"");
        chmod(wideToUtf8(locked).c_str(), 0700);
    }
    EXPECT_EQ(prepareArchiveFolderOn(L"/x/Work", {}), L"");
}

TEST(ArchiveRoot, NameKeepsCaseAndOddPathsGiveNothing) {
    const std::wstring a = driveRoot("case");
    ArchiveDriveList drives{{1, a}};
    EXPECT_EQ(prepareArchiveFolderOn(L"/Home/Ann/Projects.2024", drives), a + L"QZR_ARCHIVE_ROOT/Projects.2024");
    EXPECT_EQ(prepareArchiveFolderOn(L"NoSeparator", drives), L"");
    EXPECT_EQ(prepareArchiveFolderOn(L"/", drives), L"");
}

TEST(ArchiveRoot, UsesInjectedMountPoints) {
    const std::string mount = makeTestFolder("mnt");
    setMountTableOverride("/dev/sdz1 " + mount + " ext4 rw 0 0\nproc /proc proc rw 0 0\n");
    const ArchiveDriveList drives = listArchiveDrives();
    ASSERT_EQ(drives.size(), 1u);
    EXPECT_EQ(drives.begin()->second, utf8ToWide(mount) + L"/");
    EXPECT_EQ(prepareArchiveFolder(L"/src/Photos"), utf8ToWide(mount) + L"/QZR_ARCHIVE_ROOT/Photos");
    setMountTableOverride(std::nullopt);
}

TEST(ArchiveRoot, ProposalsAreUniquePerWatchFolder) {
    const std::wstring drive = driveRoot("shared");
    ArchiveDriveList drives{{100, drive}};
    const std::wstring first = prepareArchiveFolderOn(L"/home/u/Documents", drives);
    EXPECT_EQ(first, drive + L"QZR_ARCHIVE_ROOT/Documents");
    {
        std::lock_guard lock(watchFolderMutex);
        watchFolderMap[L"/home/u/Documents"].archivePath = first;
    }
    // Another folder of the same name never gets the first one's archive.
    EXPECT_EQ(prepareArchiveFolderOn(L"/mnt/d/Documents", drives), drive + L"QZR_ARCHIVE_ROOT/Documents(1)");
    EXPECT_EQ(prepareArchiveFolderOn(L"/home/u/Documents", drives), first);
    // A proposal inside a watch folder is none.
    EXPECT_EQ(prepareArchiveFolderOn(drive + L"QZR_ARCHIVE_ROOT", drives), L"");
    std::lock_guard lock(watchFolderMutex);
    watchFolderMap.clear();
}
