#include <algorithm>
#include <cstdio>
#include <ctime>

#include "filedialog/dialog_state.h"
#include "platform/folder_listing.h"
#include "platform/paths.h"

namespace VFD {

namespace {

bool isDotName(const std::string& name) { return name == "." || name == ".."; }

bool isFolderLike(const FileInfos& entry) { return entry.pointsToFolder; }

std::string collapseDots(std::string text) {
    for (int pass = 0; pass <= 10; ++pass) {
        bool replaced = false;
        for (size_t at = text.find(".."); at != std::string::npos; at = text.find("..", at + 1)) {
            text.erase(at, 1);
            replaced = true;
        }
        if (!replaced) break;
    }
    return text;
}

// Position of the k-th "." from the end of `text` (k >= 1), npos when none.
size_t dotFromEnd(const std::string& text, size_t k) {
    size_t pos = text.size();
    for (size_t found = 0; found < k; ++found) {
        if (pos == 0) return std::string::npos;
        pos = text.rfind('.', pos - 1);
        if (pos == std::string::npos) return pos;
    }
    return pos;
}

std::string dateText(int64_t seconds) {
    const std::time_t time = static_cast<std::time_t>(seconds);
    std::tm local{};
    if (!localtime_r(&time, &local)) return {};
    char text[100];
    const size_t length = std::strftime(text, sizeof text, "%Y/%m/%d %H:%M", &local);
    return std::string(text, length);
}

bool passesSearch(const DialogState& state, const FileInfos& entry) {
    if (state.files.folderMode && !isFolderLike(entry)) return false;
    const std::string& tag = state.search.tag;
    return tag.empty() || entry.fileName == ".." || entry.fileNameLower.find(tag) != std::string::npos ||
           entry.fileName.find(tag) != std::string::npos;
}

void filterBySearch(const DialogState& state, const EntryList& all, EntryList& shown) {
    shown.clear();
    for (const auto& entry : all)
        if (passesSearch(state, *entry)) shown.push_back(entry);
}

// Entries of the list, compared by the sorting field.
bool sortsBefore(const FileInfos& a, const FileInfos& b, int32_t field, bool ascending) {
    const FileInfos& x = ascending ? a : b;
    const FileInfos& y = ascending ? b : a;
    if (x.contentType != y.contentType) return x.contentType < y.contentType;
    switch (field) {
        case kSortType: return x.levelZero() < y.levelZero();
        case kSortSize: return x.fileSize < y.fileSize;
        case kSortDate: return x.dateText < y.dateText;
        default: return x.fileNameLower < y.fileNameLower;
    }
}

void sortList(EntryList& list, int32_t field, bool ascending) {
    std::sort(list.begin(), list.end(), [&](const auto& a, const auto& b) {
        if (!a || !b) return false;  // a null entry never sorts first
        return sortsBefore(*a, *b, field, ascending);
    });
}

// Rules shared by the file list and the path popup's list; false leaves the
// entry out. `filterTest` is off for the path popup.
bool offerEntry(DialogState& state, FileInfos& entry, bool filterTest) {
    const std::string& name = entry.fileName;
    const bool noFilterText = state.filters.filterText.empty();
    if (name.empty()) return false;
    if (name == "." && !noFilterText) return false;
    if ((state.config.flags & OptNoDotEntries) && name[0] == '.' && !isDotName(name)) return false;
    entry.fileNameLower = lowerAscii(name);
    if (!isFolderLike(entry)) {
        setExtensionLevels(entry, state.filters.selected.greatestDotCount);
        if (filterTest && noFilterText) return false;
        if (filterTest && !filterTakesEntry(state.filters.selected, entry,
                                            (state.config.flags & OptIgnoreExtensionCase) != 0))
            return false;
    }
    if (!state.filters.styles.empty()) applyFileStyle(state.filters, entry);
    completeEntry(entry);
    if (state.config.entryAttributes) {
        if (!state.config.entryAttributes(entry, state.config.userData)) return false;
        if (!isFolderLike(entry)) entry.sizeText = sizeText(entry.fileSize);
    }
    return true;
}

void clearLists(FileManager& files) {
    files.fileList.clear();
    files.filteredList.clear();
    files.pathList.clear();
    files.filteredPathList.clear();
}

std::string selectionSummary(size_t count) {
    char text[64];
    std::snprintf(text, sizeof text, "%zu files Selected", count);
    return text;
}

void updateNameFieldFromSelection(DialogState& state) {
    const auto& selected = state.files.selectedNames;
    setBufferText(state.files.fileName, selected.size() == 1 ? *selected.begin() : selectionSummary(selected.size()));
}

}  // namespace

void setBufferText(TextBuffer& buffer, const std::string& text) {
    std::string clean;
    clean.reserve(text.size());
    for (char c : text)
        if (c != '\n' && c != '\r') clean += c;
    size_t length = std::min(clean.size(), kTextBufferSize - 1);
    if (length < clean.size()) {
        // Never cut inside a character: back off over continuation bytes.
        size_t back = 0;
        while (back < 3 && length > 0 && (static_cast<unsigned char>(clean[length]) & 0xC0) == 0x80) {
            --length;
            ++back;
        }
    }
    std::copy(clean.begin(), clean.begin() + static_cast<std::ptrdiff_t>(length), buffer.begin());
    buffer[length] = '\0';
}

std::string bufferText(const TextBuffer& buffer) { return std::string(buffer.data()); }

std::string normalisePath(const std::string& path) {
    if (path.empty()) return {};
    const std::string full = isAbsolutePath(path) ? path : joinPath(workingFolder(), path);
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= full.size()) {
        size_t end = full.find('/', start);
        if (end == std::string::npos) end = full.size();
        const std::string part = full.substr(start, end - start);
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        start = end + 1;
    }
    std::string result;
    for (const std::string& part : parts) result += "/" + part;
    return result.empty() ? "/" : result;
}

