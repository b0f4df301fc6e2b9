#pragma once
// The name a queued file's copy takes in its archive: its place below the
// archive root, and under the folder's collision option a version number or
// a time stamp. A name is claimed by one copy until that copy has it, so
// two copy threads never both choose it.
#include <string>

#include "engine/copy_queue.h"

// Builds the item's archive path into `target` (and its source into
// `source`), claiming the name for the item; false when the item's folder
// has no archive.
bool buildArchiveTarget(CopyQueueItem& item, std::wstring& source, std::wstring& target);

// Frees a name the item claimed: its copy has it now, or was not made.
void releaseArchiveName(const std::wstring& name, const CopyQueueItem& item);
