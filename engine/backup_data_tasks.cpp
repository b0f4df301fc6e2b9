#include "engine/backup_data_tasks.h"

#include <chrono>
#include <mutex>
#include <set>
#include <thread>
#include <utility>
#include <vector>

#include "engine/backup_scan.h"
#include "engine/backup_set_folders.h"
#include "engine/backup_sets.h"
#include "engine/confirm_request.h"
#include "engine/copy_cancel.h"
#include "engine/restore_state.h"
#include "engine/smart_lists.h"
#include "engine/thread_registry.h"
#include "engine/version_deletion.h"
#include "foundation/app_log.h"
#include "foundation/data_files.h"
#include "foundation/file_helpers.h"
#include "foundation/global_defaults.h"
#include "foundation/texts.h"
#include "foundation/watch_folders.h"
#include "platform/file_system.h"
#include "platform/folder_tree.h"
#include "platform/paths.h"
#include "platform/safe_folders.h"
#include "platform/text.h"

std::atomic<bool> deletionRunning{false};

namespace {

ModalReply askTemplate(const ConfirmTemplate& question, const std::string& displayName) {
    return askModalQuestion(question.title, question.heading,
                            fillTemplate(question.body, {{kPlaceholderDisplayName, displayName}}),
                            question.buttonMask, [] { return isApplicationRunning(); });
}

std::vector<WatchFolderArchiveInfo> watchFolderArchives() {
    std::vector<WatchFolderArchiveInfo> folders;
    std::lock_guard<std::mutex> lock(watchFolderMutex);
    for (const auto& [key, entry] : watchFolderMap)
        folders.push_back({key, withoutTrailingSeparators(entry.archivePath)});
    return folders;
}

// The archive of the watch folder whose staging subfolder holds the set file.
std::wstring archiveOfStagedSet(const std::wstring& setFilePath) {
    for (const WatchFolderArchiveInfo& folder : watchFolderArchives()) {
        if (pathIsInside(setFilePath, withoutTrailingSeparators(backupStagingSubfolder(folder.key))))
            return folder.archivePath;
    }
    return L"";
}

// From the folder of an archived copy upwards: the first folder that holds a
// ".backupsets" folder (the archive root), or "" when the walk finds none.
// "/" itself is never an archive root.
std::wstring findArchiveRoot(const std::wstring& copyPath) {
    for (std::wstring folder = parentFolder(copyPath); folder.size() > 1; folder = parentFolder(folder)) {
        if (!isExistingFolder(folder)) return L"";
        if (isExistingFolder(joinPath(folder, kArchiveSetFolderName))) return folder;
    }
    return L"";
}

void setRemovalProgress(const std::wstring& key, const std::wstring& setFilePath, size_t deleted, size_t total) {
    const double progress = total == 0 ? 0.0 : static_cast<double>(deleted) / static_cast<double>(total);
    updateSetListEntry(key, setFilePath, [progress](SetListEntry& entry) { entry.removalProgress = progress; });
}

void forgetSetNote(const std::wstring& setFilePath) {
    std::lock_guard<std::mutex> lock(backupSetNotesMutex);
    if (backupSetNotesMap.erase(setFilePath) > 0) configurationSaved = false;
}

// The archive root found from the set's first copied entry.
std::wstring archiveRootOfSet(const BackupSetRecord& set) {
    for (const auto& [source, entry] : set.files)
        if (entry.copied) return findArchiveRoot(entry.archivePath);
    return L"";
}

// Deletes the set's copies inside `bound` that no version record or other set
// names.
void deleteSetCopies(const BackupSetRecord& set, const std::wstring& bound, const std::wstring& key,
                     const std::wstring& setFilePath) {
    const std::set<std::wstring> inUse = archivedCopiesInUse(setFilePath);
    size_t deleted = 0;
    for (const auto& [source, entry] : set.files) {
        if (!entry.copied || inUse.count(pathKey(entry.archivePath))) continue;
        if (!deleteArchivedCopy(entry.archivePath, bound)) continue;
        setRemovalProgress(key, setFilePath, ++deleted, set.files.size());
    }
    setRemovalProgress(key, setFilePath, deleted, set.files.size());
}

// Removes the set file, the emptied folders of its archive root and its
// mirror there, all reached from `bound` without following a link.
void removeSetFiles(const std::wstring& setFilePath, const std::wstring& bound, const std::wstring& archiveRoot) {
    if (!archiveRoot.empty()) removeBelowFolder(bound, archiveRoot, false);
    if (isExistingFile(setFilePath)) removeFile(setFilePath);
    if (archiveRoot.empty()) return;
    ArchivePathParts parts;
    splitArchivePath(setFilePath, parts);
    if (!parts.plainName.empty()) removeFileBelow(bound, archiveBackupSetFolder(archiveRoot) + parts.plainName);
}

// Chosen versions: present and selected.
bool isChosen(const FileVersionRecord& version) { return version.present && version.selected; }

const WatchFolderArchiveInfo* archiveHolding(const std::vector<WatchFolderArchiveInfo>& folders,
                                             const std::wstring& path) {
    const WatchFolderArchiveInfo* best = nullptr;
    for (const WatchFolderArchiveInfo& folder : folders) {
        if (isInsideArchiveFolder(path, folder.archivePath) &&
            (!best || folder.archivePath.size() > best->archivePath.size()))
            best = &folder;
    }
    return best;
}

// The deepest folder that holds both paths (bounded at separators).
std::wstring commonFolder(const std::wstring& a, const std::wstring& b) {
    std::wstring folder = a;
    while (!folder.empty() && !pathIsInside(b, folder)) folder = parentFolder(folder);
    return folder;
}

// Erases the chosen versions whose archived copy is gone from the records.
void forgetDeletedVersions(const VersionSelection& selection) {
    std::vector<std::pair<std::wstring, std::wstring>> gone;
    for (const auto& [source, versions] : selection) {
        for (const auto& [key, version] : versions) {
            if (isChosen(version) && !isExistingFile(key)) gone.emplace_back(source, key);
        }
    }
    std::lock_guard<std::mutex> lock(versionRecordMutex);
    for (const auto& [source, key] : gone) {
        auto file = versionRecordMap.find(source);
        if (file == versionRecordMap.end()) continue;
        file->second.erase(key);
        if (file->second.empty()) versionRecordMap.erase(file);
    }
    if (!gone.empty()) versionRecordsChanged = true;
}

void endDeletion() {
    endCancellableTask(CancelTask::Deletion);  // a stop asked of the deletion must not outlive it
    releaseRestoreActive();
    deletionRunning = false;
}

// Ends the deletion exactly once, whichever way the task leaves (an
// exception included), so that its flags never stay set.
struct DeletionRun {
    bool ended = false;
    void end() {
        ended = true;
        endDeletion();
    }
    ~DeletionRun() {
        if (!ended) end();
    }
};

}  // namespace