std::string composePath(const FileManager& files, size_t index) {
    std::string path;
    for (size_t i = 0; i <= index && i < files.composer.size(); ++i) path = joinPath(path, files.composer[i]);
    if (path.empty() || path.back() != '/') path += '/';
    return path;
}

void setCurrentPath(DialogState& state, const std::string& requested) {
    std::string path = requested;
    if (!state.fileSystem->IsFolderPath(path)) {
        path = ".";
        if (!state.fileSystem->IsFolderPath(path)) return;
    }
    const std::string full = normalisePath(path);
    if (full.empty()) return;
    FileManager& files = state.files;
    files.currentPath = full;
    setBufferText(files.pathEdition, full);
    files.composer.assign(1, "/");
    size_t start = 1;
    while (start < full.size()) {
        size_t end = full.find('/', start);
        if (end == std::string::npos) end = full.size();
        if (end > start) files.composer.push_back(full.substr(start, end - start));
        start = end + 1;
    }
}

void openCurrentPath(DialogState& state) {
    FileManager& files = state.files;
    files.showDrives = false;
    files.composer.clear();
    clearLists(files);
    // A result must never name an entry of another folder.
    files.selectedNames.clear();
    files.anchor.clear();
    if (files.folderMode) {
        setBufferText(files.fileName, ".");
        files.defaultFileName = ".";
    } else {
        setBufferText(files.fileName, files.defaultFileName);
    }
    scanFolder(state, files.currentPath.empty() ? std::string(".") : std::string(files.currentPath));
}

void scanFolder(DialogState& state, const std::string& path) {
    FileManager& files = state.files;
    if (files.composer.empty()) {
        setCurrentPath(state, path);
        if (files.composer.empty()) return;
    }
    // Relative paths are listed from where setCurrentPath put them.
    const std::string folder = isAbsolutePath(path) ? path : files.currentPath;
    files.fileList.clear();
    files.filteredList.clear();
    for (auto& entry : state.fileSystem->ReadFolderEntries(folder)) {
        entry->folderPath = folder;
        if (offerEntry(state, *entry, true)) files.fileList.push_back(std::move(entry));
    }
    sortEntries(state);
}

