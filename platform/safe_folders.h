#pragma once
// Files and folders reached below a root folder the program trusts (a watch
// folder, an archive folder, a restore's source folder). The root is opened
// from "/" one component at a time (see openRootFolder), so no other user can
// put a link or another folder of the user's in its place; every folder below
// it is opened one component at a time with O_NOFOLLOW | O_DIRECTORY, so a
// symbolic link anywhere below the root never leads a read, a write or a
// deletion out of the folder it stands in. A path that is not below its root,
// or that has a "." or ".." component, reaches nothing.
#include <cstdint>
#include <functional>
#include <string>

// A descriptor, closed when it goes.
struct OwnedDescriptor {
    int fd = -1;
    OwnedDescriptor() = default;
    explicit OwnedDescriptor(int value) : fd(value) {}
    OwnedDescriptor(OwnedDescriptor&& other) noexcept;
    OwnedDescriptor& operator=(OwnedDescriptor&& other) noexcept;
    OwnedDescriptor(const OwnedDescriptor&) = delete;
    OwnedDescriptor& operator=(const OwnedDescriptor&) = delete;
    ~OwnedDescriptor();
    bool isOpen() const { return fd >= 0; }
};

// What stands on the way to a root that another user could change: a
// folder of theirs, a folder group or others can write without the sticky
// bit (they could rename the user's folder aside and put a link or another
// of the user's folders in its place), a link of theirs, or a link in a
// folder group or others can write. Last, the root itself (or, to write, a
// folder below it) when it belongs to another user and lies in a folder
// others can write, sticky or not: the sticky bit keeps only an owner's own
// entries, so once the user's folder is gone anyone may make one of its name.
enum class RootRefusalKind {
    None,
    FolderOfAnotherUser,
    FolderOthersCanChange,
    LinkOfAnotherUser,
    LinkInOpenFolder,
    RootOfAnotherUser
};
struct RootRefusal {
    RootRefusalKind kind = RootRefusalKind::None;
    std::wstring place;  // the folder or link on the way, or the refused root or folder
    uint32_t owner = 0;  // its owner
    unsigned mode = 0;   // the folder's permission bits (a link's or the root's: its folder's)
};

// The mode of a folder about to be made, given its full path.
using FolderModeFor = std::function<unsigned(const std::wstring& folder)>;

// Opens the folder `root` names, walked from "/" one component at a time. A
// link on the way is followed only when it belongs to the user or root and
// lies in a folder of theirs that group and others cannot write; every
// folder on the way (not the root itself) belongs to the user or root and
// is not writable by group or others unless it has the sticky bit (/tmp);
// a root in a folder others can write is the user's or root's itself.
// Not open (errno set) when the root is missing or no folder; when the way
// is refused, errno is EPERM and `refusal` (may be null) says why. With
// `modeFor`, a missing folder on the way and the root itself are made on
// that walk (mkdirat in the folder above, once that passed its check), asked
// for their mode with the path the walk reached; never by their path.
OwnedDescriptor openRootFolder(const std::wstring& root, RootRefusal* refusal = nullptr,
                               const FolderModeFor& modeFor = {});

// Opens `folder`, the root itself or a folder below it, to read what lies
// in it. Not open (errno set) when the root is missing or refused (EPERM,
// see openRootFolder), a component is a link (ELOOP) or no folder, or the
// path is not below the root (EINVAL).
OwnedDescriptor openFolderBelow(const std::wstring& root, const std::wstring& folder);
// The same to write into the folder (make folders, files or temporaries in
// it, name them there): a folder below the root that belongs to another
// user (root aside) and lies in a folder group or others can write is
// refused as such a root is (EPERM, RootOfAnotherUser in `refusal`, which
// may be null): they may have made it in place of the user's, and would read
// what lands in it. With `modeFor`, the folders missing below the root are
// made (mkdirat) with the mode it gives; the root itself is never made.
OwnedDescriptor openFolderForWriting(const std::wstring& root, const std::wstring& folder,
                                     const FolderModeFor& modeFor = {}, RootRefusal* refusal = nullptr);

// The folder that holds `path` (opened as above, to read or to write) and
// the path's last component in it. The folder is not open when that fails
// or `path` is the root itself.
struct PlaceInFolder {
    OwnedDescriptor folder;
    std::string name;
};
PlaceInFolder openParentBelow(const std::wstring& root, const std::wstring& path);
PlaceInFolder openParentForWriting(const std::wstring& root, const std::wstring& path);

// What lies at a path below the root, links never followed. A link on the
// way to it counts as a link.
enum class EntryKind { Missing, File, Folder, Link, Other };
EntryKind entryKindBelow(const std::wstring& root, const std::wstring& path);

// Opens a regular file below the root for reading: never through a link,
// never a FIFO, socket or device (the open is non-blocking and the type is
// confirmed with fstat on the descriptor before a byte is read). Not open
// otherwise; errno is ENOENT when no regular file is there.
OwnedDescriptor openFileForReadingBelow(const std::wstring& root, const std::wstring& path);
// The same for a file known by its path alone: only its last component is
// guarded, its folder is the root.
OwnedDescriptor openFileForReading(const std::wstring& path);

// Deletes the file (a link itself, never what it points to) below the root;
// never a folder. True when it was deleted.
bool removeFileBelow(const std::wstring& root, const std::wstring& path);
