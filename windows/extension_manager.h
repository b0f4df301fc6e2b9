#pragma once
// The extension manager "Manage Extensions: " (display item IG_005): which
// file types of one watch folder are archived. Drawn on the user-interface
// thread; its buttons change the folder's extension map on threads of their
// own, all under watchFolderMutex.
#include <string>

void drawExtensionManagerWindow();
bool isExtensionManagerWindowOpen();
// Opens it on the extensions of one watch folder, named by its key in
// watchFolderMap (the path as stored).
void openExtensionManagerWindow(const std::wstring& folderKey);
std::wstring extensionManagerFolder();
// Closes it as its close box does.
void closeExtensionManagerWindow();

// The extension the add field's text names: "*" stays, anything else is
// lower-cased and loses every "*" and "."; empty when nothing is left.
std::wstring extensionFromAddText(const std::string& utf8Text);
