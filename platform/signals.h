#pragma once
// Session end on Linux: SIGTERM, SIGHUP and SIGINT only set a flag; the main
// loop sees it and takes the normal shut-down path with all its saves.

// Installs the handlers (idempotent).
void installShutdownSignalHandlers();
// True once one of the signals arrived.
bool shutdownSignalReceived();
// Clears the flag (tests).
void clearShutdownSignal();
