#include "foundation/app_config.h"

#include <filesystem>
#include <system_error>
#include <vector>

#include "foundation/app_log.h"
#include "foundation/data_files.h"
#include "foundation/data_packet.h"
#include "foundation/data_record.h"
#include "foundation/file_helpers.h"
#include "foundation/machine_ids.h"
#include "foundation/version_records.h"
#include "platform/paths.h"
#include "platform/text.h"

AppSettings appSettings;
std::mutex appSettingsMutex;
std::map<std::wstring, ApplicationRecord> applicationStatsMap;
std::mutex statisticsMutex;
std::wstring metadataFolderPath;
std::wstring configFilePath;
std::wstring userFilePath;
std::string traceLogPath;

// Built-in defaults and paths (app_config_defaults.cpp).
void enterBuiltInDefaults();
void buildPaths();

namespace {

std::function<void()> engineStarter;
// Loads and saves may come from the shut-down and from a detached saver.
std::mutex configurationFileMutex;
std::vector<std::wstring> notSavedFiles;  // of the last save; under configurationFileMutex

void putLE(uint8_t* at, uint64_t value, int width) {
    for (int i = 0; i < width; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
}

uint64_t getLE(const uint8_t* at, int width) {
    uint64_t value = 0;
    for (int i = 0; i < width; ++i) value |= static_cast<uint64_t>(at[i]) << (8 * i);
    return value;
}


std::vector<std::wstring> watchFolderKeys() {
    std::vector<std::wstring> keys;
    std::lock_guard lock(watchFolderMutex);
    for (const auto& [key, entry] : watchFolderMap) keys.push_back(key);
    return keys;
}

bool ensureConfigFolder() {
    if (isExistingFolder(configurationFolderPath())) return true;
    return makeDirectoryPathWithSD(configurationFolderPath() + kPathSeparatorText) && isExistingFolder(configurationFolderPath());
}

// A file that exists with content but does not load is damaged: keep a copy
// beside it so the next save cannot silently destroy what it still holds.
void keepDamagedFile(const std::wstring& path) {
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::path file(wideToUtf8(path));
    if (!fs::is_regular_file(file, error) || fs::file_size(file, error) == 0 || error) return;
    const fs::path copy(wideToUtf8(path + L".bad"));
    fs::copy_file(file, copy, fs::copy_options::overwrite_existing, error);
    appendAppLogEntry(L"Critical! - Unable to read configuration file " + path +
                          (error ? L"; no copy could be kept" : L"; a copy was kept as " + path + L".bad"),
                      8, false);
}

// ---- section "main" ------------------------------------------------------

// The user-message reason as stored: one of the four, 0 for anything else.
int32_t reasonIndexFromText(const std::string& text) {
    return text.size() == 1 && text[0] >= '0' && text[0] <= '3' ? text[0] - '0' : 0;
}

void readMainSection() {
    auto section = getRecordSection(appDataRecord, "main");
    if (!section) return;
    std::lock_guard lock(appSettingsMutex);
    AppSettings& s = appSettings;
    getRecordInt32(section, "Misc", s.misc);
    getRecordInt32(section, "Enabled", s.enabled);
    getRecordUInt32(section, "UIStyle", s.uiStyle);
    getRecordUInt32(section, "cbFS", s.folderChoice);
    getRecordUInt32(section, "cbAS", s.applicationChoice);
    getRecordUInt32(section, "cbES", s.extensionFilter);
    getRecordString(section, "guid", s.guid, 0);
    getRecordString(section, "hwguid", s.hwguid, 0);
    s.hwguid = withoutRawMachineId(s.hwguid);
    getRecordString(section, "username", s.userName, 0);
    getRecordString(section, "useremail", s.userEmail, 0);
    getRecordString(section, "usermessage", s.userMessage, 0);
    std::string reason;
    if (getRecordString(section, "userreason", reason, 0)) s.userReason = reasonIndexFromText(reason);
    getRecordString(section, "AUBM", s.lastBootMessage, 0);
    getRecordString(section, "AUAV", s.lastAppVersion, 0);
    getRecordString(section, "AUAVMWO", s.lastVersionMessage, 0);
    std::string flag;
    if (getRecordString(section, "ShowUI", flag, 0)) s.showUI = flag == "s";
    flag.clear();
    if (getRecordString(section, "StartWithLogin", flag, 0)) s.startWithLogin = flag == "s";
}

void writeMainSection() {
    addRecordSection(appDataRecord, "main");
    auto section = getRecordSection(appDataRecord, "main");
    std::lock_guard lock(appSettingsMutex);
    const AppSettings& s = appSettings;
    setRecordInt32(section, "Misc", s.misc);
    setRecordInt32(section, "Enabled", s.enabled);
    setRecordUInt32(section, "UIStyle", s.uiStyle);
    setRecordUInt32(section, "cbFS", s.folderChoice);
    setRecordUInt32(section, "cbAS", s.applicationChoice);
    setRecordUInt32(section, "cbES", s.extensionFilter);
    setRecordString(section, "guid", s.guid, 0);
    setRecordString(section, "hwguid", s.hwguid, 0);
    setRecordString(section, "username", s.userName, 0);
    // Written only when given; a cleared address leaves no entry behind.
    if (!s.userEmail.empty())
        setRecordString(section, "useremail", s.userEmail, 0);
    else
        removeRecordValue(section, "useremail", kRecordAppend);
    setRecordString(section, "usermessage", s.userMessage, 0);
    setRecordString(section, "userreason", std::to_string(s.userReason), 0);
    setRecordString(section, "AUBM", s.lastBootMessage, 0);
    setRecordString(section, "AUAV", s.lastAppVersion, 0);
    setRecordString(section, "AUAVMWO", s.lastVersionMessage, 0);
    setRecordString(section, "ShowUI", s.showUI ? "s" : "0", 0);
    setRecordString(section, "StartWithLogin", s.startWithLogin ? "s" : "0", 0);
}

// ---- section "user" ------------------------------------------------------

int32_t folderTypeFromLetter(const std::wstring& letter) {
    if (letter == L"i") return kFolderTypeFolder;
    if (letter == L"I") return kFolderTypeDescendents;
    if (letter == L"e") return kFolderTypeExclude;
    return kFolderTypeDisable;
}

std::wstring folderTypeLetter(int32_t type) {
    switch (type) {
        case kFolderTypeFolder: return L"i";
        case kFolderTypeDescendents: return L"I";
        case kFolderTypeExclude: return L"e";
        default: return L"0";
    }
}

int32_t collisionFromLetter(const std::wstring& letter) {
    if (letter == L"t") return kCollisionAppendTimeStamp;
    if (letter == L"o") return kCollisionOverwrite;
    if (letter == L"k") return kCollisionSingleBackup;
    return kCollisionAppendVersion;
}

std::wstring collisionLetter(int32_t option) {
    switch (option) {
        case kCollisionAppendTimeStamp: return L"t";
        case kCollisionOverwrite: return L"o";
        case kCollisionSingleBackup: return L"k";
        default: return L"s";
    }
}

template <typename Section>
std::vector<std::wstring> readList(Section section, const std::string& name) {
    std::vector<std::wstring> values;
    const size_t count = getRecordValueCount(section, name);
    for (size_t i = 0; i < count; ++i) {
        std::wstring value;
        if (getRecordWString(section, name, value, static_cast<uint32_t>(i))) values.push_back(value);
    }
    return values;
}

// Bytes 42..45 of a schedule record carry the CRC-32 of the folder key: two
// folders can share one entry name (C:\Work 1 and C:\Work 2), and the tag
// keeps each trigger with its own folder. A zero tag is accepted by all.
uint32_t folderTag(const std::wstring& key) {
    const std::string bytes = wideToUtf8(key);
    const uint32_t crc = computeCrc32(0, bytes);
    return crc == 0 ? 1 : crc;
}

std::string encodeTrigger(const ScheduleTrigger& trigger, const std::wstring& key) {
    ScheduleRecord record;
    ticksToMillis(trigger, record);
    putLE(&record[42], folderTag(key), 4);
    return base64Convert(std::string(record.begin(), record.end()));
}

bool decodeTrigger(const std::string& text, const std::wstring& key, ScheduleTrigger& trigger) {
    std::string bytes;
    if (!base64Decode(text, bytes) || bytes.size() != 48) return false;
    ScheduleRecord record;
    std::copy(bytes.begin(), bytes.end(), record.begin());
    const uint32_t tag = static_cast<uint32_t>(getLE(&record[42], 4));
    if (tag != 0 && tag != folderTag(key)) return false;
    return millisToTicks(record, trigger);
}

template <typename Section>
void readFolderList(Section section) {
    for (const std::wstring& value : readList(section, "fi")) {
        const std::vector<std::wstring> f = splitListFields(value);
        if (f.size() != 6 || f[1].empty()) continue;
        WatchFolderEntry entry;
        entry.folderType = folderTypeFromLetter(f[0]);
        entry.preserveHierarchy = f[2] == L"p";
        entry.thirdFlag = f[3] == L"u";
        entry.archivePath = f[4];
        entry.collisionOption = collisionFromLetter(f[5]);
        updateWatchFolderList(f[1], entry, false);
    }
}

template <typename Section>
void readTriggersAndExtensions(Section section) {
    std::lock_guard lock(watchFolderMutex);
    for (auto& [key, entry] : watchFolderMap) {
        const std::string name = scheduleEntryName(key);
        const size_t count = getRecordValueCount(section, name);
        for (size_t i = 0; i < count; ++i) {
            std::string text;
            ScheduleTrigger trigger;
            if (getRecordString(section, name, text, static_cast<uint32_t>(i)) && decodeTrigger(text, key, trigger))
                entry.scheduleTriggers.push_back(trigger);
        }
    }
    for (const std::wstring& value : readList(section, "ei")) {
        const std::vector<std::wstring> f = splitListFields(value);
        if (f.size() != 4) continue;
        auto it = watchFolderMap.find(pathKey(f[1]));
        if (it == watchFolderMap.end()) continue;
        it->second.extensionMap.insert_or_assign(lowerCaseText(f[2]), ExtensionEntry{f[3], f[0] == L"t", false});
    }
}

template <typename Section>
void readApplicationList(Section section) {
    std::lock_guard lock(statisticsMutex);
    for (const std::wstring& value : readList(section, "ai")) {
        const std::vector<std::wstring> f = splitListFields(value);
        if (f.size() != 3 || f[1].empty()) continue;
        ApplicationRecord& record = applicationStatsMap[f[1]];
        record.monitorFocus = f[0] == L"a";
        record.displayName = f[2];
    }
}

void readUserSection() {
    auto section = getRecordSection(appDataRecord, "user");
    if (!section) return;
    readFolderList(section);
    readTriggersAndExtensions(section);
    readApplicationList(section);
}

struct UserLists {
    std::vector<std::wstring> folders;
    std::vector<std::wstring> extensions;
    std::vector<std::wstring> applications;
    std::map<std::string, std::vector<std::string>> schedules;
};

// Copies what is to be saved, holding each lock only for the copy.
UserLists collectUserLists() {
    UserLists lists;
    {
        std::lock_guard lock(watchFolderMutex);
        for (const auto& [key, entry] : watchFolderMap) {
            std::vector<std::string>& triggers = lists.schedules[scheduleEntryName(key)];
            for (const ScheduleTrigger& trigger : entry.scheduleTriggers) triggers.push_back(encodeTrigger(trigger, key));
            if (entry.removed) continue;
            lists.folders.push_back(joinListFields({folderTypeLetter(entry.folderType), key,
                                                entry.preserveHierarchy ? L"p" : L"0", entry.thirdFlag ? L"u" : L"0",
                                                entry.archivePath, collisionLetter(entry.collisionOption)}));
            for (const auto& [extension, item] : entry.extensionMap)
                lists.extensions.push_back(joinListFields({item.included ? L"t" : L"0", key, extension, item.text}));
        }
    }
    std::lock_guard lock(statisticsMutex);
    for (const auto& [key, record] : applicationStatsMap)
        lists.applications.push_back(joinListFields({record.monitorFocus ? L"a" : L"0", key, record.displayName}));
    return lists;
}

void writeUserSection() {
    const UserLists lists = collectUserLists();
    addRecordSection(appDataRecord, "user");
    auto section = getRecordSection(appDataRecord, "user");
    for (const char* name : {"fi", "ei", "ai"}) removeRecordValue(section, name, kRecordAppend);
    for (const auto& value : lists.folders) setRecordWString(section, "fi", value, kRecordAppend);
    for (const auto& value : lists.extensions) setRecordWString(section, "ei", value, kRecordAppend);
    // Shared names are emptied first, so folders that share one keep all triggers.
    for (const auto& [name, values] : lists.schedules) removeRecordValue(section, name, kRecordAppend);
    for (const auto& [name, values] : lists.schedules)
        for (const std::string& value : values) setRecordString(section, name, value, kRecordAppend);
    for (const auto& value : lists.applications) setRecordWString(section, "ai", value, kRecordAppend);
}

}  // namespace

void setEngineStarter(std::function<void()> starter) { engineStarter = std::move(starter); }

bool loadAppConfiguration() {
    {
        std::lock_guard lock(configurationFileMutex);
        enterBuiltInDefaults();
        buildPaths();
        ensureConfigFolder();
        // First: it replaces the whole log, and reading the configuration
        // may log (a damaged file, a folder disabled).
        loadNotificationsFile();
        if (loadDataRecordFile(appDataRecord, "main", configFilePath, kDataFilePassPhrase))
            readMainSection();
        else
            keepDamagedFile(configFilePath);
        if (loadDataRecordFile(appDataRecord, "user", userFilePath, kDataFilePassPhrase))
            readUserSection();
        else
            keepDamagedFile(userFilePath);
        for (const std::wstring& key : watchFolderKeys()) loadFolderFileList(key);
    }
    // The records need the watch folders, and the engine adds to them from
    // its first run: loaded in between, none of its additions is replaced.
    loadVersionRecords();
    if (engineStarter) engineStarter();
    loadBackupSetNotesFile();
    configurationSaved = true;
    return true;
}

bool saveAppConfiguration() {
    std::lock_guard lock(configurationFileMutex);
    notSavedFiles.clear();
    const auto note = [](bool saved, const std::wstring& path) {
        if (!saved) notSavedFiles.push_back(path);
        return saved;
    };
    if (!note(ensureConfigFolder(), configFilePath)) return false;
    writeMainSection();
    bool saved = note(saveDataRecordFile(appDataRecord, "main", configFilePath, kDataFilePassPhrase), configFilePath);
    writeUserSection();
    saved = note(saveDataRecordFile(appDataRecord, "user", userFilePath, kDataFilePassPhrase), userFilePath) && saved;
    for (const std::wstring& key : watchFolderKeys()) saveFolderFileList(key);
    note(saveNotificationsFile(), configurationFilePath(L"Notifications.dat"));
    note(saveBackupSetNotesFile(), configurationFilePath(L"BS_Notes.dat"));
    if (saved) configurationSaved = true;
    return saved;
}

std::vector<std::wstring> configurationFilesNotSaved() {
    std::lock_guard lock(configurationFileMutex);
    return notSavedFiles;
}

bool ticksToMillis(const ScheduleTrigger& trigger, ScheduleRecord& record) {
    record.fill(0);
    record[0] = trigger.active ? 1 : 0;
    putLE(&record[2], static_cast<uint16_t>(trigger.repeatType), 2);
    record[4] = static_cast<uint8_t>(trigger.weekdayMask);
    const int64_t times[4] = {trigger.activationDate, trigger.creationTime, trigger.nextTrigger, trigger.lastTrigger};
    for (int i = 0; i < 4; ++i) putLE(&record[8 + 8 * i], static_cast<uint64_t>(times[i] / 10000), 8);
    putLE(&record[40], static_cast<uint16_t>(trigger.result), 2);
    return true;
}

bool millisToTicks(const ScheduleRecord& record, ScheduleTrigger& trigger) {
    trigger.active = record[0] ? 1 : 0;
    trigger.repeatType = static_cast<int32_t>(getLE(&record[2], 2));
    trigger.weekdayMask = record[4];
    int64_t* times[4] = {&trigger.activationDate, &trigger.creationTime, &trigger.nextTrigger, &trigger.lastTrigger};
    for (int i = 0; i < 4; ++i) *times[i] = static_cast<int64_t>(getLE(&record[8 + 8 * i], 8) * 10000u);
    trigger.result = static_cast<int32_t>(getLE(&record[40], 2));
    return true;
}

std::string encodeUInt64Field(uint64_t value) {
    std::string bytes(8, '\0');
    putLE(reinterpret_cast<uint8_t*>(bytes.data()), value, 8);
    return base64Convert(bytes);
}

uint64_t decodeUInt64Field(const std::string& text) {
    std::string bytes;
    if (!base64Decode(text, bytes) || bytes.size() != 8) return 0;
    return getLE(reinterpret_cast<const uint8_t*>(bytes.data()), 8);
}

std::string scheduleEntryName(const std::wstring& folderKey) {
    std::string name;
    for (wchar_t c : lowerCaseText(folderKey)) name += (c >= L'a' && c <= L'z') ? static_cast<char>(c) : '_';
    return name + "_sci";
}
