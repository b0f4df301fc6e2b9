#include "platform/folder_listing.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

namespace {

void fillFromStat(const struct stat& st, ListedEntry& entry) {
    entry.isFolder = S_ISDIR(st.st_mode);
    entry.size = entry.isFolder ? 0 : static_cast<uint64_t>(st.st_size);
    entry.modifiedSeconds = static_cast<int64_t>(st.st_mtim.tv_sec);
}

bool isFolderOrFile(const struct stat& st) { return S_ISDIR(st.st_mode) || S_ISREG(st.st_mode); }

// Types that are never followed or opened: a FIFO would block an open.
bool isSpecialType(unsigned char type) {
    return type == DT_FIFO || type == DT_SOCK || type == DT_CHR || type == DT_BLK;
}

}  // namespace

int listFolderBytes(const std::string& folder, std::vector<ListedEntry>& entries) {
    if (folder.empty()) return ENOENT;
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return errno;
    const int dirFd = ::dirfd(dir);
    while (const dirent* item = ::readdir(dir)) {
        if (isSpecialType(item->d_type)) continue;
        ListedEntry entry;
        entry.name = item->d_name;
        struct stat st {};
        if (item->d_type == DT_LNK) {
            entry.isLink = true;
        } else if (item->d_type == DT_UNKNOWN) {
            if (::fstatat(dirFd, item->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
            entry.isLink = S_ISLNK(st.st_mode);
            if (!entry.isLink && !isFolderOrFile(st)) continue;
        }
        if (::fstatat(dirFd, item->d_name, &st, 0) != 0 || !isFolderOrFile(st)) continue;
        fillFromStat(st, entry);
        entries.push_back(std::move(entry));
    }
    ::closedir(dir);
    return 0;
}

int openFolderError(const std::string& path) {
    if (path.empty()) return ENOENT;
    DIR* dir = ::opendir(path.c_str());
    if (!dir) return errno;
    ::closedir(dir);
    return 0;
}

bool canReadRegularFile(const std::string& path) {
    struct stat st {};
    if (path.empty() || ::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    return ::access(path.c_str(), R_OK) == 0;
}

bool pathExists(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::lstat(path.c_str(), &st) == 0;
}

int makeOneFolder(const std::string& path) {
    if (path.empty()) return ENOENT;
    return ::mkdir(path.c_str(), 0755) == 0 ? 0 : errno;
}

bool statListedEntry(const std::string& path, ListedEntry& entry) {
    struct stat st {};
    if (path.empty() || ::stat(path.c_str(), &st) != 0) return false;
    fillFromStat(st, entry);
    return true;
}

std::string workingFolder() {
    char buffer[PATH_MAX];
    if (!::getcwd(buffer, sizeof buffer)) return "/";
    return buffer;
}
