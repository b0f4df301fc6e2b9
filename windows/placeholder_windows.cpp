// Empty stand-ins for the windows that are not written yet: they draw
// nothing and stay closed. Each window's own file replaces its pair here.
#include "windows/placeholder_windows.h"

#include <imgui.h>

#include <atomic>
#include <mutex>

namespace {
// The stand-ins below close themselves on their first frame.
std::atomic<bool> g_restoreOrRemoveOpen{false};
std::atomic<bool> g_extensionManagerOpen{false};
std::atomic<bool> g_schedulerOpen{false};
std::mutex g_extensionFolderMutex;
std::wstring g_extensionFolder;
}  // namespace

void restoreOrRemoveView() { g_restoreOrRemoveOpen.store(false); }
bool isRestoreOrRemoveViewOpen() { return g_restoreOrRemoveOpen.load(); }
void openRestoreOrRemoveView() { g_restoreOrRemoveOpen.store(true); }

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

void drawSchedulerWindow() { g_schedulerOpen.store(false); }
bool isSchedulerWindowOpen() { return g_schedulerOpen.load(); }
void openSchedulerWindow() { g_schedulerOpen.store(true); }

