#include "engine/restore_state.h"

std::atomic<double> restoreProgress{0.0};
std::atomic<bool> restoreActive{false};
std::atomic<bool> restoreWorkBusy{false};
std::atomic<int64_t> restoreStartTicks{0};
