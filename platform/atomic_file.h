#pragma once
// Whole-file reads and writes. Every data file is saved through
// writeFileAtomically, so a crash or a full disk never leaves a half-written
// file behind.
#include <string>
#include <string_view>

// Writes `bytes` to a temporary file beside `path`, syncs it, renames it over
// `path` and syncs the folder. On any failure returns false, leaves the old
// file as it was and removes the temporary file. A new file gets the usual
// mode (0666 less the umask); a replaced file keeps its mode.
bool writeFileAtomically(const std::string& path, std::string_view bytes);

// Reads the whole file into `out`; false when it cannot be opened or read.
bool readWholeFile(const std::string& path, std::string& out);
