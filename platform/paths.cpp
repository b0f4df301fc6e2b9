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
