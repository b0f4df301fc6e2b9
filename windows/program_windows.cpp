#include "windows/program_windows.h"

#include <iterator>

#include "shell/display_items.h"
#include "shell/main_loop.h"
#include "net/update_check.h"
#include "shell/modal_window.h"
#include "shell/shell_state.h"
#include "windows/about_window.h"
#include "windows/extension_manager.h"
#include "windows/main_window.h"
#include "windows/backup_set_restore_window.h"
#include "windows/main_window_parts.h"
#include "windows/restore_items_view.h"
#include "windows/scheduler_window.h"
#include "windows/restore_or_remove_view.h"
#include "windows/style_editor.h"
#include "windows/user_message_window.h"

namespace {
// Ids 8 and 9 carry the names IG_009 and IG_008, so the style editor (id 9)
// is drawn before the user-message window (id 8).
const DisplayItemRow kDisplayItemRows[] = {
    {0, L"IG_000", drawMainWindow, isMainWindowOpen},
    {1, L"IG_001", drawBackupSetRestoreWindow, isBackupSetRestoreWindowOpen},
    {2, L"IG_002", restoreItemsView, isRestoreItemsViewOpen},
    {3, L"IG_003", drawModalMessage, isModalMessageOpen},
    {4, L"IG_004", restoreOrRemoveView, isRestoreOrRemoveViewOpen},
    {5, L"IG_005", drawExtensionManagerWindow, isExtensionManagerWindowOpen},
    {6, L"IG_006", drawSchedulerWindow, isSchedulerWindowOpen},
    {7, L"IG_007", drawAboutWindow, isAboutWindowOpen},
    {8, L"IG_009", drawUserMessageWindow, isUserMessageWindowOpen},
    {9, L"IG_008", drawStyleEditorWindow, isStyleEditorWindowOpen},
};
}  // namespace

void registerProgramWindows() {
    setDisplayItemRows(kDisplayItemRows, std::size(kDisplayItemRows));
    // Hiding the window closes the about window. Showing it does not: the
    // tray's About shows the window and the about window together, and the
    // about window may already be up when the window's graphics start.
    setRenderStateChangeHook([] {
        if (!shellShowUI()) closeAboutWindow();
    });
    // The about refresh (the tray's About) and each version check rebuild
    // the pages off the UI thread; the refresh then shows the window.
    setAboutWindowHooks([] { showAboutBox(); }, openAboutWindow);
}
