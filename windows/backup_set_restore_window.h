#pragma once
// IG_001, "Backup Set Restoration: " + folder name: the backup sets of the
// folder whose restore list was built last, the statistics of the chosen set,
// the progress of a running set restore, and the buttons that restore, edit
// or remove a set. The window reads copies of the set list, taken with
// try_lock, and changes list entries only by key.
#include <string>

void drawBackupSetRestoreWindow();
bool isBackupSetRestoreWindowOpen();
void openBackupSetRestoreWindow();
// Closed, nothing chosen (tests and a new session of the main window).
void resetBackupSetRestoreWindow();
