#include "platform/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <string>

#include "platform/paths.h"

namespace {

// A name no other writer in this or another process picks at the same time.
std::string temporaryNameFor(const std::string& path) {
    static std::atomic<unsigned> counter{0};
    return path + ".tmp~" + std::to_string(getpid()) + "-" + std::to_string(counter.fetch_add(1));
}

bool writeAll(int fd, std::string_view bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// A file named without a folder lies in the working folder.
void syncFolder(const std::string& folder) {
    const int fd = open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    // The new content is in place once the rename succeeded; a folder that
    // cannot be synced (some file systems refuse) does not undo that.
    fsync(fd);
    close(fd);
}

}  // namespace

bool beginAtomicFile(AtomicFileWriter& writer, const std::string& path) {
    writer = AtomicFileWriter{};
    if (path.empty() || path.back() == '/') return false;
    writer.path = path;
    writer.temporary = temporaryNameFor(path);
    writer.fd = open(writer.temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (writer.fd < 0) return false;
    // A replaced file's mode carries over; never replace a folder or device.
    struct stat old {};
    if (stat(path.c_str(), &old) == 0 && (!S_ISREG(old.st_mode) || fchmod(writer.fd, old.st_mode & 07777) != 0)) {
        abandonAtomicFile(writer);
        return false;
    }
    return true;
}

bool appendAtomicFile(AtomicFileWriter& writer, std::string_view bytes) {
    if (writer.fd < 0 || writer.failed || !writeAll(writer.fd, bytes)) writer.failed = true;
    return !writer.failed;
}

bool writeAtomicFileAt(AtomicFileWriter& writer, uint64_t offset, std::string_view bytes) {
    if (writer.fd < 0 || writer.failed ||
        pwrite(writer.fd, bytes.data(), bytes.size(), static_cast<off_t>(offset)) != static_cast<ssize_t>(bytes.size()))
        writer.failed = true;
    return !writer.failed;
}

bool finishAtomicFile(AtomicFileWriter& writer) {
    if (writer.fd < 0) return false;
    const bool synced = !writer.failed && fsync(writer.fd) == 0;
    const bool closed = close(writer.fd) == 0;
    writer.fd = -1;
    if (!synced || !closed || rename(writer.temporary.c_str(), writer.path.c_str()) != 0) {
        unlink(writer.temporary.c_str());
        return false;
    }
    syncFolder(parentFolder(writer.path));
    return true;
}

void abandonAtomicFile(AtomicFileWriter& writer) {
    if (writer.fd < 0) return;
    close(writer.fd);
    writer.fd = -1;
    unlink(writer.temporary.c_str());
}

bool writeFileAtomically(const std::string& path, std::string_view bytes) {
    AtomicFileWriter writer;
    if (!beginAtomicFile(writer, path)) return false;
    appendAtomicFile(writer, bytes);
    return finishAtomicFile(writer);
}

bool readWholeFile(const std::string& path, std::string& out) {
    // Non-blocking, and regular files only: a FIFO named like a data or set
    // file would otherwise hold the reader for ever.
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return false;
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(fd);
        return false;
    }
    std::string bytes;
    char buffer[65536];
    for (;;) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            close(fd);
            return false;
        }
        if (n == 0) break;
        bytes.append(buffer, static_cast<size_t>(n));
    }
    close(fd);
    out = std::move(bytes);
    return true;
}
