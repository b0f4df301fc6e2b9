// The schedule window and the trigger editor as a user drives them, their
// texts, and the scheduler thread changing the same triggers meanwhile.
#include <imgui_internal.h>

#include <ctime>

#include "window_test_support.h"
#include "windows/main_window_parts.h"
#include "windows/scheduler_window.h"

namespace {

int64_t utcTicks(int year, int month, int day, int hour, int minute, int second) {
    int64_t ticks = 0;
    EXPECT_TRUE(localDateTicks(year, month - 1, day, hour, minute, second, ticks));  // TZ=UTC in tests
    return ticks;
}

bool hasText(const std::string& text, const char* part) { return text.find(part) != std::string::npos; }

// Only the schedule windows: the main window draws buttons of the same keys.
void drawSchedule() { drawSchedulerWindow(); }

class SchedulerWindowTest : public MainWindowTest {
protected:
    void SetUp() override {
        MainWindowTest::SetUp();
        resetSchedulerWindows();
        openSchedulerWindow(folders.watch);
        ui.frame(drawSchedule);
    }
    void TearDown() override {
        resetSchedulerWindows();
        MainWindowTest::TearDown();
    }
    std::vector<ScheduleTrigger> triggers() {
        std::lock_guard<std::mutex> lock(watchFolderMutex);
        return watchFolderMap.at(folders.watch).scheduleTriggers;
    }
    // "+" and the Active cell of each row, top to bottom.
    std::vector<ImVec2> rows() {
        return ui.itemsDown(drawSchedule, HeadlessImGui::firstChildOf(HeadlessImGui::findWindow("Manage Schedule")));
    }
    static ImGuiWindow* editor() { return HeadlessImGui::findWindow("Manage Triggers"); }
    std::string editorText() { return ui.frameText(drawTriggerEditorWindow); }
    std::vector<ImVec2> scan(float x0, float y0, float x1, float y1) {
        const ImGuiWindow* e = editor();
        return ui.findItems(drawSchedule, ImVec2(e->Pos.x + x0, e->Pos.y + y0), ImVec2(e->Pos.x + x1, e->Pos.y + y1));
    }
    // The calendar's weekday header cells, "Su" to "Sa".
    std::vector<ImVec2> weekdayCells() {
        const std::vector<ImVec2> sundays = scan(10, 30, 10, editor()->Size.y - 1);
        if (sundays.empty()) return {};
        const float y = sundays[0].y - editor()->Pos.y;
        return scan(2, y, editor()->Size.x / 3, y);
    }
    // A day cell: its column's cells below the header, the n-th of them.
    void clickDay(int weekday, size_t nth) {
        const std::vector<ImVec2> header = weekdayCells();
        ASSERT_EQ(header.size(), 7u);
        const float x = header[weekday].x - editor()->Pos.x;
        const std::vector<ImVec2> column = scan(x, header[0].y - editor()->Pos.y, x, editor()->Size.y - 1);
        ASSERT_GT(column.size(), nth + 1);
        ui.click(drawSchedule, column[nth + 1]);
    }
    void clickRadio(size_t index) {
        const float x = editor()->Size.x * 2 / 3 + 14;
        const std::vector<ImVec2> radios = scan(x, 30, x, editor()->Size.y - 1);
        ASSERT_GT(radios.size(), index);
        ui.click(drawSchedule, radios[index]);
    }
    void typeTime(const char* text) {
        const std::vector<ImVec2> radios = scan(editor()->Size.x * 2 / 3 + 14, 30, editor()->Size.x * 2 / 3 + 14, 200);
        ASSERT_FALSE(radios.empty());
        ui.click(drawSchedule, ImVec2(editor()->Pos.x + editor()->Size.x / 3 + 40, radios[0].y));
        ui.pressKey(drawSchedule, ImGuiKey_A, true);
        ui.type(drawSchedule, text);
        ui.pressKey(drawSchedule, ImGuiKey_Enter);
    }
    // " Edit " for the selected row.
    void openEditor() {
        ASSERT_TRUE(ui.clickButton(drawSchedule, "bkre"));
        ui.frame(drawSchedule);
        ASSERT_TRUE(isTriggerEditorOpen());
    }
};

}  // namespace

