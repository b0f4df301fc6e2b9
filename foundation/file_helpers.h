#pragma once
// File-system helpers used across the program: path tests, sizes, free
// space, file comparison, folder chains, folder walks, the name of an open
// file, and paths with a leading placeholder. Paths are wide text with "/".
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

// Pause between the passes of filesAreEqual when a size cannot be read (ms).
extern std::atomic<int> fileSizeRetryDelayMs;

bool isExistingFile(std::wstring path);
bool isExistingFolder(std::wstring path);
// True when the path cannot be opened for exclusive writing (missing, no
// rights, or another open file holds a lock on it).
bool isFileLocked(std::wstring path);
bool getFileSize(std::wstring path, uint64_t& size);
// Last modification time as 100-ns ticks since 1970.
bool getFileWriteTime(std::wstring path, int64_t& ticks);
// Free bytes on the volume of the path (or its nearest existing parent);
// false and 0 for a path that is not absolute.
bool getDiskFreeSpace(std::wstring path, uint64_t& bytes);

// Same size and same write time, or same bytes.
bool filesAreEqual(std::wstring pathA, std::wstring pathB);

// Create every missing folder up to the last "/" of the path (a final
// component without "/" is not created). WithSD makes them owner-only.
// A path that is not absolute is refused.
bool makeDirectoryPathWithSD(std::wstring path);
bool makeDirectoryPath(std::wstring path);

// The mode of a folder made in the image of `model` (the source folder an
// archive folder mirrors, or the archive folder a restored folder comes
// from): the model's, never wider than 0755 and always open to its owner;
// owner-only when the model cannot be read.
unsigned mirroredFolderMode(const std::wstring& model);

// The walks below are walkFolderFiles (platform/folder_walk.h): every
// sub-folder is entered, ".config" too; links are never followed; only
// regular files count.
// True as soon as a file is found in the folder or below.
bool folderHasFiles(std::wstring folder);
// Appends the sub-folders (full paths) to the list, descending when
// recursive; returns the list's size.
size_t listFolderTree(std::wstring folder, std::vector<std::wstring>& list, bool recursive);
// Appends the files (full paths) of the folder, and of its sub-folders when
// recursive; returns the list's size.
size_t listFilesRecursive(std::wstring folder, std::vector<std::wstring>& files, bool recursive);

// Full path of an open file descriptor; empty for an empty or deleted file.
std::wstring getFileNameFromHandle(int fd);

// The first folder of an absolute path below "/", without a trailing "/":
// "/home/ann/a.txt" gives "/home". Empty for a path that is not absolute or
// names no folder below "/" ("/", "/a.txt"). Runs of "/" count as one.
std::wstring firstPathPart(std::wstring path);

// Joins A and B over the longest run where A's tail matches inside B.
std::wstring mergePathOverlap(std::wstring folderText, std::wstring path, size_t& overlap);
// The watch folder merge of the path with the longest overlap (locks watchFolderMutex).
std::wstring findWatchFolderForPath(std::wstring path);

// "{{name}}" + the rest, when the path lies inside the folder; else "".
std::wstring makePlaceholderPath(std::wstring path, std::wstring folder, std::wstring name);
// The folder + the rest, when the path begins with "{{name}}"; else "".
std::wstring expandPlaceholderPath(std::wstring path, std::wstring name, std::wstring folder);
