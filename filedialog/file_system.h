#pragma once
// The dialog reaches the disk only through IFileSystem; FileSystemDirent is
// the one implementation, on the platform's byte-exact folder listing.
#include <memory>
#include <string>
#include <vector>

#include "filedialog/file_infos.h"

namespace VFD {

class IFileSystem {
public:
    virtual ~IFileSystem() = default;
    virtual bool CanOpenFolder(const std::string& path) = 0;
    virtual bool FolderExists(const std::string& path) = 0;
    virtual bool CanReadFile(const std::string& path) = 0;
    virtual bool EnsureFolder(const std::string& path) = 0;
    virtual ParsedPath SplitFullPath(const std::string& pathFileName) = 0;
    virtual std::vector<std::shared_ptr<FileInfos>> ReadFolderEntries(const std::string& path) = 0;
    virtual bool IsFolderPath(const std::string& path) = 0;
    virtual std::vector<std::string> ListDriveRoots() = 0;
    virtual bool NameExists(const std::string& path) = 0;
};

class FileSystemDirent : public IFileSystem {
public:
    bool CanOpenFolder(const std::string& path) override;
    // True also for a folder that exists but cannot be read.
    bool FolderExists(const std::string& path) override;
    bool CanReadFile(const std::string& path) override;
    // Creates one folder; false when it exists already or cannot be made.
    bool EnsureFolder(const std::string& path) override;
    ParsedPath SplitFullPath(const std::string& pathFileName) override;
    // Folders and files sorted by strcoll of their names, links as what they
    // point to; "." and ".." included. Empty when the folder cannot be read.
    std::vector<std::shared_ptr<FileInfos>> ReadFolderEntries(const std::string& path) override;
    bool IsFolderPath(const std::string& path) override;
    // "/" and the mounted local file systems.
    std::vector<std::string> ListDriveRoots() override;
    // Anything of that name, readable or not, a link that points nowhere too.
    bool NameExists(const std::string& path) override;
};

}  // namespace VFD
