#include "engine/backup_sets.h"

#include <chrono>
#include <exception>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "engine/thread_registry.h"
#include "foundation/app_log.h"
#include "foundation/data_files.h"
#include "foundation/data_packet.h"
#include "foundation/data_record.h"
#include "foundation/file_helpers.h"
#include "foundation/global_defaults.h"
#include "foundation/text_format.h"
#include "foundation/watch_folders.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "foundation/texts.h"

BackupSetRecord currentBackupSet;
BackupSetRecord editedBackupSet;
std::wstring editedBackupSetPath;
std::mutex backupSetMutex;
std::atomic<bool> backupSetEditActive{false};

namespace {

const std::string kSetSection = "bc";
const std::string kLineEntry = "bi";
const std::string kNoteEntry = "note";
const std::wstring kEmptyField = L" ";

// Set while an edit runs, write-back included: an edit started while the
// last one still writes would load the file before that write.
std::atomic<bool> g_editRunning{false};

// The file of the running edit, and the set files removed this run, under
// `mutex` (held briefly; the windows read it). The edit is written back under
// `writeBack`, which a removal takes to mark its file: the removal is either
// after the write or keeps the write from happening.
struct SetFileMarks {
    std::mutex writeBack;
    std::mutex mutex;
    std::wstring editPath;
    std::set<std::wstring> removed;
};
SetFileMarks& setFileMarks() {
    static SetFileMarks* marks = new SetFileMarks;  // detached tasks may mark late
    return *marks;
}

struct EditRunningEnd {
    ~EditRunningEnd() {
        {
            std::lock_guard<std::mutex> lock(setFileMarks().mutex);
            setFileMarks().editPath.clear();
        }
        g_editRunning = false;
    }
};

// A report line of the notifications view: kinds other than 0 to 2 show
// field 2 as a bullet line.
std::string joinReportLine(int32_t kind, const std::string& text) { return joinReportFields(kind, "", text, ""); }

bool isWritten(const BackupSetEntry& entry) { return entry.copied || entry.listedCopied; }

// Fields of one "bi" line; an empty field is stored as one blank.
std::wstring makeSetLine(const BackupSetEntry& entry, const std::wstring& summary) {
    std::vector<std::wstring> fields = {entry.sourcePath, entry.archivePath, isWritten(entry) ? L"+" : L"-",
                                        entry.restore ? L"R" : L"0"};
    if (!summary.empty()) fields.push_back(summary);
    for (std::wstring& field : fields) {
        if (field.empty()) field = kEmptyField;
    }
    return joinListFields(fields);
}

std::wstring readField(const std::vector<std::wstring>& fields, size_t index) {
    if (index >= fields.size() || fields[index] == kEmptyField) return L"";
    return fields[index];
}

BackupSetEntry parseSetLine(const std::wstring& line) {
    const std::vector<std::wstring> fields = splitListFields(line);
    BackupSetEntry entry;
    entry.sourcePath = readField(fields, 0);
    entry.archivePath = readField(fields, 1);
    entry.listedCopied = readField(fields, 2) == L"+";
    entry.copied = entry.listedCopied && isExistingFile(entry.archivePath);
    entry.restore = readField(fields, 3) == L"R";
    entry.summary = readField(fields, 4);
    return entry;
}

void logSetNotWritten(const std::wstring& filePath) {
    const std::string line1 = joinReportLine(3, "file could not be created!");
    const std::string line2 = joinReportLine(3, wideToUtf8(filePath));
    appendAppLogMarkup(L"Backupset file not written" + std::wstring(kLineSeparatorW) + utf8ToWide(line1) +
                           std::wstring(kLineSeparatorW) + utf8ToWide(line2),
                       8, false);
}

bool ensureParentFolder(const std::wstring& filePath) {
    const std::wstring folder = withTrailingSeparator(parentFolder(filePath));
    if (folder.empty()) return false;
    return isExistingFolder(folder) || makeDirectoryPathWithSD(folder);
}

}  // namespace

std::wstring backupSetSummary(const BackupSetRecord& set) {
    uint64_t copiedCount = 0, bytes = 0, restoreCount = 0;
    for (const auto& [key, entry] : set.files) {
        if (!entry.copied) continue;
        ++copiedCount;
        if (entry.restore) ++restoreCount;
        uint64_t size = 0;
        if (getFileSize(entry.archivePath, size)) bytes += size;
    }
    const uint64_t all = set.files.size();
    return L"efc:" + std::to_wstring(copiedCount) + L",tf:" + std::to_wstring(all) + L",tm:" +
           std::to_wstring(all - copiedCount) + L",b:" + std::to_wstring(bytes) + L",str:" +
           std::to_wstring(restoreCount);
}

std::wstring backupSetFileName(const std::wstring& setName) {
    std::wstring name = setName;
    replaceAllW(name, L"/", L"_");
    replaceAllW(name, L":", L"-");
    return name + std::wstring(kBackupSetExtension);
}

std::wstring backupSetNameFromPath(const std::wstring& filePath) {
    std::wstring name = lastPathComponent(filePath);
    const size_t dot = name.rfind(L'.');
    if (dot != std::wstring::npos) name.resize(dot);
    replaceAllW(name, L"_", L"/");
    replaceAllW(name, L"-", L":");
    return name;
}