void sortEntries(DialogState& state) {
    FileManager& files = state.files;
    if (files.sortField >= kSortName && files.sortField <= kSortDate)
        sortList(files.fileList, files.sortField, files.sortAscending[static_cast<size_t>(files.sortField)]);
    applySearch(state);
}

void applySearch(DialogState& state) {
    state.search.tag = lowerAscii(bufferText(state.search.buffer));
    filterBySearch(state, state.files.fileList, state.files.filteredList);
    filterBySearch(state, state.files.pathList, state.files.filteredPathList);
}

void setSearchText(DialogState& state, const std::string& text) {
    setBufferText(state.search.buffer, text);
    applySearch(state);
}

bool showDriveList(DialogState& state) {
    const std::vector<std::string> drives = state.fileSystem->ListDriveRoots();
    if (drives.empty()) return false;
    FileManager& files = state.files;
    files.currentPath.clear();
    files.composer.clear();
    clearLists(files);
    files.selectedNames.clear();
    files.anchor.clear();
    for (const std::string& drive : drives) {
        auto entry = std::make_shared<FileInfos>();
        entry->contentType = kContentFolder;
        entry->pointsToFolder = true;
        entry->fileName = drive;
        entry->fileNameLower = lowerAscii(drive);
        files.fileList.push_back(std::move(entry));
    }
    files.showDrives = true;
    applySearch(state);
    return true;
}

void listSiblingFolders(DialogState& state, size_t index) {
    FileManager& files = state.files;
    files.pathList.clear();
    files.filteredPathList.clear();
    if (index == 0 || index > files.composer.size()) return;
    files.popupComposerIndex = static_cast<int>(index - 1);
    const std::string folder = composePath(files, index - 1);
    for (auto& entry : state.fileSystem->ReadFolderEntries(folder)) {
        if (!isFolderLike(*entry)) continue;
        entry->folderPath = folder;
        if (offerEntry(state, *entry, false)) files.pathList.push_back(std::move(entry));
    }
    sortList(files.pathList, files.sortField, files.sortAscending[static_cast<size_t>(files.sortField)]);
    filterBySearch(state, files.pathList, files.filteredPathList);
}

bool goUp(DialogState& state) {
    FileManager& files = state.files;
    if (files.composer.size() < 2) return false;
    files.currentPath = composePath(files, files.composer.size() - 2);
    return true;
}

bool enterFolder(DialogState& state, const FileInfos& entry) {
    if (entry.fileName == "..") return goUp(state);
    FileManager& files = state.files;
    const std::string path = files.showDrives ? entry.fileName : joinPath(files.currentPath, entry.fileName);
    if (!state.fileSystem->CanOpenFolder(path)) return false;
    files.currentPath = path;
    return true;
}

bool createFolder(DialogState& state, const std::string& name) {
    if (name.empty() || state.files.currentPath.empty()) return false;
    const std::string path = joinPath(state.files.currentPath, name);
    if (!state.fileSystem->EnsureFolder(path)) return false;
    state.files.currentPath = path;
    openCurrentPath(state);
    return true;
}

std::string sizeText(uint64_t size) {
    char text[64];
    const double value = static_cast<double>(size);
    if (size == 0) return "0 o";
    if (size < 1024) std::snprintf(text, sizeof text, "%llu o", static_cast<unsigned long long>(size));
    else if (size < 1048576) std::snprintf(text, sizeof text, "%.2f Ko", value / 1024.0);
    else if (size < 1073741824) std::snprintf(text, sizeof text, "%.2f Mo", value / 1048576.0);
    else std::snprintf(text, sizeof text, "%.2f Go", value / 1073741824.0);
    return text;
}

