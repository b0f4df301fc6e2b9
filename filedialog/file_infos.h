#pragma once
// One listed entry of the file dialog and the look a file style gives it.
#include <imgui.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace VFD {

struct FileStyle {
    ImVec4 color = ImVec4(0, 0, 0, 0);
    std::string icon;
    ImFont* font = nullptr;
};

enum ContentType : int32_t { kContentFolder = 0, kContentFile = 1, kContentLink = 2 };

struct FileInfos {
    int32_t contentType = kContentFile;
    bool isLink = false;
    bool pointsToFolder = false;  // a folder, or a link to one: it can be entered
    std::string folderPath;       // the folder as it was given to the scan
    std::string fileName;
    std::string fileNameLower;
    std::vector<std::string> extLevels;       // level 0 the longest considered
    std::vector<std::string> extLevelsLower;
    size_t dotCount = 0;
    uint64_t fileSize = 0;
    std::string sizeText;
    std::string dateText;
    std::shared_ptr<FileStyle> style;
    // What the listing already read, so completing needs no second stat.
    bool statKnown = false;
    int64_t modifiedSeconds = 0;

    const std::string& levelZero() const;
};

// A full path cut into folder, name without extension and extension.
struct ParsedPath {
    std::string path;
    std::string name;
    std::string ext;
    bool accepted = false;
};

}  // namespace VFD
