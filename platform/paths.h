#pragma once
// Path conventions of the Linux build: one separator, and the path key that
// stands wherever the Windows model folded a path to lower case.
#include <string>
#include <string_view>

inline constexpr wchar_t kPathSeparator = L'/';
inline constexpr const wchar_t* kPathSeparatorText = L"/";

// Path text. Every function below keeps one rule at the edges: "/" stays
// "/", a run of separators at the end counts as none (so "//" is "/"), an
// empty path stays empty, and "\" is an ordinary character of a name.
// The narrow forms work on UTF-8 paths the same way.

// True for a path that starts at the root ("?/x", from an unset variable, is not).
bool isAbsolutePath(std::wstring_view path);
bool isAbsolutePath(std::string_view path);

// The path without separators at its end: "/a/b//" gives "/a/b", "//" gives "/".
std::wstring withoutTrailingSeparators(std::wstring_view path);
std::string withoutTrailingSeparators(std::string_view path);

// The path ending in exactly one separator: "/a" and "/a//" give "/a/".
std::wstring withTrailingSeparator(std::wstring_view path);

// `name` inside `folder`, with one separator between them; an empty folder
// gives the name alone.
std::wstring joinPath(std::wstring_view folder, std::wstring_view name);
std::string joinPath(std::string_view folder, std::string_view name);

// The folder that holds the path: "/a/b/" and "/a//b" give "/a", "/a" gives
// "/", a relative "a/b" gives "a". Nothing holds "/" or a single name: they
// give "", so a walk up the folders ends.
std::wstring parentFolder(std::wstring_view path);
std::string parentFolder(std::string_view path);

// The last component: "/a/b/" gives "b", "name" gives "name", "/" gives "".
std::wstring lastPathComponent(std::wstring_view path);

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
// empty (USERPROFILE, APPDATA, LOCALAPPDATA, ...), and marks a missing session
// bus with kNoSessionBus. Call once at start, before any thread.
void applyPlatformEnvironmentDefaults();

// DBUS_SESSION_BUS_ADDRESS of a start without a session bus (neither the
// variable nor the user's bus socket $XDG_RUNTIME_DIR/bus): an address no
// client can connect to. Unset, the D-Bus clients in the program (SDL's,
// GTK's) would autolaunch a bus daemon that outlives the program; the
// programs it starts inherit the mark and do not launch one either.
inline constexpr const char* kNoSessionBus = "disabled:";
// True when DBUS_SESSION_BUS_ADDRESS names a session bus to connect to.
bool sessionBusNamed();
