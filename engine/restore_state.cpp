#include "engine/restore_state.h"

#include <mutex>

std::atomic<double> restoreProgress{0.0};
std::atomic<bool> restoreActive{false};
std::atomic<bool> restoreWorkBusy{false};
std::atomic<int64_t> restoreStartTicks{0};

namespace {

std::mutex g_holdersMutex;
int g_activeHolders = 0;
int g_busyHolders = 0;

void hold(std::atomic<bool>& flag, int& holders) {
    std::lock_guard<std::mutex> lock(g_holdersMutex);
    ++holders;
    flag = true;
}

void release(std::atomic<bool>& flag, int& holders) {
    std::lock_guard<std::mutex> lock(g_holdersMutex);
    if (holders > 0 && --holders > 0) return;
    flag = false;
}

}  // namespace

void holdRestoreActive() { hold(restoreActive, g_activeHolders); }
void releaseRestoreActive() { release(restoreActive, g_activeHolders); }
void holdRestoreWorkBusy() { hold(restoreWorkBusy, g_busyHolders); }
void releaseRestoreWorkBusy() { release(restoreWorkBusy, g_busyHolders); }
