#include "foundation/archive_root.h"

#include "foundation/global_defaults.h"
#include "foundation/watch_folders.h"
#include "platform/file_system.h"
#include "platform/paths.h"

namespace {

bool isFolder(const std::wstring& path) {
    const uint32_t attributes = readFileAttributes(path);
    return attributes != kInvalidFileAttributes && (attributes & kFileAttributeDirectory);
}

std::wstring archiveRootOf(const std::wstring& root) { return root + std::wstring(kArchiveRootFolderName) + kPathSeparatorText; }

}  // namespace

ArchiveDriveList listArchiveDrives() {
    ArchiveDriveList drives;
    for (const std::wstring& root : listWritableDriveRoots()) {
        uint64_t freeBytes = 0;
        if (readFreeSpace(root, freeBytes)) drives.emplace(freeBytes, root);  // first of equals stays
    }
    return drives;
}

std::wstring prepareArchiveFolderOn(const std::wstring& path, const ArchiveDriveList& drives) {
    const std::wstring key = pathKey(path);
    if (key.find(kPathSeparator) == std::wstring::npos) return L"";
    const std::wstring name = lastPathComponent(key);
    if (name.empty()) return L"";
    for (const auto& [freeBytes, root] : drives)
        if (isFolder(archiveRootOf(root))) return archiveRootOf(root) + name;
    for (const auto& [freeBytes, root] : drives)
        if (makeFolder(archiveRootOf(root), kDefaultFolderMode) && isFolder(archiveRootOf(root)))
            return archiveRootOf(root) + name;
    return L"";
}

std::wstring prepareArchiveFolder(const std::wstring& path) { return prepareArchiveFolderOn(path, listArchiveDrives()); }
