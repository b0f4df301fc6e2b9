// The end of a backup: the report "FILE BACKUP REPORT (<folder>)." in the
// application log, the set saved (or its copies deleted when the backup was
// discarded), and the run's result in the folder's entry.
#include <set>

#include "engine/backup_run.h"
#include "engine/backup_set_folders.h"
#include "engine/version_deletion.h"
#include "foundation/app_log.h"
#include "foundation/file_helpers.h"
#include "foundation/global_defaults.h"
#include "foundation/text_format.h"
#include "platform/file_system.h"
#include "platform/safe_folders.h"
#include "platform/text.h"

namespace {

// Report lines before the failures are summed up as "...and more".
constexpr size_t kReportLineLimit = 10;

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

}  // namespace

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
