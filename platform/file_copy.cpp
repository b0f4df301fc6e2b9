#include "platform/file_copy.h"

#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <limits>
#include <map>
#include <random>
#include <set>
#include <vector>

#include "platform/file_system.h"
#include "platform/paths.h"
#include "platform/text.h"

namespace {

constexpr std::wstring_view kTempPrefix = L".varnholt-copy-";
constexpr std::wstring_view kTempSuffix = L".tmp";

struct Descriptor {
    int fd = -1;
    ~Descriptor() {
        if (fd >= 0) ::close(fd);
    }
};

std::wstring folderOf(const std::wstring& path) {
    const size_t cut = path.find_last_of(kPathSeparator);
    return cut == 0 ? std::wstring(kPathSeparatorText) : path.substr(0, cut);
}

std::wstring randomSuffix() {
    static const wchar_t digits[] = L"0123456789abcdef";
    thread_local std::mt19937_64 engine{std::random_device{}()};
    std::wstring text;
    uint64_t value = engine();
    for (int i = 0; i < 16; ++i, value >>= 4) text += digits[value & 15];
    return text;
}

// Creates the temporary file beside the target; returns its descriptor.
int createTemporary(const std::wstring& target, std::wstring& tempPath) {
    const std::wstring folder = folderOf(target);
    for (int attempt = 0; attempt < 16; ++attempt) {
        tempPath = folder + (folder == kPathSeparatorText ? L"" : kPathSeparatorText) +
                   std::wstring(kTempPrefix) + randomSuffix() + std::wstring(kTempSuffix);
        const int fd = ::open(wideToUtf8(tempPath).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
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

// Copies the source's runs of data only and leaves its holes as holes, so a
// sparse file (a disk image, a database) takes no more room in the copy than
// in the source. Progress counts the file's full size, holes included.
CopyResult copyData(int in, int out, uint64_t total, const std::wstring& source, const std::wstring& target,
                    const CopyProgressRoutine& progress, const std::atomic<int>* cancel) {
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
        if (static_cast<off_t>(copied) >= runEnd) {
            off_t runStart = 0;
            if (!nextDataRun(in, static_cast<off_t>(copied), runStart, runEnd)) break;
            copied = static_cast<uint64_t>(runStart);
        }
        const uint64_t limit = std::min<uint64_t>(kCopyChunkBytes, static_cast<uint64_t>(runEnd) - copied);
        const ssize_t moved = copyChunk(in, out, static_cast<off_t>(copied), limit, useRange, buffer);
        if (moved < 0) return CopyResult::Failed;
        if (moved == 0) break;
        copied += static_cast<uint64_t>(moved);
        total = std::max(total, copied);
        if (copied - reported >= kCopyChunkBytes && report()) return CopyResult::Cancelled;
    }
    // A file that ends in a hole: the copy gets the same size, as a hole.
    struct stat st {};
    if (::fstat(in, &st) != 0) return CopyResult::Failed;
    if (static_cast<uint64_t>(st.st_size) > copied) {
        if (::ftruncate(out, st.st_size) != 0) return CopyResult::Failed;
        copied = static_cast<uint64_t>(st.st_size);
        total = std::max(total, copied);
    }
    if (copied != reported && report()) return CopyResult::Cancelled;
    return CopyResult::Copied;
}

// Gives the finished temporary file the target's name.
CopyResult publish(const std::wstring& tempPath, const std::wstring& target, bool replace) {
    const std::string from = wideToUtf8(tempPath), to = wideToUtf8(target);
    if (replace) return ::rename(from.c_str(), to.c_str()) == 0 ? CopyResult::Copied : CopyResult::Failed;
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return CopyResult::Copied;
    if (errno == EEXIST) return CopyResult::TargetExists;
    if (errno != EINVAL && errno != ENOSYS) return CopyResult::Failed;
    // File systems without RENAME_NOREPLACE: a hard link is just as exclusive.
    if (::link(from.c_str(), to.c_str()) != 0) return errno == EEXIST ? CopyResult::TargetExists : CopyResult::Failed;
    ::unlink(from.c_str());
    return CopyResult::Copied;
}

void syncFolder(const std::wstring& folder) {
    Descriptor dir{::open(wideToUtf8(folder).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
    if (dir.fd >= 0) ::fsync(dir.fd);
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

// Writes the copy under a temporary name beside the target: Copied when
// `staged` holds it; on any other result nothing is left behind.
CopyResult writeTemporary(const std::wstring& source, const std::wstring& target, const CopyProgressRoutine& progress,
                          const std::atomic<int>* cancel, bool replace, bool syncData, StagedCopy& staged) {
    if (!isAbsolutePath(source) || !isAbsolutePath(target) || target.back() == kPathSeparator) {
        return CopyResult::Failed;
    }
    Descriptor in{::open(wideToUtf8(source).c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY)};
    struct stat st {};
    if (in.fd < 0) return errno == ENOENT || errno == ENOTDIR ? CopyResult::SourceMissing : CopyResult::Failed;
    if (!statBeforeCopy(in.fd, st) || !S_ISREG(st.st_mode)) return CopyResult::SourceMissing;
    if (!replace && readFileAttributes(target) != kInvalidFileAttributes) return CopyResult::TargetExists;
    ::posix_fadvise(in.fd, 0, 0, POSIX_FADV_SEQUENTIAL);

    Descriptor out{createTemporary(target, staged.tempPath)};
    if (out.fd < 0) return CopyResult::Failed;
    CopyResult result =
        copyData(in.fd, out.fd, static_cast<uint64_t>(st.st_size), source, target, progress, cancel);
    if (result == CopyResult::Copied && sourceChangedSince(in.fd, st)) result = CopyResult::SourceChanged;
    if (result == CopyResult::Copied && !finishTemporary(out.fd, st, syncData)) result = CopyResult::Failed;
    struct stat written {};
    if (result == CopyResult::Copied && ::fstat(out.fd, &written) != 0) result = CopyResult::Failed;
    ::close(out.fd);
    out.fd = -1;
    if (result != CopyResult::Copied) {
        ::unlink(wideToUtf8(staged.tempPath).c_str());
        return result;
    }
    staged.target = target;
    staged.device = static_cast<uint64_t>(written.st_dev);
    staged.bytes = static_cast<uint64_t>(written.st_size);
    return result;
}

CopyResult copyInto(const std::wstring& source, const std::wstring& target, const CopyProgressRoutine& progress,
                    const std::atomic<int>* cancel, bool replace) {
    StagedCopy staged;
    CopyResult result = writeTemporary(source, target, progress, cancel, replace, true, staged);
    if (result != CopyResult::Copied) return result;
    result = publish(staged.tempPath, target, replace);
    if (result != CopyResult::Copied) {
        ::unlink(wideToUtf8(staged.tempPath).c_str());
        return result;
    }
    syncFolder(folderOf(target));
    return result;
}

// Below this many copies a group syncs each file: a syncfs also writes out
// whatever else is dirty on the file system (a download, a build), which one
// saved document should not wait for.
constexpr size_t kSyncFileSystemMinCopies = 8;

bool syncTemporary(const std::wstring& tempPath) {
    Descriptor file{::open(wideToUtf8(tempPath).c_str(), O_RDONLY | O_CLOEXEC)};
    return file.fd >= 0 && ::fdatasync(file.fd) == 0;
}

// Makes the group's data durable. One syncfs per file system commits all of
// it at once, where one fdatasync per file commits once per file (measured:
// a restore of 10,000 small files took 3 times as long that way). A copy
// whose data could not be synced fails.
void syncGroupData(std::vector<StagedCopy>& copies) {
    if (copies.size() < kSyncFileSystemMinCopies) {
        for (StagedCopy& copy : copies)
            if (!syncTemporary(copy.tempPath)) copy.result = CopyResult::Failed;
        return;
    }
    std::map<uint64_t, std::wstring> folders;
    for (const StagedCopy& copy : copies) folders.try_emplace(copy.device, folderOf(copy.target));
    for (const auto& [device, folder] : folders) {
        Descriptor dir{::open(wideToUtf8(folder).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
        if (dir.fd >= 0 && ::syncfs(dir.fd) == 0) continue;
        for (StagedCopy& copy : copies)
            if (copy.device == device) copy.result = CopyResult::Failed;
    }
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

}  // namespace

CopyResult stageCopy(CopyGroup& group, const std::wstring& source, const std::wstring& target,
                     const CopyProgressRoutine& progress, const std::atomic<int>* cancel) {
    StagedCopy staged;
    const CopyResult result = writeTemporary(source, target, progress, cancel, true, false, staged);
    if (result != CopyResult::Copied) return result;
    group.bytes += staged.bytes;
    group.copies.push_back(std::move(staged));
    return result;
}

std::vector<StagedCopy> finishCopyGroup(CopyGroup& group) {
    std::vector<StagedCopy> copies = std::move(group.copies);
    group = CopyGroup();
    for (StagedCopy& copy : copies) copy.result = CopyResult::Copied;
    syncGroupData(copies);
    std::set<std::wstring> folders;
    size_t renamed = 0;
    for (StagedCopy& copy : copies) {
        if (copy.result == CopyResult::Copied) copy.result = publish(copy.tempPath, copy.target, true);
        if (copy.result != CopyResult::Copied) {
            ::unlink(wideToUtf8(copy.tempPath).c_str());
            continue;
        }
        folders.insert(folderOf(copy.target));
        killWhenAsked(++renamed, copies.size());
    }
    for (const std::wstring& folder : folders) syncFolder(folder);
    return copies;
}

CopyResult copyFileWithProgress(const std::wstring& source, const std::wstring& target,
                                const CopyProgressRoutine& progress, const std::atomic<int>* cancel) {
    return copyInto(source, target, progress, cancel, true);
}

CopyResult copyFile(const std::wstring& source, const std::wstring& target, bool failIfExists) {
    return copyInto(source, target, {}, nullptr, !failIfExists);
}

bool isCopyTemporaryName(std::wstring_view fileName) {
    const size_t cut = fileName.find_last_of(kPathSeparator);
    if (cut != std::wstring_view::npos) fileName.remove_prefix(cut + 1);
    return fileName.size() > kTempPrefix.size() + kTempSuffix.size() && fileName.starts_with(kTempPrefix) &&
           fileName.ends_with(kTempSuffix);
}
