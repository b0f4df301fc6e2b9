#include "engine/backup_run.h"

#include "foundation/app_log.h"
#include "foundation/global_defaults.h"
#include "foundation/text_format.h"
#include "foundation/texts.h"
#include "platform/text.h"

namespace {

const std::string kBackupThreadName(kBackupProcedureThreadName);
constexpr int64_t kPingEveryMs = 500;

}  // namespace

void Pinger::operator()() {
    const int64_t now = steadyClockMs();
    if (now - last < kPingEveryMs) return;
    last = now;
    getThreadState(kBackupThreadName, 0, 0);
}

std::wstring backupListKey() { return backupPathMapKey(std::wstring(kCopyStatusListBackup)); }

std::string reportLine(int32_t kind, const std::string& text) { return joinReportFields(kind, "", text, ""); }

std::string percentText(double progress) { return wideToUtf8(formatDecimal(progress * 100.0, 0)) + "%"; }

std::string quoted(const std::wstring& text) { return "\"" + wideToUtf8(text) + "\""; }

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

std::map<std::wstring, BackupChecklistItem> checklistOf(const BackupRun& run) {
    std::map<std::wstring, BackupChecklistItem> copy;
    changeEntry(run, [&copy](WatchFolderEntry& entry) { copy = entry.checklist; });
    return copy;
}

void pauseStep() { sleepMs(timings().backupStepMs.load()); }

void endEarly(BackupRun& run) {
    setBackupState(run, kBackupStateIdle);
    setBackupProgress(run, 0.0);
}

void logIncomplete(const BackupRun& run) {
    appendAppLogEntry(L"Backup operation for folder \"" + run.displayName + L"\" is incomplete at 0%", 2, false);
}
