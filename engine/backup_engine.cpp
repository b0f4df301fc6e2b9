#include "engine/backup_engine.h"

#include <atomic>
#include <exception>
#include <map>

#include "engine/archive_copy.h"
#include "engine/backup_copy_hooks.h"
#include "engine/backup_run.h"
#include "engine/backup_scheduler.h"
#include "engine/backup_sets.h"
#include "engine/copy_cancel.h"
#include "engine/engine_hooks.h"
#include "engine/thread_registry.h"
#include "foundation/app_log.h"
#include "foundation/file_helpers.h"
#include "foundation/global_defaults.h"
#include "foundation/text_format.h"
#include "foundation/texts.h"
#include "foundation/watch_folders.h"
#include "platform/paths.h"
#include "platform/text.h"

namespace {

const std::string kBackupThreadName(kBackupProcedureThreadName);
constexpr uint64_t kRegisterPingMs = 500;
constexpr uint64_t kRegisterTimeoutMs = 60000;

std::atomic<bool> g_backupActive{false};

// Clears the archive copy's batch flag for the run and puts it back after.
struct BatchFlagScope {
    bool saved = copyBatchFlag();
    BatchFlagScope() { setCopyBatchFlag(false); }
    ~BatchFlagScope() { setCopyBatchFlag(saved); }
};

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
    // Last: the backup takes a finished status as the end of this file's
    // copy and may write its set and report at once, which must hold it.
    changeBackupStatus(source, [code](CopyStatusRecord& record) {
        record.status = code == kBackupResultCopied ? kCopyStatusCopied : kCopyStatusFailed;
        record.code = code;
    });
    return found;
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
