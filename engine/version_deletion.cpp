#include "engine/version_deletion.h"

#include <map>
#include <mutex>
#include <utility>

#include "engine/backup_set_folders.h"
#include "engine/backup_sets.h"
#include "foundation/file_helpers.h"
#include "foundation/version_records.h"
#include "foundation/watch_folders.h"
#include "platform/file_system.h"
#include "platform/folder_tree.h"
#include "platform/paths.h"
#include "platform/safe_folders.h"

namespace {

std::vector<std::wstring> watchFolderKeys() {
    std::vector<std::wstring> keys;
    std::lock_guard<std::mutex> lock(watchFolderMutex);
    for (const auto& entry : watchFolderMap) keys.push_back(entry.first);
    return keys;
}

// The deepest key that holds the path, or "".
std::wstring holdingKey(const std::vector<std::wstring>& keys, const std::wstring& path) {
    std::wstring best;
    for (const std::wstring& key : keys) {
        if (pathIsInside(path, key) && key.size() > best.size()) best = key;
    }
    return best;
}

// The watch folder that `folderPath` itself names (not one that merely holds it).
bool findNamedWatchFolder(const std::wstring& folderPath, WatchFolderArchiveInfo& folder) {
    return findHoldingWatchFolder(folderPath, folder) && folder.key == pathKey(withoutTrailingSeparators(folderPath));
}

// Source key -> the archived paths of its versions, for the folder's records.
using RecordPaths = std::map<std::wstring, std::vector<std::wstring>>;

RecordPaths folderRecordPaths(const std::wstring& folderKey, bool erase) {
    const std::vector<std::wstring> keys = watchFolderKeys();
    RecordPaths records;
    std::lock_guard<std::mutex> lock(versionRecordMutex);
    for (auto it = versionRecordMap.begin(); it != versionRecordMap.end();) {
        if (!pathIsInside(it->first, folderKey) || holdingKey(keys, it->first) != folderKey) {
            ++it;
            continue;
        }
        std::vector<std::wstring>& paths = records[it->first];
        for (const auto& version : it->second) paths.push_back(version.second.archivePath);
        it = erase ? versionRecordMap.erase(it) : std::next(it);
    }
    return records;
}

}  // namespace

std::set<std::wstring> archivedCopiesInUse(const std::wstring& exceptSetFile) {
    std::set<std::wstring> inUse;
    {
        std::lock_guard<std::mutex> lock(versionRecordMutex);
        for (const auto& [source, versions] : versionRecordMap)
            for (const auto& [path, record] : versions) inUse.insert(pathKey(path));
    }
    const std::wstring except = pathKey(exceptSetFile);
    for (const std::wstring& file : listBackupSetFiles(backupStagingFolder())) {
        BackupSetRecord set;
        if (pathKey(file) == except || !loadBackupSetFile(file, set)) continue;
        for (const auto& [source, entry] : set.files)
            if (!entry.archivePath.empty()) inUse.insert(pathKey(entry.archivePath));
    }
    return inUse;
}

bool findHoldingWatchFolder(const std::wstring& path, WatchFolderArchiveInfo& out) {
    const std::wstring key = pathKey(withoutTrailingSeparators(path));
    std::lock_guard<std::mutex> lock(watchFolderMutex);
    const std::pair<const std::wstring, WatchFolderEntry>* best = nullptr;
    for (const auto& item : watchFolderMap) {
        if (pathIsInside(key, item.first) && (!best || item.first.size() > best->first.size())) best = &item;
    }
    if (!best) return false;
    out.key = best->first;
    out.archivePath = withoutTrailingSeparators(best->second.archivePath);
    return true;
}

bool isInsideArchiveFolder(const std::wstring& path, const std::wstring& archiveFolder) {
    return isPathBelow(path, archiveFolder);
}

bool deleteArchivedCopy(const std::wstring& path, const std::wstring& archiveFolder) {
    // Records made while an archive lay over a watch folder name the user's
    // own files: those are never deleted as copies.
    if (isInsideListedWatchFolder(path)) return false;
    // Through folders opened from the archive down: a folder of the archive
    // replaced by a link never leads the deletion out of it.
    return isInsideArchiveFolder(path, archiveFolder) && removeFileBelow(archiveFolder, path);
}

std::vector<std::wstring> listBackupSetFiles(const std::wstring& stagingSubfolder) {
    std::vector<std::wstring> files, sets;
    if (!isExistingFolder(stagingSubfolder)) return sets;
    listFilesRecursive(withoutTrailingSeparators(stagingSubfolder), files, true);
    for (std::wstring& file : files) {
        if (file.size() > kBackupSetExtension.size() && file.ends_with(kBackupSetExtension)) sets.push_back(std::move(file));
    }
    return sets;
}

size_t deleteArchivedVersions(const std::wstring& folderPath) {
    WatchFolderArchiveInfo folder;
    if (!findNamedWatchFolder(folderPath, folder) || !isAbsolutePath(folder.archivePath)) return 0;
    // The records go under the lock; the files are deleted after it.
    const RecordPaths records = folderRecordPaths(folder.key, true);
    versionRecordsChanged = true;
    size_t deleted = 0;
    for (const auto& [source, paths] : records) {
        for (const std::wstring& path : paths) deleted += deleteArchivedCopy(path, folder.archivePath) ? 1 : 0;
    }
    return deleted;
}

size_t countArchivedVersions(const std::wstring& folderPath) {
    WatchFolderArchiveInfo folder;
    if (!findNamedWatchFolder(folderPath, folder)) return 0;
    size_t count = 0;
    for (const auto& [source, paths] : folderRecordPaths(folder.key, false)) {
        for (const std::wstring& path : paths) count += isExistingFile(path) ? 1 : 0;
    }
    return count;
}

size_t countBackupSetVersions(const std::wstring& folderPath) {
    WatchFolderArchiveInfo folder;
    if (!findNamedWatchFolder(folderPath, folder)) return 0;
    return listBackupSetFiles(backupStagingSubfolder(folder.key)).size();
}

int deleteArchivedFolderVersions(const std::wstring& folderPath) {
    WatchFolderArchiveInfo folder;
    if (!findNamedWatchFolder(folderPath, folder)) return 0;
    const std::vector<std::wstring> setFiles = listBackupSetFiles(backupStagingSubfolder(folder.key));
    for (const std::wstring& setFile : setFiles) {
        BackupSetRecord set;
        if (loadBackupSetFile(setFile, set)) {
            for (const auto& [source, entry] : set.files) deleteArchivedCopy(entry.archivePath, folder.archivePath);
        }
        removeFile(setFile);
        // Left in the archive, the mirror would be imported again when the
        // folder is added again: an erased set would come back.
        removeBackupSetMirror(folder.key, setFile);
    }
    // The folders the erased copies emptied go too; the archive itself stays.
    if (!setFiles.empty() && isAbsolutePath(folder.archivePath))
        removeBelowFolder(folder.archivePath, folder.archivePath, false);
    return 1;
}
