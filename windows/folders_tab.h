#pragma once
// The main window's "Folders" tab: the watch folders with their state and
// progress, the Add, Remove, Backup, Restore and Cancel buttons, the folder
// chooser that Add opens, and the details of the selected folder.
#include <cstdint>
#include <string>

// Draws the tab item; true while it is the selected tab.
bool drawFoldersTab();

// The remaining time of work that took `elapsedMs` for `done` of `total`
// items; "--:--:--" while nothing is done.
std::string remainingTimeText(uint64_t elapsedMs, double done, double total);

void resetFoldersTab();
