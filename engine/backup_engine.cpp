#include "engine/backup_engine.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <map>
#include <set>
#include <thread>
#include <vector>

#include "engine/archive_changes.h"
#include "engine/archive_copy.h"
#include "engine/backup_copy_hooks.h"
#include "engine/backup_scan.h"
#include "engine/backup_scheduler.h"
#include "engine/backup_set_folders.h"
#include "engine/backup_sets.h"
#include "engine/copy_cancel.h"
#include "engine/copy_progress.h"
#include "engine/copy_queue.h"
#include "engine/engine_hooks.h"
#include "engine/thread_registry.h"
#include "engine/version_deletion.h"
#include "foundation/app_log.h"
#include "foundation/file_helpers.h"
#include "foundation/global_defaults.h"
#include "foundation/text_format.h"
#include "foundation/texts.h"
#include "foundation/watch_folders.h"
#include "platform/file_copy.h"
#include "platform/file_system.h"
#include "platform/paths.h"
#include "platform/safe_folders.h"
#include "platform/text.h"

namespace {

const std::string kBackupThreadName(kBackupProcedureThreadName);
constexpr int64_t kPingEveryMs = 500;
constexpr uint64_t kRegisterPingMs = 500;
constexpr uint64_t kRegisterTimeoutMs = 60000;
// Comparisons queued ahead of the scan workers before the engine waits.
constexpr uint64_t kMaxQueuedScans = 2048;
// Longest wait for the comparisons between looks at a stop request.
constexpr uint32_t kScanWaitMs = 20;
// Comparisons handed to the scan workers at once.
constexpr size_t kScanChunk = 64;
// Report lines before the failures are summed up as "...and more".
constexpr size_t kReportLineLimit = 10;
constexpr int32_t kReportInformation = 2;
constexpr int32_t kReportError = 3;

std::atomic<bool> g_backupActive{false};




std::wstring listKey() { return backupPathMapKey(std::wstring(kCopyStatusListBackup)); }

// The "backup" list exists and is empty afterwards.
void resetBackupList() {
    std::lock_guard<std::mutex> lock(backupPathMapMutex);
    backupPathMap[listKey()].clear();
}

// Changes the record of a file already in the "backup" list; false otherwise.
template <typename Change>
bool changeBackupStatus(const std::wstring& path, Change change) {
    std::lock_guard<std::mutex> lock(backupPathMapMutex);
    const auto list = backupPathMap.find(listKey());
    if (list == backupPathMap.end()) return false;
    const auto found = list->second.find(pathKey(path));
    if (found == list->second.end()) return false;
    change(found->second);
    return true;
}

// Sends pings to "Backup Procedure" at most every half second.
struct Pinger {
    int64_t last = 0;
    void operator()() {
        const int64_t now = steadyClockMs();
        if (now - last < kPingEveryMs) return;
        last = now;
        getThreadState(kBackupThreadName, 0, 0);
    }
};

std::string reportLine(int32_t kind, const std::string& text) { return joinReportFields(kind, "", text, ""); }

std::string percentText(double progress) { return wideToUtf8(formatDecimal(progress * 100.0, 0)) + "%"; }

std::string quoted(const std::wstring& text) { return "\"" + wideToUtf8(text) + "\""; }

// Everything one run knows; only the backup thread touches it.
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

void setBackupState(const BackupRun& run, int32_t state) {
    changeEntry(run, [state](WatchFolderEntry& entry) { entry.backupState = state; });
}

void setBackupProgress(BackupRun& run, double progress) {
    run.progress = progress;
    changeEntry(run, [progress](WatchFolderEntry& entry) { entry.backupProgress = progress; });
}

void setBackupResult(const BackupRun& run, int32_t result) {
    changeEntry(run, [result](WatchFolderEntry& entry) { entry.backupResult = result; });
}

int32_t backupResultOf(const BackupRun& run) {
    int32_t result = kBackupResultNone;
    changeEntry(run, [&result](WatchFolderEntry& entry) { result = entry.backupResult; });
    return result;
}

void clearChecklist(const BackupRun& run) {
    changeEntry(run, [](WatchFolderEntry& entry) { entry.checklist.clear(); });
}

std::map<std::wstring, BackupChecklistItem> checklistOf(const BackupRun& run) {
    std::map<std::wstring, BackupChecklistItem> copy;
    changeEntry(run, [&copy](WatchFolderEntry& entry) { copy = entry.checklist; });
    return copy;
}

void pauseStep() { sleepMs(timings().backupStepMs.load()); }

// Back to idle after a run that ends early.
void endEarly(BackupRun& run) {
    setBackupState(run, kBackupStateIdle);
    setBackupProgress(run, 0.0);
}

void logIncomplete(const BackupRun& run) {
    appendAppLogEntry(L"Backup operation for folder \"" + run.displayName + L"\" is incomplete at 0%", 2, false);
}

// --- preparation ---------------------------------------------------------

// Whether the archiving takes the file as one of this folder's: inside the
// folder and not its archive, not claimed by a deeper watch folder, an
// included extension, not a restore's own write, not a copy's temporary file.
// The watch folder that claims a file depends on its folder only, so it is
// looked up once per folder.
bool meetsCriteria(const BackupRun& run, const std::wstring& file, std::map<std::wstring, bool>& ownedFolders) {
    if (file == run.key || !pathIsInside(file, run.key)) return false;
    if (!run.archivePath.empty() && pathIsInside(file, run.archivePath)) return false;
    if (isCopyTemporaryName(lastPathComponent(file))) return false;
    const std::wstring folder = parentFolder(file);
    auto owned = ownedFolders.find(folder);
    if (owned == ownedFolders.end()) {
        const std::wstring owner = withoutTrailingSeparators(pathKey(findWatchFolderOfFile(file)));
        owned = ownedFolders.emplace(folder, owner == run.key).first;
    }
    if (!owned->second) return false;
    return isFileExtensionIncluded(run.mapKey, file) && !isRestoredWrite(file);
}

void findEligibleFiles(BackupRun& run) {
    std::map<std::wstring, bool> ownedFolders;
    run.eligible.reserve(run.files.size());
    for (const std::wstring& file : run.files) run.eligible.push_back(meetsCriteria(run, file, ownedFolders) ? 1 : 0);
}

// The archived name of a file: the archive path and the file's path below
// the watch folder.
std::wstring archiveNameOf(const BackupRun& run, const std::wstring& file) {
    return run.archivePath + file.substr(run.key.size());
}

// Finds the folder's entry (its key with or without a trailing separator).
bool loadFolder(BackupRun& run, const std::wstring& folderKey) {
    run.key = withoutTrailingSeparators(pathKey(folderKey));
    std::lock_guard<std::mutex> lock(watchFolderMutex);
    for (const std::wstring& key : {pathKey(folderKey), run.key, run.key + kPathSeparatorText}) {
        const auto found = watchFolderMap.find(key);
        if (found == watchFolderMap.end() || found->second.removed) continue;
        run.mapKey = key;
        run.displayName = found->second.displayName.empty() ? lastPathComponent(run.key) : found->second.displayName;
        run.archivePath = withoutTrailingSeparators(pathKey(found->second.archivePath));
        return true;
    }
    return false;
}

// Waits until the queued comparisons are done; false on a stop or shut-down.
bool waitForScans(BackupRun& run) {
    while (waitForBackupScans(0, kScanWaitMs).running > 0) {
        if (!isApplicationRunning() || isCancelRequested(CancelTask::Backup)) return false;
        run.ping();
    }
    return true;
}

// Hands a chunk of comparisons over, then waits while too many are queued.
// Sets `pending` when some comparison is not done; false on a stop request
// or shut-down.
bool queueScans(BackupRun& run, std::vector<BackupScanRequest>& chunk, bool& pending) {
    for (const std::wstring& result : startBackupScans(chunk)) pending = pending || result == L"-";
    chunk.clear();
    // Keeps the queue of comparisons short: the workers take them in order.
    while (waitForBackupScans(kMaxQueuedScans, kScanWaitMs).running > kMaxQueuedScans) {
        if (!isApplicationRunning() || isCancelRequested(CancelTask::Backup)) return false;
        run.ping();
    }
    return true;
}

// One pass over the files, queueing them in chunks. Sets `pending` when some
// comparison is not done. False when the run must end (stop request or
// shut-down).
bool scanPass(BackupRun& run, bool& pending) {
    pending = false;
    const double total = static_cast<double>(run.files.size());
    std::vector<BackupScanRequest> chunk;
    for (size_t i = 0; i < run.files.size(); ++i) {
        if (i % kScanChunk == 0) {
            if (!isApplicationRunning() || isCancelRequested(CancelTask::Backup)) return false;
            setBackupProgress(run, static_cast<double>(backupScanCounts().finished) / total);
            run.ping();
        }
        if (!run.eligible[i]) continue;
        chunk.push_back({run.files[i], archiveNameOf(run, run.files[i])});
        if (chunk.size() >= kScanChunk && !queueScans(run, chunk, pending)) return false;
    }
    return queueScans(run, chunk, pending);
}

// Compares every file with its newest archived copy, until one whole pass
// finds every result ready.
bool scanFolder(BackupRun& run) {
    resetBackupScan();
    bool pending = true;
    while (pending) {
        if (!scanPass(run, pending) || (pending && !waitForScans(run))) {
            resetBackupScan();  // drops the comparisons still queued
            if (isApplicationRunning())
                logIncomplete(run);
            else
                setBackupResult(run, kBackupResultInterrupted);
            endEarly(run);
            return false;
        }
    }
    return true;
}

// --- selection -----------------------------------------------------------

void selectFile(BackupRun& run, const std::wstring& file) {
    BackupChecklistItem item;
    item.sourcePath = file;
    item.time = run.startTicks;
    changeEntry(run, [&](WatchFolderEntry& entry) { entry.checklist[file] = item; });
    addCurrentBackupSetFile(file);
    run.toCopy.push_back(file);
    CopyStatusRecord record;
    record.status = kCopyStatusQueued;
    setCopyStatus(std::wstring(kCopyStatusListBackup), file, record);
}

void removeQueuedBackupItems(const std::vector<std::wstring>& files) {
    std::lock_guard<std::mutex> lock(copyQueueMutex);
    for (const std::wstring& file : files) {
        const auto found = copyQueue.find(file);
        if (found != copyQueue.end() && found->second.applicationName == kBackupNameUpper) copyQueue.erase(found);
    }
}

// The run's own traces: the checklist, the current set, the status list and
// the queued files.
void dropRunState(BackupRun& run) {
    clearChecklist(run);
    clearCurrentBackupSet();
    removeBackupPathEntry(std::wstring(kCopyStatusListBackup));
    removeQueuedBackupItems(run.toCopy);
}

// Picks the files without an equal archived copy. False when the run ended.
bool selectFiles(BackupRun& run) {
    resetBackupList();
    const double total = static_cast<double>(run.files.size());
    for (size_t i = 0; i < run.files.size(); ++i) {
        const std::wstring& file = run.files[i];
        if (!isApplicationRunning()) {
            dropRunState(run);
            setBackupResult(run, kBackupResultInterrupted);
            endEarly(run);
            return false;
        }
        run.ping();
        if (isCancelRequested(CancelTask::Backup)) {
            setBackupState(run, kBackupStateIdle);
            pauseStep();
            setBackupResult(run, kBackupResultUserCancelled);
            dropRunState(run);
            logIncomplete(run);
            return false;
        }
        if (!run.eligible[i]) continue;
        ++run.meetingCriteria;
        const std::wstring found = startBackupScanThread(file, archiveNameOf(run, file));
        if (found == L"-") continue;
        // The comparison has just read the copy: it is there.
        if (!found.empty()) {
            ++run.unchanged;
            continue;
        }
        selectFile(run, file);
        setBackupProgress(run, static_cast<double>(run.unchanged) / total);
    }
    startProgressSet(run.toCopy);
    return true;
}

void handOverBatch(const BackupRun& run) {
    std::vector<ChangedFile> batch;
    batch.reserve(run.toCopy.size());
    for (const std::wstring& file : run.toCopy) batch.push_back({file, std::wstring(kBackupNameUpper)});
    archiveChangedFile(batch);
}

// --- waiting -------------------------------------------------------------

struct CopyWatch {
    std::vector<std::wstring> pending;  // not finished yet, in list order
    size_t finished = 0;
    bool newDiskFull = false;
};

// Finished: copied, or the copier's final word came (given up).
CopyWatch watchCopies(const BackupRun& run, std::map<std::wstring, bool>& diskFullSeen) {
    CopyWatch watch;
    for (const std::wstring& file : run.toCopy) {
        CopyStatusRecord record;
        const bool known = getCopyStatus(std::wstring(kCopyStatusListBackup), file, record);
        if (known && record.status == kCopyStatusDiskFull && !diskFullSeen[file]) {
            diskFullSeen[file] = true;
            watch.newDiskFull = true;
        }
        if (known && (record.status == kCopyStatusCopied || record.code != 0)) {
            ++watch.finished;
        } else {
            watch.pending.push_back(file);
        }
    }
    return watch;
}

double copyRatio() {
    std::lock_guard<std::mutex> lock(progressMutex);
    return globalProgressSet.ratio;
}

std::string questionBody(const BackupRun& run, const char* body, const CopyWatch& watch) {
    std::string fileName;
    if (!watch.pending.empty()) {
        const size_t index = std::min(watch.pending.size() - 1,
                                      static_cast<size_t>(static_cast<double>(watch.pending.size()) * run.progress));
        fileName = wideToUtf8(lastPathComponent(watch.pending[index]));
    }
    const uint64_t elapsed = static_cast<uint64_t>(std::max<int64_t>(0, steadyClockMs() - run.waitStartMs));
    return fillTemplate(body, {{kPlaceholderDuration, wideToUtf8(formatDurationMs(elapsed))},
                               {kPlaceholderCompletionRatio, percentText(run.progress)},
                               {kPlaceholderFileName, fileName},
                               {kPlaceholderUnprocessedCount, std::to_string(watch.pending.size())}});
}

// Asks and waits, pinging; a shut-down gives the question up (cancelled).
bool ask(BackupRun& run, const ConfirmTemplate& question, const std::string& title, const CopyWatch& watch) {
    const ModalReply reply =
        askModalQuestion(title, question.heading, questionBody(run, question.body, watch), question.buttonMask,
                         [&run] {
                             run.ping();
                             return isApplicationRunning();
                         });
    return reply.confirmed;
}

// After "continue": the stop also cancelled the copy batch that held the
// files, so the unfinished ones are queued again.
void requeueUnfinished(const CopyWatch& watch) {
    std::vector<ChangedFile> batch;
    for (const std::wstring& file : watch.pending) {
        changeBackupStatus(file, [](CopyStatusRecord& record) {
            record.status = kCopyStatusQueued;
            record.code = 0;
        });
        batch.push_back({file, std::wstring(kBackupNameUpper)});
    }
    archiveChangedFile(batch);
}

enum class WaitEnd { AllFinished, Cancelled, TimedOut, Shutdown };

// The stop request or a new disk-full file: OK cancels the backup and stops
// its copies still running.
bool askToCancel(BackupRun& run, const CopyWatch& watch, bool diskFull) {
    const std::string title = std::string(diskFull ? kDiskFullTitlePrefix : "") + kBackupInterruptedTemplate.title;
    if (ask(run, kBackupInterruptedTemplate, title, watch)) {
        setCancelRequest(CancelTask::Backup, true);
        return true;
    }
    if (!isApplicationRunning()) return false;
    setCancelRequest(CancelTask::Backup, false);
    requeueUnfinished(watch);
    return false;
}

struct WaitClock {
    int64_t lastChangeMs = 0;
    double lastValue = 0.0;
    size_t lastFinished = 0;
    bool archiveMissing = false;
};

// Copying takes long or the archive is gone: OK waits on, Cancel ends. A
// question given up at shut-down is no answer: the wait ends as interrupted.
bool askToExtend(BackupRun& run, const CopyWatch& watch, WaitClock& clock) {
    if (ask(run, kSlowBackupTemplate, kSlowBackupTemplate.title, watch)) {
        clock.lastChangeMs = steadyClockMs();
        return true;
    }
    if (!isApplicationRunning()) return false;
    run.report.push_back(reportLine(kReportError, "Copy process timed-out!"));
    run.timedOut = true;
    return false;
}

WaitEnd extendDeclined() { return isApplicationRunning() ? WaitEnd::TimedOut : WaitEnd::Shutdown; }

void noteProgress(BackupRun& run, const CopyWatch& watch, WaitClock& clock) {
    const double ratio = copyRatio();
    if (ratio != clock.lastValue || watch.finished != clock.lastFinished) {
        clock.lastValue = ratio;
        clock.lastFinished = watch.finished;
        clock.lastChangeMs = steadyClockMs();
    }
    setBackupProgress(run, ratio);
}

// A newly missing archive: one error line, logged; true when it just went.
bool archiveJustWentMissing(BackupRun& run, WaitClock& clock) {
    const bool missing = !isExistingFolder(run.archivePath);
    const bool wentMissing = missing && !clock.archiveMissing;
    clock.archiveMissing = missing;
    if (!wentMissing) return false;
    run.report.push_back(reportLine(kReportError, "Archive path NOT Writable!"));
    appendAppLogEntry(L"Archive path NOT Writable!", 8, false);
    return true;
}

WaitEnd waitForCopies(BackupRun& run) {
    setBackupState(run, kBackupStateCopying);
    setBackupProgress(run, 0.0);
    run.waitStartMs = steadyClockMs();
    WaitClock clock;
    clock.lastChangeMs = run.waitStartMs;
    std::map<std::wstring, bool> diskFullSeen;
    for (;;) {
        if (!isApplicationRunning()) return WaitEnd::Shutdown;
        run.ping();
        const CopyWatch watch = watchCopies(run, diskFullSeen);
        if (watch.newDiskFull) setBackupResult(run, kBackupResultDiskFull);
        noteProgress(run, watch, clock);
        if (watch.pending.empty()) return WaitEnd::AllFinished;
        if (archiveJustWentMissing(run, clock) && !askToExtend(run, watch, clock)) return extendDeclined();
        const bool stopAsked = isCancelRequested(CancelTask::Backup) || watch.newDiskFull;
        if (stopAsked && askToCancel(run, watch, watch.newDiskFull)) return WaitEnd::Cancelled;
        if (!isApplicationRunning()) return WaitEnd::Shutdown;
        const bool stalled = steadyClockMs() - clock.lastChangeMs > int64_t(timings().backupStallMs.load());
        if (stalled && !askToExtend(run, watch, clock)) return extendDeclined();
        sleepMs(timings().shortPollMs.load());
    }
}

// --- closing -------------------------------------------------------------

// Share of the checklist that was copied.
double copiedShare(const BackupRun& run) {
    if (run.toCopy.empty()) return 1.0;
    size_t copied = 0;
    for (const std::wstring& file : run.toCopy) {
        CopyStatusRecord record;
        if (getCopyStatus(std::wstring(kCopyStatusListBackup), file, record) && record.status == kCopyStatusCopied)
            ++copied;
    }
    return static_cast<double>(copied) / static_cast<double>(run.toCopy.size());
}

void reportFolderLine(BackupRun& run) {
    const uint64_t elapsed = run.waitStartMs == 0 ? 0 : static_cast<uint64_t>(steadyClockMs() - run.waitStartMs);
    std::string line = "Backup operation for folder " + quoted(run.displayName) + " + " +
                       wideToUtf8(formatDurationMs(elapsed)) + " ";
    line += run.progress >= 1.0 ? "was completed successfully " : "is incomplete at ";
    run.report.push_back(reportLine(kReportInformation, line + percentText(run.progress)));
}

// Lists failures until the report holds ten lines, then "...and more";
// returns the files copied.
uint64_t reportChecklist(BackupRun& run, const std::map<std::wstring, BackupChecklistItem>& checklist) {
    uint64_t saved = 0;
    for (const auto& [path, item] : checklist) {
        CopyStatusRecord record;
        const bool known = getCopyStatus(std::wstring(kCopyStatusListBackup), path, record);
        if (known && record.status == kCopyStatusCopied) {
            ++saved;
            continue;
        }
        const std::string text = known ? "Copy Failure -> " : "Not found in checklist item -> ";
        if (run.report.size() < kReportLineLimit) {
            run.report.push_back(reportLine(kReportError, text + wideToUtf8(item.sourcePath)));
        } else if (run.report.size() == kReportLineLimit) {
            run.report.push_back(reportLine(kReportError, "...and more"));
        }
    }
    return saved;
}

// The copies of a discarded set are deleted, never anything outside the
// archive, nor a copy that a version record or a saved set still names.
void deleteCopies(const BackupRun& run, const std::map<std::wstring, BackupChecklistItem>& checklist) {
    const std::set<std::wstring> inUse = archivedCopiesInUse(L"");
    for (const auto& [path, item] : checklist) {
        if (item.archivePath.empty() || !pathIsInside(item.archivePath, run.archivePath)) continue;
        if (inUse.count(pathKey(item.archivePath))) continue;
        removeFileBelow(run.archivePath, item.archivePath);
    }
}

void saveOrDiscardSet(BackupRun& run, const std::map<std::wstring, BackupChecklistItem>& checklist) {
    const std::string name = quoted(run.setName);
    if (!run.cancelled && !checklist.empty()) {
        if (saveCurrentBackupSet(backupSetStagingFilePath(run.key, run.setName))) {
            run.report.push_back(reportLine(kReportInformation, "Backup Collection " + name + " saved."));
        } else {
            run.report.push_back(
                reportLine(kReportError, "Backup Collection " + name + " not saved, the set file could not be written!"));
        }
        return;
    }
    deleteCopies(run, checklist);
    run.report.push_back(reportLine(kReportInformation, "Backup Collection " + name + " not saved, backup discarded!"));
}

void reportCounts(BackupRun& run, uint64_t saved) {
    run.report.push_back(reportLine(kReportInformation, std::to_string(run.files.size()) + " file instances"));
    run.report.push_back(reportLine(kReportInformation, std::to_string(run.meetingCriteria) + " files meeting criteria "));
    run.report.push_back(reportLine(kReportInformation, std::to_string(saved) + " files changed & saved"));
}

void logReport(const BackupRun& run) {
    if (run.report.empty()) return;
    std::string joined;
    for (const std::string& line : run.report) {
        if (!joined.empty()) joined += kLineSeparator;
        joined += line;
    }
    appendAppLogMarkup(L"FILE BACKUP REPORT (" + escapeLogText(run.displayName) + L")." + std::wstring(kLineSeparatorW) +
                           utf8ToWide(joined),
                       2, false);
}

void closeBackup(BackupRun& run) {
    reportFolderLine(run);
    const std::map<std::wstring, BackupChecklistItem> checklist = checklistOf(run);
    const uint64_t saved = reportChecklist(run, checklist);
    setBackupState(run, kBackupStateIdle);
    pauseStep();
    saveOrDiscardSet(run, checklist);
    reportCounts(run, saved);
    logReport(run);
    dropRunState(run);
    // An archive that is gone (a drive unplugged) is never made again here.
    if (isExistingFolder(run.archivePath)) storeBackupSetFile(run.key);
    // A run whose copies timed out did not succeed, whatever was copied.
    const int32_t result = backupResultOf(run);
    if (result == kBackupResultDiskFull) return;
    if (run.cancelled)
        setBackupResult(run, kBackupResultUserCancelled);
    else
        setBackupResult(run, run.timedOut ? kBackupResultInterrupted : kBackupResultSuccess);
}

// Clears the archive copy's batch flag for the run and puts it back after.
struct BatchFlagScope {
    bool saved = copyBatchFlag();
    BatchFlagScope() { setCopyBatchFlag(false); }
    ~BatchFlagScope() { setCopyBatchFlag(saved); }
};

// Listing and comparing; false when the run ended before selection.
bool prepareBackup(BackupRun& run) {
    setBackupState(run, kBackupStateStarting);
    pauseStep();
    setBackupResult(run, kBackupResultSuccess);
    std::vector<std::wstring> listed;
    listFilesRecursive(run.key, listed, run.recursive);
    for (std::wstring& file : listed) run.files.push_back(pathKey(file));
    if (run.files.empty()) {
        setBackupState(run, kBackupStateIdle);
        pauseStep();
        appendAppLogEntry(L"No files to backup!", 4, false);
        return false;
    }
    changeEntry(run, [&run](WatchFolderEntry& entry) {
        entry.backupStartTime = run.startTicks;
        entry.checklist.clear();
        entry.backupState = kBackupStatePreparing;
        entry.backupProgress = 0.0;
    });
    pauseStep();
    run.setName = formatTimestamp(run.startTicks, true) + std::wstring(kFileSetSuffix);
    startCurrentBackupSet(run.setName);
    run.report.push_back(reportLine(kReportInformation, "Details:"));
    findEligibleFiles(run);
    return scanFolder(run);
}

}  // namespace

