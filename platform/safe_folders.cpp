#include "platform/safe_folders.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <utility>
#include <vector>

#include "platform/file_system.h"
#include "platform/paths.h"
#include "platform/text.h"

namespace {

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// Links met on the way to a root before it counts as a loop, as the kernel does.
constexpr int kMaxLinksOnTheWay = 40;

bool isOwnerTrusted(uid_t owner) { return owner == 0 || owner == ::geteuid(); }

// A folder on the way to a root, held open (O_PATH) with its state.
struct WalkedFolder {
    OwnedDescriptor fd;
    struct stat state {};
    std::string name;
};
// The folders walked from "/" (first) to where the walk stands (last); ".."
// in a link goes back to the folder before.
using RootWalk = std::vector<WalkedFolder>;

bool enterFolder(RootWalk& walk, OwnedDescriptor folder, std::string name) {
    struct stat st {};
    if (!folder.isOpen() || ::fstat(folder.fd, &st) != 0) return false;
    walk.push_back({std::move(folder), st, std::move(name)});
    return true;
}

bool startAtTop(RootWalk& walk) {
    walk.clear();
    return enterFolder(walk, OwnedDescriptor{::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC)}, "");
}

// The path of `name` in the folder the walk stands in (of that folder itself
// when `name` is empty).
std::wstring pathOf(const RootWalk& walk, const std::string& name) {
    std::string path;
    for (size_t i = 1; i < walk.size(); ++i) path += "/" + walk[i].name;
    if (!name.empty()) path += "/" + name;
    return utf8ToWide(path.empty() ? "/" : path);
}

