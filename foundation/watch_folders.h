#pragma once
// The watch-folder list: every folder the program watches, excludes or
// ignores, with its archive path, its archiving options and the file
// extensions met in it. Shared by the engine threads and the windows.
#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

// Folder types (one bit each).
inline constexpr int32_t kFolderTypeFolder = 1;
inline constexpr int32_t kFolderTypeDescendents = 2;
inline constexpr int32_t kFolderTypeExclude = 4;
inline constexpr int32_t kFolderTypeDisable = 8;

// Collision options: what happens when the archive already holds the name.
inline constexpr int32_t kCollisionAppendVersion = 0;
inline constexpr int32_t kCollisionAppendTimeStamp = 1;
inline constexpr int32_t kCollisionOverwrite = 2;
inline constexpr int32_t kCollisionSingleBackup = 3;

// Problem flags kept by the storage checker.
inline constexpr uint32_t kProblemMonitorFolderMissing = 0x1;
inline constexpr uint32_t kProblemArchiveMissing = 0x2;
inline constexpr uint32_t kProblemCannotMonitor = 0x4;

struct ExtensionEntry {
    std::wstring text;
    bool included = true;
    bool selected = false;
};

// State filters of the extension manager: which extensions a list shows.
inline constexpr int32_t kExtensionFilterExcluded = 1;
inline constexpr int32_t kExtensionFilterIncluded = 2;
inline constexpr int32_t kExtensionFilterAny = 4;
// True when `filter` shows the extension (other filter values show none).
bool extensionShownByFilter(const ExtensionEntry& extension, int32_t filter);

// A process-wide number never handed out before: the identity of a new trigger.
uint64_t newScheduleTriggerId();

// One backup schedule of a watch folder. Times are 100-ns ticks since 1970.
// `id` is given at construction and kept by copies, so the scheduler can find
// the trigger it started again after the windows added or removed others in
// the list; it is not saved (every run numbers its triggers anew).
struct ScheduleTrigger {
    uint64_t id = newScheduleTriggerId();
    uint8_t active = 0;
    int32_t repeatType = 0;   // 0 none, 1 daily, 2 weekly, 3 monthly, 4 yearly
    int32_t weekdayMask = 0;  // bit d for weekday d, 0 = Sunday
    int64_t activationDate = 0;
    int64_t creationTime = 0;
    int64_t nextTrigger = 0;
    int64_t lastTrigger = 0;
    int32_t result = 0;       // 1 success .. 5 interrupted, else none
};

// One file of a running backup.
struct BackupChecklistItem {
    std::wstring sourcePath;
    std::wstring archivePath;
    int64_t time = 0;
    int32_t resultCode = 0;  // 2 copied, 3 given up
};

// One known file of a watch folder (its per-folder file list).
struct FolderFileItem {
    std::wstring path;
    bool exists = false;
};

struct WatchFolderEntry {
    std::wstring displayName;
    std::wstring archivePath;
    int32_t collisionOption = kCollisionAppendTimeStamp;
    int32_t folderType = kFolderTypeDescendents;
    bool preserveHierarchy = true;
    bool selected = false;
    bool thirdFlag = true;  // saved as "u"; copied into the folder's queue items
    bool removed = false;
    uint64_t createdTicks = 0;
    uint64_t changedTicks = 0;
    uint32_t changesDetected = 0;
    uint32_t givenUpCount = 0;
    std::unordered_map<std::wstring, double> progressSet;
    double progressSum = 0.0;      // running sum of progressSet's values
    size_t progressSumCount = 0;   // entries progressSum covers
    double progressRatio = 0.0;
    double previousProgressRatio = 0.0;
    uint64_t spareValue = 0;
    uint64_t totalByteCount = 0;
    std::string elapsedText;
    std::string remainingText;
    std::map<uint32_t, FolderFileItem> fileMap;
    double existingShare = 0.0;
    uint32_t problemFlags = 0;
    std::wstring backupText;
    int32_t backupState = 5;
    int64_t backupStartTime = 0;
    std::map<std::wstring, BackupChecklistItem> checklist;
    int32_t backupResult = 0;
    double backupProgress = 0.0;
    std::map<std::wstring, ExtensionEntry> extensionMap;  // lower-cased extension
    // Edited by the schedule windows and run by the backup scheduler: both
    // read and change it only under watchFolderMutex, never keep a pointer or
    // an index into it across an unlock (copy out, find again by trigger id).
    std::vector<ScheduleTrigger> scheduleTriggers;

    WatchFolderEntry();
};

