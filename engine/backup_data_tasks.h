#pragma once
// The two tasks of the restore windows that destroy archived data, each run
// on a thread of its own after the user confirmed: removing a backup set (its
// archived copies, note, staged set file and mirror in the archive) and
// deleting the archived versions selected in the restore view (then the
// archive folders that became empty). Plus two selection helpers.
#include <atomic>
#include <cstdint>
#include <map>
#include <string>

#include "foundation/version_records.h"

// Set while deleteBackupDataTask runs; the restore view reads it every frame
// to tell a deletion from a restore.
extern std::atomic<bool> deletionRunning;

// A selection of the restore view: source key -> its versions; a version is
// chosen when it is present and selected.
using VersionSelection = std::map<std::wstring, FileVersionMap>;

// Removes the set whose file (in the staging folder) is `setFilePath`; the
// set's entry in the set list (key `setListKey`) shows the removal. Copies are
// deleted only inside the archive of the set's watch folder.
void removeBackupSetTask(std::wstring setFilePath, std::wstring setListKey);

// Deletes the chosen versions that lie inside a watch folder's archive,
// erases the records of those that are gone, then removes the archive folders
// emptied by it, pass by pass. Holds deletionRunning and restoreActive while
// it runs; returns at once while another deletion runs.
void deleteBackupDataTask(VersionSelection selection);

// For each file, the newest present version (in archive order) that passes
// the owner filter (all pass with an empty filter) becomes selected when
// `select`, every other passing version unselected.
void selectNewestVersions(VersionSelection& versions, bool select, const std::wstring& ownerFilter = L"");

// Sets the restore flag of the edited set's entries: all of them with an
// empty path, else those whose folder (text up to the last separator) equals
// the path's.
void setEditedSetRestoreFlags(const std::wstring& folderPath, uint8_t value);
