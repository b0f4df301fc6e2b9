#include "filedialog/file_system.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/file_system.h"
#include "platform/folder_listing.h"
#include "platform/paths.h"
#include "platform/text.h"

namespace VFD {

const std::string& FileInfos::levelZero() const {
    static const std::string empty;
    return extLevels.empty() ? empty : extLevels.front();
}

bool FileSystemDirent::CanOpenFolder(const std::string& path) {
    return !path.empty() && openFolderError(path) == 0;
}

bool FileSystemDirent::FolderExists(const std::string& path) {
    return !path.empty() && openFolderError(path) != ENOENT;
}

bool FileSystemDirent::CanReadFile(const std::string& path) { return canReadRegularFile(path); }

bool FileSystemDirent::NameExists(const std::string& path) { return pathExists(path); }

bool FileSystemDirent::EnsureFolder(const std::string& path) {
    if (path.empty() || FolderExists(path)) return false;
    if (makeOneFolder(path) == 0) return true;
    std::printf("Error creating directory %s\n", path.c_str());
    return false;
}

ParsedPath FileSystemDirent::SplitFullPath(const std::string& text) {
    ParsedPath result;
    if (text.empty()) return result;
    result.accepted = true;
    const size_t slash = text.rfind('/');
    if (slash == std::string::npos) {
        result.name = text;
    } else {
        result.path = slash == 0 ? "/" : text.substr(0, slash);
        result.name = text.substr(slash + 1);
    }
    // The extension belongs to the last component only and leaves the name once.
    const size_t dot = result.name.rfind('.');
    if (dot != std::string::npos) {
        result.ext = result.name.substr(dot + 1);
        result.name.erase(dot);
    }
    return result;
}

std::vector<std::shared_ptr<FileInfos>> FileSystemDirent::ReadFolderEntries(const std::string& path) {
    std::vector<ListedEntry> listed;
    if (listFolderBytes(path, listed) != 0) return {};
    std::sort(listed.begin(), listed.end(), [](const ListedEntry& a, const ListedEntry& b) {
        return std::strcoll(a.name.c_str(), b.name.c_str()) < 0;
    });
    std::vector<std::shared_ptr<FileInfos>> entries;
    entries.reserve(listed.size());
    for (ListedEntry& item : listed) {
        auto entry = std::make_shared<FileInfos>();
        entry->folderPath = path;
        entry->fileName = std::move(item.name);
        entry->isLink = item.isLink;
        entry->pointsToFolder = item.isFolder;
        entry->contentType = item.isLink ? kContentLink : item.isFolder ? kContentFolder : kContentFile;
        entry->fileSize = item.size;
        entry->modifiedSeconds = item.modifiedSeconds;
        entry->statKnown = true;
        entries.push_back(std::move(entry));
    }
    return entries;
}

bool FileSystemDirent::IsFolderPath(const std::string& path) { return CanOpenFolder(path); }

std::vector<std::string> FileSystemDirent::ListDriveRoots() {
    std::vector<std::string> roots;
    for (const std::wstring& root : listBrowseRoots()) {
        roots.push_back(withoutTrailingSeparators(wideToUtf8(root)));
    }
    return roots;
}

}  // namespace VFD
