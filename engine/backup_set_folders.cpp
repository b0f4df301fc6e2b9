#include "engine/backup_set_folders.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <mutex>
#include <set>

#include "foundation/archive_names.h"
#include "engine/backup_scan.h"
#include "engine/backup_sets.h"
#include "foundation/archive_root.h"
#include "foundation/data_files.h"
#include "foundation/data_packet.h"
#include "foundation/file_helpers.h"
#include "foundation/global_defaults.h"
#include "foundation/security.h"
#include "foundation/version_records.h"
#include "foundation/watch_folders.h"
#include "platform/file_copy.h"
#include "platform/paths.h"
#include "platform/safe_folders.h"
#include "platform/text.h"

namespace {

std::set<std::wstring> setCopyPaths;  // path keys of archived copies listed by imported sets
std::mutex setCopyPathsMutex;

// Each path with the files restores wrote there (one per write, so a
// restore that ends never releases another's).
std::map<std::wstring, std::vector<FileState>> restoredWrites;
std::mutex restoredWritesMutex;

bool sameFile(const FileState& a, const FileState& b) { return a.device == b.device && a.inode == b.inode; }

// The file now under the name is the registered write: the same file, not
// written since (a change time not known yet matches any).
bool isWriteItself(const FileState& written, const FileState& now) {
    return now.exists && sameFile(written, now) && written.size == now.size &&
           written.modifiedTicks == now.modifiedTicks &&
           (written.changedTicks == 0 || written.changedTicks == now.changedTicks);
}

struct WatchFolderArchive {
    std::wstring key;
    std::wstring archivePath;
};

// The watch folder `path` names and its archive path; false when it is not a
// watch folder or its archive path is not absolute (nothing is ever written
// or deleted relative to the working folder).
bool findWatchFolderArchive(const std::wstring& path, WatchFolderArchive& out) {
    const std::wstring key = pathKey(withoutTrailingSeparators(path));
    std::lock_guard<std::mutex> lock(watchFolderMutex);
    auto found = watchFolderMap.find(key);
    if (found == watchFolderMap.end()) return false;
    out.key = found->first;
    out.archivePath = withoutTrailingSeparators(found->second.archivePath);
    return !out.archivePath.empty() && out.archivePath.front() == kPathSeparator &&
           !isForeignArchiveFolder(out.archivePath);
}

// The name of an archived copy without its " ~ " stamp.
std::wstring plainArchiveName(const std::wstring& path) {
    ArchivePathParts parts;
    splitArchivePath(path, parts);
    return parts.plainName;
}

// The long name, among the files of `sourceFolder` with version records,
// whose versions take the shortened `plainName`; "" when there is none.
std::wstring recordedLongName(const std::wstring& plainName, const std::wstring& sourceFolder) {
    const std::wstring prefix = withTrailingSeparator(pathKey(sourceFolder));
    std::lock_guard<std::mutex> lock(versionRecordMutex);
    for (auto it = versionRecordMap.lower_bound(prefix);
         it != versionRecordMap.end() && it->first.compare(0, prefix.size(), prefix) == 0; ++it) {
        const std::wstring name = it->first.substr(prefix.size());
        if (name.find(kPathSeparator) == std::wstring::npos && name != plainName && archiveGroupName(name) == plainName)
            return name;
    }
    return L"";
}

// The copies recorded for the files below `folderKey`. A copy recorded for
// one file is never indexed for another: an older archive's copy of a file
// whose own name reads as a version ("notes ~ 0001.txt") took that name.
std::set<std::wstring> recordedCopies(const std::wstring& folderKey) {
    std::set<std::wstring> copies;
    const std::wstring prefix = withTrailingSeparator(folderKey);
    std::lock_guard<std::mutex> lock(versionRecordMutex);
    for (auto it = versionRecordMap.lower_bound(prefix);
         it != versionRecordMap.end() && it->first.compare(0, prefix.size(), prefix) == 0; ++it)
        for (const auto& [copy, record] : it->second) copies.insert(copy);
    return copies;
}

// Files of a folder and its sub-folders, without the copy's temporary files.
std::vector<std::wstring> listFolderFiles(const std::wstring& folder) {
    std::vector<std::wstring> files, kept;
    listFilesRecursive(folder, files, true);
    for (std::wstring& file : files) {
        if (!isCopyTemporaryName(lastPathComponent(file))) kept.push_back(std::move(file));
    }
    return kept;
}

// True when the set file lists files of the watch folder alone (or none): the
// archive's ".backupsets" folder may hold another folder's sets, which are not
// ours to prune, and files that are no sets at all.
bool isSetOfFolder(const std::wstring& setFile, const std::wstring& folderKey) {
    BackupSetRecord set;
    if (!loadBackupSetFile(setFile, set)) return false;
    return std::all_of(set.files.begin(), set.files.end(),
                       [&](const auto& item) { return pathIsInside(pathKey(item.second.sourcePath), folderKey); });
}

}  // namespace

