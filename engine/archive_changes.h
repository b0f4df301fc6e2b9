#pragma once
// Changes on their way into the copy queue: the filter that turns changed
// files into queue items, each watch folder's archive context, and the
// files that wait for their archive to come back or for room on its disk.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/safe_folders.h"

// One changed file handed to the archiving: its full path and the
// application the change was attributed to (may be empty).
struct ChangedFile {
    std::wstring path;
    std::wstring applicationName;
    // When the file was last written, where a comparison read it; 0 for a
    // change seen now.
    int64_t writeTicks = 0;
};

// Turns the changes into queue items (filtered as below); always true.
bool archiveChangedFile(const std::vector<ChangedFile>& changes);

// What lies at a file's path, looked at from its watch folder down without
// following a link: only a regular file is ever queued or copied.
EntryKind sourceKind(const std::wstring& folderKey, const std::wstring& path);

// Watch folder -> archive root, fixed the first time a folder is met.
void clearArchiveContext();
// Forgets one folder's root: its next copy takes the entry's archive path
// (the user chose another archive location).
void forgetArchiveContext(const std::wstring& folderKey);
bool archiveContextOf(const std::wstring& folderKey, std::wstring& root);
// Makes the folder's archive context the first time it is met. False when
// the folder's archive is missing or has no usable path; a change handed in
// as `waiting` then waits for the archive's return.
bool ensureArchiveContext(const std::wstring& folderKey, std::wstring& root, const ChangedFile* waiting = nullptr);

// A copy found the folder's archive gone: the file waits for its return.
void keepUntilArchiveIsBack(const std::wstring& folderKey, const ChangedFile& file);
// The archive's disk had no room for the file: it waits until a storage
// check finds room. The full disk is logged once, not per file.
void keepUntilArchiveHasRoom(const std::wstring& folderKey, const ChangedFile& file, const std::wstring& root);
// Files whose copy found the folder's archive gone: handed out (and
// forgotten) once the archive is back, to be archived again. Listed, with
// the files waiting for room, for the copy queue saved at shut-down.
std::vector<ChangedFile> takeFilesAwaitingArchive(const std::wstring& folderKey);
std::vector<ChangedFile> filesAwaitingArchive();
// Files refused for lack of room on their archive's disk: the storage check
// queues again those that its archive has room for now (logging, once all
// of a folder's are queued, that archiving resumed). Returns how many.
size_t requeueFilesAwaitingRoom();

// The free-space reading of the copies (tests inject a full disk); an empty
// function restores getDiskFreeSpace.
using FreeSpaceFunction = std::function<bool(const std::wstring& path, uint64_t& bytes)>;
void setFreeSpaceFunction(FreeSpaceFunction function);
bool readFreeSpaceForCopy(const std::wstring& path, uint64_t& bytes);

// Replaces every "{{NAME}}" by the environment variable NAME, "?" when unset.
std::wstring expandPathPlaceholders(const std::wstring& text);

// Under watchFolderMutex: set the folder type / collision option of an entry.
void setFolderType(const std::wstring& path, int32_t type);
void setFolderCollisionOption(const std::wstring& path, int32_t option);
