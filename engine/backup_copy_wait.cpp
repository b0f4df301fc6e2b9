// Following a backup's copies until they are all finished, and the
// questions asked on the way: a stop asked for, a full disk, an archive
// that went, copies that stall.
#include <algorithm>
#include <map>
#include <vector>

#include "engine/archive_changes.h"
#include "engine/backup_run.h"
#include "engine/copy_cancel.h"
#include "engine/copy_progress.h"
#include "foundation/app_log.h"
#include "foundation/file_helpers.h"
#include "foundation/global_defaults.h"
#include "foundation/text_format.h"
#include "foundation/texts.h"
#include "platform/file_system.h"
#include "platform/text.h"

namespace {

struct CopyWatch {
    std::vector<std::wstring> pending;  // not finished yet, in list order
    size_t finished = 0;
    bool newDiskFull = false;
};

// Finished once the Copier's final word came (copied or given up): it sets
// a copy's status as soon as the copy is named, a moment before it marks the
// set's entry copied, and a set written in between would leave the file out.
CopyWatch watchCopies(const BackupRun& run, std::map<std::wstring, bool>& diskFullSeen) {
    CopyWatch watch;
    for (const std::wstring& file : run.toCopy) {
        CopyStatusRecord record;
        const bool known = getCopyStatus(std::wstring(kCopyStatusListBackup), file, record);
        if (known && record.status == kCopyStatusDiskFull && !diskFullSeen[file]) {
            diskFullSeen[file] = true;
            watch.newDiskFull = true;
        }
        if (known && record.code != 0) {
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

}  // namespace

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
