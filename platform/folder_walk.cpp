#include "platform/folder_walk.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <vector>

#include "platform/paths.h"
#include "platform/text.h"

namespace {

enum class EntryKind { Other, Folder, File };

// The entry as it is, links not followed: a link is neither folder nor file.
EntryKind kindOf(int folderFd, const dirent& item) {
    if (item.d_type == DT_DIR) return EntryKind::Folder;
    if (item.d_type == DT_REG) return EntryKind::File;
    if (item.d_type != DT_UNKNOWN) return EntryKind::Other;
    struct stat st {};
    if (::fstatat(folderFd, item.d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) return EntryKind::Other;
    return S_ISDIR(st.st_mode) ? EntryKind::Folder : S_ISREG(st.st_mode) ? EntryKind::File : EntryKind::Other;
}

// The walk's start may be reached through a link (a watch folder may be
// one); every folder below it is opened without following one, so a folder
// swapped for a link after it was listed is not entered.
DIR* openWalkFolder(const std::wstring& path, bool top) {
    const int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | (top ? 0 : O_NOFOLLOW);
    const int fd = ::open(wideToUtf8(path).c_str(), flags);
    if (fd < 0) return nullptr;
    DIR* dir = ::fdopendir(fd);
    if (!dir) ::close(fd);
    return dir;
}

// Lists one folder; false when a visitor stopped the walk.
bool walkOneFolder(DIR* dir, const std::wstring& folder, bool recursive, const WalkVisitor& onFolder,
                   const WalkVisitor& onFile, std::vector<std::wstring>& work) {
    while (const dirent* item = ::readdir(dir)) {
        if (std::strcmp(item->d_name, ".") == 0 || std::strcmp(item->d_name, "..") == 0) continue;
        const EntryKind kind = kindOf(::dirfd(dir), *item);
        if (kind == EntryKind::Other) continue;
        std::wstring path = joinPath(folder, utf8ToWide(item->d_name));
        const WalkStep step = kind == EntryKind::Folder ? onFolder(path) : onFile(path);
        if (step == WalkStep::Stop) return false;
        if (kind == EntryKind::Folder && recursive && step == WalkStep::Go) work.push_back(std::move(path));
    }
    return true;
}

}  // namespace

bool walkFolderFiles(const std::wstring& folder, bool recursive, const WalkVisitor& onFolder,
                     const WalkVisitor& onFile) {
    std::vector<std::wstring> work{withoutTrailingSeparators(folder)};
    for (size_t i = 0; i < work.size(); ++i) {
        const std::wstring current = work[i];  // the list grows while it is read
        DIR* dir = openWalkFolder(current, i == 0);
        if (!dir) continue;
        const bool going = walkOneFolder(dir, current, recursive, onFolder, onFile, work);
        ::closedir(dir);
        if (!going) return false;
    }
    return true;
}

WalkStep enterEveryFolder(const std::wstring&) { return WalkStep::Go; }
