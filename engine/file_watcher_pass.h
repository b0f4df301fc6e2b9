#pragma once
// The File Watcher pass ("File Watcher (W)", with its companion name
// "Monitor Files (W)"): takes the changes the change watcher recorded,
// attributes each one to the application that had the foreground, counts it
// in the application statistics and hands the changes to the archiving. The
// pass ends as soon as a collection comes back empty; the supervisor starts
// it again when changes are pending.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/change_watcher.h"

// Sets each record's application from the foreground history (left empty
// while the history is empty).
void attributeChangeRecords(std::vector<ChangeRecord>& records);

// Counts one change of `application` in the application statistics; an
// application without a record of its own only has the ratio of the record
// whose display name holds its file name recomputed.
void countApplicationChange(const std::wstring& application);

// A mark of the cycles begun so far, for fileWatcherHandledChangesSince.
uint64_t fileWatcherCycleMark();
// True when every change recorded before `mark` was taken has been handed to
// the archiving: a cycle begun after it has ended, or none runs and no change
// is pending.
bool fileWatcherHandledChangesSince(uint64_t mark);

// One cycle of the pass: collect, attribute, count, archive. Returns the
// number of records collected (0 ends the pass).
size_t runFileWatcherCycle();

// The thread body.
void fileWatcherThread();
