// Empty stand-ins for the windows that are not written yet: they draw
// nothing and stay closed. Each window's own file replaces its pair here.
#include "windows/placeholder_windows.h"

#include <imgui.h>

#include <atomic>

namespace {
std::atomic<bool> g_backupSetRestoreOpen{false};
std::atomic<bool> g_styleEditorOpen{false};
// The stand-ins below close themselves on their first frame, like the two above.
std::atomic<bool> g_restoreOrRemoveOpen{false};
std::atomic<bool> g_schedulerOpen{false};
}  // namespace

void drawBackupSetRestoreWindow() { g_backupSetRestoreOpen.store(false); }
bool isBackupSetRestoreWindowOpen() { return g_backupSetRestoreOpen.load(); }
void openBackupSetRestoreWindow() { g_backupSetRestoreOpen.store(true); }

void restoreItemsView() {}
bool isRestoreItemsViewOpen() { return false; }

void restoreOrRemoveView() { g_restoreOrRemoveOpen.store(false); }
bool isRestoreOrRemoveViewOpen() { return g_restoreOrRemoveOpen.load(); }
void openRestoreOrRemoveView() { g_restoreOrRemoveOpen.store(true); }

void drawSchedulerWindow() { g_schedulerOpen.store(false); }
bool isSchedulerWindowOpen() { return g_schedulerOpen.load(); }
void openSchedulerWindow() { g_schedulerOpen.store(true); }

void drawStyleEditorWindow() { g_styleEditorOpen.store(false); }
bool isStyleEditorWindowOpen() { return g_styleEditorOpen.load(); }
void openStyleEditorWindow() { g_styleEditorOpen.store(true); }


