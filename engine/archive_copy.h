#pragma once
// The copy threads of a Copier batch: each copies its share of the batch's
// queue items into their archives, names the copies once their data is
// durable, records them as versions (or reports them to a running backup),
// and counts retries until a file is given up.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/copy_queue.h"

// Attempts before a file that cannot be copied is given up.
inline constexpr uint64_t kMaxCopyAttempts = 25;
// Number of copy threads per batch.
inline constexpr size_t kCopyThreadCount = 4;

// One copy thread's work: items of the Copier's batch and its cancel flag.
struct CopyWorkList {
    std::vector<CopyQueueItem*> items;
    std::atomic<bool> busy{false};        // set while the copy thread runs
    const std::atomic<int>* cancel = nullptr;  // the batch's cancel variable (its backup items)
};
// The copy thread's body: passes over the list until every item is done or
// the application stops. A cancelled batch drops its backup items only.
void copyFileToArchive(CopyWorkList& list);

// The step after a copy attempt (state 2 or 3 or 4): statistics, retries and
// giving up. True when the item is done.
bool advanceQueueItem(CopyQueueItem& item);

// Batch flag (initially set): while set, a file equal to its newest archived
// version is not copied again (backup items excepted).
bool copyBatchFlag();
void setCopyBatchFlag(bool value);

// Milliseconds of the steady clock when the version records last changed
// through a copy attempt; the Copier saves them once they are quiet.
void markVersionRecordsTouched();
int64_t versionRecordsTouchedMs();
