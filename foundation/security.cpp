#include "foundation/security.h"

#include <atomic>

#include "foundation/file_helpers.h"
#include "platform/file_system.h"
#include "platform/folder_tree.h"
#include "platform/paths.h"

namespace {

std::atomic<unsigned> g_folderMode{kPrivateFolderMode};

// The path without trailing or doubled separators, or "" when it may not be
// removed: not absolute, "." or ".." components, or fewer than two levels.
std::wstring removablePath(const std::wstring& path) {
    if (!isAbsolutePath(path)) return L"";
    std::wstring clean;
    size_t levels = 0;
    for (size_t start = 0; start < path.size();) {
        size_t end = path.find(kPathSeparator, start);
        if (end == std::wstring::npos) end = path.size();
        const std::wstring part = path.substr(start, end - start);
        if (part == L"." || part == L"..") return L"";
        if (!part.empty()) clean += kPathSeparator + part, ++levels;
        start = end + 1;
    }
    return levels >= 2 ? clean : L"";
}

}  // namespace

void createSecurityDescriptor() { g_folderMode = kPrivateFolderMode; }

unsigned programFolderMode() { return g_folderMode.load(); }

bool removeFolderTree(std::wstring path) {
    const std::wstring root = removablePath(path);
    if (root.empty()) return false;
    removeBelowFolder(root, true);
    removeFolder(root);
    return true;
}

bool removeEmptyFolders(std::wstring path) {
    const std::wstring root = removablePath(path);
    if (root.empty()) return false;
    removeBelowFolder(root, false);
    return true;
}
