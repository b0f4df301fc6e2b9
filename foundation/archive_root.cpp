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

// The folder's own archive folder below a drive's archive root: never one that
// another watch folder archives into, nor one that overlaps a watch folder.
std::wstring proposalOn(const std::wstring& path, const std::wstring& root) {
    const std::wstring proposal = uniqueArchiveFolder(path, archiveRootOf(root));
    if (proposal.empty() || !archiveLocationConflict(path, proposal).empty()) return L"";
    return proposal;
}

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
    if (lastPathComponent(key).empty()) return L"";
    for (const auto& [freeBytes, root] : drives) {
        const std::wstring proposal = proposalOn(path, root);
        if (!proposal.empty() && isFolder(archiveRootOf(root))) return proposal;
    }
    for (const auto& [freeBytes, root] : drives) {
        const std::wstring proposal = proposalOn(path, root);
        if (!proposal.empty() && makeFolder(archiveRootOf(root), kPrivateFolderMode) && isFolder(archiveRootOf(root)))
            return proposal;
    }
    return L"";
}

std::wstring prepareArchiveFolder(const std::wstring& path) { return prepareArchiveFolderOn(path, listArchiveDrives()); }
