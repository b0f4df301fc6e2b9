#pragma once
// The folders that running restores stage their copies into, kept in the data
// file "RestoreFolders.dat" while a restore runs: a restore killed halfway
// leaves its temporary copies there, and the recovery after that unclean end
// removes them, in those folders and nowhere else.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct RestoreFolder {
    std::wstring root;    // the restore's destination root, as the user named it
    std::wstring folder;  // a folder below it that copies are staged into
};

std::wstring restoreFoldersFilePath();

// Notes one restore's folders before it stages a copy; returns its token.
uint64_t noteRestoreFolders(const std::vector<RestoreFolder>& folders);
// That restore ended: its folders are forgotten (the file goes with the last).
void forgetRestoreFolders(uint64_t token);

// The recovery: removes the copies' temporary files changed before
// `beforeTicks` in every folder the file names, then keeps only the folders
// of restores running now. Returns how many were removed.
size_t removeRestoreLeftovers(int64_t beforeTicks);
