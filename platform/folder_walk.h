#pragma once
// The one walk over the files of a folder, used wherever the program lists
// them (the backup and the archive comparisons, re-indexing, the smart lists,
// the watch's rescans, the clean-ups): every sub-folder is entered whatever
// its name (".config" too), a link is never followed, and only regular files
// are listed.
#include <functional>
#include <string>

enum class WalkStep { Go, Skip, Stop };
using WalkVisitor = std::function<WalkStep(const std::wstring& path)>;

// Visits the regular files of `folder`, and of its sub-folders when
// `recursive`, breadth first, with full paths. `onFolder` sees each sub-folder
// met (not entered when it answers Skip, nor when the walk is not
// recursive); either visitor's Stop ends the walk. A folder that cannot be
// opened is passed over. False when the walk was stopped.
bool walkFolderFiles(const std::wstring& folder, bool recursive, const WalkVisitor& onFolder,
                     const WalkVisitor& onFile);

// The visitor that takes every sub-folder as it comes.
WalkStep enterEveryFolder(const std::wstring& path);
