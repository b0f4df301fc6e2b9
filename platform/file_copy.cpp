#include "platform/file_copy.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <random>
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

// Moves one chunk with read/write from the current offset; bytes moved or -1.
ssize_t copyChunkByReadWrite(int in, int out, off_t offset, std::vector<char>& buffer) {
    if (buffer.empty()) buffer.resize(1 << 20);
    ssize_t moved = 0;
    while (static_cast<uint64_t>(moved) < kCopyChunkBytes) {
        const ssize_t got = ::pread(in, buffer.data(), buffer.size(), offset + moved);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return got < 0 ? -1 : moved;
        for (ssize_t written = 0; written < got;) {
            const ssize_t put = ::pwrite(out, buffer.data() + written, static_cast<size_t>(got - written),
                                         offset + moved + written);
            if (put < 0 && errno == EINTR) continue;
            if (put <= 0) return -1;
            written += put;
        }
        moved += got;
    }
    return moved;
}

CopyResult copyData(int in, int out, uint64_t total, const std::wstring& source, const std::wstring& target,
                    const CopyProgressRoutine& progress, const std::atomic<int>* cancel) {
    uint64_t copied = 0;
    bool useRange = true;
    std::vector<char> buffer;
    auto report = [&]() {
        return progress && progress(CopyProgress{total, copied, source, target}) == CopyProgressAnswer::Cancel;
    };
    if (report()) return CopyResult::Cancelled;
    for (;;) {
        if (cancelRequested(cancel)) return CopyResult::Cancelled;
        ssize_t moved;
        if (useRange) {
            loff_t inOffset = static_cast<loff_t>(copied), outOffset = inOffset;
            moved = ::copy_file_range(in, &inOffset, out, &outOffset, kCopyChunkBytes, 0);
            if (moved < 0 && errno == EINTR) continue;
            if (moved < 0 && rangeCopyUnsupported(errno)) {
                useRange = false;
                continue;
            }
        } else {
            moved = copyChunkByReadWrite(in, out, static_cast<off_t>(copied), buffer);
        }
        if (moved < 0) return CopyResult::Failed;
        if (moved == 0) return CopyResult::Copied;
        copied += static_cast<uint64_t>(moved);
        total = std::max(total, copied);
        if (report()) return CopyResult::Cancelled;
    }
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

// Flushes the copy with the source's times and mode (never world-writable).
// fdatasync is enough: it makes the data and the size durable, which is what
// the name must never point past; the times ride along with the folder sync.
bool finishTemporary(int fd, const struct stat& st) {
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    if (::futimens(fd, times) != 0) return false;
    ::fchmod(fd, st.st_mode & 0775);
    return ::fdatasync(fd) == 0;
}

CopyResult copyInto(const std::wstring& source, const std::wstring& target, const CopyProgressRoutine& progress,
                    const std::atomic<int>* cancel, bool replace, CopyBatch* batch) {
    if (!isAbsolutePath(source) || !isAbsolutePath(target) || target.back() == kPathSeparator) {
        return CopyResult::Failed;
    }
    Descriptor in{::open(wideToUtf8(source).c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY)};
    struct stat st {};
    if (in.fd < 0) return errno == ENOENT || errno == ENOTDIR ? CopyResult::SourceMissing : CopyResult::Failed;
    if (!statBeforeCopy(in.fd, st) || !S_ISREG(st.st_mode)) return CopyResult::SourceMissing;
    if (!replace && readFileAttributes(target) != kInvalidFileAttributes) return CopyResult::TargetExists;
    ::posix_fadvise(in.fd, 0, 0, POSIX_FADV_SEQUENTIAL);

    std::wstring tempPath;
    Descriptor out{createTemporary(target, tempPath)};
    if (out.fd < 0) return CopyResult::Failed;
    CopyResult result =
        copyData(in.fd, out.fd, static_cast<uint64_t>(st.st_size), source, target, progress, cancel);
    if (result == CopyResult::Copied && sourceChangedSince(in.fd, st)) result = CopyResult::SourceChanged;
    if (result == CopyResult::Copied && !finishTemporary(out.fd, st)) result = CopyResult::Failed;
    ::close(out.fd);
    out.fd = -1;
    if (result == CopyResult::Copied) result = publish(tempPath, target, replace);
    if (result != CopyResult::Copied) {
        ::unlink(wideToUtf8(tempPath).c_str());
        return result;
    }
    if (batch)
        batch->folders.insert(folderOf(target));
    else
        syncFolder(folderOf(target));
    return result;
}

}  // namespace

void finishCopyBatch(CopyBatch& batch) {
    for (const std::wstring& folder : batch.folders) syncFolder(folder);
    batch.folders.clear();
}

CopyResult copyFileWithProgress(const std::wstring& source, const std::wstring& target,
                                const CopyProgressRoutine& progress, const std::atomic<int>* cancel,
                                CopyBatch* batch) {
    return copyInto(source, target, progress, cancel, true, batch);
}

CopyResult copyFile(const std::wstring& source, const std::wstring& target, bool failIfExists) {
    return copyInto(source, target, {}, nullptr, !failIfExists, nullptr);
}

bool isCopyTemporaryName(std::wstring_view fileName) {
    const size_t cut = fileName.find_last_of(kPathSeparator);
    if (cut != std::wstring_view::npos) fileName.remove_prefix(cut + 1);
    return fileName.size() > kTempPrefix.size() + kTempSuffix.size() && fileName.starts_with(kTempPrefix) &&
           fileName.ends_with(kTempSuffix);
}
