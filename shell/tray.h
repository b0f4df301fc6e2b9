#pragma once
// The tray icon's menu model: a table of entries that the program changes at
// run time (visible, enabled, checked, children) and publishes to the tray
// host. The chosen command reaches the main thread as a window event and is
// run by runTrayCommand (shell/window.h).
#include <cstdint>
#include <string>
#include <vector>

// Flag bits of setTrayMenuItem.
inline constexpr unsigned kTrayEnabled = 1;
inline constexpr unsigned kTrayVisible = 2;
inline constexpr unsigned kTrayChecked = 32;
inline constexpr unsigned kTrayAddChild = 64;

// Command ids of the entries.
inline constexpr int kTrayTitle = 0;
inline constexpr int kTrayShowUI = 10;
inline constexpr int kTrayNewNotifications = 30;
inline constexpr int kTrayTools = 50;
inline constexpr int kTrayStyles = 70;
inline constexpr int kTrayStartAtLogOn = 90;
inline constexpr int kTrayAbout = 104;
inline constexpr int kTrayExit = 105;
// Not an entry: posted the same way when a task asks a question, so the main
// thread shows the window.
inline constexpr int kTrayQuestionPosted = 200;

struct TrayMenuEntry {
    int id = 0;
    std::string label;
    bool visible = false;
    bool enabled = false;
    bool checked = false;
    std::vector<TrayMenuEntry> children;  // child id = parent id + position
};

// One line of the built menu; a separator has no id or label.
struct TrayMenuLine {
    int id = 0;
    std::string label;
    bool enabled = false;
    bool checked = false;
    bool separator = false;
    std::vector<TrayMenuLine> children;
};

// Sets the tooltip (at most 127 characters kept).
void setTrayTip(const std::string& text);
std::string trayTip();

// Without an entry of this id: inserts one (refused with kTrayAddChild).
// With one: kTrayAddChild appends a child; otherwise label and flags are
// replaced, id and children kept. Returns false only for a refused child.
bool setTrayMenuItem(int id, unsigned flags, const std::string& label);
// Renames the style submenu's children, as many as both lists have; false
// when the submenu is missing.
bool setTrayStyleNames(const std::vector<std::string>& names);
// A copy of the entry (id 0 and no label when missing).
TrayMenuEntry trayMenuEntry(int id);

// The popup menu: visible entries in id order, children taking their
// parent's enabled and checked state, then a separator. False when the
// table is empty.
bool buildTrayMenu(std::vector<TrayMenuLine>& menu);

// Fills the table as start-up does and sets the tooltip.
void setupTrayMenu(bool showUI, bool startAtLogOn, const std::vector<std::string>& styleNames);

// remove false: starts the tray host the first time, then publishes the
// current menu (after every change). remove true: removes the icon, stops
// the tray thread and empties the table.
bool startTrayIcon(bool remove);
bool trayIconAdded();
// True while a tray host shows the icon: only then can a hidden window be
// brought back, so only then may the window hide.
bool trayIconShown();

// Not a menu entry: the command that shows the window (a second start asked
// for it, or the tray host went away while the window was hidden).
inline constexpr int kShowWindowCommand = 1000;

// A command chosen from the menu, wherever it is shown (the tray host, or
// the main window without one): noted and handed to the main thread.
void chooseTrayCommand(int command);

// The last command chosen from the menu (0 when none yet).
int lastTrayCommand();
void setLastTrayCommand(int command);
