#pragma once
// One instance per user: an flock on a lock file in $XDG_RUNTIME_DIR (or in a
// 0700 folder of the user's below /tmp), held until the process ends.
#include <string>

enum class InstanceLock { acquired, heldByOther, failed };

// The lock file's path for `name`; empty when no safe folder is available.
std::string singleInstanceLockPath(const std::string& name);
// Takes the lock and keeps its descriptor open for the rest of the run.
// A second call in the same process that already holds it returns acquired.
InstanceLock acquireSingleInstanceLock(const std::string& name);
// Drops the lock (tests).
void releaseSingleInstanceLock();
