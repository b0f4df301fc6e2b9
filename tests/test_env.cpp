#include "test_env.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/paths.h"

namespace {
std::string g_root;
std::atomic<int> g_counter{0};
}  // namespace

const std::string& testRoot() { return g_root; }

std::string makeTestFolder(const std::string& hint) {
    std::string path = g_root + "/" + hint + "-" + std::to_string(++g_counter);
    std::filesystem::create_directories(path);
    return path;
}

bool writeTestFile(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
    return static_cast<bool>(out);
}

std::string readTestFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

int main(int argc, char** argv) {
    char pattern[] = "/tmp/varnholt-test-XXXXXX";
    if (!mkdtemp(pattern)) return 1;
    g_root = pattern;
    const std::string home = g_root + "/home";
    std::filesystem::create_directories(home + "/.config");
    std::filesystem::create_directories(home + "/.local/share");
    std::filesystem::create_directories(g_root + "/run");
    chmod((g_root + "/run").c_str(), 0700);
    setenv("HOME", home.c_str(), 1);
    setenv("XDG_CONFIG_HOME", (home + "/.config").c_str(), 1);
    setenv("XDG_DATA_HOME", (home + "/.local/share").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", (g_root + "/run").c_str(), 1);
    for (const char* name : {"USERPROFILE", "APPDATA", "LOCALAPPDATA", "PUBLIC"}) unsetenv(name);
    setenv("SDL_VIDEODRIVER", "offscreen", 0);
    setenv("TZ", "UTC", 1);
    tzset();
    setenv("VARNHOLT_BINARY", VARNHOLT_BINARY_PATH, 0);
    setenv("VARNHOLT_NO_MSGBOX", "1", 1);
    // The maker's server is never asked from a test: a closed local port.
    setenv("VARNHOLT_UPDATE_BASE", "127.0.0.1:1", 1);
    // Requests to the local test server never go through a proxy.
    for (const char* name : {"http_proxy", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"}) unsetenv(name);
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    unsetenv("DBUS_SESSION_BUS_ADDRESS");
    applyPlatformEnvironmentDefaults();

    ::testing::InitGoogleTest(&argc, argv);
    const int rc = RUN_ALL_TESTS();
    if (!getenv("VARNHOLT_KEEP_TEST_DIR")) {
        std::error_code ec;
        std::filesystem::remove_all(g_root, ec);
    }
    return rc;
}
