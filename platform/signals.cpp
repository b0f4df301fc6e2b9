#include "platform/signals.h"

#include <signal.h>

#include <atomic>

namespace {
std::atomic<bool> g_shutdownSignal{false};
static_assert(std::atomic<bool>::is_always_lock_free);

void onShutdownSignal(int) { g_shutdownSignal.store(true); }
}  // namespace

void installShutdownSignalHandlers() {
    struct sigaction action {};
    action.sa_handler = onShutdownSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int sig : {SIGTERM, SIGHUP, SIGINT}) sigaction(sig, &action, nullptr);
}

bool shutdownSignalReceived() { return g_shutdownSignal.load(); }

void clearShutdownSignal() { g_shutdownSignal.store(false); }
