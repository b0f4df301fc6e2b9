#pragma once
// The main window's use of the shared folder chooser: opened by " Add "
// (and by the folder entry's "Select Archive Location"), drawn every frame
// until it closes.
#include <string>

// Opens the chooser in `startFolder` (the last chosen folder; empty: where
// the last use ended). Nothing happens while it is open already.
void openFolderChooser(const std::wstring& startFolder);
// Draws the chooser when it is open. True on the frame it closed; `chosen`
// is then the chosen folder, or empty when the user cancelled.
bool displayFolderChooser(std::wstring& chosen);
