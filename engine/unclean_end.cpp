#include "engine/unclean_end.h"

#include <atomic>
#include <mutex>
#include <set>
#include <vector>

#include "engine/backup_set_folders.h"
#include "engine/catch_up_scan.h"
#include "engine/change_watcher.h"
#include "engine/restore_folders.h"
#include "engine/thread_registry.h"
#include "foundation/app_log.h"
#include "foundation/data_files.h"
#include "foundation/global_defaults.h"
#include "foundation/text_format.h"
#include "foundation/watch_folders.h"
#include "platform/atomic_file.h"
#include "platform/file_change_time.h"
#include "platform/file_copy.h"
#include "platform/file_system.h"
#include "platform/folder_walk.h"
#include "platform/paths.h"
#include "platform/safe_folders.h"
#include "platform/text.h"

namespace {

constexpr uint32_t kLogKindImportant = 2;
constexpr uint32_t kLogKindCritical = 8;

// Set from the detection until a recovery has gone through every folder.
std::atomic<bool> g_recoveryOwed{false};

std::mutex g_failedSavesMutex;
std::set<std::wstring> g_failedSaves;

struct RecoveryFolder {
    std::wstring key;
    std::wstring archive;
};

std::vector<RecoveryFolder> recoveryFolders() {
    std::vector<RecoveryFolder> folders;
    std::lock_guard<std::mutex> lock(watchFolderMutex);
    for (const auto& [key, entry] : watchFolderMap) {
        const bool watched = isWatchedFolderType(entry.folderType);
        const std::wstring archive = withoutTrailingSeparators(entry.archivePath);
        if (watched && !entry.removed && isAbsolutePath(archive)) folders.push_back({key, archive});
    }
    return folders;
}

}  // namespace

std::wstring runMarkerPath() { return configurationFilePath(L"Running.mark"); }

bool openRunMarker() {
    const std::string path = wideToUtf8(runMarkerPath());
    const bool unclean = readFileAttributes(runMarkerPath()) != kInvalidFileAttributes;
    g_recoveryOwed = unclean;
    writeFileAtomically(path, std::to_string(processStartTicks()) + "\n");
    return unclean;
}

bool closeRunMarker() {
    if (g_recoveryOwed.load() || anySaveFailed()) return false;
    return removeFile(runMarkerPath());
}

void noteFailedSave(const std::wstring& path) {
    {
        std::lock_guard<std::mutex> lock(g_failedSavesMutex);
        if (!g_failedSaves.insert(path).second) return;
    }
    appendAppLogEntry(L"Critical! - Could not save " + path + L"; the next start recovers as after an unclean end",
                      kLogKindCritical, false);
}

bool anySaveFailed() {
    std::lock_guard<std::mutex> lock(g_failedSavesMutex);
    return !g_failedSaves.empty();
}

size_t removeStaleCopyTemporaries(const std::wstring& archive, int64_t beforeTicks) {
    size_t removed = 0;
    walkFolderFiles(withoutTrailingSeparators(archive), true, enterEveryFolder, [&](const std::wstring& path) {
        int64_t changeTicks = 0;
        if (isCopyTemporaryName(lastPathComponent(path)) && readFileChangeTicks(path, changeTicks) &&
            changeTicks < beforeTicks && removeFileBelow(archive, path))
            ++removed;
        return WalkStep::Go;
    });
    return removed;
}

RecoveryCounts recoverAfterUncleanEnd(int64_t staleBeforeTicks) {
    RecoveryCounts counts;
    counts.temporariesRemoved += removeRestoreLeftovers(staleBeforeTicks);
    for (const RecoveryFolder& folder : recoveryFolders()) {
        if (!isApplicationRunning()) return counts;
        counts.temporariesRemoved += removeStaleCopyTemporaries(folder.archive, staleBeforeTicks);
        // Copies of imported backup sets are no versions; the rest are.
        importBackupSets(folder.key);
        counts.recordsAdded += indexArchivedVersions(folder.key);
        const CatchUpCounts found = queueUnarchivedFiles(folder.key, 0);
        counts.compared += found.compared;
        counts.queued += found.queued;
        ++counts.folders;
    }
    if (isApplicationRunning()) g_recoveryOwed = false;
    return counts;
}

std::wstring recoveryLogText(const RecoveryCounts& counts) {
    return L"The last run did not end cleanly. Recovered: " + std::to_wstring(counts.queued) +
           L" unarchived files queued for archiving (of " + std::to_wstring(counts.compared) + L" compared in " +
           std::to_wstring(counts.folders) + L" watch folders), " + std::to_wstring(counts.recordsAdded) +
           L" archived versions recorded again, " + std::to_wstring(counts.temporariesRemoved) +
           L" temporary copies removed.";
}

void startStartUpComparison(bool uncleanEnd) {
    if (uncleanEnd) return startUncleanEndRecovery();
    compareEveryFolderOnceWatched();
}

void startUncleanEndRecovery() {
    startEngineThread([] {
        // A copy of this run writes its temporary file after the start.
        const RecoveryCounts counts = recoverAfterUncleanEnd(processStartTicks());
        if (!g_recoveryOwed.load()) appendAppLogEntry(recoveryLogText(counts), kLogKindImportant, false);
    });
}
