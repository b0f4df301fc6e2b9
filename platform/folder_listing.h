#pragma once
// Byte-exact folder listing for the file dialog: names are the bytes on disk,
// never converted, so a name that is not UTF-8 can still be chosen.
#include <cstdint>
#include <string>
#include <vector>

struct ListedEntry {
    std::string name;
    bool isFolder = false;   // a folder, or a link to one
    bool isLink = false;     // a symbolic link, listed as what it points to
    uint64_t size = 0;       // of what the entry points to
    int64_t modifiedSeconds = 0;
};

// Lists every folder and regular file of `folder` ("." and ".." included),
// with size and modification time of what each points to. Dangling links,
// FIFOs, sockets and devices are skipped and never opened. Returns 0, or the
// errno of the failed opendir.
int listFolderBytes(const std::string& folder, std::vector<ListedEntry>& entries);

// opendir of the path: 0 when it opens (closed again), else its errno.
int openFolderError(const std::string& path);
// True when the path names a regular file that can be opened for reading.
bool canReadRegularFile(const std::string& path);
// True when something of that name exists: a file of any kind or mode, a
// folder, a link (also one that points nowhere).
bool pathExists(const std::string& path);
// mkdir with mode 0755 (umask applies); 0 or its errno.
int makeOneFolder(const std::string& path);
// stat of the path (links followed): false when it fails.
bool statListedEntry(const std::string& path, ListedEntry& entry);
// The process's working folder; "/" when it cannot be read.
std::string workingFolder();
