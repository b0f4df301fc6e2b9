#pragma once
// An unclean end (a crash, the out-of-memory killer, a power cut) loses what
// only memory held: changes seen but not yet archived, and version records
// not yet saved. A marker in the configuration folder exists from the start
// of a run until its shut-down has saved everything; found at the next start,
// it sets the recovery going: every watch folder is compared with its
// archive and its unarchived files queued, archived copies without a record
// get it back, and copies' temporary files left in the archives, and in the
// folders that a restore of that run staged into, go.
#include <cstddef>
#include <cstdint>
#include <string>

// "<configuration folder>/Running.mark".
std::wstring runMarkerPath();

// At start, before the engine starts: true when the marker of an earlier run
// is still there (that run ended uncleanly). Leaves the marker in place, now
// for this run.
bool openRunMarker();
// At the end of a completed shut-down: removes the marker, unless a recovery
// of this run has not finished or a save failed (the next start then
// recovers again).
bool closeRunMarker();
// A data file that could not be written when the run ended: the run does not
// count as ended cleanly, and the application log names the file (once).
void noteFailedSave(const std::wstring& path);
bool anySaveFailed();

struct RecoveryCounts {
    size_t folders = 0;              // watch folders recovered
    uint64_t compared = 0;           // files compared with their archive
    uint64_t queued = 0;             // files queued for archiving
    size_t recordsAdded = 0;         // archived copies that got their record back
    size_t temporariesRemoved = 0;   // copies' temporary files removed
};

// The recovery on the calling thread (the version records must be loaded);
// temporary files changed before `staleBeforeTicks` are the killed run's.
// Stops early when the application stops; then it stays owed.
RecoveryCounts recoverAfterUncleanEnd(int64_t staleBeforeTicks);
// The same on an engine thread; logs one line with what it recovered.
void startUncleanEndRecovery();
// At every start: changes made while the program was not running are found
// only by comparing each watch folder with its archive, which the catch-up
// scans do on their engine thread as each folder's watch opens, so archiving
// starts at once; after an unclean end the recovery does it.
void startStartUpComparison(bool uncleanEnd);
// The application log's line for the counts.
std::wstring recoveryLogText(const RecoveryCounts& counts);

// Removes the copies' temporary files below `archive` (sub-folders included)
// whose change time lies before `beforeTicks`, so a copy running now keeps its
// own. Returns how many were removed.
size_t removeStaleCopyTemporaries(const std::wstring& archive, int64_t beforeTicks);
