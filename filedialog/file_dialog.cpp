#include "filedialog/file_dialog.h"

#include <imgui_internal.h>

#include <cmath>
#include <optional>

#include "filedialog/dialog_state.h"
#include "platform/paths.h"
#include "platform/thread_locale.h"
#include "shell/text_widgets.h"

namespace VFD {

namespace {

const char* kPathPopup = "VFD_Path_Popup";

void tooltip(const char* text) {
    if (ImGui::IsItemHovered()) ImGui::SetTooltip("%s", text);
}

void verticalSeparator() {
    ImGui::SameLine();
    ImGui::SeparatorEx(ImGuiSeparatorFlags_Vertical);
    ImGui::SameLine();
}

bool inputBuffer(const char* label, TextBuffer& buffer, ImGuiInputTextFlags flags = 0) {
    return ImGui::InputText(label, buffer.data(), buffer.size(), flags);
}

const char* contentMark(const FileInfos& entry) {
    switch (entry.contentType) {
        case kContentFolder: return "[Dir]";
        case kContentLink: return "[Link]";
        default: return "[File]";
    }
}

std::string rowText(const FileInfos& entry) {
    const char* mark = contentMark(entry);
    if (entry.style && !entry.style->icon.empty()) mark = entry.style->icon.c_str();
    return std::string(mark) + " " + entry.fileName;
}

// Pushes the entry's style colour and font; returns what to pop.
std::pair<bool, bool> pushEntryStyle(const FileInfos& entry) {
    if (!entry.style) return {false, false};
    ImGui::PushStyleColor(ImGuiCol_Text, entry.style->color);
    if (entry.style->font) ImGui::PushFont(entry.style->font);
    return {true, entry.style->font != nullptr};
}

void popEntryStyle(std::pair<bool, bool> pushed) {
    if (pushed.second) ImGui::PopFont();
    if (pushed.first) ImGui::PopStyleColor();
}

bool keyPressed(ImGuiKey key) {
    const int index = ImGui::GetKeyIndex(key);
    return index >= 0 && ImGui::IsKeyPressed(index, false);
}

// A vertical splitter between the file list and the side pane.
void sidePaneSplitter(float* listWidth, float* paneWidth, float height) {
    ImGuiWindow* window = ImGui::GetCurrentWindow();
    const ImGuiID id = window->GetID("##Splitter");
    ImRect bb;
    bb.Min = ImVec2(window->DC.CursorPos.x + *listWidth, window->DC.CursorPos.y);
    bb.Max = ImVec2(bb.Min.x + 4.0f, bb.Min.y + height);
    ImGui::SplitterBehavior(bb, id, ImGuiAxis_X, listWidth, paneWidth, 10.0f, 10.0f, 0.0f);
}

}  // namespace

DialogState::DialogState() : fileSystem(std::make_unique<FileSystemDirent>()) {}

FileDialog& FileDialog::Shared() {
    static FileDialog dialog;
    return dialog;
}

FileDialog::FileDialog() : state_(std::make_unique<DialogState>()) {}
FileDialog::~FileDialog() = default;

void FileDialog::OpenDialog(const std::string& key, const std::string& title, const char* filters,
                            const DialogOpenOptions& config) {
    DialogState& st = *state_;
    if (st.isShown) return;
    FileManager& files = st.files;
    st.config = config;
    st.dialogTitle = title;
    st.dialogKey = key;
    if (!st.config.sidePanelCallback) st.config.sidePanelWidth = 0.0f;
    st.filters.defaultExtension.clear();
    if (config.defaultFullPath.empty()) {
        files.dialogPath = !config.path.empty()         ? config.path
                           : !files.currentPath.empty() ? files.currentPath
                                                        : std::string(".");
        files.defaultFileName = config.defaultName;
    } else {
        const ParsedPath parsed = st.fileSystem->SplitFullPath(config.defaultFullPath);
        files.dialogPath = parsed.path;
        files.defaultFileName = parsed.name;
        // The extension of a full path selects its filter.
        if (!parsed.ext.empty()) st.filters.defaultExtension = "." + parsed.ext;
    }
    setBufferText(files.fileName, files.defaultFileName);
    st.filters.filterText = filters ? filters : "";
    parseFilters(st.filters, filters);
    selectFilterForExtension(st.filters, st.filters.defaultExtension);
    files.currentPath = files.dialogPath.empty() ? std::string(".") : files.dialogPath;
    files.folderMode = filters == nullptr;
    files.selectionLimit = config.maxSelectionCount;
    files.composer.clear();
    files.fileList.clear();
    files.filteredList.clear();
    files.pathList.clear();
    files.filteredPathList.clear();
    files.showDrives = false;
    files.pathEditionActive = false;
    files.creatingFolder = false;
    // A new use never returns what an earlier one selected.
    files.selectedNames.clear();
    files.anchor.clear();
    files.needsScan = true;
    st.accepted = false;
    st.overwriteQuestionOpen = false;
    st.isShown = true;
}

bool FileDialog::DisplayDialog(const std::string& key, ImGuiWindowFlags windowFlags, ImVec2 minSize, ImVec2 maxSize) {
    DialogState& st = *state_;
    FileManager& files = st.files;
    if (!st.isShown || key != st.dialogKey) return false;
    const int frame = ImGui::GetFrameCount();
    if (st.lastDrawnFrame == frame) return false;
    st.lastDrawnFrame = frame;

    // Only this thread's locale changes; engine threads keep theirs.
    std::optional<ThreadLocaleScope> locale;
    if (st.switchLocale) locale.emplace(st.localeKind, st.drawLocale);

    const std::string windowName = st.dialogTitle + "##" + st.dialogKey;
    const bool renamed = windowName != st.name;
    if (renamed) {
        files.composer.clear();
        files.fileList.clear();
        files.filteredList.clear();
        files.pathList.clear();
        files.filteredPathList.clear();
        files.needsScan = true;
        st.windowFlags = windowFlags;
    }
    const ImGuiWindowFlags flags = st.windowFlags | ImGuiWindowFlags_NoScrollbar;

    st.mayContinue = true;
    st.accepted = false;
    files.drivesClicked = false;
    files.pathClicked = false;
    st.closeRequested = false;
    st.nameFieldActive = false;
    st.search.fieldActive = false;

    const bool embedded = (st.config.flags & OptEmbedded) != 0;
    const bool modal = (st.config.flags & OptModal) && !st.overwriteQuestionOpen;
    bool visible = true;
    if (!embedded) {
        ImGui::SetNextWindowSizeConstraints(minSize, maxSize);
        ImGui::SetNextWindowSize(ImVec2(720, 480), ImGuiCond_FirstUseEver);
        if (modal) {
            ImGui::OpenPopup(windowName.c_str());
            visible = ImGui::BeginPopupModal(windowName.c_str(), nullptr, flags);
        } else {
            visible = ImGui::Begin(windowName.c_str(), nullptr, flags);
        }
    }
    bool res = false;
    if (visible) {
        ImGui::BeginChild(windowName.c_str(), embedded ? maxSize : ImVec2(0, 0), false, flags);
        st.name = windowName;
        if (files.dialogPath.empty()) files.dialogPath = ".";
        if (st.filters.selected.text.empty() && !st.filters.filters.empty())
            st.filters.selected = st.filters.filters.front();
        if (files.needsScan && !files.showDrives) startListing();
        DrawTopBar();
        DrawDialogBody();
        res = DrawBottomBar();
        if (files.pathClicked) openCurrentPath(st);
        if (files.drivesClicked) showDriveList(st);
        handlePathEditionKeys();
        ImGui::EndChild();
        const ImVec2 pos = ImGui::GetWindowPos();
        const ImVec2 size = ImGui::GetWindowSize();
        st.centrePosition = ImVec2(pos.x + size.x * 0.5f, pos.y + size.y * 0.5f);
        if (modal) ImGui::EndPopup();
    }
    if (!embedded && !modal) ImGui::End();
    return overwriteStep(res);
}

void FileDialog::startListing() {
    DialogState& st = *state_;
    FileManager& files = st.files;
    // Only a leading dialog path leaves the default name.
    const std::string& prefix = files.dialogPath;
    if (prefix != "." && !prefix.empty() && files.defaultFileName.compare(0, prefix.size(), prefix) == 0) {
        files.defaultFileName.erase(0, prefix.size());
        if (!files.defaultFileName.empty() && files.defaultFileName[0] == '/') files.defaultFileName.erase(0, 1);
    }
    if (!files.defaultFileName.empty()) {
        setBufferText(files.fileName, files.defaultFileName);
        selectFilterForExtension(st.filters, st.filters.defaultExtension);
    } else if (files.folderMode) {
        setBufferText(files.fileName, ".");
    }
    files.composer.clear();
    scanFolder(st, files.currentPath.empty() ? files.dialogPath : files.currentPath);
    files.needsScan = false;
}

void FileDialog::handlePathEditionKeys() {
    FileManager& files = state_->files;
    if (!files.pathEditionActive) return;
    if (files.pathEditionEnter) {
        const std::string text = bufferText(files.pathEdition);
        files.currentPath = text.empty() ? std::string(".") : text;
        openCurrentPath(*state_);
        files.pathEditionActive = false;
    } else if (files.pathEditionEscape) {
        files.pathEditionActive = false;
    }
    files.pathEditionEnter = false;
    files.pathEditionEscape = false;
}

bool FileDialog::overwriteStep(bool res) {
    DialogState& st = *state_;
    const bool ask = (st.config.flags & OptAskBeforeOverwrite) != 0;
    if (res && !st.accepted) return true;
    if (res && st.accepted && !ask) return true;
    if ((!st.overwriteQuestionOpen && !(res && st.accepted)) || !ask) return false;
    if (st.accepted) {
        // Whatever holds the name is overwritten, also a file this user cannot read.
        if (!st.fileSystem->NameExists(GetFilePathName(0))) return true;
        st.overwriteQuestionOpen = true;
        st.accepted = false;
    }
    const std::string name = "The selected file already exists!##" + st.dialogTitle + st.dialogKey + "OverWriteDialog";
    bool ended = false;
    ImGui::OpenPopup(name.c_str());
    ImGui::SetNextWindowPos(st.centrePosition, ImGuiCond_Always, ImVec2(0.5f, 0.5f));
    const ImGuiWindowFlags flags =
        st.windowFlags | ImGuiWindowFlags_AlwaysAutoResize | ImGuiWindowFlags_NoResize | ImGuiWindowFlags_NoMove;
    if (ImGui::BeginPopupModal(name.c_str(), nullptr, flags)) {
        ImGui::TextUnformatted("Are you sure you want to overwrite it?");
        if (ImGui::Button("Confirm")) {
            st.overwriteQuestionOpen = false;
            st.accepted = true;
            ended = true;
            ImGui::CloseCurrentPopup();
        }
        ImGui::SameLine();
        if (ImGui::Button("Cancel")) {
            st.overwriteQuestionOpen = false;
            st.accepted = false;
            ImGui::CloseCurrentPopup();
        }
        ImGui::EndPopup();
    }
    return ended;
}

bool FileDialog::IsOk() const { return state_->accepted; }

void FileDialog::CloseDialog() {
    state_->dialogKey.clear();
    state_->isShown = false;
}

bool FileDialog::IsOpened() const { return state_->isShown; }
bool FileDialog::IsOpened(const std::string& key) const { return state_->isShown && state_->dialogKey == key; }

bool FileDialog::WasOpenedThisFrame() const {
    return state_->isShown && state_->lastDrawnFrame == ImGui::GetFrameCount();
}

bool FileDialog::WasOpenedThisFrame(const std::string& key) const {
    return WasOpenedThisFrame() && state_->dialogKey == key;
}

std::string FileDialog::GetCurrentPath() const {
    if (state_->files.folderMode) return resultFolder(*state_);
    return state_->files.currentPath;
}

std::string FileDialog::GetFilePathName(int resultMode) const {
    if (state_->files.folderMode) return {};
    const std::string name = resultingFileName(*state_, resultMode);
    if (name.empty()) return {};
    // A relative name lies in the dialog's folder, never the process's.
    return isAbsolutePath(name) ? name : joinPath(GetCurrentPath(), name);
}

std::string FileDialog::GetCurrentFileName(int resultMode) const { return resultingFileName(*state_, resultMode); }
std::string FileDialog::GetCurrentFilter() const { return state_->filters.selected.text; }
void* FileDialog::GetUserDatas() const { return state_->config.userData; }

void FileDialog::DrawTopBar() {
    DialogState& st = *state_;
    FileManager& files = st.files;
    if (!(st.config.flags & OptNoNewFolder)) {
        if (ImGui::Button("+") && !files.creatingFolder) {
            files.creatingFolder = true;
            setBufferText(files.newFolderName, "");
        }
        tooltip("Create Directory");
        if (files.creatingFolder) {
            ImGui::SameLine();
            ImGui::PushItemWidth(100.0f);
            inputBuffer("##DirectoryFileName", files.newFolderName);
            ImGui::PopItemWidth();
            ImGui::SameLine();
            if (ImGui::Button("OK")) {
                createFolder(st, bufferText(files.newFolderName));
                files.creatingFolder = false;
            }
            ImGui::SameLine();
            if (ImGui::Button("Cancel")) files.creatingFolder = false;
        }
        verticalSeparator();
    }
    if (ImGui::Button("R")) {
        files.currentPath = ".";
        files.pathClicked = true;
    }
    tooltip("Reset to current directory");
    ImGui::SameLine();
    if (ImGui::Button("Drives")) files.drivesClicked = true;
    tooltip("Drives");
    ImGui::SameLine();
    if (ImGui::Button("E")) {
        files.pathEditionActive = !files.pathEditionActive;
        if (files.pathEditionActive) setBufferText(files.pathEdition, files.currentPath);
    }
    tooltip("Edit path\nYou can also right click on path buttons");
    verticalSeparator();
    if (files.pathEditionActive) {
        ImGui::SetNextItemWidth(-1.0f);
        if (inputBuffer("##pathedition", files.pathEdition, ImGuiInputTextFlags_EnterReturnsTrue))
            files.pathEditionEnter = true;
        if (ImGui::IsItemDeactivated() && keyPressed(ImGuiKey_Escape)) files.pathEditionEscape = true;
    } else {
        drawComposer();
    }
    drawSearchBar();
}

void FileDialog::drawComposer() {
    DialogState& st = *state_;
    FileManager& files = st.files;
    bool openPopup = false;
    for (size_t i = 0; i < files.composer.size(); ++i) {
        ImGui::PushID(static_cast<int>(i));
        if (i > 0) {
            ImGui::SameLine();
            if (!(st.config.flags & OptNoPathPopup)) {
                if (ImGui::Button("/")) {
                    listSiblingFolders(st, i);
                    openPopup = true;
                }
                ImGui::SameLine();
            }
        }
        if (textButton(files.composer[i])) {
            files.currentPath = composePath(files, i);
            files.pathClicked = true;
        }
        if (ImGui::IsItemClicked(ImGuiMouseButton_Right)) {
            setBufferText(files.pathEdition, composePath(files, i));
            files.pathEditionActive = true;
        }
        ImGui::PopID();
    }
    // Opened outside the parts' ids: DrawSiblingFoldersPopup begins it under the dialog's own.
    if (openPopup) ImGui::OpenPopup(kPathPopup);
    if (files.composer.empty()) ImGui::NewLine();
}

void FileDialog::drawSearchBar() {
    DialogState& st = *state_;
    if (ImGui::Button("R##BtnFileDialogSearchField")) setSearchText(st, "");
    tooltip("Reset search");
    ImGui::SameLine();
    ImGui::TextUnformatted("Search :");
    ImGui::SameLine();
    ImGui::SetNextItemWidth(-1.0f);
    if (inputBuffer("##InputFileDialogSearchField", st.search.buffer)) applySearch(st);
    if (ImGui::IsItemActive()) st.search.fieldActive = true;
}

void FileDialog::DrawDialogBody() {
    DialogState& st = *state_;
    if (st.bottomBarHeight <= 0.0f) st.bottomBarHeight = ImGui::GetFrameHeightWithSpacing();
    ImVec2 size = ImGui::GetContentRegionAvail();
    size.y -= st.bottomBarHeight;
    if (size.y < 10.0f) size.y = 10.0f;
    const bool sidePane = static_cast<bool>(st.config.sidePanelCallback);
    if (sidePane) {
        ImGui::PushID("##splittersidepane");
        float listWidth = size.x - st.config.sidePanelWidth - ImGui::GetStyle().ItemSpacing.x;
        sidePaneSplitter(&listWidth, &st.config.sidePanelWidth, size.y);
        size.x = listWidth;
        ImGui::PopID();
    }
    DrawEntryTable(size);
    if (sidePane) DrawSidePanel(size.y);
    if (!(st.config.flags & OptNoPathPopup)) DrawSiblingFoldersPopup(size);
}

void FileDialog::DrawEntryTable(ImVec2 size) {
    DialogState& st = *state_;
    FileManager& files = st.files;
    const ImGuiTableFlags tableFlags = ImGuiTableFlags_Hideable | ImGuiTableFlags_Sortable | ImGuiTableFlags_RowBg |
                                       ImGuiTableFlags_SizingFixedFit | ImGuiTableFlags_NoHostExtendY |
                                       ImGuiTableFlags_ScrollY;
    if (!ImGui::BeginTable("##FileDialog_fileTable", 4, tableFlags, size)) return;
    ImGui::TableSetupScrollFreeze(0, 1);
    const ImGuiTableColumnFlags fixed = ImGuiTableColumnFlags_WidthFixed | ImGuiTableColumnFlags_PreferSortAscending;
    auto hidden = [&](int32_t flag) { return (st.config.flags & flag) ? ImGuiTableColumnFlags_DefaultHide : 0; };
    ImGui::TableSetupColumn("File name", ImGuiTableColumnFlags_WidthStretch | ImGuiTableColumnFlags_PreferSortAscending);
    ImGui::TableSetupColumn("Type", fixed | hidden(OptNoTypeColumn));
    ImGui::TableSetupColumn("Size", fixed | hidden(OptNoSizeColumn));
    ImGui::TableSetupColumn("Date", fixed | hidden(OptNoDateColumn));
    if (ImGuiTableSortSpecs* specs = ImGui::TableGetSortSpecs(); specs && specs->SpecsDirty) {
        if (specs->SpecsCount > 0) {
            const int column = specs->Specs[0].ColumnIndex;
            files.sortField = column == 0 ? kSortName : column == 1 ? kSortType : column == 2 ? kSortSize : kSortDate;
            files.sortAscending[static_cast<size_t>(files.sortField)] =
                specs->Specs[0].SortDirection == ImGuiSortDirection_Ascending;
            sortEntries(st);
        }
        specs->SpecsDirty = false;
    }
    ImGui::TableHeadersRow();
    const EntryList& list = files.filteredList;
    ImGuiListClipper clipper;
    clipper.Begin(static_cast<int>(list.size()));
    while (clipper.Step()) {
        for (int i = clipper.DisplayStart; i < clipper.DisplayEnd; ++i) {
            const std::shared_ptr<FileInfos> entry = list[static_cast<size_t>(i)];
            ImGui::TableNextRow();
            const auto pushed = pushEntryStyle(*entry);
            if (ImGui::TableNextColumn()) DrawEntryRow(i, entry, isSelected(st, entry->fileName), "%s");
            if (ImGui::TableNextColumn()) ImGui::Text("%s ", entry->levelZero().c_str());
            if (ImGui::TableNextColumn()) ImGui::Text("%s ", entry->sizeText.c_str());
            if (ImGui::TableNextColumn()) ImGui::Text("%s ", entry->dateText.c_str());
            popEntryStyle(pushed);
        }
    }
    ImGui::EndTable();
}

void FileDialog::DrawEntryRow(int index, const std::shared_ptr<FileInfos>& entry, bool selected, const char* format) {
    DialogState& st = *state_;
    FileManager& files = st.files;
    char label[kTextBufferSize];
    std::snprintf(label, sizeof label, format, rowText(*entry).c_str());
    setBufferText(files.rowLabel, label);
    ImGui::PushID(index);
    const ImGuiSelectableFlags flags = ImGuiSelectableFlags_SpanAllColumns | ImGuiSelectableFlags_AllowDoubleClick |
                                       ImGuiSelectableFlags_DontClosePopups;
    const bool pressed = textSelectable(bufferText(files.rowLabel), selected, flags);
    ImGui::PopID();
    if (!pressed) return;
    const ImGuiIO& io = ImGui::GetIO();
    const bool doubleClick = ImGui::IsMouseDoubleClicked(ImGuiMouseButton_Left);
    if (!entry->pointsToFolder) {
        selectEntry(st, entry->fileName, io.KeyCtrl, io.KeyShift);
        if (doubleClick) st.accepted = true;
        return;
    }
    if (doubleClick) {
        if (enterFolder(st, *entry)) files.pathClicked = true;
    } else if (files.folderMode) {
        selectEntry(st, entry->fileName, io.KeyCtrl, io.KeyShift);
    } else if (io.ConfigFlags & ImGuiConfigFlags_NavEnableKeyboard) {
        if (enterFolder(st, *entry)) files.pathClicked = true;
    }
}

void FileDialog::DrawSidePanel(float height) {
    DialogState& st = *state_;
    ImGui::SameLine();
    ImGui::BeginChild("##FileTypes", ImVec2(st.config.sidePanelWidth, height));
    if (st.config.sidePanelCallback)
        st.config.sidePanelCallback(st.filters.selected.text.c_str(), st.config.userData, &st.mayContinue);
    ImGui::EndChild();
}

void FileDialog::DrawSiblingFoldersPopup(ImVec2 size) {
    DialogState& st = *state_;
    FileManager& files = st.files;
    const ImGuiWindowFlags popupFlags =
        ImGuiWindowFlags_NoTitleBar | ImGuiWindowFlags_AlwaysAutoResize | ImGuiWindowFlags_NoSavedSettings;
    if (!ImGui::BeginPopup(kPathPopup, popupFlags)) return;
    const ImGuiTableFlags tableFlags = ImGuiTableFlags_Hideable | ImGuiTableFlags_RowBg |
                                       ImGuiTableFlags_SizingFixedFit | ImGuiTableFlags_NoHostExtendY |
                                       ImGuiTableFlags_ScrollY;
    if (ImGui::BeginTable("##FileDialog_pathTable", 1, tableFlags, size)) {
        ImGui::TableSetupScrollFreeze(0, 1);
        ImGui::TableSetupColumn("File name", ImGuiTableColumnFlags_WidthStretch);
        ImGui::TableHeadersRow();
        const EntryList list = files.filteredPathList;
        ImGuiListClipper clipper;
        clipper.Begin(static_cast<int>(list.size()));
        while (clipper.Step()) {
            for (int i = clipper.DisplayStart; i < clipper.DisplayEnd; ++i) {
                const FileInfos& entry = *list[static_cast<size_t>(i)];
                ImGui::TableNextRow();
                ImGui::TableNextColumn();
                const auto pushed = pushEntryStyle(entry);
                ImGui::PushID(i);
                if (textSelectable(rowText(entry), isSelected(st, entry.fileName),
                                   ImGuiSelectableFlags_SpanAllColumns)) {
                    enterSiblingFolder(entry);
                    ImGui::CloseCurrentPopup();
                }
                ImGui::PopID();
                popEntryStyle(pushed);
            }
        }
        ImGui::EndTable();
    }
    ImGui::EndPopup();
}

void FileDialog::enterSiblingFolder(const FileInfos& entry) {
    FileManager& files = state_->files;
    const size_t index = static_cast<size_t>(std::max(files.popupComposerIndex, 0));
    if (entry.fileName == "..") {
        files.currentPath = composePath(files, index == 0 ? 0 : index - 1);
    } else {
        const std::string base = composePath(files, index);
        const std::string path = joinPath(base, entry.fileName);
        files.currentPath = state_->fileSystem->CanOpenFolder(path) ? path : base;
    }
    files.pathClicked = true;
}

bool FileDialog::DrawBottomBar() {
    DialogState& st = *state_;
    FileManager& files = st.files;
    const float startY = ImGui::GetCursorPosY();
    ImGui::AlignTextToFramePadding();
    ImGui::TextUnformatted(files.folderMode ? "Directory Path:" : "File Name:");
    ImGui::SameLine();
    const bool hasFilters = !st.filters.filters.empty();
    const ImGuiStyle& style = ImGui::GetStyle();
    float comboWidth = 150.0f;
    if (hasFilters) {
        const float textWidth = std::ceil(ImGui::CalcTextSize(st.filters.selected.text.c_str()).x) +
                                style.FramePadding.x * 2.0f + ImGui::GetFrameHeight() + style.ItemInnerSpacing.x;
        comboWidth = std::max(comboWidth, textWidth);
    }
    float width = ImGui::GetContentRegionAvail().x;
    if (!files.folderMode) width -= comboWidth + style.ItemSpacing.x;
    ImGui::SetNextItemWidth(width);
    ImGuiInputTextFlags nameFlags = ImGuiInputTextFlags_EnterReturnsTrue;
    if (st.config.flags & OptFixedFileName) nameFlags |= ImGuiInputTextFlags_ReadOnly;
    if (inputBuffer("##FileName", files.fileName, nameFlags)) st.accepted = true;
    if (ImGui::IsItemActive()) st.nameFieldActive = true;
    if (hasFilters) {
        ImGui::SameLine();
        ImGui::SetNextItemWidth(comboWidth);
        if (beginTextCombo("##Filters", st.filters.selected.text)) {
            for (size_t i = 0; i < st.filters.filters.size(); ++i) {
                const FilterInfos& filter = st.filters.filters[i];
                ImGui::PushID(static_cast<int>(i));
                if (textSelectable(filter.text, filter.text == st.filters.selected.text)) {
                    st.filters.selected = filter;
                    files.pathClicked = true;
                }
                ImGui::PopID();
            }
            ImGui::EndCombo();
        }
    }
    const bool res = DrawAnswerButtons();
    st.bottomBarHeight = ImGui::GetCursorPosY() - startY;
    return res;
}

bool FileDialog::DrawAnswerButtons() {
    ImGui::BeginGroup();
    const bool accepted = DrawAcceptButton();
    const bool dismissed = DrawDismissButton();
    ImGui::EndGroup();
    state_->answerButtonsWidth = ImGui::GetItemRectSize().x;
    return accepted || dismissed;
}

bool FileDialog::DrawAcceptButton() {
    DialogState& st = *state_;
    if (!st.mayContinue || bufferText(st.files.fileName).empty()) return false;
    // A folder chooser returns only a folder that exists.
    if (st.files.folderMode && !st.fileSystem->IsFolderPath(resultFolder(st))) {
        ImGui::BeginDisabled();
        ImGui::Button("OK##validationdialog");
        ImGui::EndDisabled();
        ImGui::SameLine();
        st.accepted = false;
        return false;
    }
    if (ImGui::Button("OK##validationdialog") || st.accepted) {
        st.accepted = true;
        return true;
    }
    ImGui::SameLine();
    return false;
}

bool FileDialog::DrawDismissButton() {
    DialogState& st = *state_;
    if (ImGui::Button("Cancel##validationdialog") || st.closeRequested) {
        st.accepted = false;
        return true;
    }
    return false;
}

}  // namespace VFD
