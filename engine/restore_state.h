#pragma once
// The restore state that the restore views and the backup-set restoration
// window read every frame: the restore tasks write it, and so does the
// deletion of backup data, which the views show the same way.
#include <atomic>
#include <cstdint>

extern std::atomic<double> restoreProgress;      // 0.0 to 1.0; kept after a task ends
extern std::atomic<bool> restoreActive;          // a restore (or a deletion) runs
extern std::atomic<bool> restoreWorkBusy;        // a restore of selected files runs, or a restore list is built
extern std::atomic<int64_t> restoreStartTicks;   // 100-ns ticks when a backup-set restore started

// Each running task holds the flags it sets; a flag is cleared when its last
// holder lets go, so a task that ends never clears a flag that another task
// still running set.
void holdRestoreActive();
void releaseRestoreActive();
void holdRestoreWorkBusy();
void releaseRestoreWorkBusy();
