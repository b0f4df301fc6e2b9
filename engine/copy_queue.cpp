#include "engine/copy_queue.h"

#include "engine/archive_copy.h"
#include "engine/thread_registry.h"
#include "engine/unclean_end.h"
#include "foundation/app_config.h"
#include "foundation/app_log.h"
#include "foundation/data_files.h"
#include "foundation/data_packet.h"
#include "foundation/data_record.h"
#include "foundation/file_helpers.h"
#include "foundation/global_defaults.h"
#include "foundation/watch_folders.h"
#include "platform/file_system.h"
#include "platform/paths.h"

CopyQueueMap copyQueue;
std::mutex copyQueueMutex;

namespace {

const char* const kQueueSection = "cq";
const char* const kQueueEntry = "qi";

std::mutex g_backupHooksMutex;
BackupCopyHooks g_backupHooks;

// Adds one to a 16-bit statistics count (wrapping) and recomputes the ratio.
void countApplicationResult(const std::wstring& application, bool copied, uint8_t* failureCounted) {
    std::lock_guard<std::mutex> lock(statisticsMutex);
    const auto it = applicationStatsMap.find(application);
    if (it == applicationStatsMap.end()) return;
    ApplicationRecord& record = it->second;
    if (copied) {
        record.archivedCount = static_cast<uint16_t>(record.archivedCount + 1);
        record.ratio = record.changeCount == 0 ? 0.0 : double(record.archivedCount) / double(record.changeCount);
    } else if (failureCounted && !*failureCounted) {
        record.failureCount = static_cast<uint16_t>(record.failureCount + 1);
        *failureCounted = 1;
    }
}

void reportToBackup(const CopyQueueItem& item, int32_t code) {
    const BackupCopyHooks hooks = backupCopyHooks();
    if (hooks.recordCopyResult) hooks.recordCopyResult(item.sourcePath, item.finalTargetPath, code);
}

// The folder's given-up count, except while a backup set of that folder is
// being filled.
void countGivenUp(const CopyQueueItem& item) {
    const std::wstring folderKey = findWatchFolderOfFile(item.sourcePath);
    if (folderKey.empty()) return;
    if (fillingBackupSetFolder() == folderKey) return;
    std::lock_guard<std::mutex> lock(watchFolderMutex);
    if (const auto it = watchFolderMap.find(folderKey); it != watchFolderMap.end()) ++it->second.givenUpCount;
}

}  // namespace

size_t copyQueueCount() {
    std::lock_guard<std::mutex> lock(copyQueueMutex);
    return copyQueue.size();
}

void setBackupCopyHooks(const BackupCopyHooks& hooks) {
    std::lock_guard<std::mutex> lock(g_backupHooksMutex);
    g_backupHooks = hooks;
}

BackupCopyHooks backupCopyHooks() {
    std::lock_guard<std::mutex> lock(g_backupHooksMutex);
    return g_backupHooks;
}

std::wstring copyQueueFilePath() { return configurationFilePath(L"CopyQueue.dat"); }

bool loadCopyQueue() {
    const std::wstring path = copyQueueFilePath();
    if (!isExistingFile(path)) return false;
    DataRecord document;
    if (!loadDataRecordFile(document, kQueueSection, path, kDataFilePassPhrase)) return false;
    const RecordSectionHandle section = getRecordSection(document, kQueueSection);
    std::vector<ChangedFile> changes;
    std::vector<std::wstring> skipped;
    const size_t count = getRecordValueCount(section, kQueueEntry);
    for (size_t i = 0; i < count; ++i) {
        std::wstring text;
        if (!getRecordWString(section, kQueueEntry, text, static_cast<uint32_t>(i))) continue;
        // Cut at the last separator: a file name may hold "[|]", the
        // application written after it is an image path.
        const size_t cut = text.rfind(kFieldSeparatorW);
        if (cut == std::wstring::npos || cut == 0) continue;
        const std::wstring source = text.substr(0, cut);
        // A source must lie in its watch folder: its archive name is built
        // from its path, so "/watch/../x" would be read and written elsewhere.
        if (!isPathBelow(source, findWatchFolderOfFile(source))) {
            skipped.push_back(source);
            continue;
        }
        changes.push_back({source, text.substr(cut + kFieldSeparatorW.size())});
    }
    if (!skipped.empty())
        appendAppLogEntry(L"Copy queue entries outside every watch folder skipped: " + std::to_wstring(skipped.size()) +
                              L", the first: " + skipped.front(),
                          4, false);
    // Straight into the queue: the files are archived even before the change
    // watcher runs, and items queued meanwhile stay.
    archiveChangedFile(changes);
    removeFile(path);
    return true;
}

bool saveCopyQueue() {
    const std::wstring path = copyQueueFilePath();
    // The files waiting for their archive's return are kept as well.
    std::map<std::wstring, std::wstring> files;
    for (const ChangedFile& file : filesAwaitingArchive()) files[file.path] = file.applicationName;
    {
        std::lock_guard<std::mutex> lock(copyQueueMutex);
        for (const auto& [source, item] : copyQueue) files[item.sourcePath] = item.applicationName;
    }
    std::vector<std::wstring> values;
    for (const auto& [source, application] : files)
        values.push_back(source + std::wstring(kFieldSeparatorW) + application);
    if (values.empty()) return !isExistingFile(path) || removeFile(path);
    const std::wstring folder = configurationFolderPath();
    DataRecord document;
    addRecordSection(document, kQueueSection);
    const RecordSectionHandle section = getRecordSection(document, kQueueSection);
    for (const std::wstring& value : values) setRecordWString(section, kQueueEntry, value, kRecordAppend);
    if ((isExistingFolder(folder) || makeDirectoryPathWithSD(folder + kPathSeparatorText)) &&
        saveDataRecordFile(document, kQueueSection, path, kDataFilePassPhrase))
        return true;
    // Kept only in memory, the files would be lost: the next start must find them.
    noteFailedSave(path);
    return false;
}

bool saveUnattendedCopyQueue() {
    if (liveEngineThreadCount() != 0 || (copyQueueCount() == 0 && filesAwaitingArchive().empty())) return false;
    return saveCopyQueue();
}

bool advanceQueueItem(CopyQueueItem& item) {
    if (item.state == kCopyStateCopied) {
        countApplicationResult(item.applicationName, true, nullptr);
        reportToBackup(item, kBackupResultCopied);
        return true;
    }
    if (item.state != kCopyStateFailed && item.state != kCopyStateFailedFinal) return false;
    configurationSaved = false;
    if (item.finished) return true;
    countApplicationResult(item.applicationName, false, &item.failureCounted);
    ++item.attemptCount;
    if (item.attemptCount >= kMaxCopyAttempts || item.state == kCopyStateFailedFinal) {
        reportToBackup(item, kBackupResultGivenUp);
        item.finished = 1;
        countGivenUp(item);
        // A file still held open by its writer gets one more pass.
        if (isFileLocked(item.sourcePath)) item.state = kCopyStateToCopy;
        return false;
    }
    item.state = kCopyStateToCopy;
    return false;
}

std::wstring copyQueueShutdownText(size_t remaining) {
    return L"000: Not all files were copied before the last application shutdown.\n" + std::to_wstring(remaining) +
           L" item" + (remaining == 1 ? L"" : L"s") + L" remain. Copy queue saved to resume on restart.";
}
