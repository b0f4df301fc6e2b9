#include "platform/window_sdl.h"

#include <SDL.h>
#include <stdlib.h>

#include <cstring>
#include <mutex>

namespace {
SDL_Window* g_window = nullptr;
uint32_t g_trayEventType = 0;
std::mutex g_trayEventMutex;
SDL_Event g_lastEvent;

WindowEventKind kindOf(const SDL_Event& e) {
    if (e.type == SDL_QUIT) return WindowEventKind::quit;
    if (g_trayEventType != 0 && e.type == g_trayEventType) return WindowEventKind::trayCommand;
    if (e.type != SDL_WINDOWEVENT) return WindowEventKind::other;
    switch (e.window.event) {
        case SDL_WINDOWEVENT_CLOSE: return WindowEventKind::close;
        case SDL_WINDOWEVENT_SIZE_CHANGED: return WindowEventKind::resized;
        case SDL_WINDOWEVENT_MINIMIZED: return WindowEventKind::minimized;
        default: return WindowEventKind::other;
    }
}

std::string variable(const char* name) {
    const char* value = getenv(name);
    return value ? value : "";
}

std::string namedDisplay() {
    const std::string x = variable("DISPLAY"), wayland = variable("WAYLAND_DISPLAY");
    return !x.empty() ? x : wayland;
}

// SDL fell back to a driver without a screen, not asked for by SDL_VIDEODRIVER.
bool fellBackToNoScreen() {
    if (!variable("SDL_VIDEODRIVER").empty()) return false;
    const char* driver = SDL_GetCurrentVideoDriver();
    return !driver || std::strcmp(driver, "offscreen") == 0 || std::strcmp(driver, "dummy") == 0;
}

bool g_displayMissed = false;  // the last start did not open the named display
}  // namespace

WindowSystemStart initWindowSystem() {
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    SDL_SetHint(SDL_HINT_QUIT_ON_LAST_WINDOW_CLOSE, "0");
    const bool started = SDL_InitSubSystem(SDL_INIT_VIDEO | SDL_INIT_EVENTS) == 0;
    g_displayMissed = !namedDisplay().empty() && (!started || fellBackToNoScreen());
    if (g_displayMissed) {
        if (started) SDL_QuitSubSystem(SDL_INIT_VIDEO | SDL_INIT_EVENTS);
        return WindowSystemStart::displayNotOpened;
    }
    if (!started) return WindowSystemStart::failed;
    {
        std::lock_guard<std::mutex> guard(g_trayEventMutex);
        if (g_trayEventType == 0) {
            const uint32_t type = SDL_RegisterEvents(1);
            if (type != static_cast<uint32_t>(-1)) g_trayEventType = type;
        }
    }
    // The GL driver stays loaded for the whole run: hiding and showing the
    // window then only makes a new context, and the driver's own allocations
    // stay reachable until the process ends.
    static const bool driverLoaded = SDL_GL_LoadLibrary(nullptr) == 0;
    if (!driverLoaded) return WindowSystemStart::failed;
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_FLAGS, 0);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_CORE);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 3);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 3);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 0);
    SDL_GL_SetAttribute(SDL_GL_STENCIL_SIZE, 8);
    return WindowSystemStart::started;
}

std::string windowSystemDescription() {
    const std::string display = namedDisplay().empty() ? "no display named" : "display " + namedDisplay();
    if (g_displayMissed) return display + " could not be opened";
    const char* driver = SDL_GetCurrentVideoDriver();
    return std::string(driver ? driver : "no video driver") + ", " + display;
}

void quitWindowSystem() { destroyMainSdlWindow(); }

bool createMainSdlWindow(const std::string& title, int width, int height, int minimumWidth, int minimumHeight) {
    if (g_window) return true;
    // SDL would start its video part on its own, on whatever driver it finds.
    if (!SDL_WasInit(SDL_INIT_VIDEO)) return false;
    g_window = SDL_CreateWindow(title.c_str(), SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED,
                                width, height,
                                SDL_WINDOW_OPENGL | SDL_WINDOW_RESIZABLE | SDL_WINDOW_HIDDEN |
                                    SDL_WINDOW_ALLOW_HIGHDPI);
    if (g_window) SDL_SetWindowMinimumSize(g_window, minimumWidth, minimumHeight);
    return g_window != nullptr;
}

void destroyMainSdlWindow() {
    if (g_window) SDL_DestroyWindow(g_window);
    g_window = nullptr;
}

SDL_Window* mainSdlWindow() { return g_window; }

void showMainSdlWindow(bool show) {
    if (!g_window) return;
    if (show) {
        SDL_ShowWindow(g_window);
        SDL_RaiseWindow(g_window);
    } else {
        SDL_HideWindow(g_window);
    }
}

bool mainSdlWindowShown() {
    return g_window && (SDL_GetWindowFlags(g_window) & SDL_WINDOW_SHOWN) != 0;
}

void setMainSdlWindowIcon(std::span<const uint8_t> rgba, int width, int height) {
    if (!g_window || rgba.size() < static_cast<size_t>(width) * height * 4) return;
    SDL_Surface* surface = SDL_CreateRGBSurfaceWithFormatFrom(
        const_cast<uint8_t*>(rgba.data()), width, height, 32, width * 4, SDL_PIXELFORMAT_RGBA32);
    if (!surface) return;
    SDL_SetWindowIcon(g_window, surface);
    SDL_FreeSurface(surface);
}

void waitForWindowEvent(int timeoutMs) { SDL_WaitEventTimeout(nullptr, timeoutMs); }

bool pollWindowEvent(WindowEvent& event) {
    if (!SDL_PollEvent(&g_lastEvent)) return false;
    event.kind = kindOf(g_lastEvent);
    event.trayCommand = event.kind == WindowEventKind::trayCommand ? g_lastEvent.user.code : 0;
    event.raw = &g_lastEvent;
    return true;
}

bool postTrayCommandEvent(int command) {
    uint32_t type;
    {
        std::lock_guard<std::mutex> guard(g_trayEventMutex);
        type = g_trayEventType;
    }
    if (type == 0) return false;
    SDL_Event e{};
    e.type = type;
    e.user.code = command;
    return SDL_PushEvent(&e) == 1;
}
