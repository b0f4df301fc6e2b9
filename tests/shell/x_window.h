#pragma once
// The program's top-level window on an X display, seen from a test (Xlib
// stays out of the test files: its macros clash with GoogleTest).
#include <string>

class XWindowFinder {
public:
    explicit XWindowFinder(const std::string& display);
    ~XWindowFinder();
    XWindowFinder(const XWindowFinder&) = delete;
    XWindowFinder& operator=(const XWindowFinder&) = delete;
    bool connected() const { return display_ != nullptr; }
    // The window titled "Varnholt" is mapped and viewable.
    bool viewable();
    // The window is viewable and shows a drawn frame (more than one colour).
    bool drawn();
    // The window exists but is not mapped (hidden, the program still runs).
    bool hidden();
    // Sends what a window manager sends when the user closes the window.
    void close();
    // The smallest size the window asks its window manager for; false when
    // it asks for none.
    bool minimumSize(int& width, int& height);

private:
    void* display_;
};
