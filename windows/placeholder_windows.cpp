// Empty stand-ins for the windows that are not written yet: they draw
// nothing and stay closed. Each window's own file replaces its pair here.
#include "windows/placeholder_windows.h"

#include <imgui.h>

#include <atomic>
#include <mutex>

namespace {
std::atomic<bool> g_backupSetRestoreOpen{false};
// The stand-ins below close themselves on their first frame, like IG_001's above.
std::atomic<bool> g_extensionManagerOpen{false};
std::mutex g_extensionFolderMutex;
std::wstring g_extensionFolder;
}  // namespace

void drawBackupSetRestoreWindow() { g_backupSetRestoreOpen.store(false); }
bool isBackupSetRestoreWindowOpen() { return g_backupSetRestoreOpen.load(); }
void openBackupSetRestoreWindow() { g_backupSetRestoreOpen.store(true); }

void restoreItemsView() {}
bool isRestoreItemsViewOpen() { return false; }

void drawExtensionManagerWindow() { g_extensionManagerOpen.store(false); }
bool isExtensionManagerWindowOpen() { return g_extensionManagerOpen.load(); }
void openExtensionManagerWindow(const std::wstring& folderKey) {
    {
        std::lock_guard<std::mutex> lock(g_extensionFolderMutex);
        g_extensionFolder = folderKey;
    }
    g_extensionManagerOpen.store(true);
}
std::wstring extensionManagerFolder() {
    std::lock_guard<std::mutex> lock(g_extensionFolderMutex);
    return g_extensionFolder;
}


