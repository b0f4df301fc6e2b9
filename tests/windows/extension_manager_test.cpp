// The extension manager driven like a user: types added by hand, chosen
// under each filter, included, excluded, removed and collected from the
// folder; the result kept by the configuration file and honoured by the
// archiving.
#include <imgui_internal.h>

#include <cstdlib>
#include <cwctype>
#include <filesystem>
#include <thread>

#include "foundation/data_record.h"
#include "window_test_support.h"

namespace {

void drawManager() { drawExtensionManagerWindow(); }

std::map<std::wstring, ExtensionEntry> extensionsOf(const std::wstring& key) {
    std::lock_guard<std::mutex> lock(watchFolderMutex);
    return watchFolderMap.at(key).extensionMap;
}

class ExtensionManagerTest : public MainWindowTest {
protected:
    void SetUp() override {
        MainWindowTest::SetUp();
        // A data folder of its own: this test saves and reloads the configuration.
        const char* local = std::getenv("LOCALAPPDATA");
        savedLocal_ = local ? local : "";
        setenv("LOCALAPPDATA", makeTestFolder("local").c_str(), 1);
    }
    void TearDown() override {
        MainWindowTest::TearDown();
        setenv("LOCALAPPDATA", savedLocal_.c_str(), 1);
        removeRecordSection("main");
        removeRecordSection("user");
    }

    static ImGuiWindow* window() { return HeadlessImGui::findWindow("Manage Extensions"); }
    // The rows of the list: "+", the add field while open, then the extensions.
    std::vector<ImVec2> rows() {
        ui.frame(drawManager);
        return ui.itemsDown(drawManager, HeadlessImGui::firstChildOf(window()));
    }
    // The items across the window at height y, left to right.
    std::vector<ImVec2> itemsAcross(float y) {
        const ImGuiWindow* w = window();
        return ui.findItems(drawManager, ImVec2(w->Pos.x + 1, y), ImVec2(w->Pos.x + w->Size.x - 1, y));
    }
    void chooseFilter(size_t index) {
        ui.frame(drawManager);
        const std::vector<ImVec2> top = itemsAcross(window()->ContentRegionRect.Min.y + 10);
        ASSERT_FALSE(top.empty());
        ui.click(drawManager, top[0]);
        ASSERT_FALSE(GImGui->OpenPopupStack.empty());
        const std::vector<ImVec2> choices = ui.itemsDown(drawManager, GImGui->OpenPopupStack.back().Window);
        ASSERT_EQ(choices.size(), 3u);
        ui.click(drawManager, choices[index]);
    }
    void press(const char* key) {
        ASSERT_TRUE(ui.clickButton(drawManager, key)) << key;
        ASSERT_TRUE(waitForEngineThreads(10000));
    }
    std::string shown() { return ui.frameText(drawManager); }
    bool archives(const std::wstring& name) {
        const std::wstring path = write(name, "x");
        queue(path);
        return queued(path);
    }

    std::string savedLocal_;
};

}  // namespace

TEST(ExtensionAddText, NormalisedAsTheAddFieldTakesIt) {
    EXPECT_EQ(extensionFromAddText(".TXT"), L"txt");
    EXPECT_EQ(extensionFromAddText("*"), L"*");
    EXPECT_EQ(extensionFromAddText("*.Md"), L"md");
    EXPECT_EQ(extensionFromAddText("."), L"");
    EXPECT_EQ(extensionFromAddText(".."), L"");
    EXPECT_EQ(extensionFromAddText("**"), L"");
}

