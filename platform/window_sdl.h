#pragma once
// The program's one SDL window with an OpenGL 3.3 core context, standing in
// for the Win32 window and its Direct3D device. Only this file and the
// shell's graphics code touch SDL.
#include <cstdint>
#include <span>
#include <string>

struct SDL_Window;
union SDL_Event;

// Starts SDL's video part and asks for OpenGL 3.3 core. SDL's own signal
// handling stays off (platform/signals does that) and closing the last
// window must not end the program (closing only hides it).
bool initWindowSystem();
// Destroys the main window; SDL and the GL driver stay until the process ends.
void quitWindowSystem();

// Creates the main window hidden, never to be made smaller than the minimum
// (the window manager keeps to it); false when SDL cannot.
bool createMainSdlWindow(const std::string& title, int width, int height, int minimumWidth, int minimumHeight);
void destroyMainSdlWindow();
SDL_Window* mainSdlWindow();
void showMainSdlWindow(bool show);
bool mainSdlWindowShown();
// Sets the window's icon from RGBA pixels (top row first).
void setMainSdlWindowIcon(std::span<const uint8_t> rgba, int width, int height);

enum class WindowEventKind { none, close, resized, minimized, trayCommand, quit, other };

struct WindowEvent {
    WindowEventKind kind = WindowEventKind::none;
    int trayCommand = 0;
    const SDL_Event* raw = nullptr;  // valid until the next poll
};

// Waits until an event is waiting or `timeoutMs` passed (without taking it).
void waitForWindowEvent(int timeoutMs);
// Takes the next waiting event; false when none is waiting.
bool pollWindowEvent(WindowEvent& event);
// Queues a tray command for the main thread; callable from any thread.
bool postTrayCommandEvent(int command);
