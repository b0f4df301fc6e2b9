#pragma once
// A private session bus (dbus-daemon) and a stand-in tray host
// (org.kde.StatusNotifierWatcher) that a test can bring up late.
#include <sys/types.h>

#include <string>
#include <vector>

// Starts a helper program (Xvfb, dbus-daemon) that writes one line, a display
// number or a bus address, to the descriptor named by `fdArgPrefix` + fd;
// returns that line, empty when it wrote none.
std::string spawnAndReadLine(std::vector<std::string> args, const std::string& fdArgPrefix, pid_t& pid);

struct SessionBus {
    pid_t pid = -1;
    std::string address;  // empty when dbus-daemon did not start
    explicit SessionBus(const std::string& folder);
    ~SessionBus();
};

// Owns the watcher's name on the bus until destroyed; counts registrations.
class FakeTrayWatcher {
public:
    explicit FakeTrayWatcher(const std::string& address);
    ~FakeTrayWatcher();
    FakeTrayWatcher(const FakeTrayWatcher&) = delete;
    FakeTrayWatcher& operator=(const FakeTrayWatcher&) = delete;
    bool owned() const;

private:
    struct State;
    State* state_;
};