bool runBackup(const std::wstring& folderKey, int64_t startTicks, bool recursive) {
    BackupRun run;
    run.startTicks = startTicks;
    run.recursive = recursive;
    if (folderKey.empty() || !loadFolder(run, folderKey)) return false;
    if (!prepareBackup(run)) return false;
    BatchFlagScope batchFlag;
    if (!selectFiles(run)) return false;
    handOverBatch(run);
    if (!run.toCopy.empty()) {
        const WaitEnd end = waitForCopies(run);
        if (end == WaitEnd::Shutdown) {
            dropRunState(run);
            setBackupResult(run, kBackupResultInterrupted);
            endEarly(run);
            return false;
        }
        run.cancelled = end == WaitEnd::Cancelled;
        if (end == WaitEnd::AllFinished) setBackupProgress(run, copiedShare(run));
    } else {
        setBackupProgress(run, 1.0);
    }
    closeBackup(run);
    return true;
}

void backupThreadMain(const std::wstring& folderKey, int64_t startTicks, bool recursive) {
    if (g_backupActive.exchange(true)) return;
    setBackupRunning(true);
    getThreadState(kBackupThreadName, kRegisterPingMs, kRegisterTimeoutMs);
    setThreadState(kBackupThreadName, kThreadRunning);
    beginCancellableTask(CancelTask::Backup);
    setCancelRequest(CancelTask::Backup, false);
    try {
        runBackup(folderKey, startTicks, recursive);
    } catch (const std::exception& error) {
        appendAppLogEntry(L"Critical! - backup: " + utf8ToWide(error.what()), 8, false);
        clearCurrentBackupSet();
        removeBackupPathEntry(std::wstring(kCopyStatusListBackup));
        BackupRun run;
        if (loadFolder(run, folderKey)) {
            setBackupState(run, kBackupStateIdle);
            pauseStep();
        }
    }
    // A stop left set would cancel the next backup's copies.
    endCancellableTask(CancelTask::Backup);
    setThreadState(kBackupThreadName, kThreadStopped);
    setBackupRunning(false);
    g_backupActive = false;
}

