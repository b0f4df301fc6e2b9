#pragma once
// The main window's "Notifications" tab: the application log grouped by
// kind, each entry ticked as confirmed, and the buttons that drop the
// entries of one kind or all of them. Shown only while an entry is pending.
#include <cstdint>
#include <string>
#include <vector>

// Draws an entry's detail from its markup: lines split at "[||]", fields at
// "[|]" (kind, then up to three fields). A line with fewer fields than its
// kind reads draws nothing. Returns true.
bool drawNotificationDetail(const std::string& detail);

// What a detail line of kind 1 runs: an action number and its texts; on a
// thread of its own. Tests put a recorder in; nullptr: the program's own.
using TextActionRunner = void (*)(int32_t action, std::vector<std::string> texts);
void setTextActionRunner(TextActionRunner runner);

// Back to the start state (tests).
void resetNotificationsTab();
