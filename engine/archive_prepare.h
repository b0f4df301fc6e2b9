#pragma once
// A watch folder's archive folder, the consistency scan of its archived
// versions, and the engine hooks served by the archiving.
#include <cstddef>
#include <string>

// The archive folder of a watch folder: the archive path + "/" + the folder's
// last component, unless the archive path already ends in that component;
// numbered ("name(1)") where another watch folder archives under that name.
std::wstring archiveFolderFor(const std::wstring& folderPath, const std::wstring& archivePath);
// Creates the folder's archive folder, stores it as the entry's archive path,
// rebuilds the change watcher and has every file of the folder compared with
// the archive once its watch is open (in the background, as at a start).
void prepareArchiveThread(const std::wstring& folderPath, const std::wstring& archivePath);
// Logs every archived version of the folder whose archive file is missing;
// returns how many were logged.
size_t checkArchiveInstances(const std::wstring& folderPath);

// Fills the engine hooks the archiving serves (the Copier, the queue count,
// archive preparation, consistency scans, files waiting for room).
void installArchiveHooks();
