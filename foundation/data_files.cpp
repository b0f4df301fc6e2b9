#include "foundation/data_files.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <set>

#include "foundation/app_log.h"
#include "foundation/data_packet.h"
#include "foundation/data_record.h"
#include "foundation/file_helpers.h"
#include "foundation/text_format.h"
#include "foundation/watch_folders.h"
#include "platform/paths.h"
#include "platform/text.h"

std::map<std::wstring, std::string> backupSetNotesMap;
std::mutex backupSetNotesMutex;

namespace {

const char* const kNotificationsSection = "notifications";
const char* const kNotesSection = "bsnotes";
const char* const kFileListSection = "md";
const char* const kListEntry = "ni";
// One value per "ni" value, at the same index: "1" when the user confirmed the
// notification. Files without it read as nothing confirmed.
const char* const kConfirmedEntry = "nc";
const std::wstring kFieldSep = L"[|]";
const std::wstring kLineSep = L"[||]";
const char* const kFileListEntry = "mi";
const std::wstring kEscapedLineSep(L"[|\0|]", 5);

// The section of `appDataRecord` that holds one data file, with its list emptied.
RecordSectionHandle emptiedListSection(const char* sectionName, const char* entryName) {
    addRecordSection(appDataRecord, sectionName);
    RecordSectionHandle section = getRecordSection(appDataRecord, sectionName);
    removeRecordValue(section, entryName, kRecordAppend);
    return section;
}

bool ensureConfigurationFolder() {
    const std::wstring folder = configurationFolderPath();
    return isExistingFolder(folder) || makeDirectoryPathWithSD(folder + kPathSeparatorText);
}

template <typename T>
std::string littleEndianBytes(T value) {
    std::string bytes(sizeof(T), '\0');
    for (size_t i = 0; i < sizeof(T); ++i) bytes[i] = static_cast<char>((static_cast<uint64_t>(value) >> (8 * i)) & 0xFF);
    return bytes;
}

// Decodes a base64 number field; false unless it is exactly sizeof(T) bytes,
// so a damaged field never spills past the number.
template <typename T>
bool decodeNumberField(const std::wstring& field, T& out) {
    std::string bytes;
    if (!base64Decode(wideToUtf8(field), bytes) || bytes.size() != sizeof(T)) return false;
    uint64_t value = 0;
    for (size_t i = 0; i < sizeof(T); ++i) value |= static_cast<uint64_t>(static_cast<unsigned char>(bytes[i])) << (8 * i);
    out = static_cast<T>(value);
    return true;
}

// Joins fields [first, last) back with the separator they were split at.
std::wstring joinFields(const std::vector<std::wstring>& fields, size_t first, size_t last, const std::wstring& separator) {
    std::wstring text;
    for (size_t i = first; i < last && i < fields.size(); ++i) {
        if (i > first) text += separator;
        text += fields[i];
    }
    return text;
}

// Notifications: kind, time, the text up to its first "[||]", the rest as
// base64 (of UTF-8, so that non-Latin text survives).
std::wstring notificationLine(const AppLogEntry& entry) {
    const size_t cut = entry.key.find(kLineSep);
    const std::wstring head = entry.key.substr(0, cut);
    std::wstring rest;
    if (cut != std::wstring::npos) rest = utf8ToWide(base64Convert(wideToUtf8(entry.key.substr(cut + kLineSep.size()))));
    const std::vector<std::wstring> fields = {utf8ToWide(base64Convert(littleEndianBytes(entry.kind))),
                                              utf8ToWide(base64Convert(littleEndianBytes(entry.time))), head, rest};
    std::wstring line;
    joinWString(fields, kFieldSep, line);
    return line;
}

// The text field may hold "[|]" itself; the number fields and the base64 rest
// never do, so the text is everything between the second and the last field.
bool parseNotificationLine(const std::wstring& line, AppLogEntry& entry) {
    std::vector<std::wstring> fields;
    splitWString(line, kFieldSep, fields);
    if (fields.size() < 3) return false;
    if (!decodeNumberField(fields[0], entry.kind) || !decodeNumberField(fields[1], entry.time)) return false;
    const size_t textEnd = fields.size() >= 4 ? fields.size() - 1 : fields.size();
    entry.key = joinFields(fields, 2, textEnd, kFieldSep);
    if (fields.size() >= 4 && !fields.back().empty()) {
        std::string rest;
        if (!base64Decode(wideToUtf8(fields.back()), rest)) return false;
        entry.key += kLineSep + utf8ToWide(rest);
    }
    return true;
}

// Typed text of a "crc32" entry of type 2 holding the key: base64 of the type
// code (2 bytes) and the key (4 bytes), little-endian.
std::wstring fileKeyText(uint32_t key) {
    return utf8ToWide(base64Convert(littleEndianBytes<uint16_t>(kRecordInt32) + littleEndianBytes(key)));
}

bool parseFileKeyText(const std::wstring& text, uint32_t& key) {
    std::string bytes;
    if (!base64Decode(wideToUtf8(text), bytes) || bytes.size() != 6) return false;
    if (bytes[0] != static_cast<char>(kRecordInt32) || bytes[1] != 0) return false;
    key = 0;
    for (size_t i = 0; i < 4; ++i) key |= static_cast<uint32_t>(static_cast<unsigned char>(bytes[2 + i])) << (8 * i);
    return true;
}

// Copies a watch folder's file map; false when the folder is not listed.
bool copyFolderFileMap(const std::wstring& folderPath, std::map<uint32_t, FolderFileItem>& files) {
    std::lock_guard<std::mutex> lock(watchFolderMutex);
    const auto it = watchFolderMap.find(pathKey(folderPath));
    if (it == watchFolderMap.end()) return false;
    files = it->second.fileMap;
    return true;
}

}  // namespace

