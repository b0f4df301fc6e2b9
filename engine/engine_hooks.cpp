#include "engine/engine_hooks.h"

#include <mutex>

namespace {
std::mutex g_hooksMutex;
EngineHooks g_hooks;
}  // namespace

EngineHooks engineHooks() {
    std::lock_guard<std::mutex> lock(g_hooksMutex);
    return g_hooks;
}

void setEngineHooks(const EngineHooks& hooks) {
    std::lock_guard<std::mutex> lock(g_hooksMutex);
    g_hooks = hooks;
}
