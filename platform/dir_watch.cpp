#include "platform/dir_watch.h"

#include <dirent.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <system_error>
#include <unordered_map>

#include "platform/paths.h"
#include "platform/text.h"

namespace {

// Events that mean a file changed. Reads (IN_ACCESS, IN_CLOSE_NOWRITE) are
// left out on purpose: reading a file is not a change.
constexpr uint32_t kChangeMask = IN_CLOSE_WRITE | IN_MODIFY | IN_CREATE | IN_MOVED_TO | IN_DELETE |
                                 IN_MOVED_FROM | IN_DELETE_SELF | IN_MOVE_SELF | IN_EXCL_UNLINK | IN_ONLYDIR;
constexpr size_t kReadBufferSize = 64 * 1024;
// Reads per wait; a flood is handed over in slices instead of one huge batch.
constexpr int kReadsPerWait = 64;

std::atomic<size_t> g_folderLimit{0};

}  // namespace

struct DirWatch {
    std::string root;  // UTF-8, no trailing separator
    bool recursive = false;
    int inotifyFd = -1;
    int stopFd = -1;
    std::atomic<bool> stopRequested{false};

    std::mutex mutex;  // guards everything below and reading inotifyFd
    int rootWatch = -1;
    std::unordered_map<int, std::string> folderByWatch;
    std::map<std::string, int> watchByFolder;
    bool outOfWatchesReported = false;
    bool gone = false;
    std::unordered_map<uint32_t, size_t> movedFrom;  // rename cookie -> change index, per batch
    alignas(inotify_event) char buffer[kReadBufferSize];

    ~DirWatch() {
        if (inotifyFd >= 0) close(inotifyFd);
        if (stopFd >= 0) close(stopFd);
    }
};

