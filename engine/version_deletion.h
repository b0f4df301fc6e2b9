#pragma once
// Counting and deleting the archived data of one watch folder, for the
// removal of a folder entry: its automatically archived versions (the version
// records) and its backup sets (the set files of its staging subfolder and
// the archived copies they name). Also the guards every deletion of archived
// data goes through.
#include <cstddef>
#include <set>
#include <string>
#include <vector>

// A watch folder: its key and its archive path (no trailing separator).
struct WatchFolderArchiveInfo {
    std::wstring key;
    std::wstring archivePath;
};

// The watch folder that holds `path`: the longest listed key the path is or
// lies inside (bounded at a separator). False when none holds it.
bool findHoldingWatchFolder(const std::wstring& path, WatchFolderArchiveInfo& out);

// True when `path` lies strictly below `archiveFolder`, both absolute, the
// folder not the root, and no component of the path is "." or "..", so a
// deletion bounded by it never reaches outside the archive.
bool isInsideArchiveFolder(const std::wstring& path, const std::wstring& archiveFolder);
// Deletes the file when it is an existing file inside the archive folder and
// not inside a listed watch folder, through folders opened from the archive
// folder down without following a link.
bool deleteArchivedCopy(const std::wstring& path, const std::wstring& archiveFolder);

// The archived copies that must outlive the removal of one set: every copy a
// version record lists and every copy a set file other than `exceptSetFile`
// names (staged sets of every watch folder). Under Overwrite and Single
// Backup one plain-named copy is at once a version and the copy of each set,
// so a set removed or a backup cancelled deletes only copies not in here.
std::set<std::wstring> archivedCopiesInUse(const std::wstring& exceptSetFile);

// The set files (".backup") of a staging subfolder and its sub-folders.
std::vector<std::wstring> listBackupSetFiles(const std::wstring& stagingSubfolder);

// A version record belongs to a watch folder when its source lies inside the
// folder and no other, deeper watch folder holds it (so /data never takes
// /data2's files, nor those of a watch folder /data/sub).

// Deletes the archived versions of the folder's records that lie inside its
// archive, and erases those records. Returns the number of files deleted;
// 0, nothing changed, when the folder is not a watch folder with an absolute
// archive path.
size_t deleteArchivedVersions(const std::wstring& folderPath);
// The number of the folder's recorded versions whose archived copy exists as a file.
size_t countArchivedVersions(const std::wstring& folderPath);
// The number of set files in the folder's staging subfolder (0 when the
// folder is not a watch folder or has no staging subfolder).
size_t countBackupSetVersions(const std::wstring& folderPath);
// Deletes every archived copy the folder's sets name (inside its archive
// only), the set files and their mirrors in the archive's ".backupsets"
// folder, and the archive's folders left empty. 1, or 0 when the folder is
// not a watch folder.
int deleteArchivedFolderVersions(const std::wstring& folderPath);
