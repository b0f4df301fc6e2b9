#include "windows/folder_choice.h"

#include "engine/archive_prepare.h"
#include "engine/thread_registry.h"
#include "foundation/app_log.h"
#include "foundation/archive_root.h"
#include "foundation/data_files.h"
#include "foundation/global_defaults.h"
#include "foundation/watch_folders.h"
#include "platform/file_system.h"
#include "platform/paths.h"
#include "shell/buttons.h"
#include "windows/main_window.h"

namespace {

bool isRefusedWatchFolder(const std::wstring& path) {
    return path == L"/" || pathIsInside(path, dataFolderPath());
}

// The proposed archive root, or the configured default root, whichever
// keeps the archive folder outside the watch folder; empty when neither does.
std::wstring archiveForNewFolder(const std::wstring& folder) {
    for (const std::wstring& candidate :
         {prepareArchiveFolder(folder), expandEnvironmentPlaceholders(std::wstring(kDefaultArchiveRoot))}) {
        if (candidate.empty() || !isAbsolutePath(candidate)) continue;
        if (!pathIsInside(archiveFolderFor(folder, candidate), folder)) return candidate;
    }
    return L"";
}

std::wstring storedArchivePath(const std::wstring& key) {
    std::lock_guard<std::mutex> lock(watchFolderMutex);
    auto it = watchFolderMap.find(key);
    return it == watchFolderMap.end() ? std::wstring() : it->second.archivePath;
}

}  // namespace

bool addChosenWatchFolder(const std::wstring& chosen) {
    const std::wstring path = withoutTrailingSeparators(chosen);
    if (!isAbsolutePath(path) || isRefusedWatchFolder(path)) {
        appendAppLogEntry(L"Folder not added, it cannot be a watch folder: " + path, 4, true);
        return false;
    }
    const std::wstring archive = archiveForNewFolder(path);
    if (archive.empty()) {
        appendAppLogEntry(L"Folder not added, no archive folder outside it was found: " + path, 4, true);
        return false;
    }
    WatchFolderEntry entry;
    entry.archivePath = archive;
    if (!updateWatchFolderList(path, entry, false)) return false;  // already listed: the list keeps it
    configurationSaved = false;
    setUIButtonState("afdr", kButtonEnabled);
    const std::wstring key = pathKey(path);
    addWatchFolderExtension(key, L"*");
    mainWindow.lastChosenFolder = withTrailingSeparator(parentFolder(path));
    // A revived entry keeps the archive it had.
    const std::wstring stored = storedArchivePath(key);
    try {
        startEngineThread([path, stored] { prepareArchiveThread(path, stored); });
    } catch (...) {
    }
    return true;
}

bool changeSelectedArchive(const std::wstring& chosenPath) {
    const std::wstring key = mainWindow.selectedKey;
    const std::wstring archive = withoutTrailingSeparators(chosenPath);
    if (key.empty() || !isAbsolutePath(archive)) return false;
    if (pathIsInside(archiveFolderFor(key, archive), key)) {
        appendAppLogEntry(L"Archive folder refused, it lies inside its watch folder: " + archive, 4, true);
        return false;
    }
    try {
        startEngineThread([key, archive] { prepareArchiveThread(key, archive); });
    } catch (...) {
        return false;
    }
    return true;
}
