#pragma once
// The Linux file layer: file tests, sizes and times, free space, the mount
// points that stand in for drive roots, the name of an open file, folder
// enumeration and simple create/remove calls. Paths are wide text; a path
// that is not absolute is never created or removed here.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Attribute bits of the Windows model, as the callers test them.
inline constexpr uint32_t kFileAttributeReadOnly = 0x01;
inline constexpr uint32_t kFileAttributeHidden = 0x02;
inline constexpr uint32_t kFileAttributeDirectory = 0x10;
inline constexpr uint32_t kFileAttributeArchive = 0x20;
inline constexpr uint32_t kInvalidFileAttributes = 0xFFFFFFFF;

// Folders made with the program's own protection: owner only.
inline constexpr unsigned kPrivateFolderMode = 0700;
// Folders made with default protection (never world-writable).
inline constexpr unsigned kDefaultFolderMode = 0755;

// Attributes from stat (symbolic links followed): directory bit for folders,
// archive bit for every regular file, read-only when the owner cannot write,
// hidden for names that begin with ".". kInvalidFileAttributes when stat fails.
uint32_t readFileAttributes(const std::wstring& path);

// Size of a regular file; false (size 0) when the path is missing or a folder.
bool readFileSize(const std::wstring& path, uint64_t& size);

// Bytes a copy of the file needs on disk: its size less its holes (what its
// blocks hold, never more than its size). False as readFileSize.
bool readFileDataBytes(const std::wstring& path, uint64_t& bytes);

// Permission bits (07777) of a file or folder, links followed.
bool readFileMode(const std::wstring& path, unsigned& mode);

// Owner (uid) and permission bits of an existing folder, links followed;
// false when the path is not a folder.
bool readFolderOwner(const std::wstring& path, uint32_t& owner, unsigned& mode);
// The user this process acts as (its effective uid).
uint32_t currentUserId();

// Last modification time (st_mtim) as 100-ns ticks since 1970.
bool readFileWriteTicks(const std::wstring& path, int64_t& ticks);

// Size and modification time (to the nanosecond) of a regular file, from one
// stat; false when the path is missing or not a regular file.
struct FileStamp {
    uint64_t size = 0;
    int64_t seconds = 0;
    int64_t nanoseconds = 0;
};
bool readFileStamp(const std::wstring& path, FileStamp& stamp);

// What lies under a name, the name itself (a link is not followed): which
// file it is (device and inode) and its size and times, in 100-ns ticks
// since 1970. Any write changes the change time, so two equal states are
// one and the same write.
struct FileState {
    bool exists = false;
    uint64_t device = 0;
    uint64_t inode = 0;
    uint64_t size = 0;
    int64_t modifiedTicks = 0;
    int64_t changedTicks = 0;
};
// False (and `state` empty) when nothing is there.
bool readFileState(const std::wstring& path, FileState& state);
// The same for `name` in the open folder `folder`.
bool readFileStateAt(int folder, const std::string& name, FileState& state);

// Free bytes for an unprivileged user (f_bavail * f_frsize) on the volume of
// the path, or of its nearest existing parent. False for a relative path.
bool readFreeSpace(const std::wstring& path, uint64_t& bytes);

// True when an exclusive open would fail: the path may not be written
// (missing, a link, no rights, a folder without write access) or another open
// file holds a record lock on it. Tested without opening it for writing, so
// the test is no change to a watch.
bool isFileLockedForWriting(const std::wstring& path);

// Full path of an open descriptor (readlink of /proc/self/fd/N); empty for
// an empty file, a deleted file or something that is not a file.
std::wstring nameOfOpenFile(int fd);

// One entry of a folder; "." and ".." are never listed.
struct FolderEntry {
    std::wstring name;
    bool isFolder = false;       // a real folder (a link to a folder is not)
    bool isLink = false;         // a symbolic link (only links to folders are listed)
    bool linkToFolder = false;   // a symbolic link whose target is a folder
};

// Lists the folders, regular files and links to folders of a folder
// (opendir/readdir); FIFOs, sockets, devices and links to anything but a
// folder are left out. False when it cannot be opened.
bool listFolderEntries(const std::wstring& folder, std::vector<FolderEntry>& entries);

// Reads up to `size` bytes at `offset` of an open file (interrupted reads
// are resumed): the bytes read, fewer only at the file's end; -1 on failure.
int64_t readFileAt(int fd, uint64_t offset, char* buffer, size_t size);

// Creates one folder with the mode; true when it exists as a folder afterwards.
bool makeFolder(const std::wstring& path, unsigned mode);
// Removes one file or link (never what a link points to) / one empty folder.
bool removeFile(const std::wstring& path);
bool removeFolder(const std::wstring& path);

// Mount points of real local file systems in the text of /proc/self/mounts,
// in table order, each once, octal escapes decoded, each ending with "/".
std::vector<std::wstring> parseMountTable(std::string_view text);

// Replaces the text read from /proc/self/mounts (tests); nullopt restores it.
void setMountTableOverride(std::optional<std::string> text);

// The drive roots: local mount points that exist as folders, ending with "/".
std::vector<std::wstring> listDriveRoots();
// Drive roots a user may write to: the root of the file system that holds
// $HOME is replaced by $HOME itself (ending with "/").
std::vector<std::wstring> listWritableDriveRoots();
// Roots offered for browsing: "/" first, then the other drive roots.
std::vector<std::wstring> listBrowseRoots();
