#pragma once
// Version records: for every archived source file, the archived copies that
// exist, with the application that owned each change. Kept in the file
// "abc.md" of the metadata folder, paths written relative to their watch
// folder and its archive through the placeholder {{root}}.
//
// versionRecordMap is read by the windows and written by engine threads: every
// access holds versionRecordMutex (never together with watchFolderMutex).
#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <vector>

struct FileVersionRecord {
    std::wstring archivePath;  // pathKey of the archived copy (equal to its key)
    std::wstring owner;        // application that owned the change; may be empty
    bool present = true;       // only present versions are saved
    bool selected = false;     // marked in the restore and delete views
};

// pathKey(archived copy) -> its record.
using FileVersionMap = std::map<std::wstring, FileVersionRecord>;

// pathKey(source file) -> its versions.
extern std::map<std::wstring, FileVersionMap> versionRecordMap;
extern std::mutex versionRecordMutex;
// Set by every addition, cleared by a load and by a successful save.
extern std::atomic<bool> versionRecordsChanged;

// "<data folder>/FileMetaData/abc.md", placeholders expanded.
std::wstring versionRecordsFilePath();

// Replaces the map with the file's content; false when the file cannot be read.
bool loadVersionRecords();
// Writes every present version by atomic replacement; false keeps the old file.
bool saveVersionRecords();
// Adds one version (unless loading, the archived copy must exist as a file).
bool addVersionRecord(const std::wstring& sourcePath, const std::wstring& archivedPath, std::wstring owner,
                      bool loading);
// True when the source file equals its newest archived copy.
bool isSameAsNewestVersion(const std::wstring& sourcePath, const std::wstring& unused = L"");

// Marks in the restore and delete views, one file's versions at a time.
enum class GroupSelection { First = 0, Last = 1, Clear = 2 };
// Marks exactly one version of the group (its oldest or newest copy: the
// plain copy first, then by number or archive time), or clears every mark. The caller holds whatever lock guards `group`.
void selectGroupVersions(FileVersionMap& group, GroupSelection mode);
// The same for the given source files of versionRecordMap, under its mutex.
void selectGroupVersions(const std::vector<std::wstring>& sourceKeys, GroupSelection mode);
