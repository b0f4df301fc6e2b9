#pragma once
// The window "Thread Status Entries": the workers of the thread-state
// registry with their state, running time and pings. Drawn after the main
// window while threadStatusShown (windows/main_window.h) is set.
void drawThreadStatusTable();
// The next opening sizes the window again (tests).
void resetThreadStatusTable();
