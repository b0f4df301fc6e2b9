#include "foundation/global_defaults.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>

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
    g_timings.httpConnectMs = product.httpConnectMs.load();
    g_timings.httpTotalMs = product.httpTotalMs.load();
    g_timings.displayWaitMs = product.displayWaitMs.load();
}

int applyTestTimingsFromEnvironment() {
#ifdef VARNHOLT_TEST_HOOKS
    const char* value = std::getenv("VARNHOLT_TEST_TIMINGS");
    if (!value) return 0;
    struct Named {
        const char* name;
        std::atomic<uint32_t>* field;
    };
    const Named fields[] = {
        {"shortPollMs", &g_timings.shortPollMs},   {"pollMs", &g_timings.pollMs},
        {"busyPassMs", &g_timings.busyPassMs},     {"idlePassMs", &g_timings.idlePassMs},
        {"settleMs", &g_timings.settleMs},         {"folderScanMs", &g_timings.folderScanMs},
        {"shutdownGraceMs", &g_timings.shutdownGraceMs}, {"watcherStopMs", &g_timings.watcherStopMs},
        {"progressHoldMs", &g_timings.progressHoldMs},   {"backupStepMs", &g_timings.backupStepMs},
        {"backupStallMs", &g_timings.backupStallMs}, {"restorePaceMs", &g_timings.restorePaceMs},
        {"httpConnectMs", &g_timings.httpConnectMs}, {"httpTotalMs", &g_timings.httpTotalMs},
        {"displayWaitMs", &g_timings.displayWaitMs},
    };
    int set = 0;
    std::string text = value;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(',', start);
        if (end == std::string::npos) end = text.size();
        const std::string item = text.substr(start, end - start);
        const size_t eq = item.find('=');
        if (eq != std::string::npos) {
            for (const Named& named : fields) {
                if (item.compare(0, eq, named.name) != 0 || std::strlen(named.name) != eq) continue;
                *named.field = static_cast<uint32_t>(std::strtoul(item.c_str() + eq + 1, nullptr, 10));
                ++set;
            }
        }
        start = end + 1;
    }
    return set;
#else
    return 0;
#endif
}

int64_t processStartTicks() { return g_startTicks; }
int64_t processStartSteadyMs() { return g_startSteadyMs; }
