#pragma once
// Archive names that fit the file system's name limit. A version of
// "base.extension" is named "base ~ stamp.extension"; where that would pass
// 255 bytes, its base is cut at a character boundary and followed by "~" and
// eight hex digits of the whole base (so two long names never share a base),
// leaving room for any stamp and the extension. Every version of one name
// then takes the same short base. Names that fit stay as they are.
#include <string>
#include <string_view>
#include <vector>

inline constexpr size_t kArchiveNameMaxBytes = 255;

// The folder at the top of each watch folder's archive that holds its backup
// sets; its files are never archived versions.
inline constexpr std::wstring_view kArchiveSetFolderName = L".backupsets";

// The last component of a stamped version of the file `name`: base, " ~ ",
// stamp, ".", extension, the name cut at its last "." (a name ending in "."
// keeps it in its base: "notes." has "notes. ~ 0001.", "notes" has
// "notes ~ 0001."). Where that passes 255 bytes the base is shortened; a
// long name whose extension leaves no room for that is shortened whole
// ("shortened~hash ~ 0001.").
std::wstring archiveVersionName(const std::wstring& name, const std::wstring& stamp);

// The name of a file's first copy, and of its only one under Overwrite and
// Single Backup: its own name, unless that reads as a version of another file
// ("notes ~ 0001.txt" beside "notes.txt"); such a file's copies never take
// its own name, the first is its version 0000, so that every one of them
// reads back as a version of the file itself.
std::wstring firstCopyName(const std::wstring& name);

// The name under which a plain name ("base.extension") gathers its copies:
// the shortened plain name of a long one, else the plain name itself. The
// plain copy of a long name and its shortened versions share it.
std::wstring archiveGroupName(const std::wstring& plainName);

// True when `plainName` is the shortened plain name the versions of a long
// name take ("~" and the hash closing its base, or the whole name where the
// long name was shortened whole).
bool isShortenedPlainName(const std::wstring& plainName);

// The plain name a copy's plain name stands for. A shortened one is looked up
// among the files of `folders` (the source folder, the copy's own folder): the
// long name whose group it is; without a match it stays as it is.
std::wstring longPlainName(const std::wstring& plainName, const std::vector<std::wstring>& folders);
