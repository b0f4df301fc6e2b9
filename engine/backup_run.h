#pragma once
// One backup run as its steps share it: what the run knows, the folder
// entry it shows its state in, and the report it writes. Only the backup
// thread touches a run. The steps: backup_preparation (listing, comparing,
// choosing the files), backup_copy_wait (following the copies and asking the
// user), backup_report (the report and the set), backup_engine (the run).
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "engine/backup_scheduler.h"
#include "engine/backup_sets.h"
#include "engine/backup_status.h"
#include "engine/thread_registry.h"
#include "foundation/watch_folders.h"
#include "platform/paths.h"

inline constexpr int32_t kReportInformation = 2;
inline constexpr int32_t kReportError = 3;

// Sends pings to "Backup Procedure" at most every half second.
struct Pinger {
    int64_t last = 0;
    void operator()();
};

// Everything one run knows.
struct BackupRun {
    std::wstring mapKey;  // the folder's key in watchFolderMap
    std::wstring key;     // the watch folder's path, trimmed
    std::wstring displayName;
    std::wstring archivePath;  // trimmed
    std::wstring setName;
    int64_t startTicks = 0;
    bool recursive = false;
    std::vector<std::wstring> files;
    std::vector<char> eligible;  // per file: the archiving takes it as this folder's
    std::vector<std::wstring> toCopy;
    std::vector<std::string> report;
    uint64_t meetingCriteria = 0;
    uint64_t unchanged = 0;
    double progress = 0.0;
    int64_t waitStartMs = 0;
    bool cancelled = false;  // OK at the cancel question: the set is discarded
    bool timedOut = false;   // Cancel at the extend question: the copies did not finish
    Pinger ping;
};

// --- the folder's entry --------------------------------------------------

template <typename Change>
bool changeEntry(const std::wstring& key, Change change) {
    std::lock_guard<std::mutex> lock(watchFolderMutex);
    const auto found = watchFolderMap.find(key);
    if (found == watchFolderMap.end()) return false;
    change(found->second);
    return true;
}

template <typename Change>
bool changeEntry(const BackupRun& run, Change change) {
    return changeEntry(run.mapKey, change);
}

void setBackupState(const BackupRun& run, int32_t state);
void setBackupProgress(BackupRun& run, double progress);
void setBackupResult(const BackupRun& run, int32_t result);
int32_t backupResultOf(const BackupRun& run);
std::map<std::wstring, BackupChecklistItem> checklistOf(const BackupRun& run);
// The pause between the states a window shows.
void pauseStep();
// Back to idle after a run that ends early.
void endEarly(BackupRun& run);
void logIncomplete(const BackupRun& run);
// The run's own traces: the checklist, the current set, the status list and
// the queued files.
void dropRunState(BackupRun& run);

// --- the "backup" copy-status list ---------------------------------------

std::wstring backupListKey();

// Changes the record of a file already in the "backup" list; false otherwise.
template <typename Change>
bool changeBackupStatus(const std::wstring& path, Change change) {
    std::lock_guard<std::mutex> lock(backupPathMapMutex);
    const auto list = backupPathMap.find(backupListKey());
    if (list == backupPathMap.end()) return false;
    const auto found = list->second.find(pathKey(path));
    if (found == list->second.end()) return false;
    change(found->second);
    return true;
}

// --- report lines --------------------------------------------------------

std::string reportLine(int32_t kind, const std::string& text);
std::string percentText(double progress);
std::string quoted(const std::wstring& text);

// --- the steps -----------------------------------------------------------

// Finds the folder's entry (its key with or without a trailing separator).
bool loadFolder(BackupRun& run, const std::wstring& folderKey);
// Listing and comparing; false when the run ended before selection.
bool prepareBackup(BackupRun& run);
// Picks the files without an equal archived copy. False when the run ended.
bool selectFiles(BackupRun& run);
// Hands the chosen files to the archiving as one batch.
void handOverBatch(const BackupRun& run);

enum class WaitEnd { AllFinished, Cancelled, TimedOut, Shutdown };
// Follows the copies until all are finished, asking the user when the
// archive goes, the disk is full, the copies stall or a stop is asked for.
WaitEnd waitForCopies(BackupRun& run);

// Share of the checklist that was copied.
double copiedShare(const BackupRun& run);
// The report, the set saved or discarded, and the run's result.
void closeBackup(BackupRun& run);
