#include <string>
#include <vector>

#include "foundation/app_config.h"
#include "foundation/data_files.h"
#include "foundation/global_defaults.h"
#include "foundation/watch_folders.h"
#include "platform/paths.h"
#include "platform/text.h"

namespace {

// Splits a ";" list and expands each item's placeholders.
std::vector<std::wstring> expandedList(const std::wstring& list) {
    std::vector<std::wstring> items;
    std::wstring item;
    for (wchar_t c : list + L";") {
        if (c != L';') {
            item += c;
            continue;
        }
        if (!item.empty()) items.push_back(expandEnvironmentPlaceholders(item));
        item.clear();
    }
    return items;
}

}  // namespace

void enterBuiltInDefaults() {
    for (const std::wstring& folder : expandedList(std::wstring(kSystemFolderList))) {
        WatchFolderEntry entry;
        entry.folderType = kFolderTypeExclude;
        updateWatchFolderList(folder, entry, true);
    }
    for (const std::wstring& extension : expandedList(std::wstring(kDefaultExtensionList)))
        setExtensionEntry(extension, extension, true);
}

void buildPaths() {
    const std::wstring configFolder = configurationFolderPath();
    metadataFolderPath = joinPath(dataFolderPath(), kMetadataFolderName);
    configFilePath = joinPath(configFolder, utf8ToWide(kConfigFileName));
    userFilePath = joinPath(configFolder, utf8ToWide(kUserFileName));
    traceLogPath = wideToUtf8(joinPath(configFolder, utf8ToWide(kTraceLogFileName)));
}

