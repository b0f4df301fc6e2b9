#include "engine/restore_folders.h"

#include <map>
#include <mutex>
#include <set>
#include <utility>

#include "foundation/data_files.h"
#include "foundation/data_packet.h"
#include "foundation/data_record.h"
#include "foundation/file_helpers.h"
#include "foundation/global_defaults.h"
#include "platform/file_copy.h"
#include "platform/file_system.h"
#include "platform/paths.h"

namespace {

constexpr const char* kSection = "restorefolders";
constexpr const char* kEntry = "rf";

// Guards the folders below and the file, so the file always holds them all.
std::mutex g_foldersMutex;
std::map<uint64_t, std::vector<RestoreFolder>> g_running;
uint64_t g_lastToken = 0;
// The folders an earlier run left in the file, read once before this run
// first rewrites it and kept there until the recovery has cleaned them.
bool g_leftoverRead = false;
std::vector<RestoreFolder> g_leftover;

std::vector<RestoreFolder> readFoldersFile() {
    std::vector<RestoreFolder> folders;
    const std::wstring path = restoreFoldersFilePath();
    DataRecord document;
    if (!isExistingFile(path) || !loadDataRecordFile(document, kSection, path, kDataFilePassPhrase)) return folders;
    const RecordSectionHandle section = getRecordSection(document, kSection);
    const size_t count = getRecordValueCount(section, kEntry);
    for (uint32_t i = 0; i < count; ++i) {
        std::wstring text;
        if (!getRecordWString(section, kEntry, text, i)) continue;
        const std::vector<std::wstring> fields = splitListFields(text);
        // Only a folder at or below its root: the text alone never leads elsewhere.
        if (fields.size() != 2 || !isAbsolutePath(fields[0]) || hasDotComponent(fields[0])) continue;
        if (fields[1] == fields[0] || isPathBelow(fields[1], fields[0])) folders.push_back({fields[0], fields[1]});
    }
    return folders;
}

// Writes every folder noted now; the caller holds g_foldersMutex.
void saveFoldersFile() {
    std::set<std::pair<std::wstring, std::wstring>> all;
    for (const RestoreFolder& folder : g_leftover) all.emplace(folder.root, folder.folder);
    for (const auto& [token, folders] : g_running)
        for (const RestoreFolder& folder : folders) all.emplace(folder.root, folder.folder);
    const std::wstring path = restoreFoldersFilePath();
    if (all.empty()) {
        if (isExistingFile(path)) removeFile(path);
        return;
    }
    const std::wstring configuration = configurationFolderPath();
    if (!isExistingFolder(configuration) && !makeDirectoryPathWithSD(configuration + kPathSeparatorText)) return;
    DataRecord document;
    addRecordSection(document, kSection);
    const RecordSectionHandle section = getRecordSection(document, kSection);
    for (const auto& [root, folder] : all) setRecordWString(section, kEntry, joinListFields({root, folder}), kRecordAppend);
    saveDataRecordFile(document, kSection, path, kDataFilePassPhrase);
}

}  // namespace

std::wstring restoreFoldersFilePath() { return configurationFilePath(L"RestoreFolders.dat"); }

uint64_t noteRestoreFolders(const std::vector<RestoreFolder>& folders) {
    std::lock_guard<std::mutex> lock(g_foldersMutex);
    if (!g_leftoverRead) g_leftover = readFoldersFile();
    g_leftoverRead = true;
    const uint64_t token = ++g_lastToken;
    g_running[token] = folders;
    saveFoldersFile();
    return token;
}

void forgetRestoreFolders(uint64_t token) {
    std::lock_guard<std::mutex> lock(g_foldersMutex);
    if (g_running.erase(token) != 0) saveFoldersFile();
}

size_t removeRestoreLeftovers(int64_t beforeTicks) {
    std::vector<RestoreFolder> folders;
    {
        std::lock_guard<std::mutex> lock(g_foldersMutex);
        folders = readFoldersFile();
    }
    size_t removed = 0;
    for (const RestoreFolder& folder : folders)
        removed += removeStaleCopyTemporariesIn(folder.root, folder.folder, beforeTicks);
    std::lock_guard<std::mutex> lock(g_foldersMutex);
    g_leftover.clear();
    g_leftoverRead = true;
    saveFoldersFile();
    return removed;
}
