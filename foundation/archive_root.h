#pragma once
// Proposes an archive path for a new watch folder: a "QZR_ARCHIVE_ROOT"
// folder at the root of a local drive, preferring the drive with the most
// free space, followed by the watch folder's own name ("name(1)", ... when
// another watch folder archives under the plain name). A proposal never
// overlaps a watch folder, nor lies in another user's root.
#include <cstdint>
#include <functional>
#include <map>
#include <string>

#include "platform/safe_folders.h"

// Drive roots (each ending with the separator) by free bytes, most first.
using ArchiveDriveList = std::map<uint64_t, std::wstring, std::greater<uint64_t>>;

// The writable drive roots of this machine with their free space.
ArchiveDriveList listArchiveDrives();

// Archive path for the watch folder, empty when no drive qualifies.
std::wstring prepareArchiveFolder(const std::wstring& path);
// The same over a given drive list.
std::wstring prepareArchiveFolderOn(const std::wstring& path, const ArchiveDriveList& drives);

// True for a folder that is never opened as a root: the way to it from "/"
// passes a folder or a link that another user owns or can change, or it is
// another user's in a folder others can change (see openRootFolder). Logs one line per folder, starting with `what` ("Watch
// folder"), naming the folder on the way and what to change.
bool isRefusedRoot(const std::wstring& path, const std::wstring& what);
// Logs that line, once, for a refusal met on the way to `path` (nothing
// when `refusal` refuses nothing).
void logRefusedFolder(const RootRefusal& refusal, const std::wstring& what, const std::wstring& path);

// True for an existing folder that must hold no archive: it belongs to
// another user, or group or others can write it (they could read, plant or
// replace what lies in it), or the way to it is refused (isRefusedRoot).
// Logs one line per folder naming what to change.
bool isForeignArchiveFolder(const std::wstring& path);
