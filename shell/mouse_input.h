#pragma once
// The mouse as Dear ImGui sees it: one change a frame. Dear ImGui 1.86 reads
// the mouse once a frame and keeps no queue, and a tab (an item that may be
// overlapped) takes a press only when it was hovered in the frame before. A
// jump and a tap taken in one frame, as xdotool or a touchpad's tap makes
// them, were lost; so the window's events are noted here and handed over a
// frame at a time: the pointer's new place, then the press, then the release.
// Positions come from the events themselves, in window coordinates.
struct ImGuiIO;

// The pointer moved to (x, y).
void noteMouseMove(float x, float y);
// The pointer left the window.
void noteMouseLeft();
// Button 0 (left), 1 (right) or 2 (middle) went down or up at (x, y).
void noteMouseButton(int button, bool down, float x, float y);

// Gives Dear ImGui the next noted state (or the last one again): once a
// frame, after the back end's NewFrame and before ImGui::NewFrame.
void applyNextMouseState(ImGuiIO& io);
// True while noted changes wait for frames of their own.
bool mouseChangesWaiting();
// Forgets the pointer and every waiting change (new graphics, tests).
void resetMouseInput();
