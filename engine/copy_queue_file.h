#pragma once
// "CopyQueue.dat": the files still queued, or waiting for their archive,
// when the program stops, archived again at the next start.
#include <string>

// "<configuration folder>/CopyQueue.dat".
std::wstring copyQueueFilePath();
// Reads "CopyQueue.dat" (when it exists), archives its files again as
// changes and deletes it. False when there was no file or it did not load.
bool loadCopyQueue();
// Writes the queued files to "CopyQueue.dat", or deletes it when the queue is
// empty. False when the file could not be written (the old one stays).
bool saveCopyQueue();
// At shut-down, once the engine's threads have ended: files queued after the
// Copier's last run have no Copier left to save them, so they are saved here.
// Does nothing while any engine thread still runs (a Copier saves its own).
bool saveUnattendedCopyQueue();
