// Names that are not valid UTF-8 and names in other scripts survive the copy
// queue file and the backup-set files.
#include <gtest/gtest.h>

#include "archive_test_support.h"
#include "engine/backup_sets.h"

TEST_F(ArchiveTest, QueueAndSetFilesKeepNamesWithInvalidBytes) {
    // Bytes of names that are not valid UTF-8, as the text converter keeps them.
    const std::wstring e9 = utf8ToWide("\xE9"), ff = utf8ToWide("\xFF");
    const std::wstring name = write(L"caf" + e9 + L" \u65E5\u672C.txt", "x");
    queue(name, L"/opt/" + e9 + L"\u65E5");
    ASSERT_TRUE(saveCopyQueue());
    {
        std::lock_guard<std::mutex> lock(copyQueueMutex);
        copyQueue.clear();
    }
    ASSERT_TRUE(loadCopyQueue());
    ASSERT_TRUE(queued(name));
    {
        std::lock_guard<std::mutex> lock(copyQueueMutex);
        EXPECT_EQ(copyQueue.at(name).applicationName, L"/opt/" + e9 + L"\u65E5");
    }

    BackupSetRecord set;
    BackupSetEntry entry;
    entry.sourcePath = name;
    entry.archivePath = write(L"\u0141" + ff + L" copy.txt", "y");
    entry.copied = true;
    set.files[name] = entry;
    const std::wstring file = folders.archive + L"/set.backup";
    ASSERT_TRUE(saveBackupSetFile(file, set));
    BackupSetRecord back;
    ASSERT_TRUE(loadBackupSetFile(file, back));
    ASSERT_EQ(back.files.count(name), 1u);
    EXPECT_EQ(back.files.at(name).archivePath, entry.archivePath);
    EXPECT_TRUE(back.files.at(name).copied);
}

TEST_F(ArchiveTest, SetLinesKeepNamesHoldingTheSeparator) {
    BackupSetRecord set;
    for (const wchar_t* name : {L"a[||]b.txt", L"c[|]d.txt", L"e|f.txt"}) {
        BackupSetEntry entry;
        entry.sourcePath = folders.watch + L"/" + name;
        entry.archivePath = write(std::wstring(L"copy ") + name, "y");
        entry.copied = true;
        set.files[entry.sourcePath] = entry;
    }
    const std::wstring file = folders.archive + L"/set.backup";
    ASSERT_TRUE(saveBackupSetFile(file, set));
    BackupSetRecord back;
    ASSERT_TRUE(loadBackupSetFile(file, back));
    ASSERT_EQ(back.files.size(), 3u);
    for (const auto& [key, entry] : set.files) {
        ASSERT_EQ(back.files.count(key), 1u) << wideToUtf8(key);
        EXPECT_EQ(back.files.at(key).archivePath, entry.archivePath);
        EXPECT_TRUE(back.files.at(key).copied);
    }
}
