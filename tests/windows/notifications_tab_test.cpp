// The Notifications tab driven like a user: kinds grouped in their order,
// ticks counted towards the confirm buttons, removal by kind and of all,
// and the detail markup with its malformed lines.
#include "windows/notifications_tab.h"

#include <cstring>

#include "foundation/button_table.h"
#include "foundation/texts.h"
#include "window_test_support.h"

namespace {
std::mutex g_actionsMutex;
std::vector<std::pair<int32_t, std::vector<std::string>>> g_actions;
void recordAction(int32_t action, std::vector<std::string> texts) {
    std::lock_guard<std::mutex> lock(g_actionsMutex);
    g_actions.emplace_back(action, std::move(texts));
}
size_t actionCount() {
    std::lock_guard<std::mutex> lock(g_actionsMutex);
    return g_actions.size();
}

AppLogEntry logEntry(const std::wstring& text, uint32_t kind, bool confirmed) {
    AppLogEntry entry;
    entry.key = text;
    entry.kind = kind;
    entry.confirmed = confirmed ? 1 : 0;
    return entry;
}

bool before(const std::string& text, const char* a, const char* b) {
    const size_t at = text.find(a);
    return at != std::string::npos && text.find(b) != std::string::npos && at < text.find(b);
}
}  // namespace

TEST_F(MainWindowTest, NotificationsGroupCountTicksAndRemove) {
    ImVec2 centre;
    ui.frame(drawItemsFrame);
    EXPECT_FALSE(tabCentre("Notifications", centre)) << "nothing pending, no tab";

    replaceAppLogEntries({logEntry(L"10:00:01 first message %s%n", 1, false),
                          logEntry(L"10:00:02 disk gone", 8, false),
                          logEntry(L"10:00:02 disk gone again", 8, false),
                          logEntry(L"10:00:03 slow copy", 4, false),
                          logEntry(L"10:00:04 done before", 2, true)});
    ASSERT_TRUE(appLogChanged());
    for (int i = 0; i < 3; ++i) ui.frame(drawItemsFrame);  // blinking while another tab is shown
    ASSERT_TRUE(clickTab("Notifications"));
    EXPECT_EQ(mainWindow.currentTab, kTabNotifications);
    EXPECT_FALSE(appLogChanged());
    const std::string shown = text();
    EXPECT_TRUE(before(shown, "Active Notifications:", "Message")) << shown;
    EXPECT_TRUE(before(shown, "Message", "Issues"));
    EXPECT_TRUE(before(shown, "Issues", "Errors"));
    EXPECT_EQ(shown.find("Important Items"), std::string::npos) << "a kind with nothing pending is not listed";

    ImGuiWindow* list = HeadlessImGui::findWindow("ChildL");
    ASSERT_NE(list, nullptr);
    std::vector<ImVec2> rows = ui.itemsDown(drawItemsFrame, list);
    ASSERT_EQ(rows.size(), 3u);
    // A tick is not final: the lone message stays listed and its tick can
    // be taken back.
    ui.click(drawItemsFrame, rows[0]);
    rows = ui.itemsDown(drawItemsFrame, list, 38);
    ASSERT_EQ(rows.size(), 4u);
    ui.click(drawItemsFrame, rows[1]);
    EXPECT_EQ(appLogSnapshot().entries[0].confirmed, 1);
    EXPECT_TRUE(before(text(), "Message", "Issues"));
    ui.click(drawItemsFrame, rows[1]);
    EXPECT_EQ(appLogSnapshot().entries[0].confirmed, 0);
    UIButtonEntry confirm;
    ASSERT_TRUE(findUIButtonEntry("bkcc", confirm));
    EXPECT_EQ(confirm.label1, "Confirm all Message");
    ui.click(drawItemsFrame, rows[0]);
    rows = ui.itemsDown(drawItemsFrame, list);
    ASSERT_EQ(rows.size(), 3u);
    // Then "Errors": ten ticks reach its confirm button; the button follows
    // the kind.
    ui.click(drawItemsFrame, rows[2]);
    rows = ui.itemsDown(drawItemsFrame, list, 38);
    ASSERT_EQ(rows.size(), 5u);
    for (int tick = 1; tick <= 20; ++tick) {
        ui.click(drawItemsFrame, rows[3]);
        EXPECT_EQ(getUIButtonValue("bkcc"), tick > 9 ? kButtonEnabled : kButtonDisabled) << tick;
        EXPECT_EQ(getUIButtonValue("bkcac"), tick < 20 ? kButtonDisabled : kButtonEnabled) << tick;
    }
    ASSERT_TRUE(findUIButtonEntry("bkcc", confirm));
    EXPECT_EQ(confirm.label1, "Confirm all Errors") << "another kind starts the count again";

    // Confirm removes the errors only; confirm all empties the log and the tab goes.
    ASSERT_TRUE(ui.clickButton(drawItemsFrame, "bkcc"));
    ASSERT_TRUE(eventually([] { return !logHas(L"disk gone"); }, &ui));
    EXPECT_TRUE(logHas(L"slow copy"));
    ASSERT_TRUE(ui.clickButton(drawItemsFrame, "bkcac"));
    ASSERT_TRUE(eventually([] { return appLogSnapshot().entries.empty(); }, &ui));
    ui.frame(drawItemsFrame);
    EXPECT_FALSE(tabCentre("Notifications", centre));
}

