#pragma once
// The X server going away (log-out, a killed X server) must not end the
// program through Xlib's exit(): that skips every save and runs the static
// destructors while other threads still work. Our X I/O error handler takes
// over instead: on the main thread it runs the program's own display-free
// shut-down (which ends the process); any other thread that meets the lost
// connection (the tray's GTK thread) waits there for that shut-down.

// What the main thread runs when the connection is lost. It must end the
// process (it saves, then _exit); if it returns, the process ends with 0.
using DisplayLossAction = void (*)();

// Remembers the calling thread as the main thread and installs the handler.
// Call after the window system opened its display.
void installDisplayLossHandler(DisplayLossAction onMainThread);
// Installs the handler again after another library (GDK) put its own in.
void reinstallDisplayLossHandler();
// True once an X connection of this process was lost.
bool displayLost();
// Parks the calling thread for good (the process ends elsewhere).
[[noreturn]] void parkThreadForever();