// The components of a path or a link's target, pushed so that the first one
// comes off the back first.
void pushComponents(const std::string& path, std::vector<std::string>& pending) {
    std::vector<std::string> parts;
    for (size_t start = 0; start <= path.size();) {
        size_t end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        if (end > start) parts.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    pending.insert(pending.end(), parts.rbegin(), parts.rend());
}

bool refuse(RootRefusal* refusal, RootRefusalKind kind, std::wstring place, uid_t owner, mode_t mode) {
    if (refusal) *refusal = {kind, std::move(place), static_cast<uint32_t>(owner), static_cast<unsigned>(mode) & 07777};
    errno = EPERM;
    return false;
}

// Whether the folder the walk stands in may hold the next component: no one
// else can rename what lies in it (a sticky folder keeps each entry its
// owner's).
bool mayPassThrough(const RootWalk& walk, RootRefusal* refusal) {
    const struct stat& st = walk.back().state;
    if (!isOwnerTrusted(st.st_uid))
        return refuse(refusal, RootRefusalKind::FolderOfAnotherUser, pathOf(walk, ""), st.st_uid, st.st_mode);
    if ((st.st_mode & 022) != 0 && (st.st_mode & S_ISVTX) == 0)
        return refuse(refusal, RootRefusalKind::FolderOthersCanChange, pathOf(walk, ""), st.st_uid, st.st_mode);
    return true;
}

// The folder `folder`, opened in a folder with state `parent`, when it may
// be used: in a folder others can write, sticky or not, it is the user's or
// root's, never a folder another user made in place of the user's own.
OwnedDescriptor acceptFolder(OwnedDescriptor folder, const struct stat& parent, const std::wstring& place,
                             RootRefusal* refusal) {
    struct stat st {};
    if (!folder.isOpen()) return folder;
    if (::fstat(folder.fd, &st) != 0) return {};
    if ((parent.st_mode & 022) == 0 || isOwnerTrusted(st.st_uid)) return folder;
    refuse(refusal, RootRefusalKind::RootOfAnotherUser, place, st.st_uid, parent.st_mode);
    return {};
}

// Whether the link `name` (open as `link`, with state `st`) may be
// followed, and its target when it may.
bool readTrustedLink(const RootWalk& walk, const std::string& name, const OwnedDescriptor& link,
                     const struct stat& st, std::string& target, RootRefusal* refusal) {
    const mode_t folderMode = walk.back().state.st_mode;
    if (!isOwnerTrusted(st.st_uid))
        return refuse(refusal, RootRefusalKind::LinkOfAnotherUser, pathOf(walk, name), st.st_uid, folderMode);
    // A link counts only in a folder no one else can change at all, a
    // sticky one (/tmp) included.
    if ((folderMode & 022) != 0)
        return refuse(refusal, RootRefusalKind::LinkInOpenFolder, pathOf(walk, name), st.st_uid, folderMode);
    char buffer[PATH_MAX];
    const ssize_t length = ::readlinkat(link.fd, "", buffer, sizeof buffer);
    if (length <= 0) return false;
    if (static_cast<size_t>(length) >= sizeof buffer) {
        errno = ENAMETOOLONG;
        return false;
    }
    target.assign(buffer, static_cast<size_t>(length));
    return true;
}

// Makes the missing folder `name` in the folder the walk stands in, which
// passed its check, and opens what now lies there as the walk does. Made
// meanwhile by someone else, it is looked at as any other entry on the way.
OwnedDescriptor makeFolderOnTheWay(const RootWalk& walk, const std::string& name, const FolderModeFor& modeFor) {
    const mode_t mode = static_cast<mode_t>(modeFor(pathOf(walk, name)));
    if (::mkdirat(walk.back().fd.fd, name.c_str(), mode) != 0 && errno != EEXIST) return {};
    return OwnedDescriptor{::openat(walk.back().fd.fd, name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC)};
}

// The components of `path` below `root`, in UTF-8; false (errno EINVAL) when
// the path is not below the root or has a "." or ".." component.
bool componentsBelow(const std::wstring& root, const std::wstring& path, std::vector<std::string>& parts) {
    const std::wstring base = withoutTrailingSeparators(root);
    if (!isAbsolutePath(base) || !isAbsolutePath(path) || !pathIsInside(path, base)) {
        errno = EINVAL;
        return false;
    }
    const std::string rest = wideToUtf8(path.substr(base.size()));
    for (size_t start = 0; start < rest.size();) {
        size_t end = rest.find('/', start);
        if (end == std::string::npos) end = rest.size();
        std::string part = rest.substr(start, end - start);
        if (part == "." || part == "..") {
            errno = EINVAL;
            return false;
        }
        if (!part.empty()) parts.push_back(std::move(part));
        start = end + 1;
    }
    return true;
}

// Opens one folder below an open one, making it first when it is missing
// and a mode is given. A link in its place is never followed (ELOOP).
int openChildFolder(int parent, const std::string& name, const std::wstring& fullPath, const FolderModeFor& modeFor) {
    const int fd = ::openat(parent, name.c_str(), kFolderFlags);
    if (fd >= 0 || errno != ENOENT || !modeFor) return fd;
    if (::mkdirat(parent, name.c_str(), static_cast<mode_t>(modeFor(fullPath))) != 0 && errno != EEXIST) return -1;
    return ::openat(parent, name.c_str(), kFolderFlags);
}

// How the folders below the root are opened: to read what lies in them, or
// to write into them (`refusal` may be null).
struct BelowRoot {
    bool writing = false;
    FolderModeFor modeFor;
    RootRefusal* refusal = nullptr;
};

// Opens the root, then parts[0, count) one by one. To write, each folder is
// accepted as the root is: one another user owns in a folder group or others
// can write may be theirs in place of the user's, and they read what lands
// in it; reading a teammate's folder stays open.
OwnedDescriptor openComponents(const std::wstring& root, const std::vector<std::string>& parts, size_t count,
                               const BelowRoot& below) {
    OwnedDescriptor current = openRootFolder(withoutTrailingSeparators(root), below.refusal);
    std::wstring path = withoutTrailingSeparators(root);
    for (size_t i = 0; i < count && current.isOpen(); ++i) {
        struct stat parent {};
        if (below.writing) {
            path = joinPath(path, utf8ToWide(parts[i]));
            if (::fstat(current.fd, &parent) != 0) return {};
        }
        current = OwnedDescriptor{openChildFolder(current.fd, parts[i], path, below.modeFor)};
        if (below.writing) current = acceptFolder(std::move(current), parent, path, below.refusal);
    }
    return current;
}

OwnedDescriptor openFolderAs(const std::wstring& root, const std::wstring& folder, const BelowRoot& below) {
    if (below.refusal) *below.refusal = RootRefusal();
    std::vector<std::string> parts;
    if (!componentsBelow(root, folder, parts)) return {};
    return openComponents(root, parts, parts.size(), below);
}

PlaceInFolder openParentAs(const std::wstring& root, const std::wstring& path, const BelowRoot& below) {
    PlaceInFolder place;
    std::vector<std::string> parts;
    if (!componentsBelow(root, path, parts)) return place;
    if (parts.empty()) {
        errno = EINVAL;
        return place;
    }
    place.folder = openComponents(root, parts, parts.size() - 1, below);
    place.name = parts.back();
    return place;
}

}  // namespace

OwnedDescriptor::OwnedDescriptor(OwnedDescriptor&& other) noexcept : fd(std::exchange(other.fd, -1)) {}

OwnedDescriptor& OwnedDescriptor::operator=(OwnedDescriptor&& other) noexcept {
    if (this != &other) {
        if (fd >= 0) ::close(fd);
        fd = std::exchange(other.fd, -1);
    }
    return *this;
}

OwnedDescriptor::~OwnedDescriptor() {
    if (fd >= 0) ::close(fd);
}

