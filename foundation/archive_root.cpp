#include "foundation/archive_root.h"

#include <mutex>
#include <set>

#include "foundation/app_log.h"
#include "foundation/global_defaults.h"
#include "foundation/watch_folders.h"
#include "platform/file_system.h"
#include "platform/paths.h"
#include "platform/safe_folders.h"

namespace {

bool isFolder(const std::wstring& path) {
    const uint32_t attributes = readFileAttributes(path);
    return attributes != kInvalidFileAttributes && (attributes & kFileAttributeDirectory);
}

std::mutex g_foreignLoggedMutex;
std::set<std::wstring> g_foreignLogged;

std::wstring octalMode(unsigned mode) {
    std::wstring text;
    for (int shift = 9; shift >= 0; shift -= 3) text += static_cast<wchar_t>(L'0' + ((mode >> shift) & 7));
    return text;
}

void logForeignFolderOnce(const std::wstring& text) {
    {
        std::lock_guard<std::mutex> lock(g_foreignLoggedMutex);
        if (!g_foreignLogged.insert(text).second) return;
    }
    appendAppLogEntry(text, 4, false);
}

// Why the way to a root is refused, and what the user can change about it.
std::wstring refusalText(const RootRefusal& refusal) {
    const std::wstring uid = L"uid " + std::to_wstring(refusal.owner);
    const std::wstring mode = L"mode " + octalMode(refusal.mode);
    switch (refusal.kind) {
    case RootRefusalKind::FolderOfAnotherUser:
        return L"the folder " + refusal.place + L" on its way belongs to another user (" + uid + L")";
    case RootRefusalKind::FolderOthersCanChange:
        return L"group or others can change the folder " + refusal.place + L" on its way (" + mode + L")";
    case RootRefusalKind::LinkOfAnotherUser:
        return L"the link " + refusal.place + L" on its way belongs to another user (" + uid + L")";
    case RootRefusalKind::LinkInOpenFolder:
        return L"the link " + refusal.place + L" on its way lies in a folder group or others can change (" + mode + L")";
    case RootRefusalKind::RootOfAnotherUser:
        return L"it belongs to another user (" + uid + L") and lies in a folder group or others can change (" + mode + L")";
    case RootRefusalKind::None:
        break;
    }
    return L"";
}

std::wstring refusalRemedy(const RootRefusal& refusal) {
    switch (refusal.kind) {
    case RootRefusalKind::FolderOfAnotherUser:
        return L"choose a folder reached through your own or root's folders only";
    case RootRefusalKind::RootOfAnotherUser:
        return L"choose a folder of your own";
    case RootRefusalKind::FolderOthersCanChange:
        return L"remove their write permission there (chmod go-w) or set its sticky bit (chmod +t)";
    default:
        return L"name the folder the link points to instead";
    }
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

void logRefusedFolder(const RootRefusal& refusal, const std::wstring& what, const std::wstring& path) {
    if (refusal.kind == RootRefusalKind::None) return;
    logForeignFolderOnce(what + L" not used, " + refusalText(refusal) + L": " + path + L" - " + refusalRemedy(refusal));
}

bool isRefusedRoot(const std::wstring& path, const std::wstring& what) {
    RootRefusal refusal;
    openRootFolder(path, &refusal);
    logRefusedFolder(refusal, what, path);
    return refusal.kind != RootRefusalKind::None;
}

bool isForeignArchiveFolder(const std::wstring& path) {
    if (isRefusedRoot(path, L"Archive folder")) return true;
    uint32_t owner = 0;
    unsigned mode = 0;
    if (!readFolderOwner(path, owner, mode)) return false;
    if (owner != currentUserId()) {
        logForeignFolderOnce(L"Archive folder not used, it belongs to another user (uid " + std::to_wstring(owner) +
                             L"): " + path + L" - choose a folder of your own");
        return true;
    }
    if ((mode & 022) == 0) return false;
    logForeignFolderOnce(L"Archive folder not used, group or others can write it (mode " + octalMode(mode) + L"): " +
                         path + L" - remove their write permission (chmod go-w)");
    return true;
}

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
        if (!proposal.empty() && isFolder(archiveRootOf(root)) && !isForeignArchiveFolder(archiveRootOf(root)))
            return proposal;
    }
    for (const auto& [freeBytes, root] : drives) {
        const std::wstring proposal = proposalOn(path, root);
        if (!proposal.empty() && makeFolder(archiveRootOf(root), kPrivateFolderMode) && isFolder(archiveRootOf(root)) &&
            !isForeignArchiveFolder(archiveRootOf(root)))
            return proposal;
    }
    return L"";
}

std::wstring prepareArchiveFolder(const std::wstring& path) { return prepareArchiveFolderOn(path, listArchiveDrives()); }