TEST(SchedulerTexts, TimesMonthsAndDays) {
    int32_t hour = -1, minute = -1;
    const std::pair<const char*, std::pair<int, int>> times[] = {
        {"7:15 PM", {19, 15}}, {"0:05 am", {0, 5}}, {"12:30 am", {0, 30}}, {"12:30 pm", {12, 30}},
        {"7:15", {7, 15}},     {" 25:00", {25, 0}}};
    for (const auto& [text, expected] : times) {
        ASSERT_TRUE(readTriggerTimeText(text, hour, minute)) << text;
        EXPECT_EQ(std::make_pair(hour, minute), expected) << text;
    }
    for (const char* bad : {"abc:15", "7.15", "1:2:3", "99999999999:00", "7:", ""}) {
        hour = minute = 3;
        EXPECT_FALSE(readTriggerTimeText(bad, hour, minute)) << bad;
        EXPECT_EQ(hour + minute, 6) << bad;
    }
    EXPECT_EQ(triggerTimeText(0, 5), "0:05 am");
    EXPECT_EQ(triggerTimeText(12, 30), "12:30 pm");
    EXPECT_EQ(triggerTimeText(13, 7), "1:07 pm");
    for (const char* march : {"March", "MAR", "mar"}) EXPECT_EQ(monthNumberFromName(march), 3);
    EXPECT_EQ(monthNumberFromName("Jun"), 6);
    EXPECT_EQ(monthNumberFromName("an"), -1);  // found inside "jan"
    EXPECT_EQ(monthNumberFromName("xyz"), -1);
    EXPECT_EQ(daysInMonth(2024, 2), 29);
    EXPECT_EQ(daysInMonth(2000, 2), 29);
    EXPECT_EQ(daysInMonth(1900, 2), 28);
    EXPECT_EQ(daysInMonth(2023, 2), 28);
    int64_t ticks = 0;
    EXPECT_FALSE(localDateTicks(1969, 11, 31, 12, 0, 0, ticks));
    EXPECT_FALSE(localDateTicks(3001, 0, 1, 0, 0, 0, ticks));
    ASSERT_TRUE(localDateTicks(2024, 1, 29, 8, 0, 0, ticks));
    EXPECT_EQ(wideToUtf8(formatTimestamp(ticks, false)), "2024/02/29 08:00:00");
}

