#include "engine/monitor_ui.h"

#include <gtest/gtest.h>

#include <map>
#include <mutex>
#include <utility>
#include <vector>

#include "engine_test_support.h"
#include "foundation/app_config.h"
#include "foundation/foreground_history.h"
#include "platform/foreground_window.h"

namespace {

// A desktop the test arranges: windows by id and the one in the foreground.
struct FakeDesktop {
    std::mutex mutex;
    std::map<uint64_t, WindowDescription> windows;
    uint64_t foreground = 0;
};
FakeDesktop desktop;

WindowDescription appWindow(uint32_t pid, const std::wstring& image, const std::wstring& title) {
    WindowDescription window;
    window.processId = pid;
    window.imagePath = image;
    window.title = title;
    window.width = 800;
    window.height = 600;
    window.visible = true;
    return window;
}

class MonitorUITest : public EngineTest {
protected:
    void SetUp() override {
        EngineTest::SetUp();
        reset();
        ForegroundWindowSource source;
        source.foregroundWindow = [] {
            std::lock_guard<std::mutex> lock(desktop.mutex);
            return desktop.foreground;
        };
        source.describeWindow = [](uint64_t id, WindowDescription& description) {
            std::lock_guard<std::mutex> lock(desktop.mutex);
            const auto it = desktop.windows.find(id);
            if (it == desktop.windows.end()) return false;
            description = it->second;
            return true;
        };
        setForegroundWindowSource(source);
    }
    void TearDown() override {
        setForegroundWindowSource({});
        reset();
        EngineTest::TearDown();
    }
    static void reset() {
        {
            std::lock_guard<std::mutex> lock(desktop.mutex);
            desktop.windows.clear();
            desktop.foreground = 0;
        }
        {
            std::lock_guard<std::mutex> lock(statisticsMutex);
            applicationStatsMap.clear();
        }
        {
            std::lock_guard<std::mutex> lock(windowTableMutex);
            windowTable.clear();
        }
        {
            std::lock_guard<std::mutex> lock(processTableMutex);
            processTable.clear();
        }
        clearForegroundHistory();
    }
    static void show(uint64_t id, const WindowDescription& window) {
        std::lock_guard<std::mutex> lock(desktop.mutex);
        desktop.windows[id] = window;
        desktop.foreground = id;
    }
    // Runs steps until the phase counter is back in phase 1 after a phase 2.
    void followOnce(int64_t ticks, int64_t steadyMs) {
        monitorUIStep(state, ticks, steadyMs);  // phase 1: finds the window
        if (state.phase == 2) monitorUIStep(state, ticks, steadyMs);
    }
    static ApplicationRecord record(const std::wstring& key) {
        std::lock_guard<std::mutex> lock(statisticsMutex);
        return applicationStatsMap.at(key);
    }
    static bool hasRecord(const std::wstring& key) {
        std::lock_guard<std::mutex> lock(statisticsMutex);
        return applicationStatsMap.count(key) != 0;
    }
    MonitorUIState state;
};

TEST_F(MonitorUITest, FollowsTheForegroundAcrossApplicationsAndMeasuresTheirTime) {
    monitorUIStep(state, 1, 0);
    EXPECT_EQ(state.phase, 1);
    monitorUIStep(state, 1, 0);  // no foreground window: stays
    EXPECT_EQ(state.phase, 1);

    show(1, appWindow(10, L"/usr/bin/writer", L"Letter"));
    followOnce(1000, 0);
    EXPECT_EQ(state.currentApplication, L"/usr/bin/writer");
    ApplicationRecord writer = record(L"/usr/bin/writer");
    EXPECT_EQ(writer.displayName, L"writer: Letter");
    EXPECT_TRUE(writer.monitorFocus);
    EXPECT_FALSE(writer.persistent);

    followOnce(1500, 400);  // same application: time only
    EXPECT_EQ(record(L"/usr/bin/writer").foregroundMs, 400u);

    show(2, appWindow(20, L"/usr/bin/paint", L"Picture"));
    followOnce(2000, 1000);
    EXPECT_EQ(record(L"/usr/bin/writer").foregroundMs, 1000u);
    show(1, appWindow(10, L"/usr/bin/writer", L"Letter"));
    followOnce(3000, 1500);
    EXPECT_EQ(record(L"/usr/bin/paint").foregroundMs, 500u);

    // A to B and back to A: two entries, B then A with the later tick.
    const ForegroundHistory history = foregroundHistorySnapshot();
    ASSERT_EQ(history.size(), 2u);
    EXPECT_EQ(history.begin()->first, 2000);
    EXPECT_EQ(history.begin()->second.imagePath, L"/usr/bin/paint");
    EXPECT_EQ(history.begin()->second.processId, 20u);
    EXPECT_EQ(history.rbegin()->first, 3000);
    EXPECT_EQ(history.rbegin()->second.imagePath, L"/usr/bin/writer");
}

TEST_F(MonitorUITest, OwnWindowIgnoredApplicationsAndUnreadableWindows) {
    monitorUIStep(state, 1, 0);
    // The program's own window becomes current without a statistics record.
    show(1, appWindow(30, ownExecutablePath(), L"Varnholt"));
    followOnce(100, 0);
    EXPECT_EQ(state.currentApplication, ownExecutablePath());
    EXPECT_FALSE(hasRecord(ownExecutablePath()));
    EXPECT_EQ(newestForegroundApplication(), ownExecutablePath());

    // An application the user told to ignore is never followed.
    {
        std::lock_guard<std::mutex> lock(statisticsMutex);
        applicationStatsMap[L"/usr/bin/game"].monitorFocus = false;
    }
    show(2, appWindow(40, L"/usr/bin/game", L"Game"));
    followOnce(200, 10);
    EXPECT_EQ(state.currentApplication, ownExecutablePath());

    // Small, hidden or minimised windows and processes that cannot be read.
    WindowDescription tiny = appWindow(50, L"/usr/bin/tiny", L"t");
    tiny.width = 10;
    WindowDescription hidden = appWindow(51, L"/usr/bin/hidden", L"h");
    hidden.visible = false;
    WindowDescription minimised = appWindow(52, L"/usr/bin/min", L"m");
    minimised.minimised = true;
    WindowDescription foreign = appWindow(53, L"", L"root's window");
    const std::vector<std::pair<uint64_t, WindowDescription>> unusable = {{3, tiny}, {4, hidden}, {5, minimised}, {6, foreign}};
    for (const auto& [id, window] : unusable) {
        show(id, window);
        followOnce(300 + static_cast<int64_t>(id), 20);
        EXPECT_EQ(state.currentApplication, ownExecutablePath()) << id;
        EXPECT_EQ(state.phase, 1);
    }
    EXPECT_FALSE(scanWindow(3));
    EXPECT_TRUE(scanWindow(6));
    std::lock_guard<std::mutex> lock(processTableMutex);
    EXPECT_EQ(processTable.count(53), 0u);
}

// Time while the program's own window, an ignored application or no window
// is in front belongs to no application.
TEST_F(MonitorUITest, OnlyTheApplicationInFrontGetsItsTime) {
    monitorUIStep(state, 1, 0);
    {
        std::lock_guard<std::mutex> lock(statisticsMutex);
        applicationStatsMap[L"/usr/bin/game"].monitorFocus = false;
    }
    const WindowDescription writer = appWindow(10, L"/usr/bin/writer", L"Letter");
    show(1, writer);
    followOnce(10, 0);
    followOnce(20, 30000);
    show(2, appWindow(30, ownExecutablePath(), L"Varnholt"));
    followOnce(30, 30000);
    followOnce(40, 400000);
    show(3, appWindow(40, L"/usr/bin/game", L"Game"));
    followOnce(50, 500000);
    {
        std::lock_guard<std::mutex> lock(desktop.mutex);
        desktop.foreground = 0;
    }
    monitorUIStep(state, 60, 600000);
    show(1, writer);
    followOnce(70, 800000);
    followOnce(80, 801000);
    EXPECT_EQ(record(L"/usr/bin/writer").foregroundMs, 31000u);
    EXPECT_EQ(record(L"/usr/bin/game").foregroundMs, 0u);
}

TEST_F(MonitorUITest, RenamingAnApplication) {
    {
        std::lock_guard<std::mutex> lock(statisticsMutex);
        applicationStatsMap[L"/opt/tools/editor"].displayName = L"editor: x";
    }
    renameApplication(L"/opt/tools/editor", L"My Editor");
    EXPECT_EQ(record(L"/opt/tools/editor").displayName, L"My Editor");
    EXPECT_TRUE(record(L"/opt/tools/editor").persistent);
    renameApplication(L"/opt/tools/editor", L"");
    EXPECT_EQ(record(L"/opt/tools/editor").displayName, L"editor");
    EXPECT_FALSE(record(L"/opt/tools/editor").persistent);
    renameApplication(L"/opt/tools/unknown", L"x");  // no record: nothing happens
    EXPECT_FALSE(hasRecord(L"/opt/tools/unknown"));
}

}  // namespace
