#include "platform/file_copy.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <limits>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <vector>

#include "platform/file_system.h"
#include "platform/paths.h"
#include "platform/safe_folders.h"
#include "platform/text.h"

namespace {

constexpr std::wstring_view kTempPrefix = L".varnholt-copy-";
constexpr std::wstring_view kTempSuffix = L".tmp";
constexpr off_t kPlainReadAheadBytes = 128 << 10;

std::wstring randomSuffix() {
    static const wchar_t digits[] = L"0123456789abcdef";
    thread_local std::mt19937_64 engine{std::random_device{}()};
    std::wstring text;
    uint64_t value = engine();
    for (int i = 0; i < 16; ++i, value >>= 4) text += digits[value & 15];
    return text;
}

// Creates the temporary file in the target's folder; returns its descriptor.
int createTemporary(int folder, std::string& tempName) {
    for (int attempt = 0; attempt < 16; ++attempt) {
        tempName = wideToUtf8(std::wstring(kTempPrefix) + randomSuffix() + std::wstring(kTempSuffix));
        const int fd = ::openat(folder, tempName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
}

bool cancelRequested(const std::atomic<int>* cancel) {
    return cancel && cancel->load(std::memory_order_relaxed) != 0;
}

bool rangeCopyUnsupported(int error) {
    return error == EXDEV || error == ENOSYS || error == EOPNOTSUPP || error == EINVAL || error == EBADF ||
           error == ETXTBSY;
}

// Moves up to `limit` bytes with read/write at `offset`; bytes moved or -1.
ssize_t copyChunkByReadWrite(int in, int out, off_t offset, uint64_t limit, std::vector<char>& buffer) {
    if (buffer.empty()) buffer.resize(1 << 20);
    uint64_t moved = 0;
    while (moved < limit) {
        const size_t want = static_cast<size_t>(std::min<uint64_t>(buffer.size(), limit - moved));
        const off_t at = offset + static_cast<off_t>(moved);
        const ssize_t got = ::pread(in, buffer.data(), want, at);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return got < 0 ? -1 : static_cast<ssize_t>(moved);
        for (ssize_t written = 0; written < got;) {
            const ssize_t put =
                ::pwrite(out, buffer.data() + written, static_cast<size_t>(got - written), at + written);
            if (put < 0 && errno == EINTR) continue;
            if (put <= 0) return -1;
            written += put;
        }
        moved += static_cast<uint64_t>(got);
    }
    return static_cast<ssize_t>(moved);
}

// The source's next run of data at or after `offset`, as [start, end). False
// when only a hole follows up to the end of the file. A file system that
// cannot tell holes apart reads as one run of data.
bool nextDataRun(int in, off_t offset, off_t& start, off_t& end) {
    start = ::lseek(in, offset, SEEK_DATA);
    if (start < 0 && errno == ENXIO) return false;
    if (start < 0) {
        start = offset;
        end = std::numeric_limits<off_t>::max();
        return true;
    }
    end = ::lseek(in, start, SEEK_HOLE);
    if (end <= start) end = std::numeric_limits<off_t>::max();
    return true;
}

// Moves up to `limit` bytes at `offset` (the same offset in both files);
// bytes moved, 0 at the source's end, -1 on failure.
ssize_t copyChunk(int in, int out, off_t offset, uint64_t limit, bool& useRange, std::vector<char>& buffer) {
    while (useRange) {
        loff_t inOffset = offset, outOffset = offset;
        const ssize_t moved = ::copy_file_range(in, &inOffset, out, &outOffset, static_cast<size_t>(limit), 0);
        if (moved >= 0) return moved;
        if (errno == EINTR) continue;
        if (!rangeCopyUnsupported(errno)) return -1;
        useRange = false;
    }
    return copyChunkByReadWrite(in, out, offset, limit, buffer);
}

// Starts writing a large chunk just copied to the disk without waiting for
// it, as the copy goes on: the sync that makes the copy durable then finds
// most of it written. Without it the writing would begin only at that sync,
// after the copying, where `cp && sync` overlaps the two. Small chunks are
// left to the sync, which writes many at once: started one by one they cost
// the copying thread more than they save (measured: a restore of 10,000
// files of 2 KiB took a third longer). Only a hint: a failure leaves the
// data to the sync.
constexpr ssize_t kStartWritebackMinBytes = 1 << 20;
void startWriteback(int out, off_t offset, ssize_t length) {
    if (length >= kStartWritebackMinBytes) ::sync_file_range(out, offset, length, SYNC_FILE_RANGE_WRITE);
}

// Copies the source's runs of data only and leaves its holes as holes, so a
// sparse file (a disk image, a database) takes no more room in the copy than
// in the source. A source whose blocks cover its whole size has no holes and
// is copied as one run, without asking for them. Progress counts the file's
// full size, holes included.
CopyResult copyData(int in, int out, const struct stat& st, const std::wstring& source, const std::wstring& target,
                    const CopyProgressRoutine& progress, const std::atomic<int>* cancel) {
    uint64_t total = static_cast<uint64_t>(st.st_size);
    const bool dense = static_cast<uint64_t>(st.st_blocks) * 512 >= total;
    uint64_t copied = 0, reported = 0;
    bool useRange = true;
    std::vector<char> buffer;
    // Called a chunk's worth of the file apart, not once per run: a file
    // broken into many small runs would call it thousands of times.
    auto report = [&]() {
        reported = copied;
        return progress && progress(CopyProgress{total, copied, source, target}) == CopyProgressAnswer::Cancel;
    };
    if (report()) return CopyResult::Cancelled;
    off_t runEnd = 0;
    for (;;) {
        if (cancelRequested(cancel)) return CopyResult::Cancelled;
        if (dense) {
            // A source that grows meanwhile fails its check after the copy.
            if (copied >= static_cast<uint64_t>(st.st_size)) break;
            runEnd = st.st_size;
        } else if (static_cast<off_t>(copied) >= runEnd) {
            off_t runStart = 0;
            if (!nextDataRun(in, static_cast<off_t>(copied), runStart, runEnd)) break;
            copied = static_cast<uint64_t>(runStart);
        }
        const uint64_t limit = std::min<uint64_t>(kCopyChunkBytes, static_cast<uint64_t>(runEnd) - copied);
        const ssize_t moved = copyChunk(in, out, static_cast<off_t>(copied), limit, useRange, buffer);
        if (moved < 0) return CopyResult::Failed;
        if (moved == 0) break;
        startWriteback(out, static_cast<off_t>(copied), moved);
        copied += static_cast<uint64_t>(moved);
        total = std::max(total, copied);
        if (copied - reported >= kCopyChunkBytes && report()) return CopyResult::Cancelled;
    }
    // A file that ends in a hole: the copy gets the same size, as a hole.
    struct stat now {};
    if (!dense && ::fstat(in, &now) != 0) return CopyResult::Failed;
    if (!dense && static_cast<uint64_t>(now.st_size) > copied) {
        if (::ftruncate(out, now.st_size) != 0) return CopyResult::Failed;
        copied = static_cast<uint64_t>(now.st_size);
        total = std::max(total, copied);
    }
    if (copied != reported && report()) return CopyResult::Cancelled;
    return CopyResult::Copied;
}

// Gives the finished temporary file the target's name, both in `folder`. A
// target that is a link is replaced itself, never followed.
CopyResult publish(int folder, const std::string& from, const std::string& to, bool replace) {
    if (replace)
        return ::renameat(folder, from.c_str(), folder, to.c_str()) == 0 ? CopyResult::Copied : CopyResult::Failed;
    if (::renameat2(folder, from.c_str(), folder, to.c_str(), RENAME_NOREPLACE) == 0) return CopyResult::Copied;
    if (errno == EEXIST) return CopyResult::TargetExists;
    if (errno != EINVAL && errno != ENOSYS) return CopyResult::Failed;
    // File systems without RENAME_NOREPLACE: a hard link is just as exclusive.
    if (::linkat(folder, from.c_str(), folder, to.c_str(), 0) != 0)
        return errno == EEXIST ? CopyResult::TargetExists : CopyResult::Failed;
    ::unlinkat(folder, from.c_str(), 0);
    return CopyResult::Copied;
}

int64_t ticksOf(const struct timespec& time) {
    return static_cast<int64_t>(time.tv_sec) * 10000000 + time.tv_nsec / 100;
}

bool sameTime(const struct timespec& a, const struct timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

bool timeBefore(const struct timespec& a, const struct timespec& b) {
    return a.tv_sec < b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec < b.tv_nsec);
}

// Reads the source's state before the copy. File times come from the coarse
// clock, so a write in the same tick as the last one leaves them as they
// were: a source changed in the current tick is read again once the clock
// has moved on (a millisecond or so), after which every write shows.
bool statBeforeCopy(int fd, struct stat& st) {
    for (int waited = 0;; ++waited) {
        struct timespec now {};
        ::clock_gettime(CLOCK_REALTIME_COARSE, &now);
        if (::fstat(fd, &st) != 0) return false;
        // A time ahead of the clock (a server's) is taken as it is.
        if (timeBefore(st.st_ctim, now) || waited >= 50) return true;
        ::usleep(1000);
    }
}

// A file changed this recently may still be taking a write in place: the
// kernel sets a file's times as a write begins, so one that began before the
// copy read the source's state and is still putting its data in place shows
// in no time stamp. A write still under way after so long is not expected.
constexpr int64_t kWriteUnderWayNs = 2'000'000'000;

bool changedJustNow(const struct stat& st) {
    struct timespec now {};
    ::clock_gettime(CLOCK_REALTIME_COARSE, &now);
    const auto ns = [](const struct timespec& t) { return int64_t(t.tv_sec) * 1'000'000'000 + t.tv_nsec; };
    return ns(now) - std::max(ns(st.st_mtim), ns(st.st_ctim)) < kWriteUnderWayNs;
}

// Whether another program may hold the file open for writing. A read lease
// is granted only while no one has the file open for writing; it is given
// back at once. Unknown (a file of another user, a file system without
// leases) counts as held open. A writer that opens the file in the instant
// the lease is held breaks it, which is told with SIGURG: ignored unless
// handled, unlike the default SIGIO.
bool mayBeHeldOpenForWriting(int fd) {
    ::fcntl(fd, F_SETSIG, SIGURG);
    if (::fcntl(fd, F_SETLEASE, F_RDLCK) != 0) return true;
    ::fcntl(fd, F_SETLEASE, F_UNLCK);
    return false;
}

bool sourceChangedSince(int fd, const struct stat& before) {
    struct stat after {};
    if (::fstat(fd, &after) != 0) return true;
    return after.st_size != before.st_size || !sameTime(after.st_mtim, before.st_mtim) ||
           !sameTime(after.st_ctim, before.st_ctim);
}

// Gives the copy the source's times and mode (never world-writable) and,
// when asked, flushes it. fdatasync is enough: it makes the data and the size
// durable, which is what the name must never point past; the times ride
// along with the folder sync.
bool finishTemporary(int fd, const struct stat& st, bool syncData) {
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    if (::futimens(fd, times) != 0) return false;
    ::fchmod(fd, st.st_mode & 0775);
    return !syncData || ::fdatasync(fd) == 0;
}

// The files the process may hold open, at least, once it stages copies:
// each staged copy holds its folder open until it has its name, and a set
// restore stages up to two groups, in as many folders at worst, where many
// sessions start programs with a soft limit of 1024.
constexpr rlim_t kOpenFilesWanted = 16384;

void raiseOpenFileLimit() {
    struct rlimit limit {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur >= kOpenFilesWanted) return;
    limit.rlim_cur = std::min(limit.rlim_max, kOpenFilesWanted);
    ::setrlimit(RLIMIT_NOFILE, &limit);
}

// How many folders staged copies may hold: a quarter of what the process may
// open, so that a session with a low hard limit (some containers allow 1024)
// keeps room for the copies' own files.
size_t mostHeldFolders() {
    static std::once_flag raised;
    std::call_once(raised, raiseOpenFileLimit);
    struct rlimit limit {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return 64;
    return static_cast<size_t>(std::min(limit.rlim_cur, kOpenFilesWanted) / 4);
}

// The folders held by staged copies, by device and inode: the copies staged
// in one folder share one descriptor, on whichever thread they were staged.
std::mutex g_heldFoldersMutex;
std::map<std::pair<uint64_t, uint64_t>, std::weak_ptr<const OwnedDescriptor>> g_heldFolders;

void forgetHeldFolder(const std::pair<uint64_t, uint64_t>& key) {
    std::lock_guard<std::mutex> lock(g_heldFoldersMutex);
    const auto found = g_heldFolders.find(key);
    if (found != g_heldFolders.end() && found->second.expired()) g_heldFolders.erase(found);
}

// The folder a copy was just staged in, held for the copy; none (the copy is
// then removed by its path if it fails) once as many folders are held as the
// open-file limit leaves room for. Nothing that lets the last hold of a
// folder go may run under the mutex: that one takes it to forget the folder.
std::shared_ptr<const OwnedDescriptor> holdFolder(OwnedDescriptor folder) {
    const size_t mostHeld = mostHeldFolders();
    struct stat st {};
    if (::fstat(folder.fd, &st) != 0) return {};
    const std::pair<uint64_t, uint64_t> key{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
    std::lock_guard<std::mutex> lock(g_heldFoldersMutex);
    const auto found = g_heldFolders.find(key);
    if (found != g_heldFolders.end()) {
        if (std::shared_ptr<const OwnedDescriptor> held = found->second.lock()) return held;
    } else if (g_heldFolders.size() >= mostHeld) {
        return {};
    }
    std::weak_ptr<const OwnedDescriptor>& known = g_heldFolders[key];
    std::shared_ptr<const OwnedDescriptor> held(new OwnedDescriptor(std::move(folder)),
                                                [key](const OwnedDescriptor* gone) {
                                                    forgetHeldFolder(key);
                                                    delete gone;
                                                });
    known = held;
    return held;
}

// Opens the source below its root: a regular file, or SourceMissing.
CopyResult openSource(const FilePlace& source, OwnedDescriptor& in) {
    in = openFileForReadingBelow(source.root, source.path);
    if (in.isOpen()) return CopyResult::Copied;
    return errno == ENOENT || errno == ENOTDIR || errno == ELOOP ? CopyResult::SourceMissing : CopyResult::Failed;
}

// Writes the copy under a temporary name in the target's folder, which it
// opens below the target's root into `folder`: Copied when `staged` holds
// it; on any other result nothing is left behind.
CopyResult writeTemporary(const FilePlace& source, const FilePlace& target, const CopyProgressRoutine& progress,
                          const std::atomic<int>* cancel, bool replace, bool syncData, StagedCopy& staged,
                          PlaceInFolder& folder) {
    if (target.path.empty() || target.path.back() == kPathSeparator) return CopyResult::Failed;
    OwnedDescriptor in;
    const CopyResult opened = openSource(source, in);
    if (opened != CopyResult::Copied) return opened;
    struct stat st {};
    if (!statBeforeCopy(in.fd, st) || !S_ISREG(st.st_mode)) return CopyResult::SourceMissing;
    // Looked at after the state was read: a write under way then still
    // holds the file open now. Left for a later try, as a changing file is.
    if (changedJustNow(st) && mayBeHeldOpenForWriting(in.fd)) return CopyResult::SourceChanged;
    folder = openParentForWriting(target.root, target.path);
    if (!folder.folder.isOpen()) return CopyResult::Failed;
    struct stat existing {};
    if (!replace && ::fstatat(folder.folder.fd, folder.name.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0)
        return CopyResult::TargetExists;
    // Read-ahead of a file it already covers gains nothing from the hint.
    if (st.st_size > kPlainReadAheadBytes) ::posix_fadvise(in.fd, 0, 0, POSIX_FADV_SEQUENTIAL);

    std::string tempName;
    OwnedDescriptor out{createTemporary(folder.folder.fd, tempName)};
    if (!out.isOpen()) return CopyResult::Failed;
    CopyResult result = copyData(in.fd, out.fd, st, source.path, target.path, progress, cancel);
    if (result == CopyResult::Copied && sourceChangedSince(in.fd, st)) result = CopyResult::SourceChanged;
    if (result == CopyResult::Copied && !finishTemporary(out.fd, st, syncData)) result = CopyResult::Failed;
    struct stat written {};
    if (result == CopyResult::Copied && ::fstat(out.fd, &written) != 0) result = CopyResult::Failed;
    out = OwnedDescriptor();
    if (result != CopyResult::Copied) {
        ::unlinkat(folder.folder.fd, tempName.c_str(), 0);
        return result;
    }
    staged.root = target.root;
    staged.target = target.path;
    staged.tempPath = joinPath(parentFolder(target.path), utf8ToWide(tempName));
    staged.device = static_cast<uint64_t>(written.st_dev);
    staged.inode = static_cast<uint64_t>(written.st_ino);
    staged.bytes = static_cast<uint64_t>(written.st_size);
    staged.modifiedTicks = ticksOf(written.st_mtim);
    return result;
}

CopyResult copyInto(const FilePlace& source, const FilePlace& target, const CopyProgressRoutine& progress,
                    const std::atomic<int>* cancel, bool replace) {
    StagedCopy staged;
    PlaceInFolder folder;
    CopyResult result = writeTemporary(source, target, progress, cancel, replace, true, staged, folder);
    if (result != CopyResult::Copied) return result;
    const std::string tempName = wideToUtf8(lastPathComponent(staged.tempPath));
    result = publish(folder.folder.fd, tempName, folder.name, replace);
    if (result != CopyResult::Copied) {
        ::unlinkat(folder.folder.fd, tempName.c_str(), 0);
        return result;
    }
    ::fsync(folder.folder.fd);
    return result;
}

// Below this many copies a group syncs each file: a syncfs also writes out
// whatever else is dirty on the file system (a download, a build), which one
// saved document should not wait for.
constexpr size_t kSyncFileSystemMinCopies = 8;

bool syncTemporary(const StagedCopy& copy) {
    const PlaceInFolder place = openParentBelow(copy.root, copy.tempPath);
    if (!place.folder.isOpen()) return false;
    const OwnedDescriptor file{::openat(place.folder.fd, place.name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC)};
    return file.isOpen() && ::fdatasync(file.fd) == 0;
}

// Syncs the file system holding the copy's temporary file through the
// copy's folder: 1 when synced, 0 when the sync failed, -1 when the folder
// can no longer be reached (the copy fails, not the others).
int syncFileSystemThrough(const StagedCopy& copy) {
    const OwnedDescriptor dir = openFolderBelow(copy.root, parentFolder(copy.target));
    if (!dir.isOpen()) return -1;
    return ::syncfs(dir.fd) == 0 ? 1 : 0;
}

// Makes the group's data durable. One syncfs per file system commits all of
// it at once, where one fdatasync per file commits once per file (measured:
// a restore of 10,000 small files took 3 times as long that way). A copy
// whose data could not be synced fails; a copy whose folder is gone fails
// alone, and its file system is synced through the next copy's folder.
void syncGroupData(std::vector<StagedCopy>& copies) {
    if (copies.size() < kSyncFileSystemMinCopies) {
        for (StagedCopy& copy : copies)
            if (!syncTemporary(copy)) copy.result = CopyResult::Failed;
        return;
    }
    std::map<uint64_t, int> synced;  // by device: as syncFileSystemThrough
    for (StagedCopy& copy : copies) {
        int& state = synced.try_emplace(copy.device, -1).first->second;
        if (state < 0) state = syncFileSystemThrough(copy);
        if (state < 0) copy.result = CopyResult::Failed;
    }
    for (StagedCopy& copy : copies)
        if (synced[copy.device] == 0) copy.result = CopyResult::Failed;
}

// Test builds only: VARNHOLT_FAIL_STEP="Copy Group Rename:kill" ends the
// process at once when a group has named half its copies, so tests can see
// what a crash there leaves behind.
void killWhenAsked([[maybe_unused]] size_t renamed, [[maybe_unused]] size_t total) {
#ifdef VARNHOLT_TEST_HOOKS
    const char* step = getenv("VARNHOLT_FAIL_STEP");
    if (step && std::string_view(step) == "Copy Group Rename:kill" && renamed == total / 2 && renamed > 0)
        ::kill(::getpid(), SIGKILL);
#endif
}

// Folders held open to be synced together, at most: a group may name its
// copies in as many folders as it has copies.
constexpr size_t kFoldersSyncedTogether = 64;

void syncFolders(std::vector<OwnedDescriptor>& folders) {
    for (const OwnedDescriptor& folder : folders) ::fsync(folder.fd);
    folders.clear();
}

// Gives one staged copy its target's name in `folder`, with the caller's
// steps around the rename.
CopyResult nameCopy(int folder, StagedCopy& copy, const CopyRenameSteps& steps) {
    const std::string target = wideToUtf8(lastPathComponent(copy.target));
    FileState state;
    if (steps.beforeRename) {
        readFileStateAt(folder, target, state);
        if (!steps.beforeRename(copy, state)) return CopyResult::TargetExists;
    }
    copy.result = publish(folder, wideToUtf8(lastPathComponent(copy.tempPath)), target, true);
    if (steps.afterRename) {
        if (copy.result != CopyResult::Copied || !readFileStateAt(folder, target, state)) state = FileState();
        steps.afterRename(copy, state);
    }
    return copy.result;
}

}  // namespace

FilePlace::FilePlace(std::wstring rootFolder, std::wstring filePath)
    : root(std::move(rootFolder)), path(std::move(filePath)) {}

FilePlace::FilePlace(const std::wstring& filePath) : root(parentFolder(filePath)), path(filePath) {}

CopyResult stageCopy(CopyGroup& group, const FilePlace& source, const FilePlace& target,
                     const CopyProgressRoutine& progress, const std::atomic<int>* cancel) {
    StagedCopy staged;
    PlaceInFolder folder;
    const CopyResult result = writeTemporary(source, target, progress, cancel, true, false, staged, folder);
    if (result != CopyResult::Copied) return result;
    staged.folder = holdFolder(std::move(folder.folder));
    group.bytes += staged.bytes;
    group.copies.push_back(std::move(staged));
    return result;
}

std::vector<StagedCopy> finishCopyGroup(CopyGroup& group, const CopyRenameSteps& steps) {
    std::vector<StagedCopy> copies = std::move(group.copies);
    const std::vector<FilePlace> newFolders = std::move(group.newFolders);
    group = CopyGroup();
    for (StagedCopy& copy : copies) copy.result = CopyResult::Copied;
    syncGroupData(copies);
    // The copies of one folder take their names through one descriptor of
    // it, opened again from their root. The folders are synced after the
    // renames of many of them: the first sync commits all those renames at
    // once, the others find theirs committed.
    std::map<std::pair<std::wstring, std::wstring>, std::vector<size_t>> byFolder;
    for (size_t i = 0; i < copies.size(); ++i) byFolder[{copies[i].root, parentFolder(copies[i].target)}].push_back(i);
    std::vector<OwnedDescriptor> named;
    size_t renamed = 0;
    for (const auto& [folder, indices] : byFolder) {
        OwnedDescriptor dir = openFolderForWriting(folder.first, folder.second);
        bool any = false;
        for (const size_t i : indices) {
            StagedCopy& copy = copies[i];
            if (!dir.isOpen()) copy.result = CopyResult::Failed;
            if (copy.result == CopyResult::Copied) copy.result = nameCopy(dir.fd, copy, steps);
            // The folder reached again may be another one now: a failed
            // copy goes from the folder it was made in.
            if (copy.result != CopyResult::Copied) discardStagedCopy(copy);
            copy.folder.reset();
            if (copy.result != CopyResult::Copied) continue;
            any = true;
            killWhenAsked(++renamed, copies.size());
        }
        if (any) named.push_back(std::move(dir));
        if (named.size() >= kFoldersSyncedTogether) syncFolders(named);
    }
    syncFolders(named);
    syncFoldersIntoParents(newFolders);
    return copies;
}

void discardStagedCopy(const StagedCopy& copy) {
    if (copy.folder)
        ::unlinkat(copy.folder->fd, wideToUtf8(lastPathComponent(copy.tempPath)).c_str(), 0);
    else
        removeFileBelow(copy.root, copy.tempPath);
}

void syncFoldersIntoParents(const std::vector<FilePlace>& folders) {
    std::set<std::pair<std::wstring, std::wstring>> parents;
    for (const FilePlace& folder : folders) parents.emplace(folder.root, parentFolder(folder.path));
    for (const auto& [root, parent] : parents) {
        const OwnedDescriptor dir = openFolderBelow(root, parent);
        if (dir.isOpen()) ::fsync(dir.fd);
    }
}

CopyResult copyFileWithProgress(const FilePlace& source, const FilePlace& target, const CopyProgressRoutine& progress,
                                const std::atomic<int>* cancel) {
    return copyInto(source, target, progress, cancel, true);
}

CopyResult copyFile(const FilePlace& source, const FilePlace& target, bool failIfExists) {
    return copyInto(source, target, {}, nullptr, !failIfExists);
}

bool isCopyTemporaryName(std::wstring_view fileName) {
    const size_t cut = fileName.find_last_of(kPathSeparator);
    if (cut != std::wstring_view::npos) fileName.remove_prefix(cut + 1);
    return fileName.size() > kTempPrefix.size() + kTempSuffix.size() && fileName.starts_with(kTempPrefix) &&
           fileName.ends_with(kTempSuffix);
}

size_t removeStaleCopyTemporariesIn(const std::wstring& root, const std::wstring& folder, int64_t beforeTicks) {
    OwnedDescriptor dir = openFolderBelow(root, folder);
    if (!dir.isOpen()) return 0;
    const int listed = ::dup(dir.fd);
    DIR* stream = listed < 0 ? nullptr : ::fdopendir(listed);
    if (!stream) {
        if (listed >= 0) ::close(listed);
        return 0;
    }
    std::vector<std::string> names;
    while (const struct dirent* entry = ::readdir(stream))
        if (isCopyTemporaryName(utf8ToWide(entry->d_name))) names.emplace_back(entry->d_name);
    ::closedir(stream);
    size_t removed = 0;
    for (const std::string& name : names) {
        struct stat st {};
        // Only a regular file of the program's own naming, never a link or a folder.
        if (::fstatat(dir.fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode)) continue;
        if (std::max(ticksOf(st.st_mtim), ticksOf(st.st_ctim)) >= beforeTicks) continue;
        if (::unlinkat(dir.fd, name.c_str(), 0) == 0) ++removed;
    }
    return removed;
}
