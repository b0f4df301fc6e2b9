#pragma once
// The worker supervisor: marks workers whose pings stopped, restarts the ones
// that have work, rebuilds the change watcher when the watch list changed and
// saves the configuration in the background when the system is idle.
#include <cstdint>

// What one pass decided.
struct SupervisorPass {
    bool keepRunning = true;   // false once the application stops and no worker lives
    bool saveStarted = false;  // a background save of the configuration began
    int restarted = 0;         // workers started by this pass
};

// One pass at the time `nowTicks` (100-ns ticks). Workers are started after
// the registry is unlocked, each followed by the short pause.
SupervisorPass runSupervisorPass(int64_t nowTicks);
// Forgets the previous pass's time, so the next pass sees no gap (tests).
void resetSupervisorClock();

// The supervisor's thread body: passes until the application stops and every
// worker has stopped.
void startWorkerThreads();

// Asks for the next pass now rather than after the pass interval: a worker
// the supervisor starts has work waiting (changes recorded, files queued), and
// the settle wait of a burst begins only once the Copier runs. Asks made
// before the pass count as one.
void wakeSupervisor();

// Starts the supervisor and "Monitor UI (W)", each on an engine thread. This
// is what loading the configuration starts (setEngineStarter).
void startEngine();
