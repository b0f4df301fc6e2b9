#include "shell/autostart.h"

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "platform/atomic_file.h"
#include "platform/text.h"

namespace {
// Desktop files are UTF-8 text; a path that is not cannot be launched from one.
bool isValidUtf8(const std::string& text) {
    for (wchar_t c : utf8ToWide(text))
        if (c >= 0xD800 && c <= 0xDFFF) return false;  // an invalid byte, kept as a lone surrogate
    return true;
}

std::string configHome() {
    const char* xdg = getenv("XDG_CONFIG_HOME");
    if (xdg && xdg[0] == '/') return xdg;
    const char* home = getenv("HOME");
    if (home && home[0] == '/') return std::string(home) + "/.config";
    return {};
}
}  // namespace

std::string autostartFilePath() {
    const std::string config = configHome();
    return config.empty() ? std::string() : config + "/autostart/Varnholt.desktop";
}

bool startAtLogOnEnabled() {
    const std::string path = autostartFilePath();
    struct stat st {};
    return !path.empty() && stat(path.c_str(), &st) == 0;
}

std::string desktopExecQuote(const std::string& path) {
    if (path.empty() || path[0] != '/' || !isValidUtf8(path)) return {};
    // Inside the quotes '"', '`', '$' and '\' take a backslash. The value is
    // then a desktop-file string, whose own escape doubles every backslash
    // once more. A "%" is refused: launchers differ in how they read "%%"
    // inside quotes, and an entry that does not start is worse than none.
    std::string quoted = "\"";
    for (char c : path) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f || c == '%') return {};
        if (c == '"' || c == '`' || c == '$') quoted += "\\\\";
        if (c == '\\') quoted += "\\\\\\";
        quoted += c;
    }
    return quoted + "\"";
}

bool setStartAtLogOn(bool on, const std::string& executablePath, std::string& error) {
    const std::string path = autostartFilePath();
    if (path.empty()) {
        error = "no configuration folder (HOME and XDG_CONFIG_HOME unset)";
        return false;
    }
    if (!on) {
        if (unlink(path.c_str()) != 0 && errno != ENOENT) {
            error = std::strerror(errno);
            return false;
        }
        return true;
    }
    const std::string exec = desktopExecQuote(executablePath);
    if (exec.empty()) {
        error = "the program's path holds \"%\", a control character or bytes that are not UTF-8, "
                "which a desktop cannot start";
        return false;
    }
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
    if (ec) {
        error = ec.message();
        return false;
    }
    const std::string content =
        "[Desktop Entry]\nType=Application\nName=Varnholt\nComment=Varnholt Application\n"
        "Exec=" + exec + "\nTerminal=false\nX-GNOME-Autostart-enabled=true\n";
    if (writeFileAtomically(path, content)) return true;
    error = "cannot write " + path;
    return false;
}