TEST_F(SchedulerWindowTest, AddEnableEditAndRemoveTriggers) {
    EXPECT_TRUE(hasText(ui.frameText(drawSchedule), "Items Selected: 0"));
    ASSERT_TRUE(ui.clickButton(drawSchedule, "bkre"));  // greyed without a selection
    EXPECT_FALSE(isTriggerEditorOpen());
    ui.click(drawSchedule, rows()[0]);  // "+"
    ASSERT_EQ(triggers().size(), 1u);
    EXPECT_TRUE(hasText(ui.frameText(drawSchedule), "| disabled | none | 2023/11/14 22:13:20.000 | - | 2023/11/14 22:13:20.000 | none |"));
    ui.click(drawSchedule, rows()[1]);
    EXPECT_TRUE(hasText(ui.frameText(drawSchedule), "Items Selected: 1"));
    EXPECT_FALSE(triggers()[0].active);
    ui.click(drawSchedule, rows()[1]);
    EXPECT_TRUE(triggers()[0].active);

    // Cancel and the close box write nothing; Remove is greyed meanwhile.
    const ScheduleTrigger before = triggers()[0];
    const auto unchanged = [&] {
        const ScheduleTrigger now = triggers().at(0);
        return now.activationDate == before.activationDate && now.nextTrigger == before.nextTrigger &&
               now.repeatType == before.repeatType && now.weekdayMask == before.weekdayMask;
    };
    openEditor();
    EXPECT_TRUE(hasText(editorText(), "10:13 pm"));
    typeTime("7:15 PM");
    clickRadio(1);
    ASSERT_TRUE(ui.clickButton(drawSchedule, "bkr"));
    ASSERT_TRUE(ui.clickButton(drawSchedule, "bkcncl"));
    EXPECT_FALSE(isTriggerEditorOpen());
    EXPECT_TRUE(unchanged());
    openEditor();
    clickRadio(1);
    const ImRect bar = editor()->TitleBarRect();
    ui.click(drawSchedule, ImVec2(bar.Max.x - ImGui::GetStyle().FramePadding.x - bar.GetHeight() / 2,
                                    (bar.Min.y + bar.Max.y) / 2));  // the close box
    EXPECT_FALSE(isTriggerEditorOpen());
    EXPECT_TRUE(unchanged());

    // Weekly on Monday and Friday from 19:15 on day 1 of the month; the next
    // run is the first of those days after it.
    openEditor();
    typeTime("7:15 PM");
    clickRadio(2);
    const std::vector<ImVec2> header = weekdayCells();
    ASSERT_EQ(header.size(), 7u);
    for (int day : {1, 5, 0}) ui.click(drawSchedule, header[day]);  // Sunday came first
    ASSERT_TRUE(ui.clickButton(drawSchedule, "bkae"));
    ASSERT_FALSE(isTriggerEditorOpen());
    EXPECT_EQ(triggers()[0].repeatType, kRepeatWeekly);
    EXPECT_EQ(triggers()[0].weekdayMask, 0x22);
    EXPECT_EQ(triggers()[0].activationDate, utcTicks(2023, 11, 1, 19, 15, 20));
    EXPECT_EQ(triggers()[0].nextTrigger, utcTicks(2023, 11, 3, 19, 15, 20));  // Friday
    openEditor();
    clickRadio(1);
    ASSERT_TRUE(ui.clickButton(drawSchedule, "bkae"));
    EXPECT_EQ(triggers()[0].weekdayMask, 0x7F);
    EXPECT_EQ(triggers()[0].nextTrigger, utcTicks(2023, 11, 2, 19, 15, 20));

    // Refused input keeps the trigger and says why in one line.
    const ScheduleTrigger daily = triggers()[0];
    openEditor();
    typeTime("half past");
    ASSERT_TRUE(ui.clickButton(drawSchedule, "bkae"));
    EXPECT_TRUE(isTriggerEditorOpen());
    EXPECT_TRUE(hasText(editorText(), "\"half past\" is not a time"));
    typeTime("-1000000:00");  // 114 years back
    ASSERT_TRUE(ui.clickButton(drawSchedule, "bkae"));
    EXPECT_TRUE(hasText(editorText(), "cannot be set"));
    EXPECT_EQ(triggers()[0].activationDate, daily.activationDate);
    EXPECT_EQ(triggers()[0].nextTrigger, daily.nextTrigger);
    const std::vector<ImVec2> dateRow = scan(2, header[0].y - editor()->Pos.y - 24, editor()->Size.x / 3,
                                             header[0].y - editor()->Pos.y - 24);
    ASSERT_EQ(dateRow.size(), 2u);  // month and year
    ui.click(drawSchedule, dateRow[1]);
    ui.pressKey(drawSchedule, ImGuiKey_A, true);
    ui.type(drawSchedule, "twenty");
    ui.pressKey(drawSchedule, ImGuiKey_Enter);
    EXPECT_TRUE(hasText(editorText(), "The year \"twenty\" is not a number"));
    ASSERT_TRUE(ui.clickButton(drawSchedule, "bkcncl"));

    // A leap February shows its 29th, and choosing it keeps the time of day.
    {
        std::lock_guard<std::mutex> lock(watchFolderMutex);
        ScheduleTrigger& trigger = watchFolderMap.at(folders.watch).scheduleTriggers.at(0);
        trigger.activationDate = utcTicks(2024, 2, 10, 6, 30, 0);
        trigger.repeatType = kRepeatNone;
    }
    openEditor();
    EXPECT_TRUE(hasText(editorText(), "| 26 | 27 | 28 | 29 |"));
    clickDay(4, 4);  // February 2024 begins on a Thursday
    typeTime("12:30 am");
    ASSERT_TRUE(ui.clickButton(drawSchedule, "bkae"));
    EXPECT_EQ(triggers()[0].activationDate, utcTicks(2024, 2, 29, 0, 30, 0));

    // Remove, Dismiss; a folder gone from the list closes the window undrawn.
    ui.click(drawSchedule, rows()[1]);
    ASSERT_TRUE(ui.clickButton(drawSchedule, "bkr"));
    EXPECT_TRUE(triggers().empty());
    EXPECT_TRUE(hasText(ui.frameText(drawSchedule), "Items Selected: 0"));
    ASSERT_TRUE(ui.clickButton(drawSchedule, "bkc"));
    EXPECT_FALSE(isSchedulerWindowOpen());
    openSchedulerWindow(folders.watch);
    {
        std::lock_guard<std::mutex> lock(watchFolderMutex);
        watchFolderMap.at(folders.watch).removed = true;
    }
    EXPECT_FALSE(hasText(ui.frameText(drawSchedule), "Manage Schedule"));
    EXPECT_FALSE(isSchedulerWindowOpen());
}

