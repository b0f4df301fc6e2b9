#pragma once
// Removal of what lies below a folder, relative to opened folder handles:
// a folder swapped for a link while the removal runs is never followed, and
// a link is removed itself, never what it points to.
#include <string>

// Deletes the files (when `files`) and the then empty folders below `folder`;
// the folder itself stays. What cannot be deleted stays. False when `folder`
// cannot be opened as a folder (a link to one included).
bool removeBelowFolder(const std::wstring& folder, bool files);
// The same for `folder` reached from `root` without following a link on the
// way (see safe_folders.h).
bool removeBelowFolder(const std::wstring& root, const std::wstring& folder, bool files);