namespace {

std::string sysctlValue(const char* file) {
    std::ifstream in(file);
    std::string value;
    in >> value;
    return value.empty() ? "?" : value;
}

std::wstring outOfWatchesText(const std::string& root) {
    return utf8ToWide("Out of inotify watches (fs.inotify.max_user_watches = " +
                      sysctlValue("/proc/sys/fs/inotify/max_user_watches") + "): some folders below " + root +
                      " are not watched; raise fs.inotify.max_user_watches to watch them");
}

void addChange(DirChangeBatch& batch, DirChangeAction action, const std::string& path, bool isFolder) {
    std::wstring wide = utf8ToWide(path);
    // A write shows up as modify and close-after-write: one is enough.
    if (!batch.changes.empty()) {
        const DirChange& last = batch.changes.back();
        if (last.action == action && action == DirChangeAction::Modified && last.path == wide) return;
    }
    batch.changes.push_back(DirChange{action, std::move(wide), isFolder});
}

void forgetWatch(DirWatch& w, int wd) {
    auto it = w.folderByWatch.find(wd);
    if (it == w.folderByWatch.end()) return;
    auto byFolder = w.watchByFolder.find(it->second);
    if (byFolder != w.watchByFolder.end() && byFolder->second == wd) w.watchByFolder.erase(byFolder);
    w.folderByWatch.erase(it);
}

// Adds (or refreshes) the watch of one folder; -1 when it cannot be watched.
int addWatch(DirWatch& w, const std::string& folder, std::vector<std::wstring>& problems) {
    const size_t limit = g_folderLimit.load();
    int wd = -1;
    if (limit != 0 && w.watchByFolder.size() >= limit && !w.watchByFolder.count(folder)) {
        errno = ENOSPC;
    } else {
        const uint32_t follow = folder == w.root ? 0 : IN_DONT_FOLLOW;
        wd = inotify_add_watch(w.inotifyFd, folder.c_str(), kChangeMask | follow);
    }
    if (wd < 0) {
        if (errno == ENOSPC && !w.outOfWatchesReported) {
            w.outOfWatchesReported = true;
            problems.push_back(outOfWatchesText(w.root));
        } else if (errno != ENOSPC && errno != ENOENT && errno != ENOTDIR) {
            problems.push_back(utf8ToWide("Cannot watch folder " + folder + ": " + std::strerror(errno)));
        }
        return -1;
    }
    // The same folder reached under a new name (a rename we did not see).
    auto known = w.folderByWatch.find(wd);
    if (known != w.folderByWatch.end() && known->second != folder) forgetWatch(w, wd);
    auto old = w.watchByFolder.find(folder);
    if (old != w.watchByFolder.end() && old->second != wd) w.folderByWatch.erase(old->second);
    w.folderByWatch[wd] = folder;
    w.watchByFolder[folder] = wd;
    return wd;
}

bool isRealFolder(const std::string& path, const dirent& entry) {
    if (entry.d_type == DT_DIR) return true;
    if (entry.d_type != DT_UNKNOWN) return false;
    struct stat st {};
    return lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Watches `top` and every folder below it. With `batch`, everything found
// below `top` is reported as added: it may have been written before the
// watch existed. `seen` collects the folders watched.
void watchTree(DirWatch& w, const std::string& top, DirChangeBatch* batch, std::vector<std::wstring>& problems,
               std::set<int>* seen) {
    std::vector<std::string> pending{top};
    while (!pending.empty()) {
        const std::string folder = std::move(pending.back());
        pending.pop_back();
        const int wd = addWatch(w, folder, problems);
        if (wd >= 0 && seen) seen->insert(wd);
        DIR* dir = opendir(folder.c_str());
        if (!dir) continue;
        while (const dirent* entry = readdir(dir)) {
            const std::string_view name = entry->d_name;
            if (name == "." || name == "..") continue;
            const std::string path = joinPath(folder, name);
            const bool isFolder = isRealFolder(path, *entry);
            if (isFolder) pending.push_back(path);
            if (batch) addChange(*batch, DirChangeAction::Added, path, isFolder);
        }
        closedir(dir);
    }
}

// Drops the watches of `folder` and everything below it.
void unwatchTree(DirWatch& w, const std::string& folder) {
    std::vector<int> drop;
    auto self = w.watchByFolder.find(folder);
    if (self != w.watchByFolder.end()) drop.push_back(self->second);
    const std::string prefix = folder + "/";
    for (auto it = w.watchByFolder.lower_bound(prefix);
         it != w.watchByFolder.end() && it->first.compare(0, prefix.size(), prefix) == 0; ++it) {
        drop.push_back(it->second);
    }
    for (int wd : drop) {
        inotify_rm_watch(w.inotifyFd, wd);  // fails harmlessly when the kernel already dropped it
        forgetWatch(w, wd);
    }
}

void onFolderGone(DirWatch& w, DirChangeBatch& batch) {
    if (w.gone) return;
    w.gone = true;
    batch.folderGone = true;
    batch.problems.push_back(utf8ToWide("Watched folder " + w.root + " was removed or moved away"));
    std::vector<int> all;
    for (const auto& entry : w.folderByWatch) all.push_back(entry.first);
    for (int wd : all) {
        inotify_rm_watch(w.inotifyFd, wd);
        forgetWatch(w, wd);
    }
}

// After lost events the watch list may miss new folders or hold stale ones:
// walk the tree again and keep exactly what is there.
void resyncWatches(DirWatch& w, DirChangeBatch& batch) {
    std::set<int> seen;
    watchTree(w, w.root, nullptr, batch.problems, &seen);
    if (!seen.count(w.rootWatch)) {
        onFolderGone(w, batch);
        return;
    }
    std::vector<int> stale;
    for (const auto& [wd, folder] : w.folderByWatch) {
        if (!seen.count(wd)) stale.push_back(wd);
    }
    for (int wd : stale) {
        inotify_rm_watch(w.inotifyFd, wd);
        forgetWatch(w, wd);
    }
}

void onOverflow(DirWatch& w, DirChangeBatch& batch) {
    if (!batch.overflow) {
        batch.problems.push_back(utf8ToWide("Change notifications for " + w.root +
                                            " overflowed (fs.inotify.max_queued_events); changes since then "
                                            "need a rescan"));
    }
    batch.overflow = true;
    if (w.recursive && !w.gone) resyncWatches(w, batch);
}

// Events about a watched folder itself (removed, moved, watch dropped).
void onFolderEvent(DirWatch& w, const inotify_event& e, const std::string& folder, DirChangeBatch& batch) {
    if (e.wd == w.rootWatch && (e.mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED))) {
        onFolderGone(w, batch);
    } else if (e.mask & IN_IGNORED) {
        forgetWatch(w, e.wd);
    } else if (e.mask & IN_MOVE_SELF) {
        unwatchTree(w, folder);  // moved out without us seeing it leave
    }
}

void onNamedEvent(DirWatch& w, const inotify_event& e, const std::string& path, DirChangeBatch& batch) {
    const bool isFolder = (e.mask & IN_ISDIR) != 0;
    if (e.mask & IN_CREATE) {
        addChange(batch, DirChangeAction::Added, path, isFolder);
        if (isFolder && w.recursive) watchTree(w, path, &batch, batch.problems, nullptr);
    }
    if (e.mask & IN_MOVED_FROM) {
        w.movedFrom[e.cookie] = batch.changes.size();
        batch.changes.push_back(DirChange{DirChangeAction::RenamedOldName, utf8ToWide(path), isFolder});
        if (isFolder) unwatchTree(w, path);
    }
    if (e.mask & IN_MOVED_TO) {
        auto pair = w.movedFrom.find(e.cookie);
        const bool renamed = pair != w.movedFrom.end();
        if (renamed) w.movedFrom.erase(pair);
        // Moved in from outside the watched tree: new here.
        addChange(batch, renamed ? DirChangeAction::RenamedNewName : DirChangeAction::Added, path, isFolder);
        if (isFolder && w.recursive) {
            unwatchTree(w, path);
            watchTree(w, path, &batch, batch.problems, nullptr);
        }
    }
    if (e.mask & IN_DELETE) {
        addChange(batch, DirChangeAction::Removed, path, isFolder);
        if (isFolder) unwatchTree(w, path);
    }
    if (e.mask & (IN_MODIFY | IN_CLOSE_WRITE)) addChange(batch, DirChangeAction::Modified, path, isFolder);
}

void handleEvent(DirWatch& w, const inotify_event& e, std::string_view name, DirChangeBatch& batch) {
    if (e.mask & IN_Q_OVERFLOW) {
        onOverflow(w, batch);
        return;
    }
    auto it = w.folderByWatch.find(e.wd);
    if (it == w.folderByWatch.end()) return;  // a watch already dropped
    const std::string folder = it->second;
    if (e.mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED)) {
        onFolderEvent(w, e, folder, batch);
    } else if (!name.empty()) {
        onNamedEvent(w, e, joinPath(folder, name), batch);
    }
}

