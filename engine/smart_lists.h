#pragma once
// The smart lists of the restore side: for one watch folder, its backup sets
// plus one entry that stands for the newest archived version of every file;
// the statistics of one listed set; and the small jobs the restore windows
// start on threads.
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>

// The name of the entry that stands for every archived file of the folder.
inline constexpr std::wstring_view kAllRecentFilesName = L"All Recent Files : file set(auto)";
inline constexpr std::string_view kSmartRestoreListNote = "Smart Restore List";
inline constexpr std::string_view kSmartListNote = "Smart List";

// One listed set. The statistics use the names of a set file's summary:
// tf file count, str selected to restore, tm missing, efc existing, b bytes.
struct SetListEntry {
    std::wstring displayName;
    std::wstring setFilePath;        // the watch folder's path for the synthetic entry
    uint8_t mark = 0;
    uint8_t beingRemoved = 0;        // set for good once a removal was confirmed
    uint8_t removalShown = 0;        // set while the removal runs
    double removalProgress = 0.0;
    double consistency = 1.0;        // existing / file count
    std::string noteText;
    uint8_t statisticsReady = 0;     // the window clears it when another set is chosen
    uint64_t fileCount = 0;
    uint64_t selectedToRestore = 0;
    uint64_t missing = 0;
    uint64_t existing = 0;
    uint64_t totalBytes = 0;
};

// The set list, by display name, and the folder it was built for (with the
// name of the last set added). All guarded by backupSetListMutex: the windows
// read a snapshot, the builders and tasks change entries by key, never through
// a pointer kept across the lock.
extern std::map<std::wstring, SetListEntry> backupSetList;
extern std::wstring restoreListFolder;
extern std::string restoreListLastSetName;
extern std::mutex backupSetListMutex;

// Set while the Restore button's job builds the list (which also holds
// restoreWorkBusy of engine/restore_state.h, unless a restore holds it), and
// the result it stored.
extern std::atomic<bool> restoreListBuilding;
extern std::atomic<uint8_t> restoreListBuildResult;

std::map<std::wstring, SetListEntry> backupSetListSnapshot();
// A copy of one entry; false when the list has no entry of that name.
bool findSetListEntry(const std::wstring& key, SetListEntry& out);
// Changes the entry of `key` under the list's mutex, when it still lists
// `setFilePath` (the list may have been rebuilt meanwhile); false when gone.
bool updateSetListEntry(const std::wstring& key, const std::wstring& setFilePath,
                        const std::function<void(SetListEntry&)>& change);

// Lists the watch folder's sets and the synthetic entry. Returns 1; 0 with the
// list unchanged when the path is not a watch folder or it has no set file.
uint8_t buildSmartRestoreList(const std::wstring& watchFolderPath);

// Fills the statistics of one listed set: from the set file's summary when it
// has one (the archived copies are not touched), else by measuring its copies
// (with `refresh`, a copy that is gone counts as missing) and writing the
// summary into the set file once. The synthetic entry measures the archived
// files of its folder on a few worker threads, updating the entry as sizes
// come in, and stops early when the window clears statisticsReady.
void buildSmartList(std::wstring key, bool refresh);

// The Restore button's job: builds the list for the folder with
// restoreWorkBusy set and stores the result.
void restoreListBuildJob(std::wstring watchFolderPath);

// Opens a file, folder or web page with the desktop's default program.
bool openWithShell(std::wstring path);
