#pragma once
// The main window and what happens to it: created hidden, closed means
// hidden, tray commands, resize, session end and the end of the program.
#include <cstdint>

// Title of the main window and the name under which it runs.
inline constexpr const char* kWindowTitle = "Varnholt";
// The smallest size at which the main window "Main Menu" shows all it holds;
// the program window is never made smaller.
inline constexpr int kMainMenuMinimumWidth = 720;
inline constexpr int kMainMenuMinimumHeight = 420;

// Starts the window system (SDL video, OpenGL 3.3 core). False when no
// video driver works, or when the display the environment names did not
// answer within the display wait.
bool registerWindowClass();
// Creates the main window hidden with the program's icon; false on failure.
bool initInstance();
// Closes the window and the window system (end of the program, tests).
void closeWindowSystem();

// Shows or hides the main window and follows "ShowUI" with the tray entries
// "Show UI" (checked when shown) and "Tools" (visible when shown).
void showMainWindow(bool show);

// Takes every waiting window event and runs it; returns false once the
// program is to end (the quit request was seen). Also turns a received
// SIGTERM, SIGHUP or SIGINT into the session-end path.
bool pumpWindowEvents();

// True when window events (input) arrived since the last call.
bool takeWindowInput();

// Runs a tray menu command (the ids of shell/tray.h) on the main thread.
void runTrayCommand(int command);

// Fills the engine's question hook: a task's question shows the window
// (through the main thread's event queue).
void installQuestionWindowHook();

// The window is closed for good: stops the engine and asks the main loop to end.
void destroyMainWindow();
// The session ends (a signal): logs the notice and closes for good.
void endSessionNow();
bool quitRequested();
bool exitRequested();

// Resizes: the graphics are rebuilt once the size stayed put this long.
extern int64_t resizeSettleMs;
// Notes a size change at `nowMs` (steady clock, milliseconds).
void noteWindowResized(int64_t nowMs);
// True once, when a noted resize has settled by `nowMs`.
bool takeSettledResize(int64_t nowMs);

// Clears the exit, quit and resize state (tests).
void resetWindowState();