// Both folder maps are keyed by pathKey(folder path) and guarded by
// watchFolderMutex (and so is every entry's content, extension map included).
extern std::map<std::wstring, WatchFolderEntry> watchFolderMap;
extern std::map<std::wstring, WatchFolderEntry> defaultFolderMap;
extern std::mutex watchFolderMutex;

// Extensions met in watched folders and the defaults; guarded by extensionMapMutex.
extern std::map<std::wstring, ExtensionEntry> extensionMap;
extern std::map<std::wstring, ExtensionEntry> defaultExtensionMap;
extern std::mutex extensionMapMutex;

// Cleared by every change that must reach the configuration file; set after
// the configuration was loaded or saved.
extern std::atomic<bool> configurationSaved;
// False while removeSelectedExtensions runs.
extern std::atomic<bool> extensionListReady;

// Folds ASCII letters to lower case (extensions, switches: never paths).
std::wstring lowerCaseText(std::wstring text);
// Replaces every "{{NAME}}" by the environment variable NAME ("?" when unset
// or empty).
std::wstring expandEnvironmentPlaceholders(const std::wstring& text);

// Functions below take watchFolderMutex (or extensionMapMutex) themselves:
// never call them while holding it.

// Adds a folder to watchFolderMap (defaultFolderMap when secondMap). True when
// stored or a removed entry was revived; false when the folder is present. A
// new entry whose archive location breaks archiveLocationConflict is kept but
// disabled, with a line in the application log.
bool updateWatchFolderList(const std::wstring& path, const WatchFolderEntry& entry, bool secondMap);
// Problem flags of the watch folder that holds `path` (0 when none).
uint32_t getWatchFolderProblems(const std::wstring& path);
bool setExtensionEntry(const std::wstring& extension, const std::wstring& text, bool defaultMap);
bool addWatchFolderExtension(const std::wstring& folderKey, const std::wstring& extension);
bool isFileExtensionIncluded(const std::wstring& folderKey, const std::wstring& fileName);
void scanWatchFolderExtensions(const std::wstring& folderKey, bool recursive);
void selectAllFolderExtensions(const std::wstring& folderKey, bool value);
// Both act on the selected extensions that `filter` shows only, so an
// extension the user cannot see is never changed or removed by mistake.
void setSelectedExtensionsIncluded(const std::wstring& folderKey, bool value,
                                   int32_t filter = kExtensionFilterAny);
void removeSelectedExtensions(const std::wstring& folderKey, int32_t filter = kExtensionFilterAny);

// The watch folder that keeps `archiveFolder` from being the archive of the
// watch folder `folderPath`, empty when none does. An archive that is, holds
// or lies inside a watch folder (this one included) would take the user's own
// files for archived copies, and deleting archived data would delete them; a
// watch folder inside another folder's archive is refused for the same
// reason, and so is a watch folder holding another folder's archive. Only
// watched entries count (not removed, excluded or disabled ones); an empty
// archive folder checks the second rule alone.
std::wstring archiveLocationConflict(const std::wstring& folderPath, const std::wstring& archiveFolder);
// The same with watchFolderMutex already held by the caller.
std::wstring archiveLocationConflictLocked(const std::wstring& folderPath, const std::wstring& archiveFolder);

// A Folder (direct children only) or a Folder & Descendents entry.
bool isWatchedFolderType(int32_t type);

// The watch folder (its key in watchFolderMap) whose files include `path`:
// the deepest listed folder holding it, when that one is a Folder (direct
// children only) or Folder & Descendents entry and not removed; else "".
// Takes watchFolderMutex.
std::wstring findWatchFolderOfFile(const std::wstring& path);

// True when `path` lies in a folder the list names for watching, a disabled
// one included: what lies there is the user's own file, never an archived copy.
bool isInsideListedWatchFolder(const std::wstring& path);

// True when `archiveFolder` is, holds or lies inside the archive path of a
// listed watch folder other than `folderPath` (removed entries included: their
// copies are still there).
bool archiveBelongsToOtherFolder(const std::wstring& folderPath, const std::wstring& archiveFolder);
// The archive folder of `folderPath` below `base`: base + "/" + the folder's
// last component (its path key), or that name followed by "(1)", "(2)", ... when
// the plainer name belongs to another watch folder. Empty when none is free.
std::wstring uniqueArchiveFolder(const std::wstring& folderPath, const std::wstring& base);
// True when `component` is `name` or `name` followed by "(N)".
bool isArchiveFolderNameOf(const std::wstring& component, const std::wstring& name);

// Collects the extensions of the files in `folder` into `entry` (the caller
// owns the entry, so no watch-folder lock is taken) and into extensionMap.
bool collectFolderExtensions(WatchFolderEntry& entry, const std::wstring& folder, bool recursive);
