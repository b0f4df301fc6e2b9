// Empty stand-ins for the windows that are not written yet: they draw
// nothing and stay closed. Each window's own file replaces its pair here.
#include "windows/placeholder_windows.h"

#include <imgui.h>

#include <atomic>

namespace {
std::atomic<bool> g_backupSetRestoreOpen{false};
}  // namespace

void drawBackupSetRestoreWindow() { g_backupSetRestoreOpen.store(false); }
bool isBackupSetRestoreWindowOpen() { return g_backupSetRestoreOpen.load(); }
void openBackupSetRestoreWindow() { g_backupSetRestoreOpen.store(true); }

void restoreItemsView() {}
bool isRestoreItemsViewOpen() { return false; }



