#pragma once
// The worker supervisor: marks workers whose pings stopped, restarts the ones
// that have work, rebuilds the change watcher when the watch list changed and
// saves the configuration in the background when the system is idle.
#include <atomic>
#include <cstdint>
#include <string>

// What one pass decided.
struct SupervisorPass {
    bool keepRunning = true;   // false once the application stops and no worker lives
    bool saveStarted = false;  // a background save of the configuration began
    int restarted = 0;         // workers started by this pass
};

// One pass at the time `nowTicks` (100-ns ticks). Workers are started after
// the registry is unlocked, each followed by the short pause.
SupervisorPass runSupervisorPass(int64_t nowTicks);
// Forgets the previous pass's time, so the next pass sees no gap, and a wake
// no pass has taken yet (tests).
void resetSupervisorClock();

// The supervisor's thread body: passes until the application stops and every
// worker has stopped.
void startWorkerThreads();

// Asks for the next pass now rather than after the pass interval: a worker
// the supervisor starts has work waiting (changes recorded, files queued), and
// the settle wait of a burst begins only once the Copier runs. Asks made
// before the pass count as one.
void wakeSupervisor();

// The end of a worker the supervisor restarts (the Copier, the File Watcher
// pass), after its last look at its work: marks it stopped and clears
// `active`, its "one runs already" flag, in one step, so a start that finds
// it stopped never meets the flag still set. Work that came while it was
// ending woke a supervisor that still saw it running: the supervisor is
// woken again and starts it at once.
void endSupervisedWorker(const std::string& name, std::atomic<bool>* active = nullptr);

// Starts the supervisor and "Monitor UI (W)", each on an engine thread. This
// is what loading the configuration starts (setEngineStarter).
void startEngine();
