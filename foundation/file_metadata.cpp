#include "foundation/file_metadata.h"

#include <mutex>
#include <vector>

#include "foundation/file_helpers.h"
#include "foundation/watch_folders.h"
#include "platform/paths.h"

namespace {

std::wstring archivePathOfFolder(const std::wstring& folder) {
    std::lock_guard<std::mutex> lock(watchFolderMutex);
    const auto it = watchFolderMap.find(pathKey(folder));
    return it == watchFolderMap.end() ? std::wstring() : pathKey(withoutTrailingSeparators(it->second.archivePath));
}

// The file's path with a leading archive path replaced by "." (only where the
// path lies inside it; the same text further on is part of a name).
std::wstring keyTextOf(const std::wstring& file, const std::wstring& base) {
    const std::wstring key = pathKey(file);
    if (base.empty() || !pathIsInside(key, base)) return key;
    return L"." + key.substr(base.size());
}

}  // namespace

bool collectArchivedFiles(const std::wstring& folder, ArchivedFileList& out) {
    if (isExistingFile(folder)) return false;
    const std::wstring resolved = withoutTrailingSeparators(folder);
    std::vector<std::wstring> files;
    listFilesRecursive(resolved, files, true);
    const std::wstring base = archivePathOfFolder(resolved);
    for (const std::wstring& file : files) {
        const std::wstring keyText = keyTextOf(file, base);
        out.files.try_emplace(keyText, ArchivedFileRecord{keyText, file, true, true, std::wstring()});
    }
    out.statusText.clear();
    return true;
}
