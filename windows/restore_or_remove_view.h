#pragma once
// The restore-or-remove view (display item IG_004), "Select Items To Restore
// or Remove from the Archive: ": every archived version of every file below
// one watch folder as a tree folder -> file -> version, filtered by the
// application that owned each version; the versions chosen are restored over
// the files or removed from the archive by the engine's tasks.
//
// The view works on its own copy of the version records, taken when it opens;
// the window and the tasks that change the copy's marks (select all, group
// selection, the refresh after a removal) hold one mutex, and reach files and
// versions by their keys, never by pointers into the maps.
#include <map>
#include <string>
#include <vector>

#include "foundation/version_records.h"

// Draw function of IG_004 and its open flag.
void restoreOrRemoveView();
bool isRestoreOrRemoveViewOpen();
// Opens the view on the archived versions of the files below `folderKey`.
void openRestoreOrRemoveView(const std::wstring& folderKey);

// An entry of the application filter: the name shown, the owner compared.
struct UIFilterEntry {
    std::string name;
    std::wstring value;
};
// "Any UI" (no filter), then one entry per monitored application.
std::vector<UIFilterEntry> buildUIFilterList();

// Text commands of the version tree: "s|" + key (selected), "d|" + key
// (deselected), "done" after a rebuild of the groups.
// Mode 0 asks for a rebuild of the group map; whenever it is not built it is
// rebuilt (command "done"); mode 2 then draws the tree. Call with the view's
// state held (inside the window's frame).
void buildRestoreSelection(std::wstring& command, int mode);

// The group popup of a folder of the tree: first, last or no version of each
// of its files (on a thread of its own, under the view's mutex).
void groupSelectionOptions(const std::wstring& folder);

// For tests: the view's marks (source -> its versions) and the number of
// chosen versions that the tree shows; the owner filter the view uses.
std::map<std::wstring, FileVersionMap> restoreViewItems();
int restoreViewSelectedCount();
void setRestoreViewFilter(const std::wstring& owner);
// Back to closed, nothing built (tests).
void resetRestoreOrRemoveView();
