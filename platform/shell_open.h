#pragma once
// Opening a file, a folder, a web page or a mail draft with the desktop's
// default program.
#include <string>

// An existing absolute path or an http(s) address: the only targets that
// openWithDesktop opens (never a command line or another scheme).
bool isOpenableTarget(const std::wstring& target);

// Runs xdg-open with the target as its only argument (never through a shell)
// and waits for it to return. Only existing absolute paths and http(s)
// addresses are opened; false for anything else or when the opener fails.
bool openWithDesktop(const std::wstring& target);

// Hands a "mailto:" address (with its subject and body) to the user's mail
// program the same way; false for anything else or when the opener fails.
bool openMailWithDesktop(const std::wstring& mailto);