bool saveBackupSetFile(const std::wstring& filePath, const BackupSetRecord& set) {
    DataRecord document;
    addRecordSection(document, kSetSection);
    RecordSectionHandle section = getRecordSection(document, kSetSection);
    std::wstring summary = backupSetSummary(set);
    uint32_t index = 0;
    for (const auto& [key, entry] : set.files) {
        if (!isWritten(entry)) continue;
        setRecordWString(section, kLineEntry, makeSetLine(entry, summary), index++);
        summary.clear();
    }
    setRecordString(section, kNoteEntry, set.note, 0);
    const bool written = ensureParentFolder(filePath) && saveDataRecordFile(document, kSetSection, filePath, "");
    if (!written) logSetNotWritten(filePath);
    return written;
}

bool loadBackupSetFile(const std::wstring& filePath, BackupSetRecord& set) {
    if (!isExistingFile(filePath)) return false;
    DataRecord document;
    if (!loadDataRecordFile(document, kSetSection, filePath, "")) return false;
    RecordSectionHandle section = getRecordSection(document, kSetSection);
    BackupSetRecord loaded;
    loaded.name = backupSetNameFromPath(filePath);
    const size_t count = getRecordValueCount(section, kLineEntry);
    for (uint32_t index = 0; index < count; ++index) {
        std::wstring line;
        if (!getRecordWString(section, kLineEntry, line, index)) continue;
        BackupSetEntry entry = parseSetLine(line);
        const std::wstring key = entry.sourcePath;
        loaded.files.emplace(key, std::move(entry));
    }
    getRecordString(section, kNoteEntry, loaded.note, 0);
    set = std::move(loaded);
    return true;
}

void startCurrentBackupSet(const std::wstring& name) {
    std::lock_guard<std::mutex> lock(backupSetMutex);
    currentBackupSet = BackupSetRecord{};
    currentBackupSet.name = name;
}

void addCurrentBackupSetFile(const std::wstring& sourcePath) {
    BackupSetEntry entry;
    entry.sourcePath = sourcePath;
    entry.restore = true;
    std::lock_guard<std::mutex> lock(backupSetMutex);
    currentBackupSet.files.emplace(sourcePath, std::move(entry));
}

bool recordCurrentBackupSetCopy(const std::wstring& sourcePath, const std::wstring& archivePath, bool copied) {
    std::lock_guard<std::mutex> lock(backupSetMutex);
    auto found = currentBackupSet.files.find(sourcePath);
    if (found == currentBackupSet.files.end()) return false;
    found->second.copied = copied;
    found->second.archivePath = archivePath;
    return true;
}

BackupSetRecord currentBackupSetSnapshot() {
    std::lock_guard<std::mutex> lock(backupSetMutex);
    return currentBackupSet;
}

void clearCurrentBackupSet() {
    std::lock_guard<std::mutex> lock(backupSetMutex);
    currentBackupSet.files.clear();
}

bool saveCurrentBackupSet(const std::wstring& filePath) {
    return saveBackupSetFile(filePath, currentBackupSetSnapshot());
}

bool isBackupSetEditRunning() { return g_editRunning; }

std::wstring backupSetEditPath() {
    std::lock_guard<std::mutex> lock(setFileMarks().mutex);
    return setFileMarks().editPath;
}

void markBackupSetRemoved(const std::wstring& filePath) {
    std::lock_guard<std::mutex> writeBack(setFileMarks().writeBack);
    std::lock_guard<std::mutex> lock(setFileMarks().mutex);
    setFileMarks().removed.insert(filePath);
    // The items view on that set closes: its edit is written nowhere.
    if (setFileMarks().editPath == filePath) backupSetEditActive = false;
}

bool isBackupSetRemoved(const std::wstring& filePath) {
    std::lock_guard<std::mutex> lock(setFileMarks().mutex);
    return setFileMarks().removed.count(filePath) > 0;
}

void threadLoadAndEditRestoreFileSet(std::wstring filePath) {
    if (g_editRunning.exchange(true)) return;
    EditRunningEnd end;
    try {
        BackupSetRecord loaded;
        if (!loadBackupSetFile(filePath, loaded)) return;
        {
            std::lock_guard<std::mutex> lock(setFileMarks().mutex);
            setFileMarks().editPath = filePath;
            setFileMarks().removed.erase(filePath);  // a set written there again
        }
        {
            std::lock_guard<std::mutex> lock(backupSetMutex);
            editedBackupSet = loaded;
            editedBackupSetPath = filePath;
            backupSetEditActive = true;
        }
        while (backupSetEditActive && isApplicationRunning()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(timings().pollMs.load()));
        }
        BackupSetRecord edited;
        {
            std::lock_guard<std::mutex> lock(backupSetMutex);
            edited = editedBackupSet;
        }
        // Only an edit is written back; an unedited set gains nothing by it,
        // and a removed one would come back.
        std::lock_guard<std::mutex> writeBack(setFileMarks().writeBack);
        if ((edited.files != loaded.files || edited.note != loaded.note) && !isBackupSetRemoved(filePath))
            saveBackupSetFile(filePath, edited);
    } catch (...) {
        // The items view closes with its edit flag rather than stay open on
        // an edit that is no longer written anywhere.
        backupSetEditActive = false;
        appendAppLogEntry(L"BOOM in threadLoadAndEditRestoreFileSet", 8, false);
    }
}

bool isBackupSetFilling() {
    std::lock_guard<std::mutex> lock(backupSetMutex);
    return !currentBackupSet.files.empty();
}

std::wstring fillingBackupSetFolder() {
    std::wstring first;
    {
        std::lock_guard<std::mutex> lock(backupSetMutex);
        if (currentBackupSet.files.empty()) return std::wstring();
        first = currentBackupSet.files.begin()->first;
    }
    return findWatchFolderOfFile(first);
}
