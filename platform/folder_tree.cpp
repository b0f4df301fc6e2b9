#include "platform/folder_tree.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <vector>

#include "platform/text.h"
#include "platform/safe_folders.h"

namespace {

// Deeper folders stay: every level holds one open handle.
constexpr int kMaxDepth = 256;

std::vector<std::string> entryNames(int folderFd) {
    std::vector<std::string> names;
    const int copy = dup(folderFd);
    if (copy < 0) return names;
    DIR* dir = fdopendir(copy);
    if (!dir) {
        close(copy);
        return names;
    }
    while (const dirent* entry = readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
            names.emplace_back(entry->d_name);
    }
    closedir(dir);
    return names;
}

void clearFolder(int folderFd, bool files, int depth) {
    for (const std::string& name : entryNames(folderFd)) {
        struct stat st {};
        if (fstatat(folderFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
        if (!S_ISDIR(st.st_mode)) {
            if (files) unlinkat(folderFd, name.c_str(), 0);
            continue;
        }
        if (depth >= kMaxDepth) continue;
        // A folder swapped for a link since the stat fails to open here.
        const int sub = openat(folderFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (sub < 0) continue;
        clearFolder(sub, files, depth + 1);
        close(sub);
        unlinkat(folderFd, name.c_str(), AT_REMOVEDIR);  // only while it is an empty folder
    }
}

}  // namespace

bool removeBelowFolder(const std::wstring& root, const std::wstring& folder, bool files) {
    const OwnedDescriptor fd = openFolderBelow(root, folder);
    if (!fd.isOpen()) return false;
    clearFolder(fd.fd, files, 0);
    return true;
}

bool removeBelowFolder(const std::wstring& folder, bool files) {
    const int fd = open(wideToUtf8(folder).c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return false;
    clearFolder(fd, files, 0);
    close(fd);
    return true;
}