void completeEntry(FileInfos& entry) {
    if (isDotName(entry.fileName)) return;
    if (!entry.statKnown) {
        ListedEntry listed;
        if (!statListedEntry(joinPath(entry.folderPath, entry.fileName), listed)) return;
        entry.fileSize = listed.size;
        entry.modifiedSeconds = listed.modifiedSeconds;
        entry.statKnown = true;
    }
    if (entry.contentType != kContentFolder && !entry.pointsToFolder) entry.sizeText = sizeText(entry.fileSize);
    entry.dateText = dateText(entry.modifiedSeconds);
}

void selectEntry(DialogState& state, const std::string& name, bool ctrl, bool shift) {
    FileManager& files = state.files;
    auto& selected = files.selectedNames;
    const size_t limit = static_cast<size_t>(std::max(files.selectionLimit, 0));
    if (ctrl) {
        if (limit != 0 && selected.size() >= limit) return;
        if (selected.erase(name) == 0) {
            selected.insert(name);
            files.anchor = name;
        }
    } else if (shift) {
        if (limit == 1) return;
        selected.clear();
        const EntryList& list = files.filteredList;
        auto nameIs = [](const std::string& wanted) {
            return [&wanted](const auto& entry) { return entry->fileName == wanted; };
        };
        auto clicked = std::find_if(list.begin(), list.end(), nameIs(name));
        auto anchor = std::find_if(list.begin(), list.end(), nameIs(files.anchor));
        auto first = clicked;
        auto last = list.end();
        if (anchor != list.end() && clicked != list.end()) {
            first = std::min(anchor, clicked);
            last = std::max(anchor, clicked) + 1;
        }
        for (auto it = first; it != last && it != list.end(); ++it) {
            if (it != first && limit != 0 && selected.size() >= limit) break;
            selected.insert((*it)->fileName);
        }
    } else {
        selected.clear();
        selected.insert(name);
        files.anchor = name;
    }
    updateNameFieldFromSelection(state);
}

bool isSelected(const DialogState& state, const std::string& name) {
    return state.files.selectedNames.count(name) != 0;
}

std::string resultingFileName(const DialogState& state, int resultMode) {
    if (state.files.folderMode) return {};
    return adjustFileName(state, bufferText(state.files.fileName), resultMode);
}

std::string adjustFileName(const DialogState& state, const std::string& text, int resultMode) {
    if (text.empty()) return {};
    const FilterInfos& filter = state.filters.selected;
    const std::string& extension = filter.firstExtension();
    if (extension.empty() || resultMode == 2) return text;
    if (extension.find("((") != std::string::npos || extension.find(".*") != std::string::npos)
        return collapseDots(text);
    const size_t k = std::min(countDots(text), filter.greatestDotCount);
    const size_t dot = k == 0 ? std::string::npos : dotFromEnd(text, k);
    if (resultMode == 0) {
        if (k == 0) return collapseDots(text + extension);
        if (dot == text.size() - 1) return collapseDots(text.substr(0, dot) + extension);
        return collapseDots(text);
    }
    if (resultMode == 1) {
        if (k == 0 || dot == std::string::npos) return collapseDots(text + extension);
        return collapseDots(text.substr(0, dot) + extension);
    }
    return collapseDots(text);
}

std::string resultFolder(const DialogState& state) {
    const FileManager& files = state.files;
    const std::string text = bufferText(files.fileName);
    std::string folder = files.currentPath;
    // The count of selected folders in the field names no folder: the result
    // is then the current one.
    const bool summary = files.selectedNames.size() != 1 && text == selectionSummary(files.selectedNames.size());
    if (files.selectedNames.size() <= 1 && !text.empty() && text != "." && !summary) {
        // A typed absolute path stands as typed; a name is taken in the current folder.
        folder = isAbsolutePath(text) ? text : files.currentPath.empty() ? std::string() : joinPath(files.currentPath, text);
    }
    return folder.empty() ? std::string() : normalisePath(folder);
}

}  // namespace VFD
