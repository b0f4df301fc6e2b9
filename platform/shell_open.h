#pragma once
// Opening a file, a folder or a web page with the desktop's default program.
#include <string>

// Runs xdg-open with the target as its only argument (never through a shell)
// and waits for it to return. Only existing absolute paths and http(s)
// addresses are opened; false for anything else or when the opener fails.
bool openWithDesktop(const std::wstring& target);
