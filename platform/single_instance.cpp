#include "platform/single_instance.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <thread>

namespace {
std::mutex g_lockMutex;
int g_lockFd = -1;
int g_listenFd = -1;
ShowRequestHandler g_showHandler = nullptr;

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
std::string socketPath(const std::string& name) {
    const std::string folder = lockFolder();
    return folder.empty() ? std::string() : folder + "/" + name + ".sock";
}

bool fillAddress(const std::string& path, sockaddr_un& address) {
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address.sun_path) return false;
    std::memcpy(address.sun_path, path.c_str(), path.size());
    return true;
}

// Detached: it lives as long as the process. Every connection is one request.
void serveShowRequests(int listenFd) {
    for (;;) {
        const int fd = accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED) continue;
            close(listenFd);  // shut down (tests) or broken
            return;
        }
        char request[8] = {};
        const ssize_t n = read(fd, request, sizeof request - 1);
        close(fd);
        ShowRequestHandler handler;
        {
            std::lock_guard<std::mutex> guard(g_lockMutex);
            handler = g_showHandler;
        }
        if (n > 0 && std::strncmp(request, "show", 4) == 0 && handler) handler();
    }
}
}  // namespace

std::string privateRuntimeFolder() { return lockFolder(); }

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
    if (g_listenFd >= 0) shutdown(g_listenFd, SHUT_RDWR);  // the listener's accept returns
    g_listenFd = -1;
    g_showHandler = nullptr;
    if (g_lockFd >= 0) close(g_lockFd);
    g_lockFd = -1;
}

bool listenForShowRequests(const std::string& name, ShowRequestHandler handler) {
    std::lock_guard<std::mutex> guard(g_lockMutex);
    if (g_lockFd < 0) return false;
    g_showHandler = handler;
    if (g_listenFd >= 0) return true;
    sockaddr_un address;
    const std::string path = socketPath(name);
    if (!fillAddress(path, address)) return false;
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    // A socket left by an instance that ended without removing it: the lock
    // is ours and the folder private, so it is safe to replace.
    unlink(path.c_str());
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(fd, 4) != 0) {
        close(fd);
        return false;
    }
    g_listenFd = fd;
    std::thread(serveShowRequests, fd).detach();
    return true;
}

bool askRunningInstanceToShow(const std::string& name) {
    sockaddr_un address;
    if (!fillAddress(socketPath(name), address)) return false;
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    const bool sent = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                      write(fd, "show", 4) == 4;
    close(fd);
    return sent;
}