OwnedDescriptor openRootFolder(const std::wstring& root, RootRefusal* refusal, const FolderModeFor& modeFor) {
    if (refusal) *refusal = RootRefusal();
    const std::string path = wideToUtf8(root);
    if (path.empty() || path.front() != '/') {
        errno = EINVAL;
        return {};
    }
    std::vector<std::string> pending;
    pushComponents(path, pending);
    RootWalk walk;
    if (!startAtTop(walk)) return {};
    for (int links = 0; !pending.empty();) {
        const std::string name = std::move(pending.back());
        pending.pop_back();
        if (name == ".") continue;
        if (name == "..") {
            if (walk.size() > 1) walk.pop_back();
            continue;
        }
        if (!mayPassThrough(walk, refusal)) return {};
        // The root itself, when it is no link, is opened for use at once (a
        // link fails with ELOOP or ENOTDIR and is looked at below).
        if (pending.empty()) {
            OwnedDescriptor opened{::openat(walk.back().fd.fd, name.c_str(), kFolderFlags)};
            if (opened.isOpen() || (errno != ELOOP && errno != ENOTDIR && (errno != ENOENT || !modeFor)))
                return acceptFolder(std::move(opened), walk.back().state, pathOf(walk, name), refusal);
        }
        OwnedDescriptor next{::openat(walk.back().fd.fd, name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC)};
        if (!next.isOpen() && errno == ENOENT && modeFor) next = makeFolderOnTheWay(walk, name, modeFor);
        struct stat st {};
        if (!next.isOpen() || ::fstat(next.fd, &st) != 0) return {};
        if (S_ISDIR(st.st_mode)) {
            if (!enterFolder(walk, std::move(next), name)) return {};
            continue;
        }
        if (!S_ISLNK(st.st_mode)) {
            errno = ENOTDIR;
            return {};
        }
        std::string target;
        if (++links > kMaxLinksOnTheWay) {
            errno = ELOOP;
            return {};
        }
        if (!readTrustedLink(walk, name, next, st, target, refusal)) return {};
        if (target.front() == '/' && !startAtTop(walk)) return {};
        pushComponents(target, pending);
    }
    OwnedDescriptor opened{::openat(walk.back().fd.fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
    if (walk.size() < 2) return opened;  // "/" itself
    return acceptFolder(std::move(opened), walk[walk.size() - 2].state, pathOf(walk, ""), refusal);
}

OwnedDescriptor openFolderBelow(const std::wstring& root, const std::wstring& folder) {
    return openFolderAs(root, folder, {});
}

OwnedDescriptor openFolderForWriting(const std::wstring& root, const std::wstring& folder,
                                     const FolderModeFor& modeFor, RootRefusal* refusal) {
    return openFolderAs(root, folder, {true, modeFor, refusal});
}

PlaceInFolder openParentBelow(const std::wstring& root, const std::wstring& path) { return openParentAs(root, path, {}); }

PlaceInFolder openParentForWriting(const std::wstring& root, const std::wstring& path) {
    return openParentAs(root, path, {true, {}, nullptr});
}

EntryKind entryKindBelow(const std::wstring& root, const std::wstring& path) {
    const PlaceInFolder place = openParentBelow(root, path);
    struct stat st {};
    if (!place.folder.isOpen()) return errno == ELOOP ? EntryKind::Link : EntryKind::Missing;
    if (::fstatat(place.folder.fd, place.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return EntryKind::Missing;
    if (S_ISREG(st.st_mode)) return EntryKind::File;
    if (S_ISDIR(st.st_mode)) return EntryKind::Folder;
    return S_ISLNK(st.st_mode) ? EntryKind::Link : EntryKind::Other;
}

OwnedDescriptor openFileForReadingBelow(const std::wstring& root, const std::wstring& path) {
    const PlaceInFolder place = openParentBelow(root, path);
    if (!place.folder.isOpen()) return {};
    // A device is never opened at all: opening some has effects of its own.
    struct stat st {};
    if (::fstatat(place.folder.fd, place.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return {};
    if (!S_ISREG(st.st_mode)) {
        errno = ENOENT;
        return {};
    }
    // Non-blocking: a FIFO put in the file's place since the look above
    // cannot hold the open; the descriptor's own type decides.
    OwnedDescriptor file{::openat(place.folder.fd, place.name.c_str(),
                                  O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC)};
    if (!file.isOpen()) return {};
    if (::fstat(file.fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        errno = ENOENT;
        return {};
    }
    const int flags = ::fcntl(file.fd, F_GETFL);
    if (flags >= 0) ::fcntl(file.fd, F_SETFL, flags & ~O_NONBLOCK);
    return file;
}

OwnedDescriptor openFileForReading(const std::wstring& path) {
    if (path.find(kPathSeparator) == std::wstring::npos) {
        errno = EINVAL;
        return {};
    }
    return openFileForReadingBelow(parentFolder(path), path);
}

bool removeFileBelow(const std::wstring& root, const std::wstring& path) {
    const PlaceInFolder place = openParentBelow(root, path);
    if (!place.folder.isOpen()) return false;
    // Flags 0: a folder is refused (EISDIR), a link is removed itself.
    return ::unlinkat(place.folder.fd, place.name.c_str(), 0) == 0;
}
