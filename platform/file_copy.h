#pragma once
// Copying a file with progress and cancel. The data goes into a temporary
// file beside the target, is flushed to disk, gets the source's modification
// time and only then takes the target's name, so a failed, cancelled or
// interrupted copy never leaves a partial file under that name and never
// touches a target that was already there.
#include <atomic>
#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <string_view>

// Bytes moved between two calls of the progress routine (and cancel checks).
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

// Many copies into the same folders: each copy's data is still on disk
// before it takes the target's name, but the folders renamed into are synced
// once, by finishCopyBatch, instead of once per file. Until then a crash may
// lose a new name (the old file, or none, is there), never leave a partial one.
struct CopyBatch {
    std::set<std::wstring> folders;  // renamed into, not yet synced
};
// Syncs each folder of the batch once and empties it.
void finishCopyBatch(CopyBatch& batch);

// Copies source to target, replacing an existing target only on success.
// A source whose size, modification time or change time differs after the
// copy from before it was written meanwhile: the copy may hold a mix of old
// and new content, a state the file never had, so it is discarded.
// The routine (may be empty) is called once before the first chunk and after
// every chunk; a non-zero *cancel (may be null) stops the copy before the next
// chunk. Both paths must be absolute. Without a batch the target's folder is
// synced before the call returns.
CopyResult copyFileWithProgress(const std::wstring& source, const std::wstring& target,
                                const CopyProgressRoutine& progress = {},
                                const std::atomic<int>* cancel = nullptr, CopyBatch* batch = nullptr);

// Copies source to target; with failIfExists an existing target is never
// replaced (the new file takes the name atomically or not at all).
CopyResult copyFile(const std::wstring& source, const std::wstring& target, bool failIfExists);

// True for the names of the temporary files these copies write, so that
// folder scans and watchers can pass over them.
bool isCopyTemporaryName(std::wstring_view fileName);
