#pragma once
// Start-up notices: the items of the update description (a packed record of
// the maker's server) compared with what the user has seen, kept in the
// configuration keys "AUBM", "AUAV" and "AUAVMWO". A new start-up message and
// a newer release are each told once, in the application log.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Which getter reads an item: 1 narrow text, 2 wide text, 3 int32, 4 two
// bytes (type 1), 5 double, 6 uint32, 7 two bytes (type 3).
struct NoticeItem {
    std::string name;
    std::string text;
    std::wstring wideText;
    int32_t valueKind = 1;
};

// The expected items with their default texts: "boot_msg", "app_version",
// "app_version_msg_older", all narrow texts (kind 1).
std::vector<NoticeItem> defaultNoticeItems();

// Fills `items` with the expected items, then reads each from the packed
// description (data-file pass phrase); an item missing there, or a
// description that does not unpack, keeps its default. Always true.
bool readNoticeItems(std::string_view descriptionText, std::vector<NoticeItem>& items);

// Compares the items with the configuration and stores what is new. A new
// "boot_msg" is logged as "Start-Up Message: <text>"; the "app_version_msg_older"
// text is logged when it or the announced version is new and the announced
// version is newer than the running one. Returns the number of lines logged.
int applyNoticeItems(const std::vector<NoticeItem>& items, std::string_view runningVersion);

// The stored start-up message ("AUBM").
std::string storedStartupMessage();
// Logs "Start-Up Message: " and the stored message; nothing while none is stored.
void logStoredStartupMessage();
