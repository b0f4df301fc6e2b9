#pragma once
// The protection of the folders the program creates, and the removal of
// folder trees. Removal refuses any path that is not absolute (such as
// "?/Morvane" from an unset variable) and any path with fewer than two
// levels ("/", "/home"), and never follows a symbolic link.
#include <string>

// Sets up the process-wide protection for new folders (owner only). Call once
// at start, before any folder is created.
void createSecurityDescriptor();
// Mode given to the folders the program creates with its own protection.
unsigned programFolderMode();

// Deletes every file and folder under the path, then the path itself;
// what cannot be deleted stays. False when the path is refused.
bool removeFolderTree(std::wstring path);
// Removes the empty folders under the path (the path itself stays); files
// are never deleted. False when the path is refused.
bool removeEmptyFolders(std::wstring path);
