#pragma once
// File metadata records of the backup engine, and the list of the files below
// one watch folder that the smart lists and the backup-set restore read.
// Plain values: nothing here is persisted or shared between threads.
#include <cstdint>
#include <map>
#include <string>

struct FileMetaDataRecord {
    std::wstring firstPath;
    std::wstring secondPath;
    uint64_t value = 0;
    std::wstring text;
};

// Companion records kept in the backup engine's lists.
struct FileMetaDataTriple {
    std::wstring first;
    std::wstring second;
    std::wstring third;
};

struct FileMetaDataQuad {
    std::wstring first;
    std::wstring second;
    std::wstring third;
    uint64_t value = 0;
    std::wstring fourth;
};

// One file found by collectArchivedFiles. The readers decide what the two
// flags and the text stand for.
struct ArchivedFileRecord {
    std::wstring keyText;
    std::wstring path;
    bool firstFlag = true;
    bool secondFlag = true;
    std::wstring text;
};

struct ArchivedFileList {
    std::string statusText;                              // emptied at the end of a collection
    std::map<std::wstring, ArchivedFileRecord> files;    // key text -> record
};

// Collects the files below `folder` into `out`, keyed by their path with the
// watch folder's archive path replaced by ".". False (and `out` untouched)
// when `folder` names a file.
bool collectArchivedFiles(const std::wstring& folder, ArchivedFileList& out);
