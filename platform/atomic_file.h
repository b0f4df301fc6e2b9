#pragma once
// Whole-file reads and writes. Every data file is saved through
// writeFileAtomically, so a crash or a full disk never leaves a half-written
// file behind.
#include <cstdint>
#include <string>
#include <string_view>

// Writes `bytes` to a temporary file beside `path`, syncs it, renames it over
// `path` and syncs the folder. On any failure returns false, leaves the old
// file as it was and removes the temporary file. A new file gets the usual
// mode (0666 less the umask); a replaced file keeps its mode.
bool writeFileAtomically(const std::string& path, std::string_view bytes);

// The same replacement for a file written piece by piece: begin opens the
// temporary file, append and writeAt fill it, finish syncs it and renames it
// over the path (false leaves the old file), abandon removes it. A failed
// append or writeAt makes finish fail.
struct AtomicFileWriter {
    std::string path;
    std::string temporary;
    int fd = -1;
    bool failed = false;
};
bool beginAtomicFile(AtomicFileWriter& writer, const std::string& path);
bool appendAtomicFile(AtomicFileWriter& writer, std::string_view bytes);
bool writeAtomicFileAt(AtomicFileWriter& writer, uint64_t offset, std::string_view bytes);
bool finishAtomicFile(AtomicFileWriter& writer);
void abandonAtomicFile(AtomicFileWriter& writer);

// Reads the whole file into `out`; false when it cannot be opened or read
// or is not a regular file.
bool readWholeFile(const std::string& path, std::string& out);
