#include "platform/file_system.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <set>
#include <sstream>

#include "platform/paths.h"
#include "platform/text.h"

namespace {

std::string narrow(const std::wstring& path) { return wideToUtf8(path); }

bool statPath(const std::wstring& path, struct stat& st) {
    return !path.empty() && ::stat(narrow(path).c_str(), &st) == 0;
}

}  // namespace

uint32_t readFileAttributes(const std::wstring& path) {
    struct stat st {};
    if (!statPath(path, st)) return kInvalidFileAttributes;
    uint32_t attributes = 0;
    if (S_ISDIR(st.st_mode)) attributes |= kFileAttributeDirectory;
    if (S_ISREG(st.st_mode)) attributes |= kFileAttributeArchive;
    if (!(st.st_mode & S_IWUSR)) attributes |= kFileAttributeReadOnly;
    const std::wstring name = lastPathComponent(path);
    if (name.size() > 1 && name[0] == L'.' && name != L"..") attributes |= kFileAttributeHidden;
    return attributes;
}

bool readFileSize(const std::wstring& path, uint64_t& size) {
    size = 0;
    struct stat st {};
    if (!statPath(path, st) || !S_ISREG(st.st_mode)) return false;
    size = static_cast<uint64_t>(st.st_size);
    return true;
}

bool readFileDataBytes(const std::wstring& path, uint64_t& bytes) {
    bytes = 0;
    struct stat st {};
    if (!statPath(path, st) || !S_ISREG(st.st_mode)) return false;
    bytes = std::min(static_cast<uint64_t>(st.st_size), static_cast<uint64_t>(st.st_blocks) * 512);
    return true;
}

bool readFileMode(const std::wstring& path, unsigned& mode) {
    struct stat st {};
    if (!statPath(path, st)) return false;
    mode = static_cast<unsigned>(st.st_mode) & 07777;
    return true;
}

bool readFolderOwner(const std::wstring& path, uint32_t& owner, unsigned& mode) {
    struct stat st {};
    if (!statPath(path, st) || !S_ISDIR(st.st_mode)) return false;
    owner = static_cast<uint32_t>(st.st_uid);
    mode = static_cast<unsigned>(st.st_mode) & 07777;
    return true;
}

uint32_t currentUserId() { return static_cast<uint32_t>(::geteuid()); }

bool readFileWriteTicks(const std::wstring& path, int64_t& ticks) {
    struct stat st {};
    if (!statPath(path, st)) return false;
    ticks = static_cast<int64_t>(st.st_mtim.tv_sec) * 10000000 + st.st_mtim.tv_nsec / 100;
    return true;
}

bool readFileStamp(const std::wstring& path, FileStamp& stamp) {
    struct stat st {};
    if (!statPath(path, st) || !S_ISREG(st.st_mode)) return false;
    stamp.size = static_cast<uint64_t>(st.st_size);
    stamp.seconds = static_cast<int64_t>(st.st_mtim.tv_sec);
    stamp.nanoseconds = static_cast<int64_t>(st.st_mtim.tv_nsec);
    return true;
}

namespace {

int64_t ticksOf(const struct timespec& time) {
    return static_cast<int64_t>(time.tv_sec) * 10000000 + time.tv_nsec / 100;
}

bool fileStateOf(int result, const struct stat& st, FileState& state) {
    state = FileState();
    if (result != 0) return false;
    state.exists = true;
    state.device = static_cast<uint64_t>(st.st_dev);
    state.inode = static_cast<uint64_t>(st.st_ino);
    state.size = static_cast<uint64_t>(st.st_size);
    state.modifiedTicks = ticksOf(st.st_mtim);
    state.changedTicks = ticksOf(st.st_ctim);
    return true;
}

}  // namespace

bool readFileState(const std::wstring& path, FileState& state) {
    struct stat st {};
    return fileStateOf(path.empty() ? -1 : ::lstat(narrow(path).c_str(), &st), st, state);
}

