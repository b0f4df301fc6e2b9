#include "platform/paths.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace {

// The wide and the narrow forms share one body each: the separator is the
// same character in both.
template <typename Char>
std::basic_string_view<Char> trimmedView(std::basic_string_view<Char> path) {
    while (path.size() > 1 && path.back() == Char('/')) path.remove_suffix(1);
    return path;
}

template <typename Char>
std::basic_string<Char> joined(std::basic_string_view<Char> folder, std::basic_string_view<Char> name) {
    std::basic_string<Char> path(trimmedView(folder));
    if (!path.empty() && path.back() != Char('/')) path += Char('/');
    return path += name;
}

template <typename Char>
std::basic_string<Char> parentOf(std::basic_string_view<Char> path) {
    path = trimmedView(path);
    const size_t slash = path.rfind(Char('/'));
    if (slash == std::basic_string_view<Char>::npos || path.size() == 1) return {};
    return std::basic_string<Char>(trimmedView(path.substr(0, slash == 0 ? 1 : slash)));
}

}  // namespace

bool isAbsolutePath(std::wstring_view path) { return !path.empty() && path.front() == kPathSeparator; }
bool isAbsolutePath(std::string_view path) { return !path.empty() && path.front() == '/'; }

std::wstring withoutTrailingSeparators(std::wstring_view path) { return std::wstring(trimmedView(path)); }
std::string withoutTrailingSeparators(std::string_view path) { return std::string(trimmedView(path)); }

std::wstring withTrailingSeparator(std::wstring_view path) {
    std::wstring text(trimmedView(path));
    if (!text.empty() && text.back() != kPathSeparator) text += kPathSeparator;
    return text;
}

std::wstring joinPath(std::wstring_view folder, std::wstring_view name) { return joined(folder, name); }
std::string joinPath(std::string_view folder, std::string_view name) { return joined(folder, name); }

std::wstring parentFolder(std::wstring_view path) { return parentOf(path); }
std::string parentFolder(std::string_view path) { return parentOf(path); }

std::wstring lastPathComponent(std::wstring_view path) {
    path = trimmedView(path);
    const size_t slash = path.rfind(kPathSeparator);
    return std::wstring(slash == std::wstring_view::npos ? path : path.substr(slash + 1));
}

std::wstring pathKey(std::wstring_view path) { return std::wstring(path); }

bool pathIsInside(std::wstring_view path, std::wstring_view folder) {
    folder = trimmedView(folder);
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
    folder = trimmedView(folder);
    if (folder.size() < 2 || folder.front() != kPathSeparator || path.empty() || path.front() != kPathSeparator)
        return false;
    if (hasDotComponent(path) || hasDotComponent(folder)) return false;
    return trimmedView(path) != folder && pathIsInside(path, folder);
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

// Without an address the D-Bus clients use the user's bus socket when there
// is one, and autolaunch a daemon otherwise.
void markMissingSessionBus() {
    const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (address && *address) return;
    const std::string runtime = xdgOr("XDG_RUNTIME_DIR", "");
    struct stat st {};
    if (!runtime.empty() && stat((runtime + "/bus").c_str(), &st) == 0 && S_ISSOCK(st.st_mode)) return;
    setenv("DBUS_SESSION_BUS_ADDRESS", kNoSessionBus, 1);
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
    markMissingSessionBus();
}

bool sessionBusNamed() {
    const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    return address && *address && std::string_view(address) != kNoSessionBus;
}
