#include "platform/foreground_window.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <mutex>
#include <string>

#include "platform/display_loss.h"
#include "platform/text.h"

namespace {

// A failed connection is tried again after this long, not on every poll.
constexpr auto kReconnectDelay = std::chrono::seconds(30);

std::mutex g_sourceMutex;
ForegroundWindowSource g_source;

// The one connection of the foreground queries; used under g_displayMutex.
std::mutex g_displayMutex;
Display* g_display = nullptr;
std::chrono::steady_clock::time_point g_nextConnectTry{};

// Windows vanish between two requests: their errors are expected and must
// not end the program, which Xlib's default handler would do. The handler is
// swapped in only around our own requests.
int ignoreXError(Display*, XErrorEvent*) { return 0; }

class IgnoredXErrors {
public:
    explicit IgnoredXErrors(Display* display) : display_(display), previous_(XSetErrorHandler(ignoreXError)) {}
    ~IgnoredXErrors() {
        // Errors of our requests arrive before the sync returns.
        if (display_) XSync(display_, False);
        XSetErrorHandler(previous_);
    }
    IgnoredXErrors(const IgnoredXErrors&) = delete;
    IgnoredXErrors& operator=(const IgnoredXErrors&) = delete;

private:
    Display* display_;
    XErrorHandler previous_;
};

// After the display went the connection only fails; it is never used again.
Display* foregroundDisplay() {
    if (displayLost()) return nullptr;
    if (g_display) return g_display;
    const char* name = std::getenv("DISPLAY");
    if (!name || !*name) return nullptr;
    const auto now = std::chrono::steady_clock::now();
    if (now < g_nextConnectTry) return nullptr;
    g_nextConnectTry = now + kReconnectDelay;
    g_display = XOpenDisplay(nullptr);
    // Monitor UI must see the shut-down when the display goes, not wait in Xlib.
    keepConnectionThroughDisplayLoss(g_display);
    return g_display;
}

// One property of a window, as raw items; false when it is missing.
bool readWindowProperty(Display* display, Window window, const char* name, Atom type, std::string& bytes,
                        unsigned long& items) {
    const Atom property = XInternAtom(display, name, True);
    if (property == None) return false;
    Atom actualType = None;
    int format = 0;
    unsigned long remaining = 0;
    unsigned char* data = nullptr;
    items = 0;
    if (XGetWindowProperty(display, window, property, 0, 1024, False, type, &actualType, &format, &items, &remaining,
                           &data) != Success)
        return false;
    bool found = data && actualType == type && items > 0;
    if (found) {
        // Xlib hands 32-bit items as longs.
        const size_t itemSize = format == 32 ? sizeof(long) : static_cast<size_t>(format / 8);
        bytes.assign(reinterpret_cast<const char*>(data), items * itemSize);
    }
    if (data) XFree(data);
    return found;
}

bool readLongProperty(Display* display, Window window, const char* name, Atom type, unsigned long& value) {
    std::string bytes;
    unsigned long items = 0;
    if (!readWindowProperty(display, window, name, type, bytes, items)) return false;
    long first = 0;
    bytes.copy(reinterpret_cast<char*>(&first), sizeof first);
    value = static_cast<unsigned long>(first);
    return true;
}

bool hasStateAtom(Display* display, Window window, const char* stateName) {
    const Atom wanted = XInternAtom(display, stateName, True);
    std::string bytes;
    unsigned long items = 0;
    if (wanted == None || !readWindowProperty(display, window, "_NET_WM_STATE", XA_ATOM, bytes, items)) return false;
    for (unsigned long i = 0; i < items; ++i) {
        long atom = 0;
        bytes.copy(reinterpret_cast<char*>(&atom), sizeof atom, i * sizeof(long));
        if (static_cast<Atom>(atom) == wanted) return true;
    }
    return false;
}

std::wstring windowTitle(Display* display, Window window) {
    std::string bytes;
    unsigned long items = 0;
    const Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
    if (readWindowProperty(display, window, "_NET_WM_NAME", utf8, bytes, items)) return utf8ToWide(bytes);
    char* name = nullptr;
    if (!XFetchName(display, window, &name) || !name) return std::wstring();
    std::wstring title = utf8ToWide(name);
    XFree(name);
    return title;
}

uint64_t x11ForegroundWindow() {
    std::lock_guard<std::mutex> lock(g_displayMutex);
    Display* display = foregroundDisplay();
    if (!display) return 0;
    IgnoredXErrors ignored(display);
    unsigned long window = 0;
    if (!readLongProperty(display, DefaultRootWindow(display), "_NET_ACTIVE_WINDOW", XA_WINDOW, window)) return 0;
    return window;
}

bool x11DescribeWindow(uint64_t id, WindowDescription& description) {
    std::lock_guard<std::mutex> lock(g_displayMutex);
    Display* display = foregroundDisplay();
    if (!display || id == 0) return false;
    IgnoredXErrors ignored(display);
    const Window window = static_cast<Window>(id);
    XWindowAttributes attributes;
    if (!XGetWindowAttributes(display, window, &attributes)) return false;
    description = WindowDescription();
    description.width = attributes.width;
    description.height = attributes.height;
    description.visible = attributes.map_state == IsViewable;
    description.minimised = hasStateAtom(display, window, "_NET_WM_STATE_HIDDEN");
    description.title = windowTitle(display, window);
    unsigned long pid = 0;
    if (readLongProperty(display, window, "_NET_WM_PID", XA_CARDINAL, pid)) {
        description.processId = static_cast<uint32_t>(pid);
        description.imagePath = processImagePath(description.processId);
    }
    return true;
}

ForegroundWindowSource currentSource() {
    std::lock_guard<std::mutex> lock(g_sourceMutex);
    return g_source;
}

std::wstring readLinkTarget(const std::string& link) {
    char buffer[4096];
    const ssize_t length = readlink(link.c_str(), buffer, sizeof buffer);
    if (length <= 0 || static_cast<size_t>(length) >= sizeof buffer) return std::wstring();
    return utf8ToWide(std::string(buffer, static_cast<size_t>(length)));
}

}  // namespace

void setForegroundWindowSource(ForegroundWindowSource source) {
    std::lock_guard<std::mutex> lock(g_sourceMutex);
    g_source = std::move(source);
}

uint64_t currentForegroundWindow() {
    const ForegroundWindowSource source = currentSource();
    return source.foregroundWindow ? source.foregroundWindow() : x11ForegroundWindow();
}

bool describeWindow(uint64_t window, WindowDescription& description) {
    const ForegroundWindowSource source = currentSource();
    return source.describeWindow ? source.describeWindow(window, description) : x11DescribeWindow(window, description);
}

std::wstring processImagePath(uint32_t processId) {
    if (processId == 0) return std::wstring();
    return readLinkTarget("/proc/" + std::to_string(processId) + "/exe");
}

std::wstring ownExecutablePath() { return readLinkTarget("/proc/self/exe"); }
