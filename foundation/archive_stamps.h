#pragma once
// Reading an archived copy's file name. The first copy of a file keeps the
// file's own name, unless that reads as a version (firstCopyName in
// foundation/archive_names.h); a later version is "base ~ stamp.extension",
// where the stamp is a version number (four digits, more past 9999) or an
// archive time stamp ("2026_01_09_ 7_05_03.042"), and the "." is written even
// when the file's own name has none. Only there is a name cut: any other " ~ " is part
// of the file's own name, so "notes ~ draft.txt" is a file of its own.
#include <string>
#include <string_view>

struct ArchiveNameParts {
    std::wstring base;       // the name without stamp and extension
    std::wstring stamp;      // "" for a file's own name
    std::wstring extension;  // after the last "." ("" without one)
    std::wstring plainName;  // the file's own name: base, and "." + extension where it had one
};

// Splits the last component of an archived copy's path.
ArchiveNameParts splitArchiveName(std::wstring_view fileName);

// "0042", "9999", "10000": what the Copier writes as a version number.
bool isVersionNumberStamp(std::wstring_view stamp);
// What the Copier writes as an archive time stamp.
bool isArchiveTimeStamp(std::wstring_view stamp);

// The order in which a file's copies were made: its own name first, then
// numbers by their value, then time stamps.
bool isArchiveStampBefore(std::wstring_view a, std::wstring_view b);
