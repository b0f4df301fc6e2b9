#pragma once
// Path conventions of the Linux build: one separator, and the path key that
// stands wherever the Windows model folded a path to lower case.
#include <string>
#include <string_view>

inline constexpr wchar_t kPathSeparator = L'/';
inline constexpr const wchar_t* kPathSeparatorText = L"/";

// Key under which a path is stored and compared. Linux names are
// case-sensitive, so the key is the path itself.
std::wstring pathKey(std::wstring_view path);

// True when `path` is `folder` or lies below it; the match ends at a separator,
// so "/data" never claims "/data2/x".
bool pathIsInside(std::wstring_view path, std::wstring_view folder);

// True when a component of the path is "." or "..".
bool hasDotComponent(std::wstring_view path);
// True when `path` lies strictly below `folder`, both absolute, the folder not
// the root, neither with a "." or ".." component. Every path read from a data
// file or a set file passes this against the folder it must lie in before it
// is used: its text alone never leads outside that folder.
bool isPathBelow(std::wstring_view path, std::wstring_view folder);

// Gives the Windows environment names a Linux value where they are unset or
// empty (USERPROFILE, APPDATA, LOCALAPPDATA, ...). Call once at start, before any thread.
void applyPlatformEnvironmentDefaults();
