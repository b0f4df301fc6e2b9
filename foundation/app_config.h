#pragma once
// The application configuration: settings of "Config.dat" (section "main"),
// the user's lists of "User.dat" (section "user"), their load at start-up and
// their save at shut-down.
#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "foundation/watch_folders.h"

// Settings kept between runs; guarded by appSettingsMutex.
struct AppSettings {
    int32_t misc = 0;                 // "Misc"
    int32_t enabled = 0;              // "Enabled"
    uint32_t uiStyle = 0;             // "UIStyle"
    uint32_t folderChoice = 0;        // "cbFS"
    uint32_t applicationChoice = 0;   // "cbAS"
    uint32_t extensionFilter = 0;     // "cbES"
    std::string guid;                 // "guid"
    std::string hwguid;               // "hwguid"
    std::string userName;             // "username"
    std::string userEmail;            // "useremail"
    std::string userMessage;          // "usermessage"
    int32_t userReason = 0;           // "userreason", decimal text; 0 to 3
    std::string lastBootMessage;      // "AUBM"
    std::string lastAppVersion;       // "AUAV"
    std::string lastVersionMessage;   // "AUAVMWO"
    bool showUI = true;               // "ShowUI"
    bool startWithLogin = false;      // "StartWithLogin"
};
extern AppSettings appSettings;
extern std::mutex appSettingsMutex;

// One application seen in the foreground; keyed by its image path in
// applicationStatsMap, guarded by statisticsMutex.
struct ApplicationRecord {
    std::wstring displayName;
    uint16_t changeCount = 0;
    uint16_t archivedCount = 0;
    uint16_t failureCount = 0;
    bool persistent = false;    // the user named it
    bool monitorFocus = true;   // saved as "a"
    bool selected = false;
    uint32_t foregroundMs = 0;
    double ratio = 0.0;
};
extern std::map<std::wstring, ApplicationRecord> applicationStatsMap;
extern std::mutex statisticsMutex;

// Paths built by loadAppConfiguration (set before any worker starts).
// (The data and configuration folders: dataFolderPath() and
// configurationFolderPath() of the data files.)
extern std::wstring metadataFolderPath;
extern std::wstring configFilePath;
extern std::wstring userFilePath;
extern std::string traceLogPath;

// The engine registers its start (worker supervisor and "Monitor UI (W)");
// without one, loading the configuration starts nothing.
void setEngineStarter(std::function<void()> starter);

bool loadAppConfiguration();
// False when "Config.dat" or "User.dat" could not be written.
bool saveAppConfiguration();
// The files the last save could not write: besides those two, the
// notifications and the backup-set notes.
std::vector<std::wstring> configurationFilesNotSaved();

// 48-byte schedule record: times in milliseconds, little-endian.
using ScheduleRecord = std::array<uint8_t, 48>;
bool ticksToMillis(const ScheduleTrigger& trigger, ScheduleRecord& record);
bool millisToTicks(const ScheduleRecord& record, ScheduleTrigger& trigger);

std::string encodeUInt64Field(uint64_t value);
uint64_t decodeUInt64Field(const std::string& text);

// Name of a folder's schedule entry in "User.dat" (c__work___sci for C:\Work 2).
std::string scheduleEntryName(const std::wstring& folderKey);
