#include <SDL.h>
#include <gtest/gtest.h>
#include <imgui.h>
#include <imgui_internal.h>

#include <atomic>
#include <vector>

#include "shell/display_items.h"
#include "shell/main_loop.h"
#include "shell/program_entry.h"
#include "shell/shell_state.h"
#include "shell/window.h"
#include "shell/tray.h"
#include "engine/thread_registry.h"
#include "foundation/app_log.h"
#include "imgui_headless.h"
#include "platform/window_sdl.h"
#include "shell/mouse_input.h"
#include "windows/main_window.h"
#include "windows/program_windows.h"

namespace {
std::vector<int> g_drawn;
template <int N>
void recordDraw() {
    g_drawn.push_back(N);
}

// Headless graphics: a Dear ImGui context without a renderer.
struct FakeGraphics {
    static inline int activations = 0, deactivations = 0, frames = 0;
    static bool setActive(bool active) {
        if (active) {
            ++activations;
        } else if (ImGui::GetCurrentContext()) {
            ++deactivations;
            ImGui::DestroyContext();
        }
        return true;
    }
    static bool initBackends() {
        if (!ImGui::GetCurrentContext()) ImGui::CreateContext();
        ImGuiIO& io = ImGui::GetIO();
        io.IniFilename = nullptr;
        io.DisplaySize = ImVec2(800, 600);
        unsigned char* pixels = nullptr;
        int w = 0, h = 0;
        io.Fonts->GetTexDataAsRGBA32(&pixels, &w, &h);
        return true;
    }
    static void newFrame() {
        ImGui::GetIO().DeltaTime = 1.0f / 60;
        applyNextMouseState(ImGui::GetIO());
        ImGui::NewFrame();
    }
    static void present() { ++frames; }
};

int64_t g_nowMs = 0;
int64_t fakeClock() { return g_nowMs; }
int g_sleeps = 0;
void fakeSleep(uint32_t) { ++g_sleeps; }
std::atomic<int> g_checks{0};

struct MainLoopFixture : ::testing::Test {
    void SetUp() override {
        ASSERT_TRUE(registerWindowClass());
        resetShellState();
        resetWindowState();
        resetMainLoop();
        clearDisplayItems();
        registerProgramWindows();
        setMainLoopGraphics({FakeGraphics::setActive, FakeGraphics::initBackends, FakeGraphics::newFrame,
                             FakeGraphics::present});
        setMainLoopClock(fakeClock);
        setMainLoopSleep(fakeSleep);
        FakeGraphics::activations = FakeGraphics::deactivations = FakeGraphics::frames = 0;
        g_nowMs = 1'000'000;
        g_sleeps = 0;
        g_checks = 0;
        g_drawn.clear();
    }
    void TearDown() override {
        if (ImGui::GetCurrentContext()) ImGui::DestroyContext();
        resetMainLoop();
        resetWindowState();
        clearDisplayItems();
    }
};
}  // namespace

TEST_F(MainLoopFixture, DisplayItemsRegisterAndDrawInNameOrder) {
    setIGDisplayItem_zOrder();
    ASSERT_EQ(displayItemMap.size(), 10u);
    EXPECT_EQ(displayItemMap.at(L"IG_008").id, 9);  // the style editor
    EXPECT_EQ(displayItemMap.at(L"IG_009").id, 8);  // the user-message window
    EXPECT_TRUE(displayItemMap.at(L"IG_000").visible);  // the main window counts as open
    EXPECT_FALSE(displayItemMap.at(L"IG_007").visible);

    DrawFunction recorders[10] = {recordDraw<0>, recordDraw<1>, recordDraw<2>, recordDraw<3>, recordDraw<4>,
                                  recordDraw<5>, recordDraw<6>, recordDraw<7>, recordDraw<8>, recordDraw<9>};
    for (int id = 0; id < 10; ++id) {
        EXPECT_EQ(setDisplayItemDrawFunction(id, recorders[id]), 1);
        EXPECT_EQ(setDisplayItemVisible(id, id != 4), 1);
    }
    EXPECT_EQ(setDisplayItemVisible(42, true), 0);
    EXPECT_EQ(setDisplayItemDrawFunction(42, recordDraw<0>), 0);
    EXPECT_EQ(displayItemMap.size(), 10u);
    setDisplayItemDrawFunction(6, nullptr);  // no draw function: skipped
    drawDisplayItems();
    EXPECT_EQ(g_drawn, (std::vector<int>{1, 2, 3, 5, 7, 9, 8, 0}));  // the main window's modal popups last

    // A second registration under another name keeps function and flag.
    registerDisplayItem(1, L"IG_100");
    EXPECT_EQ(displayItemMap.count(L"IG_001"), 0u);
    EXPECT_EQ(displayItemMap.at(L"IG_100").draw, recorders[1]);
    EXPECT_TRUE(displayItemMap.at(L"IG_100").visible);
    g_drawn.clear();
    drawDisplayItems();
    EXPECT_EQ(g_drawn, (std::vector<int>{2, 3, 5, 7, 9, 8, 1, 0}));
}

