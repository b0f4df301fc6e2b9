#include <filesystem>
#include <thread>

#include "engine/backup_scan.h"
#include "engine_test_support.h"
#include "foundation/file_helpers.h"
#include "platform/text.h"
#include "test_env.h"

namespace fs = std::filesystem;

namespace {

std::wstring makeFile(const std::string& path, const std::string& content) {
    fs::create_directories(fs::path(path).parent_path());
    EXPECT_TRUE(writeTestFile(path, content));
    return utf8ToWide(path);
}

ArchivePathParts split(const std::wstring& path) {
    ArchivePathParts parts;
    EXPECT_TRUE(splitArchivePath(path, parts));
    return parts;
}

}  // namespace

using BackupScanTest = EngineTest;

TEST_F(BackupScanTest, ListingEntersDotFoldersAndAnArchiveListingLeavesItsSetsOut) {
    const std::string root = makeTestFolder("list");
    makeFile(root + "/a.txt", "a");
    makeFile(root + "/sub/b.txt", "b");
    makeFile(root + "/.backupsets/set.backup", "s");
    makeFile(root + "/sub/.hidden/c.txt", "c");
    makeFile(root + "/.dotfile", "d");
    const std::wstring w = utf8ToWide(root);
    std::vector<std::wstring> files;
    EXPECT_EQ(listFilesRecursive(w, files, true), 5u);
    files.clear();
    EXPECT_EQ(listFilesRecursive(w, files, false), 2u);
    files.clear();
    EXPECT_EQ(listArchiveFiles(w + L"/", files), 4u);
    std::sort(files.begin(), files.end());
    EXPECT_EQ(files, (std::vector<std::wstring>{w + L"/.dotfile", w + L"/a.txt", w + L"/sub/.hidden/c.txt",
                                                w + L"/sub/b.txt"}));
}

TEST_F(BackupScanTest, SplitArchivePath) {
    ArchivePathParts p = split(L"/a/report ~ 10000.docx");
    EXPECT_EQ(p.folder, L"/a");
    EXPECT_EQ(p.fileName, L"report ~ 10000.docx");
    EXPECT_EQ(p.stamp, L"10000");
    EXPECT_EQ(p.extension, L"docx");
    EXPECT_EQ(p.plainName, L"report.docx");

    // No stamp of ours: the whole name is the file's own.
    for (const wchar_t* name : {L"report ~ 2024.01.02.docx", L"report ~ 00001.docx", L"report ~ 0001"}) {
        p = split(std::wstring(L"/a/") + name);
        EXPECT_EQ(p.stamp, L"");
        EXPECT_EQ(p.plainName, name);
    }

    p = split(L"/a/notes ~ 2026_01_09_ 7_05_03.042.");  // time-stamped copy of a name without "."
    EXPECT_EQ(p.stamp, L"2026_01_09_ 7_05_03.042");
    EXPECT_EQ(p.extension, L"");
    EXPECT_EQ(p.plainName, L"notes");

    // A dotted folder or a " ~ " in a folder never cuts the name.
    p = split(L"/home/u/my.files/x ~ y/notes");
    EXPECT_EQ(p.folder, L"/home/u/my.files/x ~ y");
    EXPECT_EQ(p.extension, L"");
    EXPECT_EQ(p.stamp, L"");
    EXPECT_EQ(p.plainName, L"notes");

    p = split(L"plain.txt");
    EXPECT_EQ(p.folder, L"");
    EXPECT_EQ(p.fileName, L"plain.txt");
}

