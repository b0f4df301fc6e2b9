#include "platform/display_loss.h"

#include <X11/Xlib.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

namespace {
std::atomic<bool> g_lost{false};
std::atomic<bool> g_installed{false};
std::atomic<DisplayLossAction> g_action{nullptr};
std::thread::id g_mainThread;

std::mutex g_keptMutex;
std::vector<Display*> g_kept;

bool isKeptConnection(Display* display) {
    std::lock_guard<std::mutex> lock(g_keptMutex);
    return std::find(g_kept.begin(), g_kept.end(), display) != g_kept.end();
}

// Xlib calls this after the I/O error handler returned; returning here
// (instead of exit) leaves the connection failed for good.
void stayAfterIoError(Display*, void*) {}

int onIoError(Display* display) {
    g_lost.store(true);
    if (isKeptConnection(display)) return 0;
    if (std::this_thread::get_id() == g_mainThread) {
        const DisplayLossAction action = g_action.load();
        if (action) action();
        std::fflush(nullptr);
        _exit(0);
    }
    parkThreadForever();
}
}  // namespace

void installDisplayLossHandler(DisplayLossAction onMainThread) {
    g_mainThread = std::this_thread::get_id();
    g_action.store(onMainThread);
    g_installed.store(true);
    XSetIOErrorHandler(onIoError);
}

void reinstallDisplayLossHandler() {
    if (g_installed.load()) XSetIOErrorHandler(onIoError);
}

void keepConnectionThroughDisplayLoss(_XDisplay* display) {
    if (!display) return;
    {
        std::lock_guard<std::mutex> lock(g_keptMutex);
        g_kept.push_back(display);
    }
    XSetIOErrorExitHandler(display, stayAfterIoError, nullptr);
}

bool displayLost() { return g_lost.load(); }

void parkThreadForever() {
    for (;;) sleep(3600);
}