std::wstring dataFolderPath() {
    const char* localAppData = std::getenv("LOCALAPPDATA");
    const std::wstring base = localAppData && *localAppData ? utf8ToWide(localAppData) : L"?";
    return base + L"/Morvane/QZR";
}

std::wstring configurationFolderPath() { return dataFolderPath() + L"/ConfigData"; }

std::wstring instanceLockFilePath() { return dataFolderPath() + L"/Varnholt.lock"; }

std::wstring configurationFilePath(const std::wstring& fileName) {
    return joinPath(configurationFolderPath(), fileName);
}

bool saveNotificationsFile() {
    if (!ensureConfigurationFolder()) return false;
    const std::vector<AppLogEntry> entries = appLogSnapshot().entries;
    RecordSectionHandle section = emptiedListSection(kNotificationsSection, kListEntry);
    removeRecordValue(section, kConfirmedEntry, kRecordAppend);
    for (const AppLogEntry& entry : entries) {
        setRecordWString(section, kListEntry, notificationLine(entry), kRecordAppend);
        setRecordString(section, kConfirmedEntry, entry.confirmed ? "1" : "0", kRecordAppend);
    }
    return saveDataRecordFile(appDataRecord, kNotificationsSection, configurationFilePath(L"Notifications.dat"),
                              kDataFilePassPhrase);
}

bool loadNotificationsFile() {
    ensureConfigurationFolder();
    if (!loadDataRecordFile(appDataRecord, kNotificationsSection, configurationFilePath(L"Notifications.dat"),
                            kDataFilePassPhrase))
        return false;
    RecordSectionHandle section = getRecordSection(appDataRecord, kNotificationsSection);
    std::vector<AppLogEntry> entries;
    const size_t count = getRecordValueCount(section, kListEntry);
    for (size_t i = 0; i < count; ++i) {
        std::wstring line;
        AppLogEntry entry;
        if (!getRecordWString(section, kListEntry, line, static_cast<uint32_t>(i)) || !parseNotificationLine(line, entry))
            continue;
        std::string confirmed;
        entry.confirmed = getRecordString(section, kConfirmedEntry, confirmed, static_cast<uint32_t>(i)) && confirmed == "1";
        entries.push_back(entry);
    }
    mergeAppLogEntries(entries);
    return true;
}

bool saveBackupSetNotesFile() {
    if (!ensureConfigurationFolder()) return false;
    std::map<std::wstring, std::string> notes;
    {
        std::lock_guard<std::mutex> lock(backupSetNotesMutex);
        notes = backupSetNotesMap;
    }
    RecordSectionHandle section = emptiedListSection(kNotesSection, kListEntry);
    for (const auto& [key, note] : notes) {
        if (!note.empty()) setRecordWString(section, kListEntry, key + kFieldSep + utf8ToWide(note), kRecordAppend);
    }
    return saveDataRecordFile(appDataRecord, kNotesSection, configurationFilePath(L"BS_Notes.dat"), kDataFilePassPhrase);
}

bool loadBackupSetNotesFile() {
    ensureConfigurationFolder();
    if (!loadDataRecordFile(appDataRecord, kNotesSection, configurationFilePath(L"BS_Notes.dat"), kDataFilePassPhrase))
        return false;
    RecordSectionHandle section = getRecordSection(appDataRecord, kNotesSection);
    const size_t count = getRecordValueCount(section, kListEntry);
    std::map<std::wstring, std::string> notes;
    for (size_t i = 0; i < count; ++i) {
        std::wstring line;
        if (!getRecordWString(section, kListEntry, line, static_cast<uint32_t>(i))) continue;
        std::vector<std::wstring> fields;
        splitWString(line, kFieldSep, fields);
        // The note may hold the separator: it is everything after the key.
        notes[fields[0]] = wideToUtf8(joinFields(fields, 1, fields.size(), kFieldSep));
    }
    std::lock_guard<std::mutex> lock(backupSetNotesMutex);
    for (auto& [key, note] : notes) backupSetNotesMap[key] = std::move(note);
    return true;
}

std::wstring folderFileListName(const std::wstring& folderPath) {
    std::wstring name = folderPath;
    for (wchar_t& c : name) {
        if (c == kPathSeparator || c == L':' || c == L'.') c = L'_';
    }
    return name + L".dat";
}

