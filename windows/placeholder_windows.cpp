// Empty stand-ins for the windows that are not written yet: they draw
// nothing and stay closed (the main window counts as open, so the loop
// draws its frame). Each window's own file replaces its pair here.
#include "windows/placeholder_windows.h"

#include <atomic>

namespace {
std::atomic<bool> g_aboutOpen{false};
}  // namespace

void drawMainWindow() {}
bool isMainWindowOpen() { return true; }

void drawBackupSetRestoreWindow() {}
bool isBackupSetRestoreWindowOpen() { return false; }

void restoreItemsView() {}
bool isRestoreItemsViewOpen() { return false; }

void restoreOrRemoveView() {}
bool isRestoreOrRemoveViewOpen() { return false; }

void drawExtensionManagerWindow() {}
bool isExtensionManagerWindowOpen() { return false; }

void drawSchedulerWindow() {}
bool isSchedulerWindowOpen() { return false; }

void drawAboutWindow() {}
bool isAboutWindowOpen() { return g_aboutOpen.load(); }
void closeAboutWindow() { g_aboutOpen.store(false); }

void drawUserMessageWindow() {}
bool isUserMessageWindowOpen() { return false; }

void drawStyleEditorWindow() {}
bool isStyleEditorWindowOpen() { return false; }
