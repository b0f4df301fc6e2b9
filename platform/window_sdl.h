#pragma once
// The program's one SDL window with an OpenGL 3.3 core context, standing in
// for the Win32 window and its Direct3D device. Only this file and the
// shell's graphics code touch SDL.
#include <cstdint>
#include <span>
#include <string>

struct SDL_Window;
union SDL_Event;

enum class WindowSystemStart { started, displayNotOpened, failed };
// Starts SDL's video part and asks for OpenGL 3.3 core. SDL's own signal
// handling stays off (platform/signals does that) and closing the last
// window must not end the program (closing only hides it). A display the
// environment names (DISPLAY, WAYLAND_DISPLAY) that cannot be opened is
// displayNotOpened, and SDL's video part is stopped again: SDL would go on
// with its offscreen driver, and the window would never show. Without a
// named display, or asked for by SDL_VIDEODRIVER, that driver is fine.
WindowSystemStart initWindowSystem();
// The video driver SDL runs on ("x11", "offscreen", ...) and the display the
// environment names, for the trace and for messages.
std::string windowSystemDescription();
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