void handleBuffer(DirWatch& w, size_t length, DirChangeBatch& batch) {
    size_t offset = 0;
    while (offset + sizeof(inotify_event) <= length) {
        inotify_event e;
        std::memcpy(&e, w.buffer + offset, sizeof e);
        const char* namePtr = w.buffer + offset + sizeof e;
        const std::string_view name(namePtr, e.len ? strnlen(namePtr, e.len) : 0);
        handleEvent(w, e, name, batch);
        offset += sizeof e + e.len;
    }
}

// Reads every event waiting now. Caller holds the mutex.
void readEvents(DirWatch& w, DirChangeBatch& batch) {
    w.movedFrom.clear();
    for (int round = 0; round < kReadsPerWait; ++round) {
        const ssize_t n = read(w.inotifyFd, w.buffer, sizeof w.buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN) {
            batch.problems.push_back(utf8ToWide("Reading change notifications for " + w.root +
                                                " failed: " + std::strerror(errno)));
        }
        if (n <= 0) break;
        handleBuffer(w, static_cast<size_t>(n), batch);
    }
    // A rename whose other half lies outside the watched tree moved the entry out.
    for (const auto& [cookie, index] : w.movedFrom) batch.changes[index].action = DirChangeAction::Removed;
    w.movedFrom.clear();
}

