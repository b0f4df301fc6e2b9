#pragma once
// The values of the configuration, the application log and the engine that
// the window, the tray and the main loop read or change, reached through one
// thin layer so the shell does not lock their mutexes in many places.
#include <cstdint>
#include <string>
#include <vector>

// Configuration "ShowUI": the window is shown.
bool shellShowUI();
void setShellShowUI(bool show);

// Configuration "UIStyle": index of the selected colour style (0 to 3; a
// stored number past 3 reads as 3, and a larger one is stored as 3).
int shellStyleIndex();
void setShellStyleIndex(int index);

// Configuration "StartWithLogin": start at log-on switched on.
bool shellStartAtLogOn();
void setShellStartAtLogOn(bool on);

// Names of the colour styles, in index order ("Dark", "Light", ...).
std::vector<std::string> shellStyleNames();

// Application log: unconfirmed entries waiting (pending-kinds mask not 0).
bool shellHasPendingNotifications();
// Application log: add a line of the given kind (refreshed).
void shellLogEntry(const std::string& text, int kind);

// Engine running flag: cleared when the program ends.
bool shellEngineRunning();
void stopShellEngine();
// Waits until the engine's workers have stopped, at most the shut-down grace
// of timings(); true when none is left.
bool waitForShellEngine();
// How long a start asks a display that does not answer (timings()).
uint32_t shellDisplayWaitMs();

// First run: "Config.dat" did not exist when the configuration was loaded,
// so the main window greets a new user.
bool shellFirstRun();
void setShellFirstRun(bool firstRun);
// Sets the flag from whether "Config.dat" exists now (before the load).
void noteShellFirstRun();
// A backup, restore, deletion or other task runs: its progress changes the
// window without any input.
bool shellTaskRunning();

// Main window: show its "Wizards/Help" tab next frame.
void requestShellWizardsTab();
bool takeShellWizardsTabRequest();

// About: refreshes the about window's pages on a thread, then shows it; counts calls.
void startShellVersionCheck();
int shellVersionCheckCount();

// Full path of the running executable (the start-at-log-on command).
std::string shellExecutablePath();
void setShellExecutablePath(const std::string& path);

// Restores the shell's own values and empties the application log (tests).
void resetShellState();
