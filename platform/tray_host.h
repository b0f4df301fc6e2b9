#pragma once
// The notification-area icon on Linux: a StatusNotifierItem through
// libayatana-appindicator, driven from a tray thread that owns GTK, which
// follows the tray host (StatusNotifierWatcher) coming and going for the
// whole run. Without a session bus or a display a null host runs instead:
// the menu model keeps working and nothing is shown.
#include <cstdint>
#include <string>
#include <vector>

struct TrayHostItem {
    int id = 0;
    std::string label;
    bool enabled = true;
    bool checked = false;
    bool separator = false;
    std::vector<TrayHostItem> children;
};

// Called on the tray thread with the chosen command id.
using TrayCommandHandler = void (*)(int command);

// Called on the tray thread when a tray host appears (true) or goes (false).
using TrayPresenceHandler = void (*)(bool real);
void setTrayPresenceHandler(TrayPresenceHandler handler);

// Starts the tray thread (once) and waits (bounded) until it knows whether a
// tray host shows the icon. `iconRgba` is width x height RGBA, top row
// first. `secondaryCommand` is run by a middle click on the icon.
bool startTrayHost(const std::vector<uint8_t>& iconRgba, int width, int height,
                   TrayCommandHandler handler, int secondaryCommand);
// Replaces the shown menu and tooltip.
void publishTrayHostMenu(const std::vector<TrayHostItem>& items, const std::string& tip);
// The menu last published (what the icon shows, or would show).
std::vector<TrayHostItem> publishedTrayHostMenu();
// Ends the tray thread and removes the icon; joins unless called on it.
void stopTrayHost();
bool trayHostRunning();
// Removes the icon file the tray host loads (end of the program).
void removeTrayHostIconFile();
// True while a real tray host (a StatusNotifierWatcher) is there to show the icon.
bool trayHostIsReal();
