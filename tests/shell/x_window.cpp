#include "x_window.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace {
// Windows come and go while the tree is walked: an error about one that has
// gone is expected, and Xlib's default handler would end the test program.
int ignoreXError(Display*, XErrorEvent*) { return 0; }

Window findByTitle(Display* display, Window under) {
    char* title = nullptr;
    if (XFetchName(display, under, &title) && title) {
        const bool match = std::string(title) == "Varnholt";
        XFree(title);
        if (match) return under;
    }
    Window root, parent, *children = nullptr;
    unsigned count = 0;
    Window found = 0;
    if (XQueryTree(display, under, &root, &parent, &children, &count)) {
        for (unsigned i = 0; i < count && !found; ++i) found = findByTitle(display, children[i]);
        if (children) XFree(children);
    }
    return found;
}
}  // namespace

XWindowFinder::XWindowFinder(const std::string& display) : display_(XOpenDisplay(display.c_str())) {
    XSetErrorHandler(ignoreXError);
}

XWindowFinder::~XWindowFinder() {
    if (display_) XCloseDisplay(static_cast<Display*>(display_));
}

bool XWindowFinder::viewable() {
    Display* display = static_cast<Display*>(display_);
    if (!display) return false;
    const Window window = findByTitle(display, DefaultRootWindow(display));
    XWindowAttributes attributes;
    return window && XGetWindowAttributes(display, window, &attributes) && attributes.map_state == IsViewable;
}

bool XWindowFinder::drawn() {
    Display* display = static_cast<Display*>(display_);
    if (!display) return false;
    const Window window = findByTitle(display, DefaultRootWindow(display));
    XWindowAttributes attributes;
    if (!window || !XGetWindowAttributes(display, window, &attributes) || attributes.map_state != IsViewable)
        return false;
    XImage* image = XGetImage(display, window, 0, 0, attributes.width, attributes.height, AllPlanes, ZPixmap);
    if (!image) return false;
    const unsigned long first = XGetPixel(image, 0, 0);
    bool other = false;
    for (int y = 0; y < attributes.height && !other; y += 4)
        for (int x = 0; x < attributes.width && !other; x += 4) other = XGetPixel(image, x, y) != first;
    XDestroyImage(image);
    return other;
}

bool XWindowFinder::hidden() {
    Display* display = static_cast<Display*>(display_);
    if (!display) return false;
    const Window window = findByTitle(display, DefaultRootWindow(display));
    XWindowAttributes attributes;
    return window && XGetWindowAttributes(display, window, &attributes) && attributes.map_state == IsUnmapped;
}

bool XWindowFinder::minimumSize(int& width, int& height) {
    Display* display = static_cast<Display*>(display_);
    if (!display) return false;
    const Window window = findByTitle(display, DefaultRootWindow(display));
    XSizeHints hints{};
    long supplied = 0;
    if (!window || !XGetWMNormalHints(display, window, &hints, &supplied) || !(hints.flags & PMinSize)) return false;
    width = hints.min_width;
    height = hints.min_height;
    return true;
}

void XWindowFinder::close() {
    Display* display = static_cast<Display*>(display_);
    if (!display) return;
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = findByTitle(display, DefaultRootWindow(display));
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display, event.xclient.window, False, NoEventMask, &event);
    XFlush(display);
}
