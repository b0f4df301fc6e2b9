#pragma once
// Filters of the file dialog (parsed from the filter text), the extension
// levels and tests they use, and the file style table.
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <re2/re2.h>

#include "filedialog/file_infos.h"

namespace VFD {

struct FilterInfos {
    std::string text;                     // what the combo shows
    std::vector<std::string> extensions;  // as written; regular expressions too
    std::vector<std::string> extensionsLower;
    std::vector<std::shared_ptr<re2::RE2>> regexes;
    size_t greatestDotCount = 0;

    const std::string& firstExtension() const;
};

// Style flags: which entries a style's criteria is tested against.
enum StyleFlags : int32_t {
    StyleByTypeFile = 1,
    StyleByTypeDir = 2,
    StyleByTypeLink = 4,
    StyleByExtension = 8,
    StyleByFullName = 16,
    StyleByContainedInFullName = 32,
};

struct StyleRule {
    std::shared_ptr<FileStyle> style;
    std::shared_ptr<re2::RE2> regex;  // criteria holding "((" that compiled
};

struct FilterManager {
    std::vector<FilterInfos> filters;
    FilterInfos selected;
    std::string filterText;  // as given to OpenDialog; empty for a folder chooser
    std::string defaultExtension;
    // Style flags -> criteria -> style; tried in this order.
    std::map<int32_t, std::map<std::string, StyleRule>> styles;
};

// Reads the filter text into filters and reselects the filter of the same
// text (or the first). Null or empty text leaves no filters.
void parseFilters(FilterManager& manager, const char* text);
// Selects the filters holding exactly `extension` (the last wins); then the
// first filter when the selected one has no first extension.
void selectFilterForExtension(FilterManager& manager, const std::string& extension);

// Fills the entry's extension levels for a greatest dot count.
void setExtensionLevels(FileInfos& entry, size_t greatestDotCount);
bool extensionMatches(const std::string& extension, const FileInfos& entry, bool ignoreCase,
                      size_t greatestDotCount);
// A file passes when the selected filter's extensions or expressions take it.
bool filterTakesEntry(const FilterInfos& filter, const FileInfos& entry, bool ignoreCase);

// Stores a style under (flags, criteria), replacing one stored there.
void storeFileStyle(FilterManager& manager, int32_t flags, const std::string& criteria,
                    std::shared_ptr<FileStyle> style);
// Gives the entry the style of the first rule that takes it.
void applyFileStyle(const FilterManager& manager, FileInfos& entry);

std::string lowerAscii(std::string text);
size_t countDots(const std::string& text);

}  // namespace VFD
