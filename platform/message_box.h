#pragma once
// MessageBoxW of the Linux build: the text always goes to stderr, and to an
// SDL message box when a display exists and VARNHOLT_NO_MSGBOX is unset.
#include <string>

// True when a dialog would be shown (display present, not disabled).
bool messageBoxCanShowDialog();
void showMessageBox(const std::string& text, const std::string& caption);
