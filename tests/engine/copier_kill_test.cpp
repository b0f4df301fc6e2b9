#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "archive_test_support.h"
#include "platform/file_copy.h"

namespace {

// True once a temporary copy with data sits in the folder.
bool copyInProgress(const std::wstring& folder) {
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(wideToUtf8(folder), error)) {
        if (isCopyTemporaryName(utf8ToWide(entry.path().filename().string())) && entry.file_size(error) > 0)
            return true;
    }
    return false;
}

}  // namespace

TEST_F(ArchiveTest, KilledMidCopyLeavesNoPartialFileUnderAnArchivedName) {
    const std::wstring small = write(L"small.txt", "kept");
    queue(small);
    runCopier();
    ASSERT_TRUE(exists(versionRecordsFilePath()));

    constexpr size_t kMiB = 1 << 20;
    constexpr size_t kSizeMiB = 384;
    const std::wstring big = folders.watch + L"/big.bin";
    {
        std::ofstream out(wideToUtf8(big), std::ios::binary);
        std::string chunk(kMiB, '\0');
        for (size_t i = 0; i < kSizeMiB; ++i) {
            std::fill(chunk.begin(), chunk.end(), static_cast<char>('a' + i % 26));
            out.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
        }
    }
    timings().settleMs = 0;
    const pid_t child = fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
        queue(big);
        copierThread();
        _exit(0);
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!copyInProgress(folders.archive) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the copy ended before it could be interrupted";

    // Only the earlier version and an unnamed temporary file are there.
    EXPECT_FALSE(exists(archived(L"big.bin")));
    for (const auto& entry : std::filesystem::directory_iterator(wideToUtf8(folders.archive))) {
        const std::wstring name = utf8ToWide(entry.path().filename().string());
        EXPECT_TRUE(name == L"small.txt" || isCopyTemporaryName(name)) << wideToUtf8(name);
    }
    ASSERT_TRUE(loadVersionRecords());
    EXPECT_EQ(versionsOf(small), std::vector<std::wstring>{archived(L"small.txt")});
    EXPECT_TRUE(versionsOf(big).empty());

    // The next attempt copies the whole file.
    queue(big);
    runCopier();
    EXPECT_EQ(std::filesystem::file_size(wideToUtf8(archived(L"big.bin"))), kSizeMiB * kMiB);
    EXPECT_EQ(versionsOf(big), std::vector<std::wstring>{archived(L"big.bin")});
}
