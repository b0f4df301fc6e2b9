#pragma once
// What a backup shows while it runs: the backup state of its folder's entry
// and the copy status of each of its files, kept in the "backup" list of the
// backup path map.
#include <cstdint>
#include <string>
#include <string_view>

#include "engine/confirm_request.h"

// Backup states of a watch-folder entry.
inline constexpr int32_t kBackupStateIdle = 5;
inline constexpr int32_t kBackupStateStarting = 6;
inline constexpr int32_t kBackupStatePreparing = 7;
inline constexpr int32_t kBackupStateCopying = 8;

// The copy-status list of the running backup and its codes.
inline constexpr std::wstring_view kCopyStatusListBackup = L"backup";
inline constexpr int32_t kCopyStatusQueued = 1;
inline constexpr int32_t kCopyStatusFailed = 2;
inline constexpr int32_t kCopyStatusDiskFull = 3;
inline constexpr int32_t kCopyStatusCopied = 4;

// One file's record in a named copy-status list (the backup path map). Set
// creates the list when it is missing; get is false when the list or the path
// is missing.
void setCopyStatus(const std::wstring& listName, const std::wstring& path, const CopyStatusRecord& record);
bool getCopyStatus(const std::wstring& listName, const std::wstring& path, CopyStatusRecord& record);
