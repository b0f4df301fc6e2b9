// Finding changes again: a watch folder compared with its archive queues
// exactly the files whose newest state is not archived.
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "archive_test_support.h"
#include "engine/catch_up_scan.h"
#include "foundation/text_format.h"

TEST_F(ArchiveTest, CatchUpQueuesWhatTheArchiveLacksAndNestedFlatFoldersHideNothing) {
    const std::wstring same = write(L"same.txt", "kept");
    const std::wstring changed = write(L"sub/changed.txt", "new");
    const std::wstring fresh = write(L"sub/fresh.txt", "fresh");
    write(L"skip.tmp", "extension not archived");
    // A folder watched without its sub-folders, inside this one: the files
    // below it belong to the outer folder, which archives them.
    const std::wstring flat = folders.watch + L"/flat";
    const std::wstring below = write(L"flat/below/deep.txt", "deep");
    const std::wstring own = write(L"flat/own.txt", "own");
    addFolder(flat, folders.archive + L"2", kCollisionAppendVersion, kFolderTypeFolder);
    EXPECT_EQ(findWatchFolderOfFile(below), folders.watch);
    EXPECT_EQ(findWatchFolderOfFile(own), flat);
    for (const std::wstring& file : {same, changed}) {
        queue(file);
        runCopier();
    }
    write(L"sub/changed.txt", "newer");

    const CatchUpCounts counts = queueUnarchivedFiles(folders.watch, 0);
    EXPECT_EQ(counts.compared, 4u);  // same, changed, fresh, deep
    EXPECT_EQ(counts.queued, 3u);
    EXPECT_FALSE(queued(same));
    EXPECT_TRUE(queued(changed) && queued(fresh) && queued(below));
    EXPECT_FALSE(queued(own));
    runCopier();
    EXPECT_EQ(read(archived(L"flat/below/deep.txt")), "deep");
    EXPECT_EQ(read(archived(L"sub/changed ~ 0000.txt")), "newer");

    // Only files changed since the given time are looked at.
    write(L"late.txt", "late");
    EXPECT_EQ(queueUnarchivedFiles(folders.watch, currentTimeTicks() + 600000000).compared, 0u);
    requestFolderCatchUp(folders.watch, currentTimeTicks() - 600000000);
    const auto waitForCatchUps = [] {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (pendingFolderCatchUps() != 0 && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    };
    waitForCatchUps();
    EXPECT_TRUE(queued(folders.watch + L"/late.txt"));

    // A comparison that finds the archive away is made whole once it is back.
    const std::string archive = wideToUtf8(folders.archive);
    std::filesystem::rename(archive, archive + ".away");
    const std::wstring away = write(L"while away.txt", "away");
    EXPECT_EQ(queueUnarchivedFiles(folders.watch, 0).compared, 0u);
    std::filesystem::rename(archive + ".away", archive);
    requestCatchUpOwedUntilArchiveIsBack(folders.watch);
    waitForCatchUps();
    EXPECT_TRUE(queued(away));
}

// A watch folder another user made again in a sticky folder is not read;
// once it is the user's again, every file of it is compared.
TEST_F(ArchiveTest, ARefusedWatchFolderIsComparedOnlyOnceItMayBeReadAgain) {
    if (geteuid() != 0) GTEST_SKIP() << "plays another user as root";
    const std::string watch = wideToUtf8(folders.watch);
    ASSERT_EQ(chmod(std::filesystem::path(watch).parent_path().c_str(), 01777), 0);
    const std::wstring notes = write(L"notes.txt", "notes");
    ASSERT_EQ(chown(watch.c_str(), 65534, 65534), 0);
    EXPECT_EQ(queueUnarchivedFiles(folders.watch, 0).compared, 0u);
    ASSERT_EQ(chown(watch.c_str(), geteuid(), getegid()), 0);
    EXPECT_EQ(queueUnarchivedFiles(folders.watch, currentTimeTicks() + 600000000).queued, 1u);
    EXPECT_TRUE(queued(notes));
}
