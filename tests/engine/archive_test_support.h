#pragma once
// A watch folder with its archive on temp folders, and the steps of the
// main road (queue a change, run the Copier) for the archiving tests.
#include <filesystem>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "engine/archive_changes.h"
#include "engine/archive_copy.h"
#include "engine/archive_prepare.h"
#include "engine/archive_target.h"
#include "engine/backup_copy_hooks.h"
#include "engine/backup_scan.h"
#include "engine/backup_set_folders.h"
#include "engine/backup_sets.h"
#include "engine/copier.h"
#include "engine/copy_cancel.h"
#include "engine/copy_progress.h"
#include "engine/copy_queue.h"
#include "engine/copy_queue_file.h"
#include "engine/version_deletion.h"
#include "engine_test_support.h"
#include "foundation/app_config.h"
#include "foundation/app_log.h"
#include "foundation/file_helpers.h"
#include "foundation/version_records.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "test_env.h"

struct ArchiveFixtureFolders {
    std::wstring watch;
    std::wstring archive;
};

class ArchiveTest : public EngineTest {
protected:
    void SetUp() override {
        EngineTest::SetUp();
        timings().settleMs = 20;
        resetArchiving();
        const std::wstring root = utf8ToWide(makeTestFolder("road"));
        folders.watch = root + L"/Watch";
        folders.archive = root + L"/Archive";
        std::filesystem::create_directories(wideToUtf8(folders.watch));
        std::filesystem::create_directories(wideToUtf8(folders.archive));
        addFolder(folders.watch, folders.archive, kCollisionAppendVersion);
    }
    void TearDown() override {
        EngineTest::TearDown();
        resetArchiving();
    }
    static void resetArchiving() {
        {
            std::lock_guard<std::mutex> lock(copyQueueMutex);
            copyQueue.clear();
        }
        {
            std::lock_guard<std::mutex> lock(versionRecordMutex);
            versionRecordMap.clear();
        }
        {
            std::lock_guard<std::mutex> lock(statisticsMutex);
            applicationStatsMap.clear();
        }
        clearArchiveContext();
        setFreeSpaceFunction({});
        setBackupCopyHooks({});
        for (CancelTask task : {CancelTask::Backup, CancelTask::Restore, CancelTask::Deletion})
            setCancelRequest(task, false);
        setCopyBatchFlag(true);
        std::filesystem::remove(wideToUtf8(copyQueueFilePath()));
    }
    static void addFolder(const std::wstring& watch, const std::wstring& archive, int32_t option,
                          int32_t type = kFolderTypeDescendents) {
        std::lock_guard<std::mutex> lock(watchFolderMutex);
        WatchFolderEntry entry;
        entry.archivePath = archive;
        entry.collisionOption = option;
        entry.folderType = type;
        entry.extensionMap[L"*"] = ExtensionEntry{L"*", true, false};
        entry.extensionMap[L"tmp"] = ExtensionEntry{L"tmp", false, false};
        watchFolderMap[watch] = entry;
    }
    static void setOption(const std::wstring& watch, int32_t option) { setFolderCollisionOption(watch, option); }

    std::wstring write(const std::wstring& relative, const std::string& content) {
        const std::wstring path = folders.watch + L"/" + relative;
        std::filesystem::create_directories(std::filesystem::path(wideToUtf8(path)).parent_path());
        EXPECT_TRUE(writeTestFile(wideToUtf8(path), content));
        return path;
    }
    static void queue(const std::wstring& path, const std::wstring& application = L"editor") {
        archiveChangedFile({ChangedFile{path, application}});
    }
    static bool queued(const std::wstring& path) {
        std::lock_guard<std::mutex> lock(copyQueueMutex);
        return copyQueue.count(path) != 0;
    }
    // Runs one Copier on this thread until it finds the queue empty.
    static void runCopier() { copierThread(); }
    std::wstring archived(const std::wstring& relative) const { return folders.archive + L"/" + relative; }
    static std::string read(const std::wstring& path) { return readTestFile(wideToUtf8(path)); }
    static bool exists(const std::wstring& path) { return std::filesystem::exists(wideToUtf8(path)); }
    static std::vector<std::wstring> versionsOf(const std::wstring& source) {
        std::vector<std::wstring> paths;
        std::lock_guard<std::mutex> lock(versionRecordMutex);
        if (auto it = versionRecordMap.find(source); it != versionRecordMap.end())
            for (const auto& [path, record] : it->second) paths.push_back(path);
        return paths;
    }
    static size_t logCount(const std::wstring& text) {
        size_t count = 0;
        for (const AppLogEntry& entry : appLogSnapshot().entries) count += entry.key.find(text) != std::wstring::npos;
        return count;
    }

    // The archive, the version records and the folder's staged sets agree:
    // every copy they name exists inside the archive, every copy a set lists
    // as copied is there, and every file of the archive is named by them.
    void expectArchiveAgrees() const {
        std::set<std::wstring> named;
        {
            std::lock_guard<std::mutex> lock(versionRecordMutex);
            for (const auto& [source, versions] : versionRecordMap) {
                EXPECT_FALSE(pathIsInside(source, folders.archive)) << wideToUtf8(source);
                for (const auto& [path, record] : versions) named.insert(path);
            }
        }
        for (const std::wstring& setFile : listBackupSetFiles(backupStagingSubfolder(folders.watch))) {
            BackupSetRecord set;
            EXPECT_TRUE(loadBackupSetFile(setFile, set)) << wideToUtf8(setFile);
            for (const auto& [source, entry] : set.files) {
                EXPECT_EQ(entry.copied, entry.listedCopied) << wideToUtf8(entry.archivePath);
                if (entry.copied) named.insert(entry.archivePath);
            }
        }
        for (const std::wstring& path : named) {
            EXPECT_TRUE(pathIsInside(path, folders.archive) && isExistingFile(path)) << wideToUtf8(path);
        }
        std::vector<std::wstring> files;
        listArchiveFiles(folders.archive, files);
        for (const std::wstring& file : files) EXPECT_TRUE(named.count(file)) << "unnamed " << wideToUtf8(file);
    }

    ArchiveFixtureFolders folders;
};
