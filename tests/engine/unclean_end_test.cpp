// The recovery after an unclean end gives archived copies their records back
// and removes the copies' leftover temporary files, inside archives only.
#include "archive_test_support.h"
#include "engine/unclean_end.h"
#include "foundation/text_format.h"
#include "platform/file_copy.h"
#include "platform/paths.h"

TEST_F(ArchiveTest, RecoveryRecordsCopiesAgainAndRemovesOnlyStaleTemporaries) {
    const std::wstring file = write(L"a.txt", "one");
    queue(file);
    runCopier();
    // The records of this copy were never saved; a copy of the killed run
    // left its temporary file; a copy made now must keep its own.
    {
        std::lock_guard<std::mutex> lock(versionRecordMutex);
        versionRecordMap.clear();
    }
    const std::wstring stale = archived(L".varnholt-copy-0123456789abcdef.tmp");
    ASSERT_TRUE(writeTestFile(wideToUtf8(stale), "partial"));
    ASSERT_TRUE(isCopyTemporaryName(lastPathComponent(stale)));
    EXPECT_EQ(removeStaleCopyTemporaries(folders.archive, currentTimeTicks() - 600000000), 0u);
    EXPECT_TRUE(exists(stale));
    ASSERT_TRUE(writeTestFile(wideToUtf8(folders.watch + L"/.varnholt-copy-0123456789abcdef.tmp"), "not ours"));

    const RecoveryCounts counts = recoverAfterUncleanEnd(currentTimeTicks() + 1);
    EXPECT_EQ(counts.temporariesRemoved, 1u);
    EXPECT_FALSE(exists(stale));
    EXPECT_TRUE(exists(folders.watch + L"/.varnholt-copy-0123456789abcdef.tmp"));  // only inside archives
    EXPECT_EQ(counts.recordsAdded, 1u);
    EXPECT_EQ(versionsOf(file), std::vector<std::wstring>{archived(L"a.txt")});
    EXPECT_EQ(counts.queued, 0u);
    EXPECT_NE(recoveryLogText(counts).find(L"1 archived versions recorded again"), std::wstring::npos);
}
