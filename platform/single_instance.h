#pragma once
// One instance per data folder: an flock on an owner-only lock file inside
// the data folder, held until the process ends, so every start for that
// folder meets the same lock whatever its environment says.
#include <string>

enum class InstanceLock { acquired, heldByOther, failed };

// A folder only this user can reach ($XDG_RUNTIME_DIR, or a 0700 folder of
// the user's below /tmp, checked for owner and mode, never through a link);
// empty when none is safe.
std::string privateRuntimeFolder();
// Takes the lock on `lockPath` (an absolute path; missing folders above it
// are made owner-only) and keeps its descriptor open for the rest of the run.
// A second call in the same process that already holds it returns acquired.
// On failed, `reason` says why.
InstanceLock acquireSingleInstanceLock(const std::string& lockPath, std::string& reason);
// A tag of the data folder that holds `lockPath` (16 hex digits), in the
// names of an instance's private files in the runtime folder: instances on
// other data folders may share that folder, and each keeps its own.
std::string dataFolderTag(const std::string& lockPath);
// The tag of the data folder whose lock this process holds; "" when none.
std::string heldDataFolderTag();
// Drops the lock and stops listening (tests).
void releaseSingleInstanceLock();

// A second start asks the running instance to show its window through a
// private socket named after its data folder (instances on other data
// folders may share the runtime folder); the lock file names it, so a start
// with another runtime folder finds it too.
using ShowRequestHandler = void (*)();
// Listens for show requests on the socket `name`-<data folder's hash> in the
// private runtime folder (the lock's holder only); `handler` runs on the
// listening thread.
// A client that sends nothing is dropped after a short time and never holds
// up the others. False when the socket cannot be made.
bool listenForShowRequests(const std::string& name, ShowRequestHandler handler);
// Asks the holder of `lockPath` to show its window, through the socket its
// lock file names or else its socket `name` in this environment; connecting and
// writing are time-limited. False when none answers.
bool askRunningInstanceToShow(const std::string& lockPath, const std::string& name);