TEST_F(ExtensionManagerTest, ChoosesTypesUnderEachFilterAndKeepsThemAfterARestart) {
    ASSERT_TRUE(loadAppConfiguration());  // builds the configuration's paths; starts no engine here
    // The fixture's folder archives every type ("*") but tmp.
    openExtensionManagerWindow(folders.watch);
    ui.frame(drawManager);
    EXPECT_FALSE(configurationSaved.load());
    EXPECT_TRUE(isAnyOperationInProgress()) << "no background save while the window is open";

    // "+", ".TXT", Accept: txt included and not selected.
    ui.click(drawManager, rows()[0]);
    ui.type(drawManager, ".TXT");
    const std::vector<ImVec2> fieldRow = itemsAcross(rows()[1].y);
    ASSERT_EQ(fieldRow.size(), 2u);
    ui.click(drawManager, fieldRow[1]);
    ASSERT_EQ(extensionsOf(folders.watch).count(L"txt"), 1u);
    EXPECT_TRUE(extensionsOf(folders.watch).at(L"txt").included);
    EXPECT_FALSE(extensionsOf(folders.watch).at(L"txt").selected);

    // Any: "*", tmp, txt; select txt and tmp.
    std::vector<ImVec2> found = rows();
    ASSERT_EQ(found.size(), 4u);
    ui.click(drawManager, found[3]);
    ui.click(drawManager, found[2]);
    EXPECT_NE(shown().find("Items Selected: 2"), std::string::npos);

    // Included shows "*" and txt: Exclude changes txt only, and then nothing
    // shown is selected.
    chooseFilter(1);
    EXPECT_EQ(rows().size(), 3u);
    EXPECT_NE(shown().find("Items Selected: 1"), std::string::npos);
    press("bkexcl");
    EXPECT_FALSE(extensionsOf(folders.watch).at(L"txt").included);
    EXPECT_FALSE(extensionsOf(folders.watch).at(L"tmp").included);
    ui.frame(drawManager);
    EXPECT_EQ(getUIButtonValue("bkincl"), kButtonDisabled);
    EXPECT_EQ(getUIButtonValue("bkr"), kButtonDisabled);
    EXPECT_FALSE(archives(L"notes.txt"));
    EXPECT_TRUE(archives(L"notes.md"));

    // A restart: saved, forgotten, loaded; the archiving still skips txt.
    ASSERT_TRUE(saveAppConfiguration());
    {
        std::lock_guard<std::mutex> lock(watchFolderMutex);
        watchFolderMap.clear();
    }
    ASSERT_TRUE(loadAppConfiguration());
    {
        const auto loaded = extensionsOf(folders.watch);
        ASSERT_EQ(loaded.size(), 3u);
        EXPECT_TRUE(loaded.at(L"*").included);
        EXPECT_FALSE(loaded.at(L"tmp").included);
        EXPECT_FALSE(loaded.at(L"txt").included);
    }
    EXPECT_FALSE(archives(L"again.txt"));
    EXPECT_TRUE(archives(L"again.md"));

    // Excluded shows tmp and txt: select both, Include only tmp.
    chooseFilter(2);
    found = rows();
    ASSERT_EQ(found.size(), 3u);
    ui.click(drawManager, found[1]);
    ui.click(drawManager, found[2]);
    ui.click(drawManager, found[2]);
    EXPECT_NE(shown().find("Items Selected: 1"), std::string::npos);
    press("bkincl");
    EXPECT_TRUE(extensionsOf(folders.watch).at(L"tmp").included);
    EXPECT_FALSE(extensionsOf(folders.watch).at(L"txt").included);

    // Remove under Excluded takes txt only, not the selected types hidden.
    chooseFilter(0);
    ui.click(drawManager, rows()[1]);  // "*"
    chooseFilter(2);
    found = rows();
    ASSERT_EQ(found.size(), 2u);
    ui.click(drawManager, found[1]);
    press("bkr");
    {
        const auto left = extensionsOf(folders.watch);
        EXPECT_EQ(left.size(), 2u);
        EXPECT_TRUE(left.count(L"*") && left.at(L"*").selected);
        EXPECT_TRUE(left.count(L"tmp") && left.at(L"tmp").selected);
    }

    // Auto Add collects the types of the whole tree, dot folders included.
    write(L"Sub/Report.PDF", "x");
    write(L"Sub/Deeper/page.md", "x");
    write(L".cache/blob.zzz", "x");
    write(L"Makefile", "x");
    press("bkaae");
    {
        const auto collected = extensionsOf(folders.watch);
        EXPECT_EQ(collected.size(), 6u);  // "*", tmp, and pdf, md, zzz, txt of the files written here
        EXPECT_TRUE(collected.count(L"pdf") && collected.at(L"pdf").included && !collected.at(L"pdf").selected);
        EXPECT_EQ(collected.count(L"zzz"), 1u);
    }

    // Dismiss closes; opening again starts at "Any".
    press("bkc");
    EXPECT_FALSE(isExtensionManagerWindowOpen());
    EXPECT_FALSE(isAnyOperationInProgress());
    openExtensionManagerWindow(folders.watch);
    EXPECT_NE(shown().find("Any"), std::string::npos);
    EXPECT_EQ(rows().size(), 7u);
}

TEST_F(ExtensionManagerTest, ClosesForAFolderNotListed) {
    // Keys are paths as stored: the lower-cased path names no folder here.
    std::wstring lowered = folders.watch;
    for (wchar_t& c : lowered) c = static_cast<wchar_t>(std::towlower(c));
    ASSERT_NE(lowered, folders.watch);
    for (const std::wstring& key : {lowered, std::wstring(L"/nowhere")}) {
        openExtensionManagerWindow(key);
        ui.frame(drawItemsFrame);
        EXPECT_FALSE(isExtensionManagerWindowOpen());
        ui.frame(drawItemsFrame);
        EXPECT_TRUE(window() == nullptr || !window()->Active) << "nothing drawn";
    }
    // A folder removed while the window shows it closes it too.
    openExtensionManagerWindow(folders.watch);
    ui.frame(drawItemsFrame);
    EXPECT_TRUE(isExtensionManagerWindowOpen());
    {
        std::lock_guard<std::mutex> lock(watchFolderMutex);
        watchFolderMap.at(folders.watch).removed = true;
    }
    ui.frame(drawItemsFrame);
    EXPECT_FALSE(isExtensionManagerWindowOpen());
    EXPECT_FALSE(isAnyOperationInProgress());
}

TEST_F(ExtensionManagerTest, WindowAndButtonThreadsShareTheMap) {
    // Under the sanitizer build: the rows drawn every frame while button
    // threads add, change and remove types of the same map.
    openExtensionManagerWindow(folders.watch);
    std::atomic<bool> done{false};
    std::thread changer([&] {
        for (int i = 0; i < 300; ++i) {
            addWatchFolderExtension(folders.watch, L"e" + std::to_wstring(i % 20));
            setSelectedExtensionsIncluded(folders.watch, i % 2 == 0);
            if (i % 7 == 0) removeSelectedExtensions(folders.watch);
        }
        done = true;
    });
    while (!done.load()) ui.frame(drawManager);
    changer.join();
    ui.frame(drawManager);
    EXPECT_TRUE(isExtensionManagerWindowOpen());
}
