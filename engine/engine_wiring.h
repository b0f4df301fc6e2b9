#pragma once
// Connects the engine's workers: fills every engine hook with the worker
// that serves it and registers the engine's start with the configuration
// load. The program calls it once at start, before loading the configuration.
void wireEngine();
