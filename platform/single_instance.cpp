#include "platform/single_instance.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>

namespace {
std::mutex g_lockMutex;
int g_lockFd = -1;

// A folder only this user can write: never trust one owned by someone else.
bool isPrivateFolder(const std::string& path) {
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0) return false;
    return S_ISDIR(st.st_mode) && st.st_uid == geteuid() && (st.st_mode & 077) == 0;
}

std::string lockFolder() {
    const char* runtime = getenv("XDG_RUNTIME_DIR");
    if (runtime && runtime[0] == '/' && isPrivateFolder(runtime)) return runtime;
    const std::string fallback = "/tmp/varnholt-" + std::to_string(geteuid());
    if (mkdir(fallback.c_str(), 0700) != 0 && errno != EEXIST) return {};
    return isPrivateFolder(fallback) ? fallback : std::string();
}
}  // namespace

std::string singleInstanceLockPath(const std::string& name) {
    const std::string folder = lockFolder();
    if (folder.empty()) return {};
    return folder + "/" + name + ".lock";
}

InstanceLock acquireSingleInstanceLock(const std::string& name) {
    std::lock_guard<std::mutex> guard(g_lockMutex);
    if (g_lockFd >= 0) return InstanceLock::acquired;
    const std::string path = singleInstanceLockPath(name);
    if (path.empty()) return InstanceLock::failed;
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return InstanceLock::failed;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const bool busy = errno == EWOULDBLOCK;
        close(fd);
        return busy ? InstanceLock::heldByOther : InstanceLock::failed;
    }
    g_lockFd = fd;
    return InstanceLock::acquired;
}

void releaseSingleInstanceLock() {
    std::lock_guard<std::mutex> guard(g_lockMutex);
    if (g_lockFd >= 0) close(g_lockFd);
    g_lockFd = -1;
}
