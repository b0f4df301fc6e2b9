#include "foundation/global_defaults.h"

#include <chrono>

#include "foundation/text_format.h"

namespace {


// Constant-initialised, so valid before any other static initialiser runs.
Timings g_timings;
const int64_t g_startTicks = currentTimeTicks();
const int64_t g_startSteadyMs = steadyClockMs();

}  // namespace

Timings& timings() { return g_timings; }

void resetTimings() {
    const Timings product;
    g_timings.shortPollMs = product.shortPollMs.load();
    g_timings.pollMs = product.pollMs.load();
    g_timings.busyPassMs = product.busyPassMs.load();
    g_timings.idlePassMs = product.idlePassMs.load();
    g_timings.settleMs = product.settleMs.load();
    g_timings.folderScanMs = product.folderScanMs.load();
    g_timings.shutdownGraceMs = product.shutdownGraceMs.load();
    g_timings.watcherStopMs = product.watcherStopMs.load();
    g_timings.progressHoldMs = product.progressHoldMs.load();
    g_timings.backupStepMs = product.backupStepMs.load();
    g_timings.backupStallMs = product.backupStallMs.load();
    g_timings.restorePaceMs = product.restorePaceMs.load();
}

int64_t processStartTicks() { return g_startTicks; }
int64_t processStartSteadyMs() { return g_startSteadyMs; }
