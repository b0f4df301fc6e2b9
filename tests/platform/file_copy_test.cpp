#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/file_copy.h"
#include "platform/file_system.h"
#include "platform/text.h"
#include "test_env.h"

namespace {

std::wstring wide(const std::string& text) { return utf8ToWide(text); }

// Writes `mib` MiB of non-repeating blocks (no holes) quickly.
void writeLargeFile(const std::string& path, int mib) {
    std::vector<char> block(1 << 20);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    for (int i = 0; i < mib; ++i) {
        for (size_t j = 0; j < block.size(); j += 4096) block[j] = static_cast<char>(i * 7 + j / 4096);
        out.write(block.data(), static_cast<std::streamsize>(block.size()));
    }
}

bool sameContent(const std::string& a, const std::string& b) {
    std::ifstream fa(a, std::ios::binary), fb(b, std::ios::binary);
    std::vector<char> ba(1 << 20), bb(1 << 20);
    while (fa && fb) {
        fa.read(ba.data(), static_cast<std::streamsize>(ba.size()));
        fb.read(bb.data(), static_cast<std::streamsize>(bb.size()));
        if (fa.gcount() != fb.gcount() || !std::equal(ba.begin(), ba.begin() + fa.gcount(), bb.begin())) return false;
    }
    return fa.eof() && fb.eof();
}

std::vector<std::string> folderNames(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& item : std::filesystem::directory_iterator(folder)) names.push_back(item.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace

TEST(FileCopy, CopiesWithProgressAndKeepsModificationTime) {
    const std::string folder = makeTestFolder("copy");
    const std::string source = folder + "/source.bin", target = folder + "/target.bin";
    writeLargeFile(source, 70);
    const struct timespec times[2] = {{0, UTIME_OMIT}, {1600000000, 500}};
    ASSERT_EQ(utimensat(AT_FDCWD, source.c_str(), times, 0), 0);
    ASSERT_TRUE(writeTestFile(target, "old"));

    std::vector<uint64_t> seen;
    auto progress = [&](const CopyProgress& p) {
        EXPECT_EQ(p.totalBytes, 70u << 20);
        EXPECT_EQ(p.target, wide(target));
        seen.push_back(p.bytesCopied);
        return CopyProgressAnswer::Continue;
    };
    EXPECT_EQ(copyFileWithProgress(wide(source), wide(target), progress), CopyResult::Copied);
    ASSERT_GE(seen.size(), 3u);
    EXPECT_EQ(seen.front(), 0u);
    EXPECT_EQ(seen.back(), 70u << 20);
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
    EXPECT_TRUE(sameContent(source, target));
    int64_t a = 0, b = 0;
    EXPECT_TRUE(readFileWriteTicks(wide(source), a));
    EXPECT_TRUE(readFileWriteTicks(wide(target), b));
    EXPECT_EQ(a, b);
    EXPECT_EQ(folderNames(folder), (std::vector<std::string>{"source.bin", "target.bin"}));

    // An empty source gives an empty target.
    ASSERT_TRUE(writeTestFile(folder + "/empty", ""));
    EXPECT_EQ(copyFile(wide(folder + "/empty"), wide(folder + "/empty2"), false), CopyResult::Copied);
    EXPECT_EQ(readTestFile(folder + "/empty2"), "");
}

TEST(FileCopy, CancelLeavesOldTargetAndNoTemporary) {
    const std::string folder = makeTestFolder("cancel");
    const std::string source = folder + "/big.bin", target = folder + "/big.copy";
    writeLargeFile(source, 300);
    ASSERT_TRUE(writeTestFile(target, "previous version"));

    std::atomic<int> cancel{0};
    int calls = 0;
    auto setFlag = [&](const CopyProgress& p) {
        ++calls;
        if (p.bytesCopied > 0) cancel = 1;
        return CopyProgressAnswer::Continue;
    };
    EXPECT_EQ(copyFileWithProgress(wide(source), wide(target), setFlag, &cancel), CopyResult::Cancelled);
    EXPECT_EQ(calls, 2);  // stopped right after the first chunk
    EXPECT_EQ(readTestFile(target), "previous version");
    EXPECT_EQ(folderNames(folder), (std::vector<std::string>{"big.bin", "big.copy"}));

    auto answerCancel = [](const CopyProgress& p) {
        return p.bytesCopied >= 3 * kCopyChunkBytes ? CopyProgressAnswer::Cancel : CopyProgressAnswer::Continue;
    };
    EXPECT_EQ(copyFileWithProgress(wide(source), wide(target), answerCancel), CopyResult::Cancelled);
    EXPECT_EQ(readTestFile(target), "previous version");
    const std::string fresh = folder + "/fresh.copy";
    EXPECT_EQ(copyFileWithProgress(wide(source), wide(fresh), answerCancel), CopyResult::Cancelled);
    EXPECT_EQ(readFileAttributes(wide(fresh)), kInvalidFileAttributes);
    EXPECT_EQ(folderNames(folder), (std::vector<std::string>{"big.bin", "big.copy"}));

    // The whole 300 MiB copy, replacing the old target.
    cancel = 0;
    EXPECT_EQ(copyFileWithProgress(wide(source), wide(target), {}, &cancel), CopyResult::Copied);
    EXPECT_TRUE(sameContent(source, target));
    std::filesystem::remove(source);
    std::filesystem::remove(target);
}

TEST(FileCopy, FailuresNeverTouchTheTarget) {
    const std::string folder = makeTestFolder("fail");
    const std::string source = folder + "/s.txt", target = folder + "/t.txt";
    ASSERT_TRUE(writeTestFile(target, "keep"));
    EXPECT_EQ(copyFileWithProgress(wide(source), wide(target)), CopyResult::SourceMissing);
    EXPECT_EQ(copyFileWithProgress(wide(folder), wide(target)), CopyResult::SourceMissing);
    EXPECT_EQ(readTestFile(target), "keep");

    ASSERT_TRUE(writeTestFile(source, "new"));
    EXPECT_EQ(copyFileWithProgress(wide(source), wide(folder + "/no/such/folder/t.txt")), CopyResult::Failed);
    EXPECT_EQ(copyFileWithProgress(wide(source), std::wstring(L"?/t.txt")), CopyResult::Failed);
    EXPECT_EQ(copyFileWithProgress(std::wstring(L"relative.txt"), wide(target)), CopyResult::Failed);

    // Fail-if-exists never replaces; without it the target is replaced.
    EXPECT_EQ(copyFile(wide(source), wide(target), true), CopyResult::TargetExists);
    EXPECT_EQ(readTestFile(target), "keep");
    EXPECT_EQ(copyFile(wide(source), wide(folder + "/n.txt"), true), CopyResult::Copied);
    EXPECT_EQ(readTestFile(folder + "/n.txt"), "new");
    EXPECT_EQ(copyFile(wide(source), wide(target), false), CopyResult::Copied);
    EXPECT_EQ(readTestFile(target), "new");

    // A folder in the target's place is not replaced.
    ASSERT_TRUE(makeFolder(wide(folder + "/d"), kDefaultFolderMode));
    EXPECT_EQ(copyFile(wide(source), wide(folder + "/d"), false), CopyResult::Failed);
    EXPECT_EQ(folderNames(folder), (std::vector<std::string>{"d", "n.txt", "s.txt", "t.txt"}));

    if (geteuid() != 0) {
        ASSERT_EQ(chmod(folder.c_str(), 0500), 0);
        EXPECT_EQ(copyFile(wide(source), wide(folder + "/x.txt"), false), CopyResult::Failed);
        chmod(folder.c_str(), 0700);
    }
}

TEST(FileCopy, SourceVanishingDuringCopy) {
    const std::string folder = makeTestFolder("vanish");
    const std::string source = folder + "/s.bin", target = folder + "/t.bin";
    writeLargeFile(source, 24);
    // Removing the name changes the source's change time: the copy is not kept.
    auto removeSource = [&](const CopyProgress& p) {
        if (p.bytesCopied == 0) std::filesystem::remove(source);
        return CopyProgressAnswer::Continue;
    };
    EXPECT_EQ(copyFileWithProgress(wide(source), wide(target), removeSource), CopyResult::SourceChanged);
    EXPECT_EQ(copyFileWithProgress(wide(source), wide(target)), CopyResult::SourceMissing);
    EXPECT_TRUE(isCopyTemporaryName(L"/x/.varnholt-copy-0123456789abcdef.tmp"));
    EXPECT_FALSE(isCopyTemporaryName(L"/x/report.tmp"));
    EXPECT_TRUE(folderNames(folder).empty());
}

// A writer thread rewrites the source while the copy is between two chunks:
// in place, or truncated and written again. Either copy is discarded and the
// target keeps its old content (a restore never leaves the user's file
// half-written); once the writer is done the final content is copied.
TEST(FileCopy, ASourceWrittenDuringTheCopyIsNeverCopiedTorn) {
    const std::string folder = makeTestFolder("torn");
    const std::string source = folder + "/s.bin", target = folder + "/t.bin";
    const size_t size = kCopyChunkBytes + (1 << 20);  // two chunks: the writer runs between them
    ASSERT_TRUE(writeTestFile(source, std::string(size, 'a')));
    ASSERT_TRUE(writeTestFile(target, "user's file"));
    for (const bool truncate : {false, true}) {
        const char fill = truncate ? 'c' : 'b';
        std::mutex mutex;
        std::condition_variable changed;
        bool asked = false, written = false;
        std::thread writer([&] {
            std::unique_lock<std::mutex> lock(mutex);
            changed.wait(lock, [&] { return asked; });
            const int fd = ::open(source.c_str(), O_WRONLY | (truncate ? O_TRUNC : 0));
            const std::string block(1 << 20, fill);
            for (size_t at = 0; fd >= 0 && at < size; at += block.size())
                EXPECT_EQ(::pwrite(fd, block.data(), block.size(), static_cast<off_t>(at)), ssize_t(block.size()));
            ::close(fd);
            written = true;
            changed.notify_all();
        });
        auto midway = [&](const CopyProgress& p) {
            if (p.bytesCopied == 0 || p.bytesCopied >= p.totalBytes) return CopyProgressAnswer::Continue;
            std::unique_lock<std::mutex> lock(mutex);
            asked = true;
            changed.notify_all();
            changed.wait(lock, [&] { return written; });
            return CopyProgressAnswer::Continue;
        };
        EXPECT_EQ(copyFileWithProgress(wide(source), wide(target), midway), CopyResult::SourceChanged) << truncate;
        writer.join();
        EXPECT_TRUE(written);
        EXPECT_EQ(readTestFile(target), "user's file");
        EXPECT_EQ(folderNames(folder), (std::vector<std::string>{"s.bin", "t.bin"}));
    }
    EXPECT_EQ(copyFileWithProgress(wide(source), wide(folder + "/final.bin")), CopyResult::Copied);
    EXPECT_TRUE(sameContent(source, folder + "/final.bin"));
    EXPECT_EQ(readTestFile(folder + "/final.bin").find_first_not_of('c'), std::string::npos);
}

// A write still putting its data in place when the copy reads the source's
// state shows in no time stamp (they are set as it begins): a source another
// program holds open for writing and changed just now is left for a later try.
TEST(FileCopy, ASourceHeldOpenForWritingAndChangedJustNowIsLeftForLater) {
    const std::string folder = makeTestFolder("held");
    const std::string source = folder + "/s.bin", target = folder + "/t.bin";
    ASSERT_TRUE(writeTestFile(source, "aaaa"));
    const int writer = ::open(source.c_str(), O_WRONLY);
    ASSERT_EQ(::pwrite(writer, "b", 1, 0), 1);
    EXPECT_EQ(copyFileWithProgress(wide(source), wide(target)), CopyResult::SourceChanged);
    EXPECT_EQ(folderNames(folder), std::vector<std::string>{"s.bin"});
    ::close(writer);
    EXPECT_EQ(copyFileWithProgress(wide(source), wide(target)), CopyResult::Copied);
    EXPECT_EQ(readTestFile(target), "baaa");
}

namespace {

// The runs of data of a file, as [start, end) pairs found with SEEK_DATA/SEEK_HOLE.
std::vector<std::pair<off_t, off_t>> dataRuns(const std::string& path) {
    std::vector<std::pair<off_t, off_t>> runs;
    const int fd = ::open(path.c_str(), O_RDONLY);
    for (off_t at = 0;;) {
        const off_t start = ::lseek(fd, at, SEEK_DATA);
        if (start < 0) break;
        at = ::lseek(fd, start, SEEK_HOLE);
        runs.emplace_back(start, at);
    }
    ::close(fd);
    return runs;
}

}  // namespace

// A 256 MiB file that starts and ends with holes and holds 3 runs of data,
// one of them across a chunk boundary: the copy has the same runs, the same
// bytes and no more blocks, and progress still reaches the full size. Copied
// within one file system (copy_file_range) and from tmpfs (read/write).
TEST(FileCopy, SparseFilesKeepTheirHoles) {
    const std::string folder = makeTestFolder("sparse");
    std::vector<std::string> sources{folder + "/image.bin"};
    const std::string shm = "/dev/shm/varnholt-sparse-" + std::to_string(::getpid());
    if (std::filesystem::is_directory("/dev/shm") && ::access("/dev/shm", W_OK) == 0) sources.push_back(shm);
    const off_t size = 256 << 20;
    for (const std::string& source : sources) {
        const int fd = ::open(source.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, size), 0);
        const std::string data(1 << 20, 'd');
        for (const off_t at : {off_t(8) << 20, off_t(kCopyChunkBytes) - (256 << 10), off_t(200) << 20})
            ASSERT_EQ(::pwrite(fd, data.data(), data.size(), at), ssize_t(data.size()));
        ::close(fd);

        const std::string target = folder + "/copy.bin";
        uint64_t last = 0;
        auto progress = [&](const CopyProgress& p) {
            EXPECT_GE(p.bytesCopied, last);
            last = p.bytesCopied;
            return CopyProgressAnswer::Continue;
        };
        ASSERT_EQ(copyFileWithProgress(wide(source), wide(target), progress), CopyResult::Copied) << source;
        EXPECT_EQ(last, uint64_t(size));
        struct stat from {}, to {};
        ASSERT_EQ(::stat(source.c_str(), &from), 0);
        ASSERT_EQ(::stat(target.c_str(), &to), 0);
        EXPECT_EQ(to.st_size, size);
        EXPECT_LE(to.st_blocks, from.st_blocks + 64) << source;  // 3 MiB of data, not 256
        EXPECT_EQ(dataRuns(target), dataRuns(source)) << source;
        EXPECT_TRUE(sameContent(source, target));
        std::filesystem::remove(source);
    }
}
