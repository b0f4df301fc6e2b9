#pragma once
// The main window's "Wizards/Help" tab: the online and the local user guide,
// the user's Documents folder as a watch folder, and the style editor. Each
// item is marked done for the rest of the run once clicked.
#include <string>

// Draws the tab item (selected this frame when `select`); true while it is
// the selected tab.
bool drawHelpTab(bool select);
// The installed guide: "guide.pdf" in the configuration folder.
std::wstring installedGuidePath();
void resetHelpTab();
