#pragma once
// A private session bus (dbus-daemon) and a stand-in tray host
// (org.kde.StatusNotifierWatcher) that a test can bring up late.
#include <sys/types.h>

#include <string>

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
