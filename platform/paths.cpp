#include "platform/paths.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

std::wstring pathKey(std::wstring_view path) { return std::wstring(path); }

bool pathIsInside(std::wstring_view path, std::wstring_view folder) {
    while (folder.size() > 1 && folder.back() == kPathSeparator) folder.remove_suffix(1);
    if (folder.empty() || path.size() < folder.size()) return false;
    if (path.substr(0, folder.size()) != folder) return false;
    if (path.size() == folder.size()) return true;
    return folder.back() == kPathSeparator || path[folder.size()] == kPathSeparator;
}

bool hasDotComponent(std::wstring_view path) {
    for (size_t start = 0; start <= path.size();) {
        size_t end = path.find(kPathSeparator, start);
        if (end == std::wstring_view::npos) end = path.size();
        const std::wstring_view part = path.substr(start, end - start);
        if (part == L"." || part == L"..") return true;
        start = end + 1;
    }
    return false;
}

bool isPathBelow(std::wstring_view path, std::wstring_view folder) {
    while (folder.size() > 1 && folder.back() == kPathSeparator) folder.remove_suffix(1);
    if (folder.size() < 2 || folder.front() != kPathSeparator || path.empty() || path.front() != kPathSeparator)
        return false;
    if (hasDotComponent(path) || hasDotComponent(folder)) return false;
    while (path.size() > 1 && path.back() == kPathSeparator) path.remove_suffix(1);
    return path != folder && pathIsInside(path, folder);
}

namespace {

std::string homeFolder() {
    if (const char* home = std::getenv("HOME"); home && *home) return home;
    if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir) return pw->pw_dir;
    return "/";
}

std::string userName() {
    if (const char* user = std::getenv("USER"); user && *user) return user;
    if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_name) return pw->pw_name;
    return "";
}

std::string xdgOr(const char* name, const std::string& fallback) {
    const char* value = std::getenv(name);
    return (value && *value == '/') ? std::string(value) : fallback;
}

// A variable that is set but empty counts as unset.
void setDefault(const char* name, const std::string& value) {
    const char* current = std::getenv(name);
    if (!current || !*current) setenv(name, value.c_str(), 1);
}

}  // namespace

void applyPlatformEnvironmentDefaults() {
    const std::string home = homeFolder();
    setDefault("USERPROFILE", home);
    setDefault("APPDATA", xdgOr("XDG_CONFIG_HOME", home + "/.config"));
    setDefault("LOCALAPPDATA", xdgOr("XDG_DATA_HOME", home + "/.local/share"));
    setDefault("PUBLIC", home + "/Public");
    setDefault("windir", "/usr");
    setDefault("SystemRoot", "/usr");
    setDefault("ProgramFiles", "/opt");
    setDefault("SystemDrive", "");
    setDefault("USERNAME", userName());
}