TEST_F(BackupScanTest, ArchivedCopiesNewestFirstAndEqualityCheck) {
    const std::string arch = makeTestFolder("arch");
    const std::string src = makeTestFolder("src");
    makeFile(arch + "/report.docx", "v0");
    makeFile(arch + "/report ~ 0000.docx", "v1");
    makeFile(arch + "/report ~ 0001.docx", "v2");
    makeFile(arch + "/report2.docx", "other");
    makeFile(arch + "/report ~ 0003.txt", "other extension");
    fs::create_directories(arch + "/report ~ 0009.docx");  // a folder is no copy
    const std::wstring a = utf8ToWide(arch);

    std::vector<std::wstring> copies;
    EXPECT_EQ(scanFolderExtensions(a + L"/report.docx", copies), 3u);
    EXPECT_EQ(copies, (std::vector<std::wstring>{a + L"/report ~ 0001.docx", a + L"/report ~ 0000.docx",
                                                 a + L"/report.docx"}));
    EXPECT_EQ(scanFolderExtensions(a + L"/missing.docx", copies), 0u);
    EXPECT_EQ(scanFolderExtensions(a + L"/nofolder/report.docx", copies), 0u);

    const std::wstring same = makeFile(src + "/report.docx", "v2");
    const std::wstring changed = makeFile(src + "/changed.docx", "v9");
    EXPECT_EQ(findArchivedVersion(same, a + L"/report.docx"), a + L"/report ~ 0001.docx");
    EXPECT_EQ(findArchivedVersion(changed, a + L"/report.docx"), L"");
    EXPECT_EQ(findArchivedVersion(same, a + L"/none.docx"), L"");

    // The newest copy of every archive name, in path order.
    {
        std::lock_guard<std::mutex> lock(watchFolderMutex);
        watchFolderMap[utf8ToWide(src)].archivePath = a;
    }
    makeFile(arch + "/sub/notes", "n");
    makeFile(arch + "/.backupsets/x ~ 1.backup", "ignored");
    EXPECT_EQ(scanWatchFolder(utf8ToWide(src) + L"/", copies), 4u);  // trailing "/" resolves too
    EXPECT_EQ(copies, (std::vector<std::wstring>{a + L"/report ~ 0001.docx", a + L"/report ~ 0003.txt",
                                                 a + L"/report2.docx", a + L"/sub/notes"}));
}

TEST_F(BackupScanTest, WriteTicksAreWholeSeconds) {
    const std::string dir = makeTestFolder("ticks");
    const std::wstring a = makeFile(dir + "/a", "1"), b = makeFile(dir + "/b", "2");
    const auto stamp = fs::file_time_type::clock::now();
    fs::last_write_time(wideToUtf8(a), stamp);
    fs::last_write_time(wideToUtf8(b), stamp + std::chrono::milliseconds(1));
    int64_t ta = 0, tb = 0;
    ASSERT_TRUE(getFileWriteTicks(a, ta));
    ASSERT_TRUE(getFileWriteTicks(b, tb));
    EXPECT_EQ(ta % 10000000, 0);
    EXPECT_LE(tb - ta, 10000000);
    int64_t exact = 0;
    ASSERT_TRUE(getFileWriteTime(a, exact));
    EXPECT_TRUE(exact - ta >= 0 && exact - ta < 10000000);
    EXPECT_FALSE(getFileWriteTicks(utf8ToWide(dir + "/missing"), ta));
}

