#include "windows/folder_chooser.h"

// The folder chooser is not in this build yet: " Add " opens nothing.
void openFolderChooser(const std::wstring&) {}

bool displayFolderChooser(std::wstring& chosen) {
    chosen.clear();
    return false;
}
