#pragma once
// What the benchmarks that measure the program's window share: a private
// desktop (Xvfb, a session bus, a home with its XDG folders, software GL) and
// the program started on it with that environment alone.
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "fake_tray_watcher.h"

struct WindowDesktop {
    std::string root, home, display;
    std::map<std::string, std::string> env;
    std::unique_ptr<SessionBus> bus;
    pid_t xvfb = -1;

    WindowDesktop() {
        char pattern[] = "/tmp/varnholt-bench-XXXXXX";
        root = mkdtemp(pattern);
        home = root + "/home";
        display = ":" + spawnAndReadLine({"Xvfb", "-screen", "0", "1280x800x24", "-nolisten", "tcp", "-displayfd"},
                                         "", xvfb);
        bus = std::make_unique<SessionBus>(root);
        std::filesystem::create_directories(home);
        std::filesystem::create_directories(root + "/run");
        std::filesystem::permissions(root + "/run", std::filesystem::perms::owner_all);
        env = {{"HOME", home}, {"XDG_DATA_HOME", home + "/.local/share"}, {"XDG_CONFIG_HOME", home + "/.config"},
               {"XDG_RUNTIME_DIR", root + "/run"}, {"DISPLAY", display}, {"SDL_VIDEODRIVER", "x11"},
               {"LIBGL_ALWAYS_SOFTWARE", "1"}, {"DBUS_SESSION_BUS_ADDRESS", bus->address},
               {"PATH", getenv("PATH") ? getenv("PATH") : "/usr/bin:/bin"}};
    }
    ~WindowDesktop() {
        bus.reset();
        if (xvfb > 0) {
            kill(xvfb, SIGTERM);
            waitpid(xvfb, nullptr, 0);
        }
        std::filesystem::remove_all(root);
    }
    bool ready() const { return display != ":" && !bus->address.empty(); }

    // Starts a program with the desktop's environment; its output into
    // `outFd`, or nowhere.
    pid_t spawn(const std::vector<std::string>& args, int outFd = -1) const {
        const pid_t pid = fork();
        if (pid != 0) return pid;
        const int null = open("/dev/null", O_WRONLY);
        dup2(outFd >= 0 ? outFd : null, 1);
        dup2(null, 2);
        std::vector<std::string> envText;
        for (const auto& [name, value] : env) envText.push_back(name + "=" + value);
        std::vector<char*> argv, envp;
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        for (auto& e : envText) envp.push_back(e.data());
        envp.push_back(nullptr);
        execvpe(argv[0], argv.data(), envp.data());
        _exit(127);
    }
};
