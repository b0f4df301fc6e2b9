#include "engine/backup_copy_hooks.h"

#include <mutex>

namespace {

std::mutex g_backupHooksMutex;
BackupCopyHooks g_backupHooks;

}  // namespace

void setBackupCopyHooks(const BackupCopyHooks& hooks) {
    std::lock_guard<std::mutex> lock(g_backupHooksMutex);
    g_backupHooks = hooks;
}

BackupCopyHooks backupCopyHooks() {
    std::lock_guard<std::mutex> lock(g_backupHooksMutex);
    return g_backupHooks;
}
