#include "platform/display_loss.h"

#include <X11/Xlib.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <thread>

namespace {
std::atomic<bool> g_lost{false};
std::atomic<bool> g_installed{false};
std::atomic<DisplayLossAction> g_action{nullptr};
std::thread::id g_mainThread;

int onIoError(Display*) {
    g_lost.store(true);
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

bool displayLost() { return g_lost.load(); }

void parkThreadForever() {
    for (;;) sleep(3600);
}
