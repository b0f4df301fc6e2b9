#pragma once
// What the folder chooser's answer does in the main window.
#include <string>

// Adding: a new watch folder with the archive proposed for it, refused (with
// a line in the application log) for "/", the data folder and anything inside
// it, or when no archive outside the folder can be found; false when nothing
// was added. A folder listed already stays as the watch-folder list keeps it.
bool addChosenWatchFolder(const std::wstring& path);
// Changing the selected folder's archive: refused (logged) when the archive
// would lie inside the watch folder; false then.
bool changeSelectedArchive(const std::wstring& chosenPath);
