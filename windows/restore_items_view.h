#pragma once
// IG_002, "Select Items To Restore: ": the entries of the backup set that
// " Edit " of the backup-set restoration window loaded, grouped by folder,
// with their restore marks, the set's counts and its note. The window's open
// flag is the edit flag of the set (backupSetEditActive): closing the window
// lets the edit write the set back.
//
// The window draws its own copy of the edited set. Its changes go into the
// edited set in the order they were made, whenever the set's lock is free,
// so drawing never waits for the lock.
void restoreItemsView();
bool isRestoreItemsViewOpen();
// Drops the window's copy and pending changes (tests).
void resetRestoreItemsView();
