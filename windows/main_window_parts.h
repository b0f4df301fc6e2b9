#pragma once
// The parts of the main window written in their own files: the Applications
// and Notifications tabs, the folder and application option popups and the
// removal of a folder entry. Each top-level window has its own header.
#include <string>

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
