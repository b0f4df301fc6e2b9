#pragma once
// Backup sets: what one backup saved, one file ".backup" per set. A set file
// is a data file with the empty pass phrase holding the section "bc": one
// "bi" line per copied file (source, archive copy, "+", "R" or "0", and on
// the first line the set's summary) and the set's "note".
//
// Two sets live in the process: the one the running backup fills and the one
// the restoration window edits. backupSetMutex guards both. Never hold it
// while waiting for anything (a user's answer, a copy): copy out what you need.
#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>

// One file of a set.
struct BackupSetEntry {
    std::wstring sourcePath;
    std::wstring archivePath;  // the archived copy, once copied
    bool copied = false;
    bool restore = false;      // marked for restoring
    // Read from a file as copied: kept as such on a save even while its copy
    // cannot be reached (an archive offline), so the set never loses it.
    bool listedCopied = false;
    std::wstring summary;      // only in the entry read from a file's first line

    bool operator==(const BackupSetEntry&) const = default;
};

struct BackupSetRecord {
    std::wstring name;
    std::string note;
    std::map<std::wstring, BackupSetEntry> files;  // source path -> entry
};

extern BackupSetRecord currentBackupSet;  // filled by the running backup
extern BackupSetRecord editedBackupSet;   // loaded for the restoration window
extern std::wstring editedBackupSetPath;  // the file editedBackupSet was loaded from
extern std::mutex backupSetMutex;
// Set while the restoration window edits editedBackupSet; the window clears
// it when the user is done, and the set is then written back.
extern std::atomic<bool> backupSetEditActive;

inline constexpr std::wstring_view kBackupSetExtension = L".backup";

// "efc:N1,tf:N2,tm:N3,b:N4,str:N5" of the copied entries that a save writes:
// copied count, all entries, not copied, bytes of the archive copies whose size
// could be read, copied entries marked for restoring.
std::wstring backupSetSummary(const BackupSetRecord& set);

// A set's file name: "/" and ":" of its name become "_" and "-", then ".backup".
std::wstring backupSetFileName(const std::wstring& setName);
// A set's name from its file: the last component without its extension, "_"
// and "-" read back as "/" and ":".
std::wstring backupSetNameFromPath(const std::wstring& filePath);

// Writes the set by atomic replacement, creating missing folders: one line
// per entry copied or read as copied. False (the
// old file kept, and "Backupset file not written" logged as an error) when it
// could not be written.
bool saveBackupSetFile(const std::wstring& filePath, const BackupSetRecord& set);
// Reads a set file. False, `set` untouched, when the path is missing, is a
// folder or cannot be read as a set. Entries whose archived copy is gone read
// as not copied; a source met twice keeps its first line.
bool loadBackupSetFile(const std::wstring& filePath, BackupSetRecord& set);

// The current set, under backupSetMutex: start a set, add a selected file
// (marked for restoring: a new set restores everything it saved until the
// user unmarks entries), record a copy result (false when the set does not
// hold the file), take a copy, empty it.
void startCurrentBackupSet(const std::wstring& name);
void addCurrentBackupSetFile(const std::wstring& sourcePath);
bool recordCurrentBackupSetCopy(const std::wstring& sourcePath, const std::wstring& archivePath, bool copied);
BackupSetRecord currentBackupSetSnapshot();
void clearCurrentBackupSet();
// Saves a copy of the current set, taken under backupSetMutex and written
// outside it.
bool saveCurrentBackupSet(const std::wstring& filePath);

// Thread body of the restoration window: loads the file into editedBackupSet,
// waits while backupSetEditActive stays set (and the application runs), then
// writes the edited set back to the same file when it was edited. Returns at
// once while another edit runs, until that one has written its set back.
void threadLoadAndEditRestoreFileSet(std::wstring filePath);
// True from the start of an edit until its set is written back.
bool isBackupSetEditRunning();
// The file of the running edit; empty while none runs.
std::wstring backupSetEditPath();
// A removal marks its set file before it deletes anything: an edit of that
// set ends and is never written back, so the removed set cannot return.
void markBackupSetRemoved(const std::wstring& filePath);
bool isBackupSetRemoved(const std::wstring& filePath);

// The watch folder of the first file of the backup set being filled, or ""
// when no set is being filled (an empty set with no files counts as none).
bool isBackupSetFilling();
std::wstring fillingBackupSetFolder();
