#include "engine/default_watch_folder.h"

#include "engine/archive_prepare.h"
#include "foundation/archive_root.h"
#include "foundation/file_helpers.h"
#include "foundation/watch_folders.h"
#include "platform/file_system.h"
#include "platform/paths.h"

std::wstring addDefaultWatchFolder() {
    const std::wstring folder = expandEnvironmentPlaceholders(L"{{USERPROFILE}}/Documents");
    // An unset variable expands to "?": never create or watch such a path.
    if (!isAbsolutePath(folder) || !isExistingFolder(folder)) return L"";
    const std::wstring archive = prepareArchiveFolder(folder);
    if (archive.empty()) return L"";

    WatchFolderEntry entry;
    entry.displayName = lastPathComponent(folder);
    entry.archivePath = archive;
    if (!updateWatchFolderList(folder, entry, false)) return L"";
    // Every type is archived, as for a folder added with " Add ": an entry
    // without extensions would protect nothing.
    addWatchFolderExtension(pathKey(folder), L"*");
    configurationSaved = false;
    prepareArchiveThread(folder, archive);
    return pathKey(folder);
}
