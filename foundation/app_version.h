#pragma once
// The program's own version and the one way versions are compared: the about
// window, the start-up notices and the update check all ask isNewerVersion.
#include <string>
#include <string_view>

inline constexpr std::string_view kOwnAppVersion = "2.000.0005";
// The remote version before any fetch succeeded: never newer than our own.
inline constexpr std::string_view kInitialRemoteVersion = "1.000.0000";
inline constexpr size_t kMaxVersionTextLength = 64;

// Without blanks, tabs and line breaks at either end.
std::string trimVersionText(std::string_view text);
// Digit groups joined by single dots ("2.000.0005"), at most
// kMaxVersionTextLength characters; nothing else.
bool isVersionText(std::string_view text);
// Compares two version texts group by group as numbers (leading zeros do not
// count, a missing group is 0): negative, 0 or positive. Both must be versions.
int compareVersions(std::string_view a, std::string_view b);
// True when `other`, trimmed, is a version and names a later release than `own`.
bool isNewerVersion(std::string_view own, std::string_view other);
