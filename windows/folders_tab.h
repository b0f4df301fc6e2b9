#pragma once
// The main window's "Folders" tab: the watch folders with their state and
// progress, the Add, Remove, Backup, Restore and Cancel buttons, the folder
// chooser that Add opens, and the details of the selected folder.
#include <cstdint>
#include <string>

// Draws the tab item; true while it is the selected tab.
bool drawFoldersTab();

// What the folder chooser's answer does. Adding: a new watch folder with
// the archive proposed for it, refused (with a line in the application log)
// for "/", the data folder and anything inside it, or when no archive
// outside the folder can be found; false when nothing was added.
bool addChosenWatchFolder(const std::wstring& path);
// Changing the selected folder's archive: refused (logged) when the archive
// would lie inside the watch folder; false then.
bool changeSelectedArchive(const std::wstring& chosenPath);

// The remaining time of work that took `elapsedMs` for `done` of `total`
// items; "--:--:--" while nothing is done.
std::string remainingTimeText(uint64_t elapsedMs, double done, double total);

void resetFoldersTab();
