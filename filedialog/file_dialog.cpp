#include "filedialog/file_dialog.h"

#include "filedialog/dialog_state.h"

namespace VFD {

FileDialog& FileDialog::Shared() {
    static FileDialog dialog;
    return dialog;
}

FileDialog::FileDialog() : state_(std::make_unique<DialogState>()) {}
FileDialog::~FileDialog() = default;

void FileDialog::OpenDialog(const std::string& key, const std::string& title, const char*,
                            const DialogOpenOptions& config) {
    if (state_->isShown) return;
    state_->dialogKey = key;
    state_->dialogTitle = title;
    state_->config = config;
    state_->isShown = true;
}

bool FileDialog::DisplayDialog(const std::string&, ImGuiWindowFlags, ImVec2, ImVec2) { return false; }
bool FileDialog::IsOk() const { return state_->accepted; }
void FileDialog::CloseDialog() {
    state_->dialogKey.clear();
    state_->isShown = false;
}
bool FileDialog::IsOpened() const { return state_->isShown; }
bool FileDialog::IsOpened(const std::string& key) const { return state_->isShown && state_->dialogKey == key; }
bool FileDialog::WasOpenedThisFrame() const { return false; }
bool FileDialog::WasOpenedThisFrame(const std::string&) const { return false; }
std::string FileDialog::GetCurrentPath() const { return {}; }
std::string FileDialog::GetFilePathName(int) const { return {}; }
std::string FileDialog::GetCurrentFileName(int) const { return {}; }
std::string FileDialog::GetCurrentFilter() const { return {}; }
void* FileDialog::GetUserDatas() const { return state_->config.userData; }

void FileDialog::DrawTopBar() {}
void FileDialog::DrawDialogBody() {}
bool FileDialog::DrawBottomBar() { return false; }
void FileDialog::DrawSiblingFoldersPopup(ImVec2) {}
bool FileDialog::DrawAnswerButtons() { return false; }
bool FileDialog::DrawAcceptButton() { return false; }
bool FileDialog::DrawDismissButton() { return false; }
void FileDialog::DrawSidePanel(float) {}
void FileDialog::DrawEntryRow(int, const std::shared_ptr<FileInfos>&, bool, const char*) {}
void FileDialog::DrawEntryTable(ImVec2) {}
bool FileDialog::overwriteStep(bool res) { return res; }

}  // namespace VFD
