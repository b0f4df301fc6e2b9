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

}  // namespace

bool openWithDesktop(const std::wstring& target) {
    const std::string text = wideToUtf8(target);
    if (!isWebAddress(text) && !isExistingAbsolutePath(text)) return false;
    char program[] = "xdg-open";
    std::string argument = text;
    char* argv[] = {program, argument.data(), nullptr};
    pid_t pid = 0;
    if (posix_spawnp(&pid, program, nullptr, nullptr, argv, environ) != 0) return false;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return false;
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}