TEST_F(MainLoopFixture, OnlyTheWindowAtTheBackOfTheQueueComesToTheFront) {
    FakeGraphics::initBackends();
    auto frame = [] {
        FakeGraphics::newFrame();
        for (int id : {5, 6}) {
            ImGui::Begin(id == 5 ? "five" : "six");
            checkDisplayItemZOrder(id);
            ImGui::End();
        }
        ImGui::Render();
        return std::string(GImGui->Windows.back()->Name);  // the last one is drawn on top
    };
    EXPECT_EQ(frame(), "six");
    pushDisplayItemZOrder(6);
    pushDisplayItemZOrder(5);
    EXPECT_EQ(frame(), "five");
    EXPECT_EQ(frame(), "five");  // six is drawn later each frame but stays behind
    removeDisplayItemZOrder(5);
    EXPECT_EQ(frame(), "six");
    ImGui::DestroyContext();
}

TEST_F(MainLoopFixture, RenderStatesFollowShowHideAndSettledResizes) {
    setIGDisplayItem_zOrder();
    setDisplayItemDrawFunction(0, recordDraw<0>);
    setApplicationStateCheck([] { ++g_checks; });
    setShellShowUI(false);

    // Hidden: no graphics, no frame, one pause per pass.
    ASSERT_TRUE(runMainLoopPass());
    ASSERT_TRUE(runMainLoopPass());
    EXPECT_EQ(FakeGraphics::activations, 0);
    EXPECT_EQ(g_sleeps, 2);
    EXPECT_EQ(ImGui::GetCurrentContext(), nullptr);

    // Shown: graphics on, a frame at once, the state check once at the first frame.
    setShellShowUI(true);
    ASSERT_TRUE(runMainLoopPass());
    EXPECT_EQ(renderStateSnapshot().current, kRenderOn);
    EXPECT_TRUE(renderStateSnapshot().graphicsReady);
    EXPECT_EQ(FakeGraphics::activations, 1);
    EXPECT_EQ(FakeGraphics::frames, 1);
    waitForPeriodicStateCheck();
    EXPECT_EQ(g_checks.load(), 1);
    EXPECT_EQ(periodicCheckTime(), g_nowMs + kPeriodicCheckIntervalMs);
    g_nowMs += 1000;  // nothing happened: the next frame comes a second later
    ASSERT_TRUE(runMainLoopPass());
    waitForPeriodicStateCheck();
    EXPECT_EQ(g_checks.load(), 1);
    EXPECT_EQ(g_drawn.size(), 2u);
    g_nowMs += kPeriodicCheckIntervalMs + 1;
    ASSERT_TRUE(runMainLoopPass());
    waitForPeriodicStateCheck();
    EXPECT_EQ(g_checks.load(), 2);

    // A burst of resizes: one recreation, 125 ms after the last one.
    const int64_t start = g_nowMs;
    noteWindowResized(start);
    g_nowMs = start + 100;
    runMainLoopPass();
    noteWindowResized(start + 100);
    g_nowMs = start + 100 + resizeSettleMs - 1;
    runMainLoopPass();
    EXPECT_EQ(FakeGraphics::deactivations, 0);
    g_nowMs = start + 100 + resizeSettleMs;
    takeStyleReapply();
    runMainLoopPass();
    EXPECT_EQ(FakeGraphics::deactivations, 1);
    EXPECT_EQ(FakeGraphics::activations, 2);
    EXPECT_EQ(renderStateSnapshot().requested, kRenderOn);
    EXPECT_TRUE(takeStyleReapply());
    g_nowMs += 1000;
    runMainLoopPass();
    EXPECT_EQ(FakeGraphics::activations, 2);

    // Hidden again: the context goes; a resize noted meanwhile recreates nothing.
    const int framesBefore = FakeGraphics::frames;
    setShellShowUI(false);
    noteWindowResized(g_nowMs);
    g_nowMs += 1000;
    ASSERT_TRUE(runMainLoopPass());
    EXPECT_EQ(ImGui::GetCurrentContext(), nullptr);
    EXPECT_EQ(renderStateSnapshot().current, kRenderOff);
    EXPECT_FALSE(renderStateSnapshot().graphicsReady);
    EXPECT_TRUE(takeStyleReapply());
    ASSERT_TRUE(runMainLoopPass());
    EXPECT_EQ(FakeGraphics::frames, framesBefore);
    EXPECT_EQ(FakeGraphics::activations, 2);

    // Exit ends the loop.
    runTrayCommand(105);
    EXPECT_FALSE(runMainLoopPass());
    EXPECT_FALSE(shellEngineRunning());
}

