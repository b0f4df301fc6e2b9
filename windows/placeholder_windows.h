#pragma once
// The draw function and open flag of each top-level window the main loop
// draws. Windows not written yet have an empty stand-in in
// placeholder_windows.cpp; a window's own file replaces its pair there.
// The open flags are read every frame by the main loop.
#include <string>

// IG_000: the main window is windows/main_window.h.
// IG_001: the backup-set restoration window is windows/backup_set_restore_window.h.
#include "windows/backup_set_restore_window.h"
// IG_002: the items view of an edited set is windows/restore_items_view.h.
#include "windows/restore_items_view.h"
// IG_003: the modal message window is shell/modal_window.h.
// IG_004: the restore-or-remove view is windows/restore_or_remove_view.h.
// IG_005: the extension manager is windows/extension_manager.h.
// IG_006: scheduler window (windows/scheduler_window.cpp).
void drawSchedulerWindow();
bool isSchedulerWindowOpen();
// Opens it on the triggers of one watch folder (its key as stored).
void openSchedulerWindow(const std::wstring& folderKey);
// IG_007: the about window is windows/about_window.h.
// IG_009 (id 8): the user-message window is windows/user_message_window.h.
// IG_008 (id 9): the style editor is windows/style_editor.h.

// The main window's tabs written elsewhere: each draws its tab item inside
// the tab bar and returns true while it is the selected tab.
bool drawApplicationsTab();
bool drawNotificationsTab();
void resetApplicationsTab();

// The options of one application, drawn inside its right-click popup;
// called with statisticsMutex held.
struct ApplicationRecord;
void applicationOptions(const ApplicationRecord& record, const std::wstring& applicationKey);
// Sets the application's owner-on-focus flag and makes it persistent, under
// statisticsMutex; the popup runs it on a thread.
void setApplicationMonitorFocus(const std::wstring& applicationKey, bool monitorFocus);

// The folder entry's options popup, drawn by the Folders tab for the
// selected row after a right click.
void updateFolderEntry(const std::wstring& folderKey);
// Waits for the type or collision change the popup started last (tests).
void waitForFolderOptionJob();
// Asks whether to remove the folder entry and removes it; thread body.
void confirmRemoveFolderEntry(const std::wstring& folderKey);
