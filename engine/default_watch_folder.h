#pragma once
// The user's Documents folder as a first watch folder, offered by the windows.
#include <string>

// Adds "{{USERPROFILE}}/Documents" as a watch folder with a proposed archive
// (a "QZR_ARCHIVE_ROOT" folder on the drive with the most free space),
// prepares that archive and rebuilds the change watcher. Returns the folder's
// key, or an empty text when the folder is missing, already watched, or no
// archive could be proposed. Runs on a thread of its own.
std::wstring addDefaultWatchFolder();