bool readFileStateAt(int folder, const std::string& name, FileState& state) {
    struct stat st {};
    return fileStateOf(::fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW), st, state);
}

bool readFreeSpace(const std::wstring& path, uint64_t& bytes) {
    bytes = 0;
    if (!isAbsolutePath(path)) return false;
    std::wstring probe = path;
    struct statvfs vfs {};
    while (::statvfs(narrow(probe).c_str(), &vfs) != 0) {
        if (errno != ENOENT && errno != ENOTDIR) return false;
        if (probe == kPathSeparatorText) return false;
        probe = parentFolder(probe);
    }
    bytes = static_cast<uint64_t>(vfs.f_bavail) * vfs.f_frsize;
    return true;
}

bool isFileLockedForWriting(const std::wstring& path) {
    const std::string name = narrow(path);
    struct stat st {};
    if (name.empty() || ::stat(name.c_str(), &st) != 0) return true;
    if (::faccessat(AT_FDCWD, name.c_str(), W_OK, AT_EACCESS) != 0) return true;
    if (S_ISDIR(st.st_mode)) return false;
    // Never opened for writing: closing such a descriptor is a change to a
    // watch (close-after-write), so the test would make the file a change.
    const int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW);
    if (fd < 0) return true;
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    const bool held = ::fcntl(fd, F_OFD_GETLK, &lock) == 0 && lock.l_type != F_UNLCK;
    ::close(fd);
    return held;
}

std::wstring nameOfOpenFile(int fd) {
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size == 0) return L"";
    if (st.st_nlink == 0) return L"";  // deleted: the name would be stale
    const std::string link = "/proc/self/fd/" + std::to_string(fd);
    std::string target(4096, '\0');
    const ssize_t length = ::readlink(link.c_str(), target.data(), target.size());
    if (length <= 0 || static_cast<size_t>(length) >= target.size()) return L"";
    target.resize(static_cast<size_t>(length));
    if (target.front() != '/') return L"";
    return pathKey(utf8ToWide(target));
}

