#include "foundation/security.h"

#include <algorithm>
#include <atomic>
#include <map>
#include <vector>

#include "foundation/file_helpers.h"
#include "platform/file_system.h"
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

// Every folder below the root, dot-folders included, links never followed;
// files go to `files` when it is given.
void collectTree(const std::wstring& root, std::vector<std::wstring>& folders, std::vector<std::wstring>* files) {
    std::vector<std::wstring> work{root};
    for (size_t i = 0; i < work.size(); ++i) {
        std::vector<FolderEntry> entries;
        if (!listFolderEntries(work[i], entries)) continue;
        for (const FolderEntry& entry : entries) {
            const std::wstring full = work[i] + kPathSeparator + entry.name;
            if (entry.isFolder) {
                folders.push_back(full);
                work.push_back(full);
            } else if (files) {
                files->push_back(full);
            }
        }
    }
}

size_t depthOf(const std::wstring& path) { return std::count(path.begin(), path.end(), kPathSeparator); }

void removeFoldersDeepestFirst(std::vector<std::wstring> folders) {
    std::stable_sort(folders.begin(), folders.end(),
                     [](const std::wstring& a, const std::wstring& b) { return depthOf(a) > depthOf(b); });
    for (const std::wstring& folder : folders) removeFolder(folder);
}

}  // namespace

void createSecurityDescriptor() { g_folderMode = kPrivateFolderMode; }

unsigned programFolderMode() { return g_folderMode.load(); }

bool removeFolderTree(std::wstring path) {
    const std::wstring root = removablePath(path);
    if (root.empty()) return false;
    std::vector<std::wstring> folders, files;
    collectTree(root, folders, &files);
    for (const std::wstring& file : files) removeFile(file);
    removeFoldersDeepestFirst(std::move(folders));
    removeFolder(root);
    return true;
}

bool removeEmptyFolders(std::wstring path) {
    const std::wstring root = removablePath(path);
    if (root.empty()) return false;
    std::vector<std::wstring> folders;
    listFolderTree(root, folders, true);
    removeFoldersDeepestFirst(std::move(folders));
    return true;
}
