#pragma once
// Copying a file with progress and cancel. The data goes into a temporary
// file beside the target, is flushed to disk, gets the source's modification
// time and only then takes the target's name, so a failed, cancelled or
// interrupted copy never leaves a partial file under that name and never
// touches a target that was already there.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_system.h"
#include "platform/safe_folders.h"

// Bytes of the file (holes included) between two calls of the progress routine.
inline constexpr uint64_t kCopyChunkBytes = 32ull << 20;

struct CopyProgress {
    uint64_t totalBytes = 0;   // the source's size (grows if the source grows)
    uint64_t bytesCopied = 0;
    const std::wstring& source;
    const std::wstring& target;  // the final name, not the temporary one
};

enum class CopyProgressAnswer { Continue, Cancel };
using CopyProgressRoutine = std::function<CopyProgressAnswer(const CopyProgress&)>;

enum class CopyResult {
    Copied,
    Cancelled,      // the cancel flag was set or the routine answered Cancel
    SourceMissing,  // the source does not exist or is not a regular file
    TargetExists,   // only when an existing target must not be replaced
    SourceChanged,  // the source was written during the copy: the copy is discarded
    Failed,         // anything else: no rights, target folder missing, disk full, ...
};

// Where a copy reads or writes: `path`, below `root`, a folder the caller
// trusts. Every folder between the two is opened without following a link
// (see safe_folders.h), so a link never leads the copy out of its folder. A
// place made from a path alone has the path's own folder as its root: only
// its last component is guarded.
struct FilePlace {
    std::wstring root;
    std::wstring path;
    FilePlace(std::wstring rootFolder, std::wstring filePath);
    FilePlace(const std::wstring& filePath);  // NOLINT(google-explicit-constructor)
};

// Many copies made durable together. stageCopy writes a copy's data under a
// temporary name beside its target; finishCopyGroup then makes the data of
// the whole group durable at once, gives each copy its target's name and
// syncs each folder renamed into once. A crash at any moment leaves under a
// target's name the old file (or none) or the complete copy, never a part.
struct StagedCopy {
    std::wstring root;  // the target's root
    std::wstring target;
    std::wstring tempPath;
    uint64_t device = 0;  // the file system holding the temporary file
    uint64_t inode = 0;   // the temporary file, which keeps it under the target's name
    uint64_t bytes = 0;
    int64_t modifiedTicks = 0;  // the copy's modification time (the source's)
    CopyResult result = CopyResult::Failed;  // set by finishCopyGroup
    // The folder the temporary file was made in, held open until the copy
    // has its name (the copies staged in one folder share it): a copy that
    // fails is removed from there, even from a folder moved aside meanwhile.
    // None past the folders the open-file limit leaves room for.
    std::shared_ptr<const OwnedDescriptor> folder;
};
struct CopyGroup {
    std::vector<StagedCopy> copies;
    uint64_t bytes = 0;
    // Folders made for the copies (each below its root, or the root's own
    // folder for one made by its path): finishCopyGroup syncs each into its
    // parent, so no copy it names stands in a folder a crash could undo.
    std::vector<FilePlace> newFolders;
};
// A group this large is finished before more is staged: it bounds the
// temporary files and the work a crash loses, not the speed.
inline constexpr size_t kCopyGroupMaxFiles = 1024;
inline constexpr uint64_t kCopyGroupMaxBytes = 256ull << 20;
inline bool isCopyGroupFull(const CopyGroup& group) {
    return group.copies.size() >= kCopyGroupMaxFiles || group.bytes >= kCopyGroupMaxBytes;
}
// Writes the copy under its temporary name and adds it to the group: Copied
// when staged. Any other result adds nothing and leaves nothing behind.
CopyResult stageCopy(CopyGroup& group, const FilePlace& source, const FilePlace& target,
                     const CopyProgressRoutine& progress = {}, const std::atomic<int>* cancel = nullptr);
// Removes a staged copy's temporary file from the folder it was made in,
// wherever that folder is now.
void discardStagedCopy(const StagedCopy& copy);
// What a caller does around each copy's rename, both called on the calling
// thread with what lies under the target's name (read through its folder).
struct CopyRenameSteps {
    // Right before the rename: false keeps the target as it is and drops the
    // copy (TargetExists). It may take its time (ask the user).
    std::function<bool(const StagedCopy& copy, const FileState& now)> beforeRename;
    // Right after the rename of every copy beforeRename let through, with the
    // copy's result set and what the copy left there (nothing on a failure).
    std::function<void(const StagedCopy& copy, const FileState& written)> afterRename;
};
// Syncs the group's data, renames its copies over their targets and syncs
// their folders and the parents of its new folders (each reached again from
// its root; a copy whose folder can no longer be reached fails, alone, and
// its temporary file is discarded). Returns the copies, in the order staged,
// each with its result (Copied once named) and its folder let go, and leaves
// the group empty.
std::vector<StagedCopy> finishCopyGroup(CopyGroup& group, const CopyRenameSteps& steps = {});

// Syncs the folder holding each of `folders` (reached from its root), so
// that folders just made stay after a crash.
void syncFoldersIntoParents(const std::vector<FilePlace>& folders);

// Copies source to target, replacing an existing target only on success.
// Only a regular file is read: a source that is a link, a FIFO, a socket or
// a device is SourceMissing, and nothing waits on it.
// A source whose size, modification time or change time differs after the
// copy from before it was written meanwhile: the copy may hold a mix of old
// and new content, a state the file never had, so it is discarded.
// Only the source's data is copied: its holes stay holes in the copy.
// The routine (may be empty) is called once before the first chunk, after
// every chunk and at the end, counting holes as copied; a non-zero *cancel
// (may be null) stops the copy before the next chunk. Both paths must be absolute. The copy and the target's folder are
// synced before the call returns.
CopyResult copyFileWithProgress(const FilePlace& source, const FilePlace& target,
                                const CopyProgressRoutine& progress = {},
                                const std::atomic<int>* cancel = nullptr);

// Copies source to target; with failIfExists an existing target is never
// replaced (the new file takes the name atomically or not at all).
CopyResult copyFile(const FilePlace& source, const FilePlace& target, bool failIfExists);

// True for the names of the temporary files these copies write, so that
// folder scans and watchers can pass over them.
bool isCopyTemporaryName(std::wstring_view fileName);

// Removes the copies' temporary files lying directly in `folder` (reached
// below `root` without following a link; sub-folders are not entered) whose
// last change lies before `beforeTicks`, so a copy running now keeps its own.
// Returns how many were removed.
size_t removeStaleCopyTemporariesIn(const std::wstring& root, const std::wstring& folder, int64_t beforeTicks);
