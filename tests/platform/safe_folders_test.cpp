#include "platform/safe_folders.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "platform/text.h"
#include "test_env.h"

namespace {

namespace fs = std::filesystem;

// Another user, played by root handing a file to uid 65534.
bool giveToOtherUser(const std::string& path) { return geteuid() == 0 && lchown(path.c_str(), 65534, 65534) == 0; }

RootRefusalKind refusalOf(const std::string& root) {
    RootRefusal refusal;
    const OwnedDescriptor fd = openRootFolder(utf8ToWide(root), &refusal);
    if (refusal.kind != RootRefusalKind::None) {
        EXPECT_FALSE(fd.isOpen()) << root;
        EXPECT_EQ(errno, EPERM) << root;
    }
    return refusal.kind;
}

}  // namespace

TEST(SafeFolders, RootsAreReachedOnlyThroughFoldersNoOneElseCanChange) {
    const std::string base = makeTestFolder("roots"), mine = base + "/private";
    fs::create_directories(mine);
    // The top of a shared disk open to all, or a team folder its group can
    // write: the user's archive there may have been swapped for a link.
    const std::string disk = base + "/disk", archive = disk + "/archive";
    fs::create_directories(disk);
    fs::create_directory_symlink(mine, archive);
    for (const mode_t mode : {0777, 0775}) {
        ASSERT_EQ(chmod(disk.c_str(), mode), 0);
        EXPECT_EQ(refusalOf(archive), RootRefusalKind::FolderOthersCanChange);
    }
    ASSERT_EQ(chmod(disk.c_str(), 0755), 0);
    if (giveToOtherUser(archive)) {
        EXPECT_EQ(refusalOf(archive), RootRefusalKind::LinkOfAnotherUser);
        ASSERT_TRUE(giveToOtherUser(disk));
        EXPECT_EQ(refusalOf(disk + "/archive/sub"), RootRefusalKind::FolderOfAnotherUser);
    }
    // A sticky folder open to all (as /tmp) is passed through, but a link in
    // it is not followed, even the user's own.
    const std::string sticky = base + "/sticky";
    fs::create_directories(sticky + "/folder");
    ASSERT_EQ(chmod(sticky.c_str(), 01777), 0);
    fs::create_directory_symlink(mine, sticky + "/link");
    ASSERT_EQ(chmod((sticky + "/folder").c_str(), 0775), 0);  // the user's own team folder
    EXPECT_EQ(refusalOf(sticky + "/folder"), RootRefusalKind::None);
    EXPECT_EQ(refusalOf(sticky + "/link"), RootRefusalKind::LinkInOpenFolder);
    // There a folder another user made in place of the user's is theirs.
    if (giveToOtherUser(sticky + "/folder")) {
        EXPECT_EQ(refusalOf(sticky + "/folder"), RootRefusalKind::RootOfAnotherUser);
        EXPECT_EQ(refusalOf(sticky + "/folder/."), RootRefusalKind::RootOfAnotherUser);
    }

    // The user's own links keep working, relative ones and ".." included, as
    // root's links in root's folders do (/lib -> usr/lib).
    ASSERT_TRUE(writeTestFile(mine + "/notes.txt", "private"));
    fs::create_directories(base + "/home");
    fs::create_directory_symlink("../private", base + "/home/Documents");
    fs::create_directory_symlink(base + "/home/Documents", base + "/home/Docs");
    EXPECT_TRUE(removeFileBelow(utf8ToWide(base + "/home/Docs"), utf8ToWide(base + "/home/Docs/notes.txt")));
    EXPECT_FALSE(fs::exists(mine + "/notes.txt"));
    if (fs::is_symlink("/lib")) {
        EXPECT_EQ(refusalOf("/lib"), RootRefusalKind::None);
    }
}
