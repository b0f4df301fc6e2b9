#include "windows/folder_chooser.h"

#include <imgui.h>
#include <imgui_internal.h>

#include <cfloat>

#include "filedialog/file_dialog.h"
#include "platform/text.h"

namespace {
constexpr const char* kChooserKey = "ChooseDirDlgKey";
constexpr const char* kChooserWindow = "Choose a Folder##ChooseDirDlgKey";
bool g_placed = false;

// Centred at half the viewport's size, once its window exists (the dialog
// gives a new window a size of its own).
void placeChooser() {
    if (g_placed || !ImGui::FindWindowByName(kChooserWindow)) return;
    const ImGuiViewport* viewport = ImGui::GetMainViewport();
    const ImVec2 size(viewport->Size.x * 0.5f, viewport->Size.y * 0.5f);
    ImGui::SetWindowSize(kChooserWindow, size);
    ImGui::SetWindowPos(kChooserWindow, ImVec2(viewport->Pos.x + size.x * 0.5f, viewport->Pos.y + size.y * 0.5f));
    g_placed = true;
}
}  // namespace

void openFolderChooser(const std::wstring& startFolder) {
    VFD::DialogOpenOptions options;
    options.path = wideToUtf8(startFolder);
    options.flags = VFD::OptModal;
    if (VFD::FileDialog::Shared().IsOpened()) return;
    VFD::FileDialog::Shared().OpenDialog(kChooserKey, "Choose a Folder", nullptr, options);
    g_placed = false;
}

bool displayFolderChooser(std::wstring& chosen) {
    chosen.clear();
    VFD::FileDialog& dialog = VFD::FileDialog::Shared();
    // The placement must not reach another window's Begin.
    if (!dialog.IsOpened(kChooserKey)) return false;
    placeChooser();
    const ImGuiViewport* viewport = ImGui::GetMainViewport();
    ImGui::SetNextWindowPos(viewport->GetCenter(), ImGuiCond_Appearing, ImVec2(0.5f, 0.5f));
    if (!dialog.DisplayDialog(kChooserKey, ImGuiWindowFlags_NoCollapse, ImVec2(0, 0), ImVec2(FLT_MAX, FLT_MAX)))
        return false;
    if (dialog.IsOk()) {
        std::string path = dialog.GetFilePathName(0);
        if (path.empty()) path = dialog.GetCurrentPath();
        chosen = utf8ToWide(path);
    }
    dialog.CloseDialog();
    return true;
}
