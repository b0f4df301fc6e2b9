#include "platform/shell_open.h"

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cerrno>

#include "platform/text.h"

extern char** environ;

namespace {

bool isWebAddress(const std::string& text) {
    return text.rfind("http://", 0) == 0 || text.rfind("https://", 0) == 0;
}

bool isExistingAbsolutePath(const std::string& text) {
    struct stat info {};
    return !text.empty() && text.front() == '/' && stat(text.c_str(), &info) == 0;
}

// xdg-open with `text` as its only argument; true when it ended with 0.
bool runDesktopOpener(std::string text) {
    char program[] = "xdg-open";
    char* argv[] = {program, text.data(), nullptr};
    pid_t pid = 0;
    if (posix_spawnp(&pid, program, nullptr, nullptr, argv, environ) != 0) return false;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return false;
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

bool isOpenableTarget(const std::wstring& target) {
    const std::string text = wideToUtf8(target);
    return isWebAddress(text) || isExistingAbsolutePath(text);
}

bool openWithDesktop(const std::wstring& target) {
    if (!isOpenableTarget(target)) return false;
    return runDesktopOpener(wideToUtf8(target));
}

bool openMailWithDesktop(const std::wstring& mailto) {
    const std::string text = wideToUtf8(mailto);
    if (text.rfind("mailto:", 0) != 0) return false;
    // A mail address carries its text percent-encoded: raw blanks or control
    // characters mean it was not built as one.
    for (unsigned char c : text)
        if (c <= ' ' || c == 0x7F) return false;
    return runDesktopOpener(text);
}
