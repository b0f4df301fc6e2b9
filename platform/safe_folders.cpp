#include "platform/safe_folders.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>
#include <vector>

#include "platform/file_system.h"
#include "platform/paths.h"
#include "platform/text.h"

namespace {

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

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

// Opens the root, then parts[0, count) one by one.
OwnedDescriptor openComponents(const std::wstring& root, const std::vector<std::string>& parts, size_t count,
                               const FolderModeFor& modeFor) {
    OwnedDescriptor current{::open(wideToUtf8(withoutTrailingSeparators(root)).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
    std::wstring path = withoutTrailingSeparators(root);
    for (size_t i = 0; i < count && current.isOpen(); ++i) {
        if (modeFor) path = joinPath(path, utf8ToWide(parts[i]));
        current = OwnedDescriptor{openChildFolder(current.fd, parts[i], path, modeFor)};
    }
    return current;
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

OwnedDescriptor openFolderBelow(const std::wstring& root, const std::wstring& folder, const FolderModeFor& modeFor) {
    std::vector<std::string> parts;
    if (!componentsBelow(root, folder, parts)) return {};
    return openComponents(root, parts, parts.size(), modeFor);
}

PlaceInFolder openParentBelow(const std::wstring& root, const std::wstring& path, const FolderModeFor& modeFor) {
    PlaceInFolder place;
    std::vector<std::string> parts;
    if (!componentsBelow(root, path, parts)) return place;
    if (parts.empty()) {
        errno = EINVAL;
        return place;
    }
    place.folder = openComponents(root, parts, parts.size() - 1, modeFor);
    place.name = parts.back();
    return place;
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