std::wstring backupStagingFolder() {
    return joinPath(dataFolderPath(), kMetadataFolderName);
}

std::wstring backupStagingFolderName(const std::wstring& folderKey) {
    const std::wstring key = withoutTrailingSeparators(folderKey);
    char hex[9];
    std::snprintf(hex, sizeof hex, "%08x", static_cast<unsigned>(computeCrc32(0, wideToUtf8(key))));
    return lastPathComponent(key) + L"_" + utf8ToWide(hex);
}

std::wstring backupStagingSubfolder(const std::wstring& folderKey) {
    return withTrailingSeparator(joinPath(backupStagingFolder(), backupStagingFolderName(folderKey)));
}

std::wstring backupSetStagingFilePath(const std::wstring& folderKey, const std::wstring& setName) {
    return backupStagingSubfolder(folderKey) + backupSetFileName(setName);
}

std::wstring archiveBackupSetFolder(const std::wstring& archivePath) {
    return withTrailingSeparator(joinPath(archivePath, kArchiveSetFolderName));
}

bool storeBackupSetFile(const std::wstring& watchFolderPath) {
    WatchFolderArchive folder;
    if (!findWatchFolderArchive(watchFolderPath, folder)) return false;
    const std::vector<std::wstring> staged = listFolderFiles(backupStagingSubfolder(folder.key));
    if (staged.empty()) return false;
    // The set folder is made, written and pruned through folders opened from
    // the archive down: one replaced by a link never leads a set out of it.
    const std::wstring target = archiveBackupSetFolder(folder.archivePath);
    // Asked for its mode, a folder is about to be made: it is synced into
    // the archive before a set is written into it.
    std::vector<FilePlace> newFolders;
    const FolderModeFor ownerOnly = [&](const std::wstring& made) {
        newFolders.emplace_back(folder.archivePath, made);
        return programFolderMode();
    };
    if (!openFolderForWriting(folder.archivePath, withoutTrailingSeparators(target), ownerOnly).isOpen()) return false;
    syncFoldersIntoParents(newFolders);
    // Copy first, delete after: a failed copy never costs the archive a set.
    std::set<std::wstring> wanted;
    bool allCopied = true;
    for (const std::wstring& file : staged) {
        const std::wstring name = plainArchiveName(file);
        if (!wanted.insert(name).second) continue;
        if (copyFile(file, {folder.archivePath, target + name}, false) != CopyResult::Copied) allCopied = false;
    }
    const std::wstring targetFolder = withoutTrailingSeparators(target);
    for (const std::wstring& file : listFolderFiles(targetFolder)) {
        const bool stale = parentFolder(file) != targetFolder || !wanted.count(lastPathComponent(file));
        if (stale && isSetOfFolder(file, folder.key)) removeFileBelow(folder.archivePath, file);
    }
    return allCopied;
}

bool removeBackupSetMirror(const std::wstring& watchFolderPath, const std::wstring& stagedSetFile) {
    WatchFolderArchive folder;
    if (!findWatchFolderArchive(watchFolderPath, folder)) return false;
    const std::wstring mirror = archiveBackupSetFolder(folder.archivePath) + plainArchiveName(stagedSetFile);
    if (entryKindBelow(folder.archivePath, mirror) != EntryKind::File || !isSetOfFolder(mirror, folder.key)) return false;
    return removeFileBelow(folder.archivePath, mirror);
}

