#pragma once
// Values the window, the tray and the graphics read or change that belong to
// the configuration, the application log and the engine. They are plain
// globals here until those parts are in place; each is reached only through
// these functions so the wiring changes in one file.
#include <string>
#include <vector>

// Configuration "ShowUI": the window is shown.
bool shellShowUI();
void setShellShowUI(bool show);

// Configuration: index of the selected colour style (0 to 3).
int shellStyleIndex();
void setShellStyleIndex(int index);

// Configuration: start at log-on switched on.
bool shellStartAtLogOn();
void setShellStartAtLogOn(bool on);

// Names of the colour styles, in index order ("Dark", "Light", ...).
std::vector<std::string> shellStyleNames();

// Application log: unconfirmed entries waiting (pending-kinds mask not 0).
bool shellHasPendingNotifications();
void setShellPendingNotifications(bool pending);
// Application log: add a line of the given kind.
void shellLogEntry(const std::string& text, int kind);
// The lines added so far, each as kind, blank, text (tests).
std::vector<std::string> shellLogEntries();

// Engine running flag: cleared when the program ends.
bool shellEngineRunning();
void stopShellEngine();

// Main window: show its "Wizards/Help" tab next frame.
void requestShellWizardsTab();
bool takeShellWizardsTabRequest();

// About: start the version check (network); counts calls until wired.
void startShellVersionCheck();
int shellVersionCheckCount();

// Full path of the running executable (the start-at-log-on command).
std::string shellExecutablePath();
void setShellExecutablePath(const std::string& path);

// Restores every value above to its start value (tests).
void resetShellState();