bool recordBackupCopyResult(const std::wstring& sourcePath, const std::wstring& archiveCopyPath, int32_t code) {
    const std::wstring source = pathKey(sourcePath);
    const std::wstring copy = pathKey(archiveCopyPath);
    changeBackupStatus(source, [code](CopyStatusRecord& record) {
        record.status = code == kBackupResultCopied ? kCopyStatusCopied : kCopyStatusFailed;
        record.code = code;
    });
    recordCurrentBackupSetCopy(source, copy, code == kBackupResultCopied);
    const std::wstring folder = findWatchFolderOfFile(source);
    bool found = false;
    changeEntry(folder.empty() ? source : folder, [&](WatchFolderEntry& entry) {
        const auto item = entry.checklist.find(source);
        if (item == entry.checklist.end()) return;
        item->second.archivePath = copy;
        item->second.resultCode = code;
        item->second.time = engineNowTicks();
        found = true;
    });
    return found;
}

void setCopyStatus(const std::wstring& listName, const std::wstring& path, const CopyStatusRecord& record) {
    std::lock_guard<std::mutex> lock(backupPathMapMutex);
    backupPathMap[backupPathMapKey(listName)][pathKey(path)] = record;
}

bool getCopyStatus(const std::wstring& listName, const std::wstring& path, CopyStatusRecord& record) {
    std::lock_guard<std::mutex> lock(backupPathMapMutex);
    const auto list = backupPathMap.find(backupPathMapKey(listName));
    if (list == backupPathMap.end()) return false;
    const auto found = list->second.find(pathKey(path));
    if (found == list->second.end()) return false;
    record = found->second;
    return true;
}

void installBackupEngineHooks() {
    BackupCopyHooks copyHooks;
    copyHooks.recordCopyResult = [](const std::wstring& source, const std::wstring& target, int32_t code) {
        recordBackupCopyResult(source, target, code);
    };
    copyHooks.setCopyStatus = [](const std::wstring& source, int32_t status) {
        return changeBackupStatus(source, [status](CopyStatusRecord& record) { record.status = status; });
    };
    setBackupCopyHooks(copyHooks);
    EngineHooks hooks = engineHooks();
    hooks.backupThreadMain = backupThreadMain;
    setEngineHooks(hooks);
}