void removeBackupSetTask(std::wstring setFilePath, std::wstring setListKey) {
    if (!isExistingFile(setFilePath) || !pathIsInside(setFilePath, backupStagingFolder())) return;
    const std::string displayName = wideToUtf8(backupSetNameFromPath(setFilePath));
    if (!askTemplate(kRemoveBackupSetTemplate, displayName).confirmed) return;
    markBackupSetRemoved(setFilePath);
    updateSetListEntry(setListKey, setFilePath, [](SetListEntry& entry) {
        entry.beingRemoved = 1;
        entry.removalShown = 1;
    });
    // The row stops showing its progress however the removal ends.
    struct RemovalShownEnd {
        const std::wstring& key;
        const std::wstring& path;
        ~RemovalShownEnd() {
            updateSetListEntry(key, path, [](SetListEntry& entry) { entry.removalShown = 0; });
        }
    } shownEnd{setListKey, setFilePath};
    forgetSetNote(setFilePath);
    BackupSetRecord set;
    if (loadBackupSetFile(setFilePath, set)) {
        std::wstring root = archiveRootOfSet(set), bound = archiveOfStagedSet(setFilePath);
        if (bound.empty()) bound = root;
        if (!root.empty() && !pathIsInside(root, bound)) root.clear();
        deleteSetCopies(set, bound, setListKey, setFilePath);
        removeSetFiles(setFilePath, bound, root);
    }
}

void deleteBackupDataTask(VersionSelection selection) {
    if (selection.empty()) return;
    bool idle = false;
    if (!deletionRunning.compare_exchange_strong(idle, true)) return;
    restoreProgress = 0.0;
    holdRestoreActive();
    DeletionRun run;
    beginCancellableTask(CancelTask::Deletion);
    size_t total = 0;
    for (const auto& [source, versions] : selection)
        for (const auto& [key, version] : versions) total += isChosen(version) ? 1 : 0;
    WatchFolderArchiveInfo first;
    const std::string displayName =
        findHoldingWatchFolder(selection.begin()->first, first) ? wideToUtf8(first.key) : std::string();
    if (!askTemplate(kArchiveDeletionTemplate, displayName).confirmed) {
        run.end();
        appendAppLogEntry(kUserCancelledDeleteText, 2, false);
        return;
    }
    const std::vector<WatchFolderArchiveInfo> archives = watchFolderArchives();
    std::map<std::wstring, std::wstring> deletionFolders;  // archive -> deepest folder holding its deletions
    size_t deleted = 0;
    for (const auto& [source, versions] : selection) {
        for (const auto& [key, version] : versions) {
            if (!isChosen(version)) continue;
            if (const WatchFolderArchiveInfo* archive = archiveHolding(archives, key)) {
                auto [it, added] = deletionFolders.try_emplace(archive->archivePath, parentFolder(key));
                if (!added) it->second = commonFolder(it->second, parentFolder(key));
                deleted += deleteArchivedCopy(key, archive->archivePath) ? 1 : 0;
            }
            restoreProgress = static_cast<double>(deleted) / static_cast<double>(total);
        }
    }
    forgetDeletedVersions(selection);
    // The emptied folders below each deletion folder go, children before
    // their parents, reached from the archive without following a link.
    for (const auto& [archive, folder] : deletionFolders) removeBelowFolder(archive, folder, false);
    std::this_thread::sleep_for(std::chrono::milliseconds(timings().progressHoldMs.load()));
    run.end();
}

void selectNewestVersions(VersionSelection& versions, bool select, const std::wstring& ownerFilter) {
    for (auto& [source, fileVersions] : versions) {
        // Key order is not archive order ("a ~ 0001.txt" sorts before the
        // plain "a.txt"): the newest passing version is found as the group
        // selection finds it.
        FileVersionMap passing;
        for (const auto& [key, version] : fileVersions)
            if (version.present && (ownerFilter.empty() || version.owner == ownerFilter)) passing.emplace(key, version);
        selectGroupVersions(passing, select ? GroupSelection::Last : GroupSelection::Clear);
        for (const auto& [key, version] : passing) fileVersions[key].selected = version.selected;
    }
}

void setEditedSetRestoreFlags(const std::wstring& folderPath, uint8_t value) {
    std::lock_guard<std::mutex> lock(backupSetMutex);
    const std::wstring folder = parentFolder(folderPath);
    for (auto& [source, entry] : editedBackupSet.files) {
        if (folderPath.empty() || parentFolder(entry.sourcePath) == folder) entry.restore = value != 0;
    }
}