bool batchHasNews(const DirChangeBatch& batch) {
    return !batch.changes.empty() || !batch.problems.empty() || batch.overflow || batch.folderGone;
}

int remainingMs(std::chrono::steady_clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

}  // namespace

DirWatchPtr openDirWatch(std::wstring_view folder, bool recursive, std::vector<std::wstring>& problems) {
    auto w = std::make_shared<DirWatch>();
    w->root = withoutTrailingSeparators(wideToUtf8(folder));
    w->recursive = recursive;
    w->inotifyFd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (w->inotifyFd < 0) {
        const int error = errno;
        std::string text = "Cannot watch folder " + w->root + ": " + std::strerror(error);
        if (error == EMFILE) text += " (fs.inotify.max_user_instances = " +
                                     sysctlValue("/proc/sys/fs/inotify/max_user_instances") + ")";
        problems.push_back(utf8ToWide(text));
        return nullptr;
    }
    w->stopFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (w->stopFd < 0) {
        problems.push_back(utf8ToWide("Cannot watch folder " + w->root + ": " + std::strerror(errno)));
        return nullptr;
    }
    std::lock_guard<std::mutex> lock(w->mutex);
    w->rootWatch = inotify_add_watch(w->inotifyFd, w->root.c_str(), kChangeMask);
    if (w->rootWatch < 0) {
        const int error = errno;
        problems.push_back(error == ENOSPC ? outOfWatchesText(w->root)
                                           : utf8ToWide("Cannot watch folder " + w->root + ": " +
                                                        std::strerror(error)));
        return nullptr;
    }
    w->folderByWatch[w->rootWatch] = w->root;
    w->watchByFolder[w->root] = w->rootWatch;
    if (recursive) watchTree(*w, w->root, nullptr, problems, nullptr);
    return w;
}

DirWaitResult waitDirChanges(DirWatch& w, int timeoutMs, DirChangeBatch& batch) {
    batch = DirChangeBatch{};
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
    for (;;) {
        if (w.stopRequested.load()) return DirWaitResult::Stopped;
        pollfd fds[2] = {{w.inotifyFd, POLLIN, 0}, {w.stopFd, POLLIN, 0}};
        const int ready = poll(fds, 2, timeoutMs < 0 ? -1 : remainingMs(deadline));
        if (ready < 0 && errno != EINTR) throw std::system_error(errno, std::generic_category(), "poll");
        if (fds[1].revents != 0 || w.stopRequested.load()) return DirWaitResult::Stopped;
        if (ready > 0 && (fds[0].revents & POLLIN)) {
            std::lock_guard<std::mutex> lock(w.mutex);
            readEvents(w, batch);
            if (batchHasNews(batch)) return DirWaitResult::Reported;
        }
        if (timeoutMs >= 0 && remainingMs(deadline) == 0) return DirWaitResult::TimedOut;
    }
}

void stopDirWatch(DirWatch& w) {
    w.stopRequested.store(true);
    // Never read back: the descriptor stays readable, so every waiter wakes.
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = write(w.stopFd, &one, sizeof one);
}

size_t dirWatchFolderCount(DirWatch& w) {
    std::lock_guard<std::mutex> lock(w.mutex);
    return w.watchByFolder.size();
}

void setDirWatchLimitForTests(size_t maxFolders) { g_folderLimit.store(maxFolders); }
