#pragma once
// The foreground window of the desktop and the process behind it, for the
// engine's attribution of changes to applications. On X11 the active window
// is _NET_ACTIVE_WINDOW, its process _NET_WM_PID, its title _NET_WM_NAME and
// the process image the link /proc/PID/exe. Without a display there is no
// foreground window. Tests replace the source with tables of their own.
#include <cstdint>
#include <functional>
#include <string>

// What is known of one top-level window.
struct WindowDescription {
    uint32_t processId = 0;
    std::wstring title;
    std::wstring imagePath;  // empty when the process cannot be read
    int32_t width = 0;
    int32_t height = 0;
    bool visible = false;
    bool minimised = false;
};

// The window system as the engine sees it: the foreground window's id (0
// when there is none) and the description of a window (false when the window
// is gone or cannot be read).
struct ForegroundWindowSource {
    std::function<uint64_t()> foregroundWindow;
    std::function<bool(uint64_t window, WindowDescription& description)> describeWindow;
};

// Replaces the window system (tests); a source with empty functions restores
// the X11 one.
void setForegroundWindowSource(ForegroundWindowSource source);

// The foreground window through the current source; 0 when there is none.
uint64_t currentForegroundWindow();
// Describes a window through the current source.
bool describeWindow(uint64_t window, WindowDescription& description);

// The image of a process: the target of /proc/PID/exe; empty when unreadable.
std::wstring processImagePath(uint32_t processId);
// The running program's own image (/proc/self/exe).
std::wstring ownExecutablePath();
