#include "engine/archive_prepare.h"

#include <utility>
#include <vector>

#include "engine/archive_changes.h"
#include "engine/backup_set_folders.h"
#include "engine/catch_up_scan.h"
#include "engine/change_watcher.h"
#include "engine/copier.h"
#include "engine/copy_queue.h"
#include "engine/engine_hooks.h"
#include "engine/thread_registry.h"
#include "foundation/app_config.h"
#include "foundation/app_log.h"
#include "foundation/archive_root.h"
#include "foundation/file_helpers.h"
#include "foundation/security.h"
#include "foundation/version_records.h"
#include "foundation/watch_folders.h"
#include "platform/file_system.h"
#include "platform/paths.h"
#include "platform/safe_folders.h"

namespace {

// Stores the archive folder in the entry; false when the folder is not listed.
bool storeArchiveFolder(const std::wstring& folderKey, const std::wstring& archiveFolder) {
    bool moved = false;
    {
        std::lock_guard<std::mutex> lock(watchFolderMutex);
        const auto it = watchFolderMap.find(folderKey);
        if (it == watchFolderMap.end()) return false;
        if (it->second.archivePath != archiveFolder) {
            it->second.archivePath = archiveFolder;
            configurationSaved = false;
            moved = true;
        }
        it->second.problemFlags &= ~kProblemArchiveMissing;
    }
    // The copies from now on go into the new archive, where the folder's
    // backup sets are kept and read from, never on into the old one.
    if (moved) forgetArchiveContext(folderKey);
    return true;
}

bool isListedFolder(const std::wstring& folderKey) {
    std::lock_guard<std::mutex> lock(watchFolderMutex);
    return watchFolderMap.count(folderKey) != 0;
}

}  // namespace

std::wstring archiveFolderFor(const std::wstring& folderPath, const std::wstring& archivePath) {
    const std::wstring name = lastPathComponent(pathKey(folderPath));
    const std::wstring archive = withoutTrailingSeparators(archivePath);
    // An archive path that already names this folder's archive folder is kept
    // unless another watch folder archives there; two watch folders of the
    // same name never share one.
    const bool named = isArchiveFolderNameOf(lastPathComponent(pathKey(archive)), name);
    if (named && !archiveBelongsToOtherFolder(folderPath, archive)) return archive;
    const std::wstring base = named ? parentFolder(archive) : archive;
    return base.empty() ? L"" : uniqueArchiveFolder(folderPath, base);
}

void prepareArchiveThread(const std::wstring& folderPath, const std::wstring& archivePath) {
    const std::wstring folderKey = pathKey(folderPath);
    const std::wstring archiveFolder = archiveFolderFor(folderPath, archivePath);
    if (!isAbsolutePath(archiveFolder) || !isListedFolder(folderKey)) return;
    if (const std::wstring conflict = archiveLocationConflict(folderPath, archiveFolder); !conflict.empty()) {
        appendAppLogEntry(L"Archive path refused for " + folderPath + L": " + archiveFolder +
                              L" overlaps the watch folder " + conflict,
                          4, false);
        return;
    }
    // Another user's folder, or one others can write, holds nothing of ours:
    // nothing is archived, imported or indexed there.
    if (isForeignArchiveFolder(archivePath) || isForeignArchiveFolder(archiveFolder)) return;
    // An archive the program makes is its owner's only, as the data folder
    // is. It and the folders missing above it are made on the checked walk
    // from "/", each in the folder above it, never by their path.
    const FolderModeFor ownerOnly = [](const std::wstring&) { return programFolderMode(); };
    if (!openRootFolder(archiveFolder, nullptr, ownerOnly).isOpen() || !storeArchiveFolder(folderKey, archiveFolder))
        return;
    importBackupSets(folderPath);
    indexArchivedVersions(folderPath);
    // The files whose copy found the archive gone are archived now, and a
    // comparison with the archive that found it away runs.
    archiveChangedFile(takeFilesAwaitingArchive(folderKey));
    requestCatchUpOwedUntilArchiveIsBack(folderKey);
    // Every file is compared with the archive as at a start, once the watch
    // is open: a folder just added keeps each file as it was when the user
    // chose to protect it, before a change can replace it.
    compareFolderOnceWatched(folderKey);
    const EngineHooks hooks = engineHooks();
    if (hooks.startWatchFolderThreads) hooks.startWatchFolderThreads();
    if (!configurationSaved && hooks.saveAppConfiguration) startEngineThread([save = hooks.saveAppConfiguration] { save(); });
}

size_t checkArchiveInstances(const std::wstring& folderPath) {
    const std::wstring folderKey = withoutTrailingSeparators(pathKey(folderPath));
    std::vector<std::wstring> archived;
    {
        std::lock_guard<std::mutex> lock(versionRecordMutex);
        for (const auto& [source, versions] : versionRecordMap) {
            if (!pathIsInside(source, folderKey)) continue;
            for (const auto& [path, record] : versions)
                if (record.present) archived.push_back(path);
        }
    }
    size_t missing = 0;
    for (const std::wstring& path : archived) {
        if (isExistingFile(path)) continue;
        appendAppLogEntry(L"Archive instance missing for file: " + path, 4, false);
        ++missing;
    }
    return missing;
}

void installArchiveHooks() {
    EngineHooks hooks = engineHooks();
    hooks.copierThread = copierThread;
    hooks.copyQueueCount = copyQueueCount;
    hooks.prepareArchiveThread = prepareArchiveThread;
    hooks.checkArchiveInstances = [](const std::wstring& folderPath) { checkArchiveInstances(folderPath); };
    hooks.requeueFilesAwaitingRoom = requeueFilesAwaitingRoom;
    setEngineHooks(hooks);
}