TEST_F(MainWindowTest, NotificationDetailMarkupAndMalformedLines) {
    {
        std::lock_guard<std::mutex> lock(g_actionsMutex);
        g_actions.clear();
    }
    setTextActionRunner(recordAction);
    const std::string detail =
        "2[|]a[|]plain %s %n text[||]9[|]b[|]bullet line[||]nodigit[||]1[|]7[|]arg2[|]Run it"
        "[||]1[|]7[|]short one[||]2[|]field one only[||]0[|]nokey[|]5[||][||]0[|]bkcc[|]5";
    const auto draw = [&detail] {
        ImGui::SetNextWindowPos(ImVec2(0, 0));
        ImGui::SetNextWindowSize(ImVec2(600, 400));
        ImGui::Begin("Detail");
        drawNotificationDetail(detail);
        ImGui::End();
    };
    const std::string shown = ui.frameText(draw);
    EXPECT_NE(shown.find("plain %s %n text"), std::string::npos) << shown;
    EXPECT_NE(shown.find("bullet line"), std::string::npos);
    EXPECT_NE(shown.find("Run it"), std::string::npos);
    EXPECT_NE(shown.find(" Confirm "), std::string::npos);
    for (const char* absent : {"short one", "field one only", "nokey", "nodigit", "arg2"})
        EXPECT_EQ(shown.find(absent), std::string::npos) << absent;

    ui.frame(draw);
    const std::vector<ImVec2> items = ui.itemsDown(draw, HeadlessImGui::findWindow("Detail"), 30);
    ASSERT_EQ(items.size(), 2u) << "the selectable and the known button";
    ui.click(draw, items[0]);
    ui.click(draw, items[1]);
    ASSERT_TRUE(eventually([] { return actionCount() == 2; }));
    std::lock_guard<std::mutex> lock(g_actionsMutex);
    std::sort(g_actions.begin(), g_actions.end());
    EXPECT_EQ(g_actions[0].first, 5);
    EXPECT_TRUE(g_actions[0].second.empty());
    EXPECT_EQ(g_actions[1].first, 7);
    EXPECT_EQ(g_actions[1].second, (std::vector<std::string>{"Run it", "arg2"}));
}

TEST_F(MainWindowTest, NamesInLogLinesAreShownAsTextNeverAsMarkup) {
    {
        std::lock_guard<std::mutex> lock(g_actionsMutex);
        g_actions.clear();
    }
    setTextActionRunner(recordAction);
    const std::string name = "x[||]1[|]6[|]/etc/passwd[|]Open report";
    const std::string detail = joinReportFields(3, "", name, "") + "[||]" +
                               joinReportFields(1, "6", "/w/" + name, "Open \"" + name + "\"");
    const auto draw = [&detail] {
        ImGui::SetNextWindowPos(ImVec2(0, 0));
        ImGui::SetNextWindowSize(ImVec2(900, 400));
        ImGui::Begin("Detail");
        drawNotificationDetail(detail);
        ImGui::End();
    };
    EXPECT_NE(ui.frameText(draw).find("Open \"" + name + "\""), std::string::npos);
    const std::vector<ImVec2> items = ui.itemsDown(draw, HeadlessImGui::findWindow("Detail"), 30);
    ASSERT_EQ(items.size(), 1u) << "only the report's own line is clickable";
    ui.click(draw, items[0]);
    ASSERT_TRUE(eventually([] { return actionCount() == 1; }));
    {
        std::lock_guard<std::mutex> lock(g_actionsMutex);
        EXPECT_EQ(g_actions[0].second, (std::vector<std::string>{"Open \"" + name + "\"", "/w/" + name}));
    }
    // A plain log line holding the name has no detail at all.
    appendAppLogEntry(L"Unable to open: " + utf8ToWide(name), 4, true);
    const std::wstring key = appLogSnapshot().entries.back().key;
    EXPECT_EQ(key.find(L"[||]"), std::wstring::npos);
    EXPECT_NE(unescapeLogText(wideToUtf8(key)).find(name), std::string::npos);
}
