#pragma once
// The model inside one VFD::FileDialog: the file manager (current folder,
// entries, selection, sorting), the filter manager and the search manager,
// with the copied configuration and the flags of the frame.
#include <array>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "filedialog/file_dialog.h"
#include "filedialog/file_filters.h"
#include "filedialog/file_infos.h"
#include "filedialog/file_system.h"

namespace VFD {

inline constexpr size_t kTextBufferSize = 1024;
using TextBuffer = std::array<char, kTextBufferSize>;

enum SortField : int32_t { kSortNone = 0, kSortName = 1, kSortType = 2, kSortSize = 3, kSortDate = 4 };

using EntryList = std::vector<std::shared_ptr<FileInfos>>;

struct FileManager {
    std::string currentPath;  // never ends with "/", but "/" itself
    std::string dialogPath;
    std::string defaultFileName;
    int32_t selectionLimit = 1;
    bool folderMode = false;
    std::vector<std::string> composer;  // "/" then one part per folder
    EntryList fileList;
    EntryList filteredList;
    EntryList pathList;
    EntryList filteredPathList;
    int popupComposerIndex = -1;
    std::set<std::string> selectedNames;
    std::string anchor;
    TextBuffer pathEdition{};
    TextBuffer rowLabel{};
    TextBuffer fileName{};
    TextBuffer newFolderName{};
    int32_t sortField = kSortName;
    std::array<bool, 5> sortAscending{true, true, true, true, true};
    bool drivesClicked = false;
    bool pathClicked = false;
    bool pathEditionActive = false;
    bool showDrives = false;
    bool creatingFolder = false;
    bool needsScan = true;           // the folder is listed in the next frame
    bool pathEditionEnter = false;   // Enter in the path field this frame
    bool pathEditionEscape = false;  // Escape left the path field this frame
};

struct SearchManager {
    TextBuffer buffer{};
    std::string tag;
    bool fieldActive = false;
};

struct DialogState {
    DialogState();

    FileManager files;
    FilterManager filters;
    SearchManager search;
    std::unique_ptr<IFileSystem> fileSystem;

    std::string name;
    std::string dialogKey;
    std::string dialogTitle;
    DialogOpenOptions config;
    bool isShown = false;
    int lastDrawnFrame = -1;
    bool mayContinue = true;
    bool overwriteQuestionOpen = false;
    bool accepted = false;
    bool nameFieldActive = false;
    bool closeRequested = false;
    ImVec2 centrePosition = ImVec2(0, 0);
    float bottomBarHeight = 0.0f;
    float answerButtonsWidth = 0.0f;
    ImGuiWindowFlags windowFlags = 0;  // remembered while the window name stays

    bool switchLocale = false;
    int localeKind = 0;
    std::string drawLocale;
    std::string restoreLocale;
};

// ---- text buffers ----
// Puts text into a buffer without "\n" and "\r", cut at a UTF-8 character
// boundary to at most 1023 bytes.
void setBufferText(TextBuffer& buffer, const std::string& text);
std::string bufferText(const TextBuffer& buffer);

// ---- paths ----
// An absolute path without ".", "..", doubled or trailing "/" (relative
// paths are taken from the process's working folder).
std::string normalisePath(const std::string& path);
// The composer's parts up to `index` joined, ending with "/".
std::string composePath(const FileManager& files, size_t index);

// ---- scanning and the lists ----
void setCurrentPath(DialogState& state, const std::string& path);
// Hides the drive list, clears the lists and the selection, resets the
// file-name field and scans the current path.
void openCurrentPath(DialogState& state);
void scanFolder(DialogState& state, const std::string& path);
void sortEntries(DialogState& state);
void applySearch(DialogState& state);
void setSearchText(DialogState& state, const std::string& text);
// Shows the drives as the list; false when none could be read.
bool showDriveList(DialogState& state);
// Lists the folders under the composer part before `index` for the path popup.
void listSiblingFolders(DialogState& state, size_t index);
// Enters a folder entry (double click); true when the path changed and
// must be opened.
bool enterFolder(DialogState& state, const FileInfos& entry);
bool goUp(DialogState& state);
bool createFolder(DialogState& state, const std::string& name);

std::string sizeText(uint64_t size);
void completeEntry(FileInfos& entry);

// ---- selection and results ----
void selectEntry(DialogState& state, const std::string& name, bool ctrl, bool shift);
std::string resultingFileName(const DialogState& state, int resultMode);
// A name adjusted to the selected filter's extension by the result mode.
std::string adjustFileName(const DialogState& state, const std::string& text, int resultMode);
// In folder mode: the folder OK would return (may not exist); "" when none.
std::string resultFolder(const DialogState& state);
bool isSelected(const DialogState& state, const std::string& name);

}  // namespace VFD
