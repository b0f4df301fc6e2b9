#pragma once
// The "Copier (W)" worker: waits for a burst of changes to settle, takes the
// whole copy queue as one batch, copies it on the copy threads, saves the
// version records once they are quiet, and keeps what is left in
// "CopyQueue.dat" when the program stops.

// The thread body. A second Copier started while one runs returns at once.
void copierThread();
