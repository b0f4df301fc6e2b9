// Folders a copy makes are synced into their parents before the copies are
// reported named. A sync leaves no trace a test can read back, so the
// fsync calls themselves are watched: this test program's own fsync takes
// the place of the C library's for all of its code.
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <mutex>

#include "archive_test_support.h"
#include "engine/restore_copy.h"

namespace {

std::mutex g_syncedMutex;
std::vector<std::string> g_syncedFolders;

bool folderSynced(const std::wstring& folder) {
    const std::string path = std::filesystem::canonical(wideToUtf8(folder)).string();
    std::lock_guard<std::mutex> lock(g_syncedMutex);
    return std::find(g_syncedFolders.begin(), g_syncedFolders.end(), path) != g_syncedFolders.end();
}

}  // namespace

extern "C" int fsync(int fd) {
    struct stat st {};
    char path[4096];
    const std::string link = "/proc/self/fd/" + std::to_string(fd);
    const ssize_t length = ::readlink(link.c_str(), path, sizeof path);
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode) && length > 0) {
        std::lock_guard<std::mutex> lock(g_syncedMutex);
        g_syncedFolders.emplace_back(path, static_cast<size_t>(length));
    }
    return static_cast<int>(::syscall(SYS_fsync, fd));
}

TEST_F(ArchiveTest, FoldersMadeForCopiesAreSyncedIntoTheirParents) {
    // The Copier makes the archive's folders a/b for a/b/f.txt.
    const std::wstring source = write(L"a/b/f.txt", "archived");
    queue(source);
    runCopier();
    ASSERT_EQ(versionsOf(source).size(), 1u);
    EXPECT_TRUE(folderSynced(archived(L"a")));
    EXPECT_TRUE(folderSynced(folders.archive));

    // A restore makes new/sub in the watch folder, and the missing root too.
    DestinationGuard guard;
    RestoreGroup group(guard);
    const RestoreItem item{archived(L"a/b/f.txt"), folders.watch + L"/gone/new/sub/f.txt", folders.archive,
                           folders.watch + L"/gone"};
    ASSERT_EQ(restoreOneFile(item, "restore", group), RestoreStep::Copied);
    group.finish();
    ASSERT_EQ(group.copies, 1u);
    for (const std::wstring& parent : {folders.watch, folders.watch + L"/gone", folders.watch + L"/gone/new"})
        EXPECT_TRUE(folderSynced(parent)) << wideToUtf8(parent);
    releaseRestoreWrites(guard);
}