TEST_F(BackupScanTest, CacheAnswersPendingWhileComparisonRuns) {
    const std::string arch = makeTestFolder("pending");
    makeFile(arch + "/slow.txt", "archived");
    const std::wstring name = utf8ToWide(arch + "/slow.txt");
    // A vanished source makes the comparison retry its size reads: slow.
    const int savedDelay = fileSizeRetryDelayMs.exchange(300);
    const std::wstring source = utf8ToWide(makeTestFolder("gone") + "/slow.txt");
    const std::wstring same = makeFile(makeTestFolder("same") + "/slow.txt", "archived");

    resetBackupScan();
    EXPECT_EQ(startBackupScanThread(source, name), L"-");
    EXPECT_EQ(startBackupScanThread(source, name), L"-");  // no second comparison
    EXPECT_EQ(startBackupScanThread(same, name), L"-");
    // Two comparisons in all (the equal file's may already have finished).
    const auto started = backupScanCounts();
    EXPECT_EQ(started.running + started.finished, 2u);
    EXPECT_GE(started.running, 1u);  // the slow one is still running
    for (int i = 0; i < 1000 && backupScanCounts().finished < 2; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(backupScanCounts().finished, 2u);
    EXPECT_EQ(backupScanCounts().running, 0u);
    EXPECT_EQ(startBackupScanThread(source, name), L"");
    EXPECT_EQ(startBackupScanThread(same, name), name);

    // A comparison of an earlier round never lands in the new one.
    resetBackupScan();
    EXPECT_EQ(startBackupScanThread(source, name), L"-");
    resetBackupScan();
    ASSERT_TRUE(waitForEngineThreads(5000));
    EXPECT_EQ(backupScanCounts().finished, 0u);
    EXPECT_EQ(startBackupScanThread(same, name), L"-");
    ASSERT_TRUE(waitForEngineThreads(5000));
    EXPECT_EQ(backupScanCounts().finished, 1u);
    fileSizeRetryDelayMs = savedDelay;
}

TEST_F(BackupScanTest, ManyComparisonsOnABoundedPool) {
    const std::string arch = makeTestFolder("many");
    const std::string src = makeTestFolder("manysrc");
    // The archive is in place before the round: a round lists each archive
    // folder once, so copies made during it are not seen.
    for (int i = 0; i < 300; ++i) {
        const std::string file = "f" + std::to_string(i) + ".txt";
        makeFile(arch + "/" + file, "x");
        makeFile(src + "/" + file, i % 2 ? "x" : "yy");  // equal size and time would count as equal
    }
    resetBackupScan();
    for (int i = 0; i < 300; ++i) {
        const std::string file = "f" + std::to_string(i) + ".txt";
        EXPECT_EQ(startBackupScanThread(utf8ToWide(src + "/" + file), utf8ToWide(arch + "/" + file)), L"-");
        EXPECT_LE(backupScanWorkerCount(), 8u);
    }
    // Generous bound: the sanitizer build on a loaded machine is slow.
    for (int i = 0; i < 12000 && backupScanCounts().finished < 300; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(backupScanCounts().finished, 300u);
    EXPECT_EQ(startBackupScanThread(utf8ToWide(src + "/f1.txt"), L""), utf8ToWide(arch + "/f1.txt"));
    EXPECT_EQ(startBackupScanThread(utf8ToWide(src + "/f2.txt"), L""), L"");
}

TEST_F(BackupScanTest, NewRoundSeesCopiesAddedSinceTheLastOne) {
    const std::string arch = makeTestFolder("rounds");
    makeFile(arch + "/doc.txt", "old content");
    makeFile(arch + "/doc2.txt", "new");  // another name: never a copy of doc.txt
    const std::wstring source = makeFile(makeTestFolder("roundsrc") + "/doc.txt", "new");
    const std::wstring other = makeFile(makeTestFolder("roundsrc2") + "/doc2.txt", "new");
    const std::wstring name = utf8ToWide(arch + "/doc.txt");
    const auto result = [](const std::wstring& file, const std::wstring& archiveName) {
        std::wstring found = startBackupScanThread(file, archiveName);
        for (int i = 0; i < 2000 && found == L"-"; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            found = startBackupScanThread(file, archiveName);
        }
        return found;
    };

    resetBackupScan();
    EXPECT_EQ(result(source, name), L"");
    EXPECT_EQ(result(other, utf8ToWide(arch + "/doc2.txt")), utf8ToWide(arch + "/doc2.txt"));
    makeFile(arch + "/doc ~ 0000.txt", "older content");
    makeFile(arch + "/doc ~ 0001.txt", "new");
    makeFile(arch + "/doc2 ~ 0002.txt", "newer");

    resetBackupScan();
    EXPECT_EQ(result(source, name), utf8ToWide(arch + "/doc ~ 0001.txt"));
    EXPECT_EQ(result(other, utf8ToWide(arch + "/doc2.txt")), L"");  // its newest copy differs now
}