bool listFolderEntries(const std::wstring& folder, std::vector<FolderEntry>& entries) {
    DIR* dir = ::opendir(narrow(folder).c_str());
    if (!dir) return false;
    const int dirFd = ::dirfd(dir);
    while (const dirent* item = ::readdir(dir)) {
        const std::string name = item->d_name;
        if (name == "." || name == "..") continue;
        FolderEntry entry;
        entry.name = utf8ToWide(name);
        unsigned char type = item->d_type;
        struct stat st {};
        if (type == DT_UNKNOWN) {
            if (::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
            type = S_ISDIR(st.st_mode) ? DT_DIR : S_ISLNK(st.st_mode) ? DT_LNK : S_ISREG(st.st_mode) ? DT_REG : DT_FIFO;
        }
        entry.isFolder = type == DT_DIR;
        entry.isLink = type == DT_LNK;
        if (entry.isLink && ::fstatat(dirFd, name.c_str(), &st, 0) == 0) entry.linkToFolder = S_ISDIR(st.st_mode);
        // Only regular files are ever read as files: a FIFO would hold an
        // open, and a link to a file may lead out of the folder.
        if (!entry.isFolder && !entry.linkToFolder && type != DT_REG) continue;
        entries.push_back(std::move(entry));
    }
    ::closedir(dir);
    return true;
}

int64_t readFileAt(int fd, uint64_t offset, char* buffer, size_t size) {
    size_t done = 0;
    while (done < size) {
        const ssize_t got = ::pread(fd, buffer + done, size - done, static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return -1;
        if (got == 0) break;
        done += static_cast<size_t>(got);
    }
    return static_cast<int64_t>(done);
}

bool makeFolder(const std::wstring& path, unsigned mode) {
    if (!isAbsolutePath(path)) return false;
    const std::string name = narrow(path);
    if (::mkdir(name.c_str(), static_cast<mode_t>(mode)) == 0) return true;
    struct stat st {};
    return errno == EEXIST && ::stat(name.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool removeFile(const std::wstring& path) {
    return isAbsolutePath(path) && ::unlink(narrow(path).c_str()) == 0;
}

bool removeFolder(const std::wstring& path) {
    return isAbsolutePath(path) && ::rmdir(narrow(path).c_str()) == 0;
}

// ---- mount points ----

namespace {

// File systems that hold a user's files on a local device.
const std::set<std::string>& localFileSystemTypes() {
    static const std::set<std::string> types = {
        "ext2", "ext3", "ext4", "xfs", "btrfs", "f2fs", "jfs", "reiserfs", "zfs", "bcachefs",
        "nilfs2", "vfat", "msdos", "exfat", "ntfs", "ntfs3", "fuseblk", "hfs", "hfsplus", "udf"};
    return types;
}

// /proc/self/mounts writes space, tab, newline and backslash as \ooo.
std::string decodeMountField(const std::string& field) {
    std::string out;
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            const std::string digits = field.substr(i + 1, 3);
            if (std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '7'; })) {
                out += static_cast<char>(std::stoi(digits, nullptr, 8));
                i += 3;
                continue;
            }
        }
        out += field[i];
    }
    return out;
}

std::mutex g_mountMutex;
std::optional<std::string> g_mountOverride;

std::string readMountTable() {
    {
        std::lock_guard<std::mutex> lock(g_mountMutex);
        if (g_mountOverride) return *g_mountOverride;
    }
    std::ifstream in("/proc/self/mounts");
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::wstring homeFolder() {
    const char* home = std::getenv("HOME");
    return (home && *home == '/') ? utf8ToWide(home) : L"";
}

}  // namespace

std::vector<std::wstring> parseMountTable(std::string_view text) {
    std::vector<std::wstring> points;
    std::istringstream lines{std::string(text)};
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string device, mountPoint, type;
        if (!(fields >> device >> mountPoint >> type)) continue;
        if (!localFileSystemTypes().count(type)) continue;
        const std::string decoded = decodeMountField(mountPoint);
        if (decoded.empty() || decoded.front() != '/') continue;
        const std::wstring root = withTrailingSeparator(utf8ToWide(decoded));
        if (std::find(points.begin(), points.end(), root) == points.end()) points.push_back(root);
    }
    return points;
}

void setMountTableOverride(std::optional<std::string> text) {
    std::lock_guard<std::mutex> lock(g_mountMutex);
    g_mountOverride = std::move(text);
}

std::vector<std::wstring> listDriveRoots() {
    std::vector<std::wstring> roots;
    for (const std::wstring& point : parseMountTable(readMountTable())) {
        const uint32_t attributes = readFileAttributes(point);
        if (attributes != kInvalidFileAttributes && (attributes & kFileAttributeDirectory)) roots.push_back(point);
    }
    return roots;
}

std::vector<std::wstring> listWritableDriveRoots() {
    std::vector<std::wstring> roots = listDriveRoots();
    const std::wstring home = homeFolder();
    if (home.empty()) return roots;
    // The mount point that holds $HOME is the longest one it lies inside.
    size_t best = roots.size();
    for (size_t i = 0; i < roots.size(); ++i) {
        if (pathIsInside(home, roots[i]) && (best == roots.size() || roots[i].size() > roots[best].size())) best = i;
    }
    if (best == roots.size()) return roots;
    const std::wstring homeRoot = withTrailingSeparator(home);
    roots[best] = homeRoot;
    roots.erase(std::unique(roots.begin(), roots.end()), roots.end());
    return roots;
}

std::vector<std::wstring> listBrowseRoots() {
    std::vector<std::wstring> roots{kPathSeparatorText};
    for (const std::wstring& root : listDriveRoots()) {
        if (root != kPathSeparatorText) roots.push_back(root);
    }
    return roots;
}
