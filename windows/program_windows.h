#pragma once
// Hands the program's ten top-level windows to the shell: their ids, names,
// draw functions and open flags, and what the main loop calls when the
// render state changes. Called once before the main loop starts.
void registerProgramWindows();