size_t importBackupSets(const std::wstring& watchFolderPath) {
    {
        std::lock_guard<std::mutex> lock(setCopyPathsMutex);
        setCopyPaths.clear();
    }
    WatchFolderArchive folder;
    if (!findWatchFolderArchive(watchFolderPath, folder)) return 0;
    const std::wstring source = archiveBackupSetFolder(folder.archivePath);
    if (entryKindBelow(folder.archivePath, withoutTrailingSeparators(source)) != EntryKind::Folder) return 0;
    const std::wstring staging = backupStagingSubfolder(folder.key);
    size_t copied = 0;
    for (const std::wstring& file : listFolderFiles(source)) {
        BackupSetRecord set;
        if (loadBackupSetFile(file, set)) {
            std::lock_guard<std::mutex> lock(setCopyPathsMutex);
            for (const auto& [key, entry] : set.files) {
                if (!entry.archivePath.empty()) setCopyPaths.insert(pathKey(entry.archivePath));
            }
        }
        if (!isExistingFolder(staging) && !makeDirectoryPathWithSD(staging)) continue;
        if (copyFile({folder.archivePath, file}, staging + plainArchiveName(file), false) == CopyResult::Copied) ++copied;
    }
    return copied;
}

std::wstring sourceNameOfCopy(const std::wstring& copy, const std::wstring& sourceFolder) {
    const std::wstring plain = plainArchiveName(copy);
    const std::wstring name = longPlainName(plain, {sourceFolder, parentFolder(copy)});
    if (name != plain || !isShortenedPlainName(plain)) return name;
    const std::wstring recorded = recordedLongName(plain, sourceFolder);
    return recorded.empty() ? plain : recorded;
}

bool isBackupSetCopyPath(const std::wstring& archivePath) {
    std::lock_guard<std::mutex> lock(setCopyPathsMutex);
    return setCopyPaths.count(pathKey(archivePath)) > 0;
}

size_t indexArchivedVersions(const std::wstring& watchFolderPath) {
    WatchFolderArchive folder;
    if (!findWatchFolderArchive(watchFolderPath, folder)) return 0;
    size_t added = 0;
    const std::set<std::wstring> recorded = recordedCopies(folder.key);
    std::vector<std::wstring> copies;
    listArchiveFiles(folder.archivePath, copies);
    for (const std::wstring& copy : copies) {
        if (isCopyTemporaryName(lastPathComponent(copy))) continue;
        const std::wstring copyFolder = parentFolder(copy);
        if (!pathIsInside(copyFolder, folder.archivePath) || isBackupSetCopyPath(copy)) continue;
        const std::wstring relative = copyFolder.substr(std::min(copyFolder.size(), folder.archivePath.size()));
        const std::wstring sourceFolder = folder.key + relative;
        const std::wstring sourcePath = joinPath(sourceFolder, sourceNameOfCopy(copy, sourceFolder));
        if (!recorded.count(copy) && addVersionRecord(sourcePath, copy, L"", false)) ++added;
    }
    return added;
}

void addRestoredWrite(const std::wstring& path, const FileState& written) {
    std::lock_guard<std::mutex> lock(restoredWritesMutex);
    std::vector<FileState>& writes = restoredWrites[pathKey(path)];
    for (FileState& write : writes)
        if (sameFile(write, written)) {
            write = written;
            return;
        }
    writes.push_back(written);
}

void removeRestoredWrites(const std::vector<RestoredWrite>& writes) {
    std::lock_guard<std::mutex> lock(restoredWritesMutex);
    for (const RestoredWrite& write : writes) {
        const auto found = restoredWrites.find(pathKey(write.path));
        if (found == restoredWrites.end()) continue;
        std::erase_if(found->second, [&](const FileState& state) { return sameFile(state, write.state); });
        if (found->second.empty()) restoredWrites.erase(found);
    }
}

bool removeRestoringPaths() {
    std::lock_guard<std::mutex> lock(restoredWritesMutex);
    const bool any = !restoredWrites.empty();
    restoredWrites.clear();
    return any;
}

bool isRestoringPath(const std::wstring& path) {
    std::lock_guard<std::mutex> lock(restoredWritesMutex);
    return restoredWrites.count(pathKey(path)) > 0;
}

bool isRestoredWrite(const std::wstring& path) {
    std::vector<FileState> writes;
    {
        std::lock_guard<std::mutex> lock(restoredWritesMutex);
        const auto found = restoredWrites.find(pathKey(path));
        if (found == restoredWrites.end()) return false;
        writes = found->second;
    }
    FileState now;
    readFileState(path, now);
    return std::any_of(writes.begin(), writes.end(), [&](const FileState& write) { return isWriteItself(write, now); });
}
