#pragma once
// The restore of chosen versions: the versions picked in the restore view,
// copied back over the user's files.
#include <map>
#include <string>

#include "foundation/version_records.h"

// The restore view's marks: source path -> its versions with their selected
// flags (the shape of versionRecordMap). Handed over by value.
using RestoreSelection = std::map<std::wstring, FileVersionMap>;

// Restores the selected versions of the files in `selection` (the marks are
// first copied into versionRecordMap). Runs to its end on the calling thread.
void restoreSelectedFilesTask(RestoreSelection selection);

// What the windows call: the task on its own detached engine thread.
void startRestoreSelectedFiles(RestoreSelection selection);
