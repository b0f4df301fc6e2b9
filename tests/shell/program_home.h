#pragma once
// The real program as a process, with its own home, data and runtime folders.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <string>

#include "fake_tray_watcher.h"
#include <thread>
#include <vector>

#include "test_env.h"

namespace programtest {
namespace fs = std::filesystem;

struct ProcessRun {
    int exitCode = -1000;  // as the shell sees it (0..255); -1000 when it did not end
    std::string errors;    // what it wrote to stderr
    std::string output;    // what it wrote to stdout
    int signal = 0;        // the signal that ended it, if one did
};

struct ProgramHome {
    std::string root = makeTestFolder("program");
    std::map<std::string, std::string> env;

    ProgramHome() {
        fs::create_directories(root + "/home/.config");
        fs::create_directories(root + "/home/.local/share");
        fs::create_directories(root + "/run");
        chmod((root + "/run").c_str(), 0700);
        env = {{"HOME", root + "/home"},
               {"XDG_CONFIG_HOME", root + "/home/.config"},
               {"XDG_DATA_HOME", root + "/home/.local/share"},
               {"XDG_RUNTIME_DIR", root + "/run"},
               {"SDL_VIDEODRIVER", "offscreen"},
               {"VARNHOLT_NO_MSGBOX", "1"},
               {"TZ", "UTC"}};
        for (const char* name : {"PATH", "ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS", "USER"})
            if (const char* value = getenv(name)) env[name] = value;
    }
    std::string dataFolder() const { return root + "/home/.local/share/Morvane/QZR"; }
    std::string configFolder() const { return dataFolder() + "/ConfigData"; }
    std::string traceLog() const { return configFolder() + "/logString.txt"; }

    pid_t start(const std::vector<std::string>& args, const std::string& errorFile) const {
        std::vector<std::string> envText;
        for (const auto& [name, value] : env) envText.push_back(name + "=" + value);
        const char* binary = getenv("VARNHOLT_BINARY");
        if (!binary) return -1;
        const pid_t pid = fork();
        if (pid != 0) return pid;
        const int fd = open(errorFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(fd, 2);
        const int out = open((errorFile + ".out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(out, 1);
        std::vector<char*> argv{const_cast<char*>(binary)};
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        std::vector<char*> envp;
        for (auto& e : envText) envp.push_back(e.data());
        envp.push_back(nullptr);
        execve(binary, argv.data(), envp.data());
        _exit(127);
    }

    static ProcessRun wait(pid_t pid, const std::string& errorFile, int timeoutMs = 60000) {
        ProcessRun run;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        int status = 0;
        while (waitpid(pid, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) {
                kill(pid, SIGKILL);
                waitpid(pid, &status, 0);
                return run;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (WIFEXITED(status)) run.exitCode = WEXITSTATUS(status);
        if (WIFSIGNALED(status)) run.signal = WTERMSIG(status);
        run.errors = readTestFile(errorFile);
        run.output = readTestFile(errorFile + ".out");
        return run;
    }

    ProcessRun run(const std::vector<std::string>& args) const {
        const std::string errorFile = makeTestFolder("stderr") + "/err.txt";
        return wait(start(args, errorFile), errorFile);
    }

    std::vector<std::string> traceLines() const {
        std::vector<std::string> lines;
        std::string text = readTestFile(traceLog()), line;
        for (char c : text) {
            if (c != '\n') {
                line += c;
                continue;
            }
            const size_t mark = line.find(": ");
            lines.push_back(line.rfind("ANCHOR: ", 0) == 0 ? "ANCHOR: "
                                                            : line.substr(mark == std::string::npos ? 0 : mark + 2));
            line.clear();
        }
        return lines;
    }

    bool waitForTrace(const std::string& text, int timeoutMs = 60000) const {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (std::chrono::steady_clock::now() < deadline) {
            for (const std::string& line : traceLines())
                if (line == text) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }
};

// Kills a started program that a failed assertion left running.
struct ProcessGuard {
    pid_t pid;
    ~ProcessGuard() {
        if (pid > 0 && waitpid(pid, nullptr, WNOHANG) == 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
    }
};

// A private X server (Xvfb on a free display) for tests that need a real
// display; killed when the object goes.
struct XServer {
    pid_t pid = -1;
    std::string display;  // ":N", empty when Xvfb could not start

    // -noreset: a server regenerates when its last client leaves (an install
    // run) and drops the connections being made meanwhile (the next start's).
    XServer() {
        const std::string number = spawnAndReadLine(
            {"Xvfb", "-screen", "0", "800x600x24", "-nolisten", "tcp", "-noreset", "-displayfd"}, "", pid);
        if (!number.empty()) display = ":" + number;
    }
    ~XServer() { stop(); }
    void stop() {
        if (pid <= 0) return;
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        pid = -1;
    }
};

// Points the program at the X server (software GL, the SDL X11 driver).
inline void useDisplay(ProgramHome& home, const XServer& x) {
    home.env["DISPLAY"] = x.display;
    home.env["SDL_VIDEODRIVER"] = "x11";
    home.env["LIBGL_ALWAYS_SOFTWARE"] = "1";
}
}  // namespace programtest