// A shown window draws only when something can have changed: at most about
// 60 frames a second after input, 10 while a task runs, one a second idle,
// and a blink's frames.
TEST_F(MainLoopFixture, FramesArePacedByWhatCanChange) {
    setIGDisplayItem_zOrder();
    setShellShowUI(true);
    setRequestedRenderState(kRenderOn);  // as the start does
    ASSERT_TRUE(runMainLoopPass());
    ASSERT_EQ(FakeGraphics::frames, 1);
    auto framesAfter = [](int64_t ms) {
        g_nowMs += ms;
        runMainLoopPass();
        return FakeGraphics::frames;
    };
    EXPECT_EQ(framesAfter(0), 1);
    EXPECT_EQ(framesAfter(500), 1);
    EXPECT_EQ(framesAfter(500), 2);

    ASSERT_TRUE(postTrayCommandEvent(kTrayTools));  // any window event is input
    EXPECT_EQ(framesAfter(5), 2);  // capped
    EXPECT_EQ(framesAfter(11), 3);
    EXPECT_EQ(framesAfter(16), 4);
    EXPECT_EQ(framesAfter(16), 5);
    EXPECT_EQ(framesAfter(16), 5);  // settled

    setOperationInProgress(EngineOperation::Restore, true);
    EXPECT_EQ(framesAfter(50), 5);
    EXPECT_EQ(framesAfter(50), 6);
    setOperationInProgress(EngineOperation::Restore, false);
    EXPECT_EQ(framesAfter(100), 6);

    // News makes the Notifications tab blink: frames come between the idle ones.
    appendAppLogEntry(L"news", 1, false);
    const int idle = framesAfter(1000);
    EXPECT_EQ(framesAfter(400), idle + 1);
    removeAppLogEntriesOfKind(0xFFFFFFFFu);
    startTrayIcon(true);
}

// A jump and a quick tap taken in one pump, as xdotool or a touchpad's tap
// makes them, switch the main window's tab every time: the pointer's place,
// the press and the release reach Dear ImGui in frames of their own.
TEST_F(MainLoopFixture, AJumpAndAQuickTapSwitchTheTabEveryTime) {
    resetMouseInput();
    resetMainWindow();
    setIGDisplayItem_zOrder();
    setShellShowUI(true);
    setRequestedRenderState(kRenderOn);
    const auto passes = [](int count, int ms) {
        for (int pass = 0; pass < count; ++pass) {
            g_nowMs += ms;
            ASSERT_TRUE(runMainLoopPass());
        }
    };
    passes(3, 1000);  // idle frames: the tab bar is laid out a frame late
    const auto push = [](uint32_t type, ImVec2 at) {
        SDL_Event e{};
        e.type = type;
        if (type == SDL_MOUSEMOTION) {
            e.motion.x = static_cast<int>(at.x), e.motion.y = static_cast<int>(at.y);
        } else {
            e.button.button = SDL_BUTTON_LEFT;
            e.button.x = static_cast<int>(at.x), e.button.y = static_cast<int>(at.y);
        }
        ASSERT_EQ(SDL_PushEvent(&e), 1);
    };
    for (const auto& [label, tab] : {std::pair{"Applications", kTabApplications}, {"Folders", kTabFolders},
                                     {"Applications", kTabApplications}, {"Folders", kTabFolders}}) {
        ImVec2 at;
        ASSERT_TRUE(tabCentre(label, at)) << label;
        push(SDL_MOUSEMOTION, at);
        push(SDL_MOUSEBUTTONDOWN, at);
        push(SDL_MOUSEBUTTONUP, at);
        passes(6, 16);
        EXPECT_EQ(mainWindow.currentTab, tab) << label;
        EXPECT_FALSE(mouseChangesWaiting());
    }
    resetMainWindow();
}

TEST(ProgramEntry, ErrorHandlerNamesTheStepAndSwitchesAreFolded) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(runWithErrorHandler([]() -> int { throw std::runtime_error("InitInstance Failed"); }), -222);
    EXPECT_EQ(runWithErrorHandler([]() -> int { throw std::out_of_range("index"); }), -111);
    EXPECT_EQ(runWithErrorHandler([]() -> int {
                  setCurrentStep("loadVersionRecords");
                  throw 7;
              }),
              -333);
    EXPECT_EQ(runWithErrorHandler([] { return 0; }), 0);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("Runtime error!: Error: InitInstance Failed\n"), std::string::npos) << err;
    EXPECT_NE(err.find("exception thrown!: Error: index\n"), std::string::npos);
    EXPECT_NE(err.find("Unknown error!: Error: catch all region: loadVersionRecords\n"), std::string::npos);

    auto fold = [](std::vector<const char*> args) {
        args.insert(args.begin(), "varnholt");
        return switchTextFromArguments(static_cast<int>(args.size()), args.data());
    };
    EXPECT_EQ(fold({"install"}), "install");
    EXPECT_EQ(fold({"/INSTALL"}), "install");
    EXPECT_EQ(fold({"Install", "now"}), "install now");
    EXPECT_EQ(fold({"//install"}), "/install");
    EXPECT_EQ(fold({}), "");
}
