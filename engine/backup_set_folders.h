#pragma once
// Where backup-set files live: a staging folder inside the data folder
// ("<data folder>/FileMetaData/<one subfolder per watch folder>/"), written by
// the backup and read by the restore side, and the ".backupsets" folder of
// each watch folder's archive, which travels with the archive. Also the files
// a restore wrote, which the archiving passes over.
#include <cstddef>
#include <string>
#include <vector>

#include "foundation/archive_names.h"
#include "platform/file_system.h"

// "<data folder>/FileMetaData", placeholders expanded.
std::wstring backupStagingFolder();
// The one name of a watch folder's staging subfolder, made from its key: the
// key's last component, "_" and the key's CRC-32 in hex, so two watch folders
// with the same last component never share their sets.
std::wstring backupStagingFolderName(const std::wstring& folderKey);
// backupStagingFolder() + "/" + backupStagingFolderName(key) + "/".
std::wstring backupStagingSubfolder(const std::wstring& folderKey);
// Where a backup writes its set: the staging subfolder + backupSetFileName(setName).
std::wstring backupSetStagingFilePath(const std::wstring& folderKey, const std::wstring& setName);
// "<archive path>/.backupsets/".
std::wstring archiveBackupSetFolder(const std::wstring& archivePath);

// Mirrors the watch folder's staging subfolder into its archive's
// ".backupsets" folder: every staged file is copied there under its plain name
// (the first of two with the same plain name wins), each replacing the old
// file atomically, then every other set file there that lists this folder's
// files alone is deleted (another folder's sets, and files that are no sets,
// stay). False when the
// folder is not a watch folder, nothing is staged, or a copy failed (the
// archive's older file of that name is then kept).
bool storeBackupSetFile(const std::wstring& watchFolderPath);

// Deletes the archive's mirror of one of the watch folder's staged set files
// (the file of its plain name in ".backupsets", reached from the archive
// without following a link) when it lists the folder's files alone; true
// when it was deleted.
bool removeBackupSetMirror(const std::wstring& watchFolderPath, const std::wstring& stagedSetFile);

// Copies the archive's set files into the staging subfolder (replacing files
// of the same name) and remembers the archived copies their sets list.
// Returns the number of set files copied.
size_t importBackupSets(const std::wstring& watchFolderPath);
// True when importBackupSets saw `archivePath` in a set.
bool isBackupSetCopyPath(const std::wstring& archivePath);
// The name of the file in `sourceFolder` that an archived copy is a version
// of: its plain name, or the long one whose version took a shortened name,
// found among the files of the source folder and the copy's folder, or else
// among the files with version records (a long name that reads as a version
// has no copy under its own name, and once deleted only its records know it).
std::wstring sourceNameOfCopy(const std::wstring& copy, const std::wstring& sourceFolder);
// Adds a version record for every archived copy of the watch folder that no
// imported set lists; returns how many it added.
size_t indexArchivedVersions(const std::wstring& watchFolderPath);

// The files restores wrote, each known by what the restore left under its
// name, from right before its rename until the watcher has seen it: the
// change handling and the backup pass over such a file, but never over an
// edit saved to it since, which changed what lies there.
struct RestoredWrite {
    std::wstring path;
    FileState state;
};
// Registers a write (or completes the one of the same file, once its change
// time is known).
void addRestoredWrite(const std::wstring& path, const FileState& written);
void removeRestoredWrites(const std::vector<RestoredWrite>& writes);
// Removes every write; true when something was removed.
bool removeRestoringPaths();
// True while some restore's write of the path is registered.
bool isRestoringPath(const std::wstring& path);
// True when the file under the path now is a registered write itself.
bool isRestoredWrite(const std::wstring& path);