// The window adds, enables and removes triggers while the scheduler thread
// starts and finishes backups of the same list (run under the sanitizers).
TEST_F(SchedulerWindowTest, WindowAndSchedulerChangeTriggersAtOnce) {
    std::atomic<int> backups{0};
    EngineHooks hooks = engineHooks();
    hooks.backupThreadMain = [&](const std::wstring& key, int64_t, bool) {
        {
            std::lock_guard<std::mutex> lock(watchFolderMutex);
            watchFolderMap.at(key).backupResult = kBackupResultSuccess;
        }
        ++backups;
        setBackupRunning(false);
    };
    setEngineHooks(hooks);
    {
        std::lock_guard<std::mutex> lock(watchFolderMutex);
        for (int i = 0; i < 4; ++i) {
            ScheduleTrigger trigger;
            trigger.active = 1;
            trigger.repeatType = kRepeatDaily;
            trigger.activationDate = trigger.nextTrigger = kTestStartTicks - 1000;
            watchFolderMap.at(folders.watch).scheduleTriggers.push_back(trigger);
        }
    }
    std::atomic<bool> done{false};
    std::thread scheduler([&] {
        int64_t now = kTestStartTicks;
        while (!done) {
            backupSchedulerPass(now);
            now += kTicksPerDay / 4;
        }
    });
    for (int round = 0; round < 12; ++round) {
        ui.click(drawSchedule, rows()[0]);
        const std::vector<ImVec2> list = rows();
        ui.click(drawSchedule, list[1 + round % (list.size() - 1)]);
        ui.click(drawSchedule, list[1 + round % (list.size() - 1)]);
        if (round % 3 == 2) {
            ASSERT_TRUE(ui.clickButton(drawSchedule, "bkr"));
        }
    }
    ASSERT_TRUE(eventually([&] { return backups > 4; }, &ui));
    done = true;
    scheduler.join();
    ASSERT_TRUE(eventually([] { return !isBackupRunning(); }));
    backupSchedulerPass(kTestStartTicks);
    EXPECT_FALSE(scheduledBackupInProgress());
    EXPECT_EQ(triggers().size(), 4u + 12u - 4u);
    for (const ScheduleTrigger& trigger : triggers())
        EXPECT_TRUE(trigger.result == kBackupResultNone || trigger.result == kBackupResultSuccess);
}
