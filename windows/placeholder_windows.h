#pragma once
// The draw function and open flag of each top-level window the main loop
// draws. Windows not written yet have an empty stand-in in
// placeholder_windows.cpp; a window's own file replaces its pair there.
// The open flags are read every frame by the main loop.

// IG_000: the main window; open whenever the window is shown.
void drawMainWindow();
bool isMainWindowOpen();
// IG_001: backup-set restoration window.
void drawBackupSetRestoreWindow();
bool isBackupSetRestoreWindowOpen();
// IG_002: restore view of the items of one file.
void restoreItemsView();
bool isRestoreItemsViewOpen();
// IG_003: the modal message window is shell/modal_window.h.
// IG_004: restore-or-remove view.
void restoreOrRemoveView();
bool isRestoreOrRemoveViewOpen();
// IG_005: extension manager.
void drawExtensionManagerWindow();
bool isExtensionManagerWindowOpen();
// IG_006: scheduler window.
void drawSchedulerWindow();
bool isSchedulerWindowOpen();
// IG_007: about window; every change of the render state closes it.
void drawAboutWindow();
bool isAboutWindowOpen();
void closeAboutWindow();
// IG_009 (id 8): user-message window.
void drawUserMessageWindow();
bool isUserMessageWindowOpen();
// IG_008 (id 9): style editor.
void drawStyleEditorWindow();
bool isStyleEditorWindowOpen();
