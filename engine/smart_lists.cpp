#include "engine/smart_lists.h"

#include <algorithm>
#include <chrono>
#include <cwchar>
#include <functional>
#include <thread>
#include <vector>

#include "engine/backup_scan.h"
#include "engine/backup_set_folders.h"
#include "engine/backup_sets.h"
#include "engine/restore_state.h"
#include "engine/thread_registry.h"
#include "engine/version_deletion.h"
#include "foundation/file_helpers.h"
#include "foundation/file_metadata.h"
#include "foundation/global_defaults.h"
#include "platform/file_system.h"
#include "platform/paths.h"
#include "platform/shell_open.h"
#include "platform/text.h"

std::map<std::wstring, SetListEntry> backupSetList;
std::wstring restoreListFolder;
std::string restoreListLastSetName;
std::mutex backupSetListMutex;
std::atomic<bool> restoreListBuilding{false};
std::atomic<uint8_t> restoreListBuildResult{0};

namespace {

// Most size readers a measurement runs at once.
constexpr size_t kMaxSizeWorkers = 8;

struct SetStatistics {
    uint64_t fileCount = 0;
    uint64_t selectedToRestore = 0;
    uint64_t missing = 0;
    uint64_t existing = 0;
    uint64_t totalBytes = 0;
};

double ratio(uint64_t part, uint64_t whole) {
    return whole == 0 ? 0.0 : static_cast<double>(part) / static_cast<double>(whole);
}

void storeStatistics(SetListEntry& entry, const SetStatistics& stats) {
    entry.fileCount = stats.fileCount;
    entry.selectedToRestore = stats.selectedToRestore;
    entry.missing = stats.missing;
    entry.existing = stats.existing;
    entry.totalBytes = stats.totalBytes;
    entry.consistency = ratio(stats.existing, stats.fileCount);
}

bool readDecimal(const std::wstring& text, uint64_t& value) {
    if (text.empty() || !std::all_of(text.begin(), text.end(), [](wchar_t c) { return c >= L'0' && c <= L'9'; }))
        return false;
    value = std::wcstoull(text.c_str(), nullptr, 10);
    return true;
}

// "efc:N,tf:N,tm:N,b:N,str:N" in any order; unknown or malformed parts are skipped.
SetStatistics parseSummary(const std::wstring& summary) {
    SetStatistics stats;
    size_t start = 0;
    while (start <= summary.size()) {
        size_t end = summary.find(L',', start);
        if (end == std::wstring::npos) end = summary.size();
        const std::wstring part = summary.substr(start, end - start);
        const size_t colon = part.find(L':');
        uint64_t value = 0;
        if (colon != std::wstring::npos && readDecimal(part.substr(colon + 1), value)) {
            const std::wstring name = part.substr(0, colon);
            if (name == L"efc") stats.existing = value;
            if (name == L"tf") stats.fileCount = value;
            if (name == L"tm") stats.missing = value;
            if (name == L"b") stats.totalBytes = value;
            if (name == L"str") stats.selectedToRestore = value;
        }
        start = end + 1;
    }
    return stats;
}

const BackupSetEntry* entryWithSummary(const BackupSetRecord& set) {
    for (const auto& item : set.files) {
        if (!item.second.summary.empty()) return &item.second;
    }
    return nullptr;
}

SetStatistics measureSet(BackupSetRecord& set, bool refresh) {
    SetStatistics stats;
    stats.fileCount = set.files.size();
    for (auto& [source, entry] : set.files) {
        if (refresh) entry.copied = isExistingFile(entry.archivePath);
        if (entry.copied) {
            ++stats.existing;
            uint64_t size = 0;
            if (getFileSize(entry.archivePath, size)) stats.totalBytes += size;
        } else {
            ++stats.missing;
        }
        if (entry.restore) ++stats.selectedToRestore;
    }
    return stats;
}

// Writes the summary into a set file that has none. The file is read again
// under the backup-set mutex, so an edit saved meanwhile is kept; a set with
// no copy in reach (its archive offline) is not written, as its summary would
// count every file missing.
void writeSummaryBack(const std::wstring& setFilePath) {
    std::lock_guard<std::mutex> lock(backupSetMutex);
    BackupSetRecord set;
    if (!loadBackupSetFile(setFilePath, set) || entryWithSummary(set)) return;
    const bool anyCopied =
        std::any_of(set.files.begin(), set.files.end(), [](const auto& item) { return item.second.copied; });
    if (anyCopied) saveBackupSetFile(setFilePath, set);
}

// The size readers of one measurement share one list of results.
struct SizeWork {
    std::vector<std::wstring> paths;
    std::atomic<size_t> next{0};
    std::atomic<bool> stop{false};
    std::mutex mutex;
    std::vector<std::pair<bool, uint64_t>> results;  // readable, size; filled as they come
};

void readSizes(SizeWork& work) {
    while (!work.stop) {
        const size_t index = work.next++;
        if (index >= work.paths.size()) return;
        uint64_t size = 0;
        const bool readable = getFileSize(work.paths[index], size);
        std::lock_guard<std::mutex> lock(work.mutex);
        work.results.emplace_back(readable, size);
    }
}

// The files the synthetic entry restores: the newest copy of each file in the
// folder's archive, one per file however many versions it has.
std::vector<std::wstring> archivedFilesOf(const std::wstring& path) {
    WatchFolderArchiveInfo folder;
    std::vector<std::wstring> files;
    if (findHoldingWatchFolder(path, folder) && isAbsolutePath(folder.archivePath)) {
        scanWatchFolder(folder.key, files);
        return files;
    }
    ArchivedFileList list;
    if (!collectArchivedFiles(path, list)) return files;
    for (const auto& item : list.files) files.push_back(item.second.path);
    return files;
}

// The synthetic entry: counts at once, sizes as the readers deliver them.
void measureArchivedFolder(const std::wstring& key, const std::wstring& path) {
    SizeWork work;
    work.paths = archivedFilesOf(path);
    const uint64_t count = work.paths.size();
    const bool listed = updateSetListEntry(key, path, [&](SetListEntry& entry) {
        storeStatistics(entry, SetStatistics{count, count, 0, 0, 0});
        entry.noteText = kSmartListNote;
        entry.statisticsReady = 1;
    });
    if (!listed || count == 0) return;
    std::vector<std::thread> readers;
    const size_t readerCount = std::clamp<size_t>(work.paths.size() / 4, 1, kMaxSizeWorkers);
    for (size_t i = 0; i < readerCount; ++i) readers.emplace_back(readSizes, std::ref(work));
    SetStatistics stats{count, count, 0, 0, 0};
    size_t taken = 0;
    while (taken < count) {
        {
            std::lock_guard<std::mutex> lock(work.mutex);
            for (size_t i = taken; i < work.results.size(); ++i) {
                stats.existing += work.results[i].first ? 1 : 0;
                stats.totalBytes += work.results[i].second;
            }
            taken = work.results.size();
        }
        bool wanted = false;
        updateSetListEntry(key, path, [&](SetListEntry& entry) {
            wanted = entry.statisticsReady != 0;
            if (wanted) storeStatistics(entry, stats);
        });
        if (!wanted || !isApplicationRunning()) break;
        if (taken < count) std::this_thread::sleep_for(std::chrono::milliseconds(timings().shortPollMs.load()));
    }
    work.stop = true;
    for (std::thread& reader : readers) reader.join();
}

}  // namespace

