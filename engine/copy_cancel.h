#pragma once
// The tasks that a " Cancel " button stops. Each kind has a request of its
// own, so a stop never reaches another task, nor the archiving of ordinary
// changes: a backup's request stops the backup's own copies only (in the copy
// batches running when it is made), a restore's the restore's copies.
#include <atomic>

enum class CancelTask { Backup, Restore, Deletion };
bool setCancelRequest(CancelTask task, bool value);
bool isCancelRequested(CancelTask task);
// The cancel variable for copyFileWithProgress of the task's copies.
const std::atomic<int>* cancelMirror(CancelTask task);
// Counts the running tasks of a kind: true for the only one running. The
// last one to end clears its kind's request, never another kind's.
bool beginCancellableTask(CancelTask task);
void endCancellableTask(CancelTask task);
// The cancel variable of a new copy batch, stopped by later backup requests
// only; release it when the batch ends.
std::atomic<int>* acquireBatchCancel();
void releaseBatchCancel(std::atomic<int>* cancel);
