#pragma once
// The X server going away (log-out, a killed X server) must not end the
// program through Xlib's exit(): that skips every save and runs the static
// destructors while other threads still work. Our X I/O error handler takes
// over instead: on the main thread it runs the program's own display-free
// shut-down (which ends the process); a connection registered with
// keepConnectionThroughDisplayLoss only fails from then on, so the thread
// that holds it goes on and stops like the others; any other thread that
// meets the lost connection (the tray's GTK thread) waits there for that
// shut-down.

struct _XDisplay;  // Xlib's Display

// What the main thread runs when the connection is lost. It must end the
// process (it saves, then _exit); if it returns, the process ends with 0.
using DisplayLossAction = void (*)();

// Remembers the calling thread as the main thread and installs the handler.
// Call after the window system opened its display.
void installDisplayLossHandler(DisplayLossAction onMainThread);
// Installs the handler again after another library (GDK) put its own in.
void reinstallDisplayLossHandler();
// For a connection whose thread must see the shut-down (an engine worker):
// when the display goes, its calls return failures instead of parking or
// ending the process. The connection is never used again after that.
void keepConnectionThroughDisplayLoss(_XDisplay* display);
// True once an X connection of this process was lost.
bool displayLost();
// Parks the calling thread for good (the process ends elsewhere).
[[noreturn]] void parkThreadForever();
