// The first-run set-up: the data folder with its configuration and metadata
// folders, and the style files and the guide copied from the program folder.
#include <cstdio>

#include "foundation/app_log.h"
#include "foundation/data_files.h"
#include "foundation/file_helpers.h"
#include "foundation/global_defaults.h"
#include "foundation/security.h"
#include "foundation/watch_folders.h"
#include "platform/file_copy.h"
#include "platform/file_system.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "shell/program_entry.h"

namespace {
void logCritical(const std::wstring& text) {
    appendAppLogEntry(text, 8, true);
    // The set-up ends the process, and the log is not saved without a data folder.
    std::fprintf(stderr, "%s\n", wideToUtf8(text).c_str());
}

// Removes everything below `folder` but `keep` and the folders holding it.
void removeAllBut(const std::wstring& folder, const std::wstring& keep) {
    std::vector<FolderEntry> entries;
    if (!listFolderEntries(folder, entries)) return;
    for (const FolderEntry& entry : entries) {
        const std::wstring path = joinPath(folder, entry.name);
        if (path == keep) continue;
        if (entry.isFolder && pathIsInside(keep, path))
            removeAllBut(path, keep);
        else if (entry.isFolder)
            removeFolderTree(path);
        else
            removeFile(path);
    }
}

void copyInstallData(const std::wstring& programFolder, const std::wstring& configFolder) {
    if (programFolder.empty()) return;
    const std::wstring names[] = {L"Styles/Style_0.dat", L"Styles/Style_1.dat", L"Styles/Style_2.dat",
                                  L"Styles/Style_3.dat", std::wstring(kGuideFileName)};
    for (const std::wstring& name : names) {
        const std::wstring target = configFolder + name;
        if (!isExistingFile(target)) makeDirectoryPathWithSD(target);
        copyFile(joinPath(programFolder, name), target, false);  // failures are not reported
    }
}
}  // namespace

int runInstallBlock(bool reset, const std::wstring& programFolder) {
    setCurrentStep("install block");
    const std::wstring parent = expandEnvironmentPlaceholders(std::wstring(kDataFolderParent));
    if (reset) {
        setCurrentStep("install block/remove folder");
        // The lock file this start holds stays: removed, a second start
        // could make a new one and take a lock of its own meanwhile.
        removeAllBut(parent, instanceLockFilePath());
    }
    setCurrentStep("install block/makeDirectoryPathWithSD");
    const std::wstring configFolder = withTrailingSeparator(configurationFolderPath());
    bool created = isExistingFolder(configFolder) || makeDirectoryPathWithSD(configFolder);
    if (!created) logCritical(L"Critical! - Unable to create application data storage area");
    if (isExistingFolder(configFolder)) {
        setCurrentStep("install block/copy install data");
        copyInstallData(programFolder, configFolder);
    } else {
        logCritical(L"Critical! - Unable to install application data");
    }
    const std::wstring metadataFolder = withTrailingSeparator(joinPath(dataFolderPath(), kMetadataFolderName));
    if (!isExistingFolder(metadataFolder) && !makeDirectoryPathWithSD(metadataFolder))
        logCritical(L"Critical! - Unable to create metadata storage area");
    return isExistingFolder(configFolder) && isExistingFolder(metadataFolder) ? 0 : kExitInstallFailed;
}

