#pragma once
// One instance per user: an flock on a lock file in $XDG_RUNTIME_DIR (or in a
// 0700 folder of the user's below /tmp), held until the process ends.
#include <string>

enum class InstanceLock { acquired, heldByOther, failed };

// A folder only this user can reach ($XDG_RUNTIME_DIR, or a 0700 folder of
// the user's below /tmp, checked for owner and mode, never through a link);
// empty when none is safe.
std::string privateRuntimeFolder();
// The lock file's path for `name`; empty when no safe folder is available.
std::string singleInstanceLockPath(const std::string& name);
// Takes the lock and keeps its descriptor open for the rest of the run.
// A second call in the same process that already holds it returns acquired.
InstanceLock acquireSingleInstanceLock(const std::string& name);
// Drops the lock and stops listening (tests).
void releaseSingleInstanceLock();

// A second start asks the running instance to show its window through a
// private socket beside the lock file.
using ShowRequestHandler = void (*)();
// Listens for show requests (the lock's holder only); `handler` runs on the
// listening thread. False when the socket cannot be made.
bool listenForShowRequests(const std::string& name, ShowRequestHandler handler);
// Asks the instance that holds the lock to show its window; false when none answers.
bool askRunningInstanceToShow(const std::string& name);
