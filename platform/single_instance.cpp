#include "platform/single_instance.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/paths.h"
#include "platform/text.h"

namespace {
std::mutex g_lockMutex;
int g_lockFd = -1;
std::string g_lockPath;
int g_listenFd = -1;
ShowRequestHandler g_showHandler = nullptr;

// How long a connected client may take to send its request, how many wait at
// once (the oldest is dropped for a newer one), and the client's own limit.
constexpr int kRequestReadMs = 1000;
constexpr size_t kMaxWaitingClients = 16;
constexpr int kClientSendMs = 2000;

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
// The socket of the instance that holds `lockPath`: named after its data
// folder, so instances on other data folders that share the runtime folder
// each keep their own.
std::string socketPath(const std::string& name, const std::string& lockPath) {
    const std::string folder = lockFolder();
    if (folder.empty()) return {};
    return joinPath(folder, name + "-" + dataFolderTag(lockPath) + ".sock");
}

bool fillAddress(const std::string& path, sockaddr_un& address) {
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address.sun_path) return false;
    std::memcpy(address.sun_path, path.c_str(), path.size());
    return true;
}

// Makes the missing folders above `path`, owner-only.
void makePrivateParents(const std::string& path) {
    for (size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1))
        mkdir(path.substr(0, slash).c_str(), 0700);
}

// The socket the lock file names: ours, in a private folder of ours, or "".
std::string socketNamedBy(const std::string& lockPath) {
    const int fd = open(lockPath.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return {};
    char text[sizeof(sockaddr_un::sun_path)] = {};
    const ssize_t n = read(fd, text, sizeof text - 1);
    close(fd);
    std::string path(text, n > 0 ? static_cast<size_t>(n) : 0);
    if (!path.empty() && path.back() == '\n') path.pop_back();
    const std::string folder = parentFolder(path);
    if (!isAbsolutePath(path) || folder == "/" || hasDotComponent(utf8ToWide(path))) return {};
    struct stat st {};
    if (!isPrivateFolder(folder) || lstat(path.c_str(), &st) != 0) return {};
    return S_ISSOCK(st.st_mode) && st.st_uid == geteuid() ? path : std::string();
}

int64_t nowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

struct WaitingClient {
    int fd;
    int64_t deadlineMs;
};

void runShowHandler() {
    ShowRequestHandler handler;
    {
        std::lock_guard<std::mutex> guard(g_lockMutex);
        handler = g_showHandler;
    }
    if (handler) handler();
}

// Takes every pending connection without blocking; a full list drops its
// oldest. False when the socket is shut down or broken.
bool acceptClients(int listenFd, std::vector<WaitingClient>& clients) {
    for (;;) {
        const int fd = accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR || errno == ECONNABORTED;
        if (clients.size() >= kMaxWaitingClients) {
            close(clients.front().fd);
            clients.erase(clients.begin());
        }
        clients.push_back({fd, nowMs() + kRequestReadMs});
    }
}

// Reads the clients that have something (or gave up, or ran out of time);
// each connection is one request at most.
void serveClients(const std::vector<pollfd>& polled, std::vector<WaitingClient>& clients) {
    const int64_t now = nowMs();
    std::vector<WaitingClient> waiting;
    for (size_t i = 0; i < clients.size(); ++i) {
        const WaitingClient& client = clients[i];
        if (polled[i + 1].revents == 0 && client.deadlineMs > now) {
            waiting.push_back(client);
            continue;
        }
        char request[8] = {};
        const ssize_t n = polled[i + 1].revents ? read(client.fd, request, sizeof request - 1) : -1;
        close(client.fd);
        if (n >= 4 && std::strncmp(request, "show", 4) == 0) runShowHandler();
    }
    clients.swap(waiting);
}

// Detached: it lives as long as the process, or until the socket is shut down.
void serveShowRequests(int listenFd) {
    std::vector<WaitingClient> clients;
    for (;;) {
        std::vector<pollfd> polled{{listenFd, POLLIN, 0}};
        int64_t wait = -1;
        for (const WaitingClient& client : clients) {
            polled.push_back({client.fd, POLLIN, 0});
            const int64_t left = std::max<int64_t>(0, client.deadlineMs - nowMs());
            wait = wait < 0 ? left : std::min(wait, left);
        }
        if (poll(polled.data(), polled.size(), static_cast<int>(wait)) < 0 && errno != EINTR) break;
        if (polled[0].revents & (POLLHUP | POLLERR | POLLNVAL)) break;  // shut down (tests) or broken
        serveClients(polled, clients);
        if ((polled[0].revents & POLLIN) && !acceptClients(listenFd, clients)) break;
    }
    for (const WaitingClient& client : clients) close(client.fd);
    close(listenFd);
}

// Writes the socket's path into the lock file, for starts in another environment.
void nameSocketInLockFile(const std::string& path) {
    const std::string text = path + "\n";
    if (ftruncate(g_lockFd, 0) == 0) (void)!pwrite(g_lockFd, text.data(), text.size(), 0);
}
}  // namespace

