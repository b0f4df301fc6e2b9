#pragma once
// The data files of the configuration folder: the application log
// ("Notifications.dat"), the backup-set notes ("BS_Notes.dat") and one file
// list per watch folder, plus the splitters every list entry goes through.
#include <map>
#include <mutex>
#include <string>
#include <vector>

// Backup-set notes: set file path -> note (narrow text), kept in "BS_Notes.dat".
extern std::map<std::wstring, std::string> backupSetNotesMap;
extern std::mutex backupSetNotesMutex;

// The data folder ("{{LOCALAPPDATA}}/Morvane/QZR") and the configuration
// folder below it ("/ConfigData"), placeholders expanded. An unset or empty
// LOCALAPPDATA gives a path that is not absolute ("?/..."), which the program
// refuses to use.
std::wstring dataFolderPath();
std::wstring configurationFolderPath();
// Full path of a file that lies directly in the configuration folder.
std::wstring configurationFilePath(const std::wstring& fileName);
// The single-instance lock file, in the data folder itself: one lock per data
// folder, whatever the environment of a start.
std::wstring instanceLockFilePath();

bool saveNotificationsFile();
bool loadNotificationsFile();
bool saveBackupSetNotesFile();
bool loadBackupSetNotesFile();

// Name of a watch folder's file list: the path with "/", ":" and "." replaced
// by "_", then ".dat".
std::wstring folderFileListName(const std::wstring& folderPath);
bool saveFolderFileList(const std::wstring& folderPath);
bool loadFolderFileList(const std::wstring& folderPath);
// Share of a watch folder's known files that still exist (also stored in the entry).
double measureFolderFileList(const std::wstring& folderKey);

// The fields of one list value of the configuration and the version records,
// joined by "[||]". A field that holds "[||]" itself keeps it as "[|", NUL,
// "|]": no name holds a NUL, so earlier files never contain it and such a
// field splits back whole.
std::wstring joinListFields(const std::vector<std::wstring>& fields);
std::vector<std::wstring> splitListFields(const std::wstring& text);

bool joinWString(const std::vector<std::wstring>& list, const std::wstring& separator, std::wstring& out);
bool splitWString(const std::wstring& text, const std::wstring& separator, std::vector<std::wstring>& out);
bool splitString(const std::string& text, const std::string& separator, std::vector<std::string>& out);