bool updateSetListEntry(const std::wstring& key, const std::wstring& setFilePath,
                        const std::function<void(SetListEntry&)>& change) {
    std::lock_guard<std::mutex> lock(backupSetListMutex);
    auto it = backupSetList.find(key);
    if (it == backupSetList.end() || it->second.setFilePath != setFilePath) return false;
    change(it->second);
    return true;
}

std::map<std::wstring, SetListEntry> backupSetListSnapshot() {
    std::lock_guard<std::mutex> lock(backupSetListMutex);
    return backupSetList;
}

bool findSetListEntry(const std::wstring& key, SetListEntry& out) {
    std::lock_guard<std::mutex> lock(backupSetListMutex);
    auto it = backupSetList.find(key);
    if (it == backupSetList.end()) return false;
    out = it->second;
    return true;
}

uint8_t buildSmartRestoreList(const std::wstring& watchFolderPath) {
    WatchFolderArchiveInfo folder;
    if (!findHoldingWatchFolder(watchFolderPath, folder)) return 0;
    const std::vector<std::wstring> setFiles = listBackupSetFiles(backupStagingSubfolder(folder.key));
    if (setFiles.empty()) return 0;
    std::lock_guard<std::mutex> lock(backupSetListMutex);
    backupSetList.clear();
    std::wstring lastName;
    for (const std::wstring& file : setFiles) {
        SetListEntry entry;
        entry.displayName = backupSetNameFromPath(file);
        entry.setFilePath = file;
        lastName = entry.displayName;
        backupSetList.try_emplace(lastName, std::move(entry));
    }
    SetListEntry all;
    all.displayName = std::wstring(kAllRecentFilesName);
    all.setFilePath = watchFolderPath;
    all.noteText = kSmartRestoreListNote;
    all.consistency = 0.0;
    backupSetList.insert_or_assign(all.displayName, std::move(all));
    restoreListLastSetName = wideToUtf8(lastName);
    restoreListFolder = watchFolderPath;
    return 1;
}

void buildSmartList(std::wstring key, bool refresh) {
    SetListEntry listed;
    if (!findSetListEntry(key, listed)) return;
    BackupSetRecord set;
    if (!loadBackupSetFile(listed.setFilePath, set)) {
        measureArchivedFolder(key, listed.setFilePath);
        return;
    }
    const BackupSetEntry* summarised = entryWithSummary(set);
    const SetStatistics stats = summarised ? parseSummary(summarised->summary) : measureSet(set, refresh);
    updateSetListEntry(key, listed.setFilePath, [&](SetListEntry& entry) {
        storeStatistics(entry, stats);
        entry.noteText = set.note;
    });
    if (!summarised && !set.files.empty()) writeSummaryBack(listed.setFilePath);
    updateSetListEntry(key, listed.setFilePath, [](SetListEntry& entry) { entry.statisticsReady = 1; });
}

void restoreListBuildJob(std::wstring watchFolderPath) {
    restoreListBuilding = true;
    holdRestoreWorkBusy();
    restoreListBuildResult = buildSmartRestoreList(watchFolderPath);
    releaseRestoreWorkBusy();
    restoreListBuilding = false;
}

bool openWithShell(std::wstring path) { return openWithDesktop(path); }