std::string privateRuntimeFolder() { return lockFolder(); }

InstanceLock acquireSingleInstanceLock(const std::string& lockPath, std::string& reason) {
    std::lock_guard<std::mutex> guard(g_lockMutex);
    if (g_lockFd >= 0) return InstanceLock::acquired;
    if (lockPath.empty() || lockPath[0] != '/') {
        reason = "the lock file's path is not absolute";
        return InstanceLock::failed;
    }
    makePrivateParents(lockPath);
    const int fd = open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        reason = std::strerror(errno);
        return InstanceLock::failed;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != geteuid()) {
        close(fd);
        reason = "the lock file is not a file of this user";
        return InstanceLock::failed;
    }
    if ((st.st_mode & 077) != 0) fchmod(fd, 0600);
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        close(fd);
        if (error == EWOULDBLOCK) return InstanceLock::heldByOther;
        reason = std::strerror(error);
        return InstanceLock::failed;
    }
    g_lockFd = fd;
    g_lockPath = lockPath;
    return InstanceLock::acquired;
}

std::string dataFolderTag(const std::string& lockPath) {
    uint64_t hash = 14695981039346656037ull;  // FNV-1a
    for (const unsigned char c : parentFolder(lockPath)) hash = (hash ^ c) * 1099511628211ull;
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
    return text;
}

std::string heldDataFolderTag() {
    std::lock_guard<std::mutex> guard(g_lockMutex);
    return g_lockPath.empty() ? std::string() : dataFolderTag(g_lockPath);
}

void releaseSingleInstanceLock() {
    std::lock_guard<std::mutex> guard(g_lockMutex);
    if (g_listenFd >= 0) shutdown(g_listenFd, SHUT_RDWR);  // the listener's poll returns
    g_listenFd = -1;
    g_showHandler = nullptr;
    if (g_lockFd >= 0) close(g_lockFd);
    g_lockFd = -1;
    g_lockPath.clear();
}

bool listenForShowRequests(const std::string& name, ShowRequestHandler handler) {
    std::lock_guard<std::mutex> guard(g_lockMutex);
    if (g_lockFd < 0) return false;
    g_showHandler = handler;
    if (g_listenFd >= 0) return true;
    sockaddr_un address;
    const std::string path = socketPath(name, g_lockPath);
    if (!fillAddress(path, address)) return false;
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return false;
    // A socket left by an instance of this data folder that ended without
    // removing it: the lock is ours and the folder private, so it is safe
    // to replace.
    unlink(path.c_str());
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(fd, 16) != 0) {
        close(fd);
        return false;
    }
    g_listenFd = fd;
    nameSocketInLockFile(path);
    std::thread(serveShowRequests, fd).detach();
    return true;
}

bool askRunningInstanceToShow(const std::string& lockPath, const std::string& name) {
    std::string path = socketNamedBy(lockPath);
    if (path.empty()) path = socketPath(name, lockPath);
    sockaddr_un address;
    if (!fillAddress(path, address)) return false;
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    // Bounds the connect (a full backlog) as well as the write.
    const timeval limit{kClientSendMs / 1000, (kClientSendMs % 1000) * 1000};
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    const bool sent = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                      write(fd, "show", 4) == 4;
    close(fd);
    return sent;
}
