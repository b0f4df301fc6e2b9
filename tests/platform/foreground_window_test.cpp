#include "platform/foreground_window.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

TEST(ForegroundWindow, WithoutADisplayThereIsNoForegroundWindow) {
    setForegroundWindowSource({});
    const char* display = std::getenv("DISPLAY");
    const std::string saved = display ? display : "";
    unsetenv("DISPLAY");
    EXPECT_EQ(currentForegroundWindow(), 0u);
    WindowDescription description;
    EXPECT_FALSE(describeWindow(12345, description));
    if (display) setenv("DISPLAY", saved.c_str(), 1);
}

TEST(ForegroundWindow, ProcessImagesComeFromProc) {
    const std::wstring own = ownExecutablePath();
    ASSERT_FALSE(own.empty());
    EXPECT_EQ(own.front(), L'/');
    EXPECT_EQ(processImagePath(static_cast<uint32_t>(getpid())), own);
    EXPECT_TRUE(processImagePath(0).empty());
    // Process ids stop far below this.
    EXPECT_TRUE(processImagePath(4000000000u).empty());
}

TEST(ForegroundWindow, AnInjectedSourceReplacesTheWindowSystemUntilReset) {
    ForegroundWindowSource source;
    source.foregroundWindow = [] { return uint64_t{77}; };
    source.describeWindow = [](uint64_t window, WindowDescription& description) {
        if (window != 77) return false;
        description.processId = 9;
        description.title = L"Notes — draft";
        return true;
    };
    setForegroundWindowSource(source);
    EXPECT_EQ(currentForegroundWindow(), 77u);
    WindowDescription description;
    ASSERT_TRUE(describeWindow(77, description));
    EXPECT_EQ(description.processId, 9u);
    EXPECT_EQ(description.title, L"Notes — draft");
    EXPECT_FALSE(describeWindow(78, description));
    setForegroundWindowSource({});
    unsetenv("DISPLAY");
    EXPECT_EQ(currentForegroundWindow(), 0u);
}