bool saveFolderFileList(const std::wstring& folderPath) {
    std::map<uint32_t, FolderFileItem> files;
    if (!copyFolderFileMap(folderPath, files)) return false;
    if (!ensureConfigurationFolder()) return false;
    // A document of its own: lists of different folders never mix.
    DataRecord document;
    addRecordSection(document, kFileListSection);
    RecordSectionHandle section = getRecordSection(document, kFileListSection);
    for (const auto& [key, item] : files) {
        const std::vector<std::wstring> fields = {item.exists ? L"e" : L"0", fileKeyText(key), item.path};
        std::wstring line;
        joinWString(fields, kLineSep, line);
        setRecordWString(section, kFileListEntry, line, kRecordAppend);
    }
    return saveDataRecordFile(document, kFileListSection, configurationFilePath(folderFileListName(folderPath)),
                              kDataFilePassPhrase);
}

bool loadFolderFileList(const std::wstring& folderPath) {
    std::map<uint32_t, FolderFileItem> unused;
    if (!copyFolderFileMap(folderPath, unused)) return false;
    const std::wstring path = configurationFilePath(folderFileListName(folderPath));
    if (!isExistingFile(path)) return false;
    DataRecord document;
    if (!loadDataRecordFile(document, kFileListSection, path, kDataFilePassPhrase)) return false;
    RecordSectionHandle section = getRecordSection(document, kFileListSection);
    std::map<uint32_t, FolderFileItem> loaded;
    const size_t count = getRecordValueCount(section, kFileListEntry);
    for (size_t i = 0; i < count; ++i) {
        std::wstring line;
        if (!getRecordWString(section, kFileListEntry, line, static_cast<uint32_t>(i))) continue;
        std::vector<std::wstring> fields;
        splitWString(line, kLineSep, fields);
        uint32_t key = 0;
        if (fields.size() < 3 || !parseFileKeyText(fields[1], key)) continue;
        // A path may hold the separator itself: it is everything after the key.
        loaded[key] = FolderFileItem{joinFields(fields, 2, fields.size(), kLineSep), fields[0] == L"e"};
    }
    std::lock_guard<std::mutex> lock(watchFolderMutex);
    const auto it = watchFolderMap.find(pathKey(folderPath));
    if (it == watchFolderMap.end()) return false;
    for (auto& [key, item] : loaded) it->second.fileMap[key] = std::move(item);
    return true;
}

double measureFolderFileList(const std::wstring& folderKey) {
    bool recursive = false;
    {
        std::lock_guard<std::mutex> lock(watchFolderMutex);
        const auto it = watchFolderMap.find(folderKey);
        if (it == watchFolderMap.end() || it->second.fileMap.empty()) return 0.0;
        recursive = it->second.folderType == kFolderTypeDescendents;
    }
    std::vector<std::wstring> files;
    listFilesRecursive(folderKey, files, recursive);
    const uint32_t folderCrc = computeCrc32(0, wideToUtf8(folderKey));
    std::set<uint32_t> found;
    for (const std::wstring& file : files) found.insert(computeCrc32(folderCrc, wideToUtf8(pathKey(file))));

    std::lock_guard<std::mutex> lock(watchFolderMutex);
    const auto it = watchFolderMap.find(folderKey);
    if (it == watchFolderMap.end() || it->second.fileMap.empty()) return 0.0;
    size_t flagged = 0;
    for (auto& [key, item] : it->second.fileMap) {
        item.exists = found.count(key) > 0;
        if (item.exists) ++flagged;
    }
    it->second.existingShare = static_cast<double>(flagged) / static_cast<double>(it->second.fileMap.size());
    return it->second.existingShare;
}

std::wstring joinListFields(const std::vector<std::wstring>& fields) {
    std::wstring text;
    for (size_t i = 0; i < fields.size(); ++i) {
        std::wstring field = fields[i];
        replaceAllW(field, kLineSep, kEscapedLineSep);
        if (i > 0) text += kLineSep;
        text += field;
    }
    return text;
}

std::vector<std::wstring> splitListFields(const std::wstring& text) {
    std::vector<std::wstring> fields;
    splitWString(text, kLineSep, fields);
    for (std::wstring& field : fields) replaceAllW(field, kEscapedLineSep, kLineSep);
    return fields;
}

bool joinWString(const std::vector<std::wstring>& list, const std::wstring& separator, std::wstring& out) {
    out.clear();
    for (size_t i = 0; i < list.size(); ++i) {
        if (i > 0) out += separator;
        out += list[i];
    }
    return true;
}

namespace {

template <typename Text>
void splitText(const Text& text, const Text& separator, std::vector<Text>& out) {
    out.clear();
    if (separator.empty()) {
        out.push_back(text);
        return;
    }
    size_t start = 0;
    for (size_t at = text.find(separator); at != Text::npos; at = text.find(separator, start)) {
        out.push_back(text.substr(start, at - start));
        start = at + separator.size();
    }
    out.push_back(text.substr(start));
}

}  // namespace

bool splitWString(const std::wstring& text, const std::wstring& separator, std::vector<std::wstring>& out) {
    splitText(text, separator, out);
    return true;
}

bool splitString(const std::string& text, const std::string& separator, std::vector<std::string>& out) {
    splitText(text, separator, out);
    return true;
}
