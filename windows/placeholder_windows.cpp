// Empty stand-ins for the windows that are not written yet: they draw
// nothing and stay closed. Each window's own file replaces its pair here.
#include "windows/placeholder_windows.h"

#include <imgui.h>

#include <atomic>

namespace {
std::atomic<bool> g_aboutOpen{false};
std::atomic<bool> g_backupSetRestoreOpen{false};
std::atomic<bool> g_styleEditorOpen{false};

bool drawEmptyTab(const char* label) {
    if (!ImGui::BeginTabItem(label)) return false;
    ImGui::EndTabItem();
    return true;
}
}  // namespace

void drawBackupSetRestoreWindow() { g_backupSetRestoreOpen.store(false); }
bool isBackupSetRestoreWindowOpen() { return g_backupSetRestoreOpen.load(); }
void openBackupSetRestoreWindow() { g_backupSetRestoreOpen.store(true); }

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

void drawStyleEditorWindow() { g_styleEditorOpen.store(false); }
bool isStyleEditorWindowOpen() { return g_styleEditorOpen.load(); }
void openStyleEditorWindow() { g_styleEditorOpen.store(true); }

bool drawApplicationsTab() { return drawEmptyTab("Applications"); }

void updateFolderEntry(const std::wstring&) {}
void confirmRemoveFolderEntry(const std::wstring&) {}
