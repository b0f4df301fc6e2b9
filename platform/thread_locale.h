#pragma once
// Switches the locale of the calling thread only (uselocale), so numbers and
// dates drawn by one window never change what engine threads format.
#include <string>

class ThreadLocaleScope {
public:
    // `category` is a C locale category (LC_ALL, LC_NUMERIC, ...). A locale
    // name that cannot be loaded leaves the thread's locale as it was.
    ThreadLocaleScope(int category, const std::string& name);
    ~ThreadLocaleScope();
    ThreadLocaleScope(const ThreadLocaleScope&) = delete;
    ThreadLocaleScope& operator=(const ThreadLocaleScope&) = delete;
    bool active() const { return previous_ != nullptr; }

private:
    void* locale_ = nullptr;
    void* previous_ = nullptr;
};
