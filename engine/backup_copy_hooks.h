#pragma once
// How a running backup learns what became of its files: it installs these
// hooks while it runs, and the copy threads call them after each attempt.
// Empty hooks mean no backup is running.
#include <cstdint>
#include <functional>
#include <string>

// Codes handed to the backup bookkeeping.
inline constexpr int32_t kBackupResultCopied = 2;
inline constexpr int32_t kBackupResultGivenUp = 3;

struct BackupCopyHooks {
    // A file of the backup's run was copied (code 2) or given up (code 3).
    std::function<void(const std::wstring& source, const std::wstring& target, int32_t code)> recordCopyResult;
    // Writes the copy status of a file of the backup's run: 4 copied, 3 disk
    // full, 2 not copied. False when the file is not part of the run.
    std::function<bool(const std::wstring& source, int32_t status)> setCopyStatus;
};
void setBackupCopyHooks(const BackupCopyHooks& hooks);
BackupCopyHooks backupCopyHooks();
