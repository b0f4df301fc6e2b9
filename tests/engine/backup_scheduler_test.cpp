#include "engine/backup_scheduler.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <string>
#include <thread>

#include "engine/engine_hooks.h"
#include "engine/thread_registry.h"
#include "engine_test_support.h"
#include "foundation/app_log.h"

namespace {

// Pins the process's time zone for one test and puts it back afterwards.
class PinnedTimeZone {
public:
    explicit PinnedTimeZone(const char* zone) {
        const char* old = std::getenv("TZ");
        hadOld_ = old != nullptr;
        if (old) old_ = old;
        setenv("TZ", zone, 1);
        tzset();
    }
    ~PinnedTimeZone() {
        if (hadOld_) setenv("TZ", old_.c_str(), 1);
        else unsetenv("TZ");
        tzset();
    }

private:
    bool hadOld_ = false;
    std::string old_;
};

// Ticks of a local date and time in the current time zone.
int64_t localTicks(int year, int month, int day, int hour, int minute, int second = 0) {
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    tm.tm_isdst = -1;
    return static_cast<int64_t>(std::mktime(&tm)) * kTicksPerSecond;
}

ScheduleTrigger makeTrigger(int32_t repeatType, int64_t next, int32_t mask = 0) {
    ScheduleTrigger trigger;
    trigger.active = 1;
    trigger.repeatType = repeatType;
    trigger.weekdayMask = mask;
    trigger.activationDate = next;
    trigger.creationTime = next;
    trigger.nextTrigger = next;
    trigger.lastTrigger = next - kTicksPerDay * 10;
    return trigger;
}

LocalCalendarFields fieldsOf(int64_t ticks) {
    LocalCalendarFields fields;
    EXPECT_TRUE(localCalendarFields(ticks, fields));
    return fields;
}

bool waitFor(const std::function<bool()>& condition) {
    for (int i = 0; i < 5000; ++i) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return condition();
}

const std::wstring kFolder = L"/data/docs";

// The backup engine as the scheduler sees it: takes the running flag, stores
// the folder's result and gives the flag back, unless the test holds it.
struct FakeBackupEngine {
    std::atomic<int> calls{0};
    std::atomic<int32_t> result{kBackupResultSuccess};
    std::atomic<bool> hold{false};
    std::atomic<bool> lastRecursive{false};
    std::atomic<int64_t> lastStart{0};

    void install() {
        EngineHooks hooks;
        hooks.backupThreadMain = [this](const std::wstring& key, int64_t start, bool recursive) {
            setBackupRunning(true);
            lastStart = start;
            lastRecursive = recursive;
            {
                std::lock_guard<std::mutex> lock(watchFolderMutex);
                watchFolderMap[key].backupResult = result;
            }
            ++calls;
            while (hold && isApplicationRunning()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
            setBackupRunning(false);
        };
        hooks.isChangeWatcherRunning = [] { return true; };
        setEngineHooks(hooks);
    }
    // Waits until `n` backups ran and the last one gave the flag back.
    bool waitForRuns(int n) const {
        return waitFor([&] { return calls == n && !isBackupRunning(); });
    }
};

class BackupSchedulerTest : public EngineTest {
protected:
    void SetUp() override {
        EngineTest::SetUp();
        setBackupRunning(false);
        finishBackupSchedulerRun(0);
        engine.install();
    }
    void TearDown() override {
        engine.hold = false;
        EngineTest::TearDown();
        setBackupRunning(false);
        finishBackupSchedulerRun(0);
    }
    void addFolder(const ScheduleTrigger& trigger, int32_t folderType = kFolderTypeDescendents) {
        std::lock_guard<std::mutex> lock(watchFolderMutex);
        WatchFolderEntry& entry = watchFolderMap[kFolder];
        entry.folderType = folderType;
        entry.scheduleTriggers.push_back(trigger);
    }
    ScheduleTrigger triggerAt(size_t index) {
        std::lock_guard<std::mutex> lock(watchFolderMutex);
        return watchFolderMap[kFolder].scheduleTriggers.at(index);
    }
    // A pass at `now`, then the end of any backup it started.
    void passAt(int64_t now) {
        fakeNowTicks = now;
        const int before = engine.calls;
        backupSchedulerPass(now);
        if (scheduledBackupInProgress()) {
            ASSERT_TRUE(engine.waitForRuns(before + 1));
        }
    }

    FakeBackupEngine engine;
};

}  // namespace

TEST(BackupSchedulerCalendar, WeekdaysAndLocalFields) {
    EXPECT_EQ(weekdayOfDate(1970, 1, 1), 4);
    EXPECT_EQ(weekdayOfDate(2000, 2, 29), 2);
    EXPECT_EQ(weekdayOfDate(2023, 12, 31), 0);
    EXPECT_EQ(weekdayOfDate(2024, 1, 1), 1);
    EXPECT_EQ(weekdayOfDate(2024, 3, 1), 5);
    EXPECT_EQ(weekdayOfDate(2100, 3, 1), 1);

    PinnedTimeZone zone("JST-9");
    const int64_t ticks = 1704034800LL * kTicksPerSecond + 1234;  // 2023-12-31 15:00 UTC
    const LocalCalendarFields fields = fieldsOf(ticks);
    EXPECT_EQ(fields.year, 2024);
    EXPECT_EQ(fields.month, 1);
    EXPECT_EQ(fields.day, 1);
    EXPECT_EQ(fields.weekday, 1);
    EXPECT_EQ(fields.secondsOfDay, 0);
    EXPECT_EQ(localTicks(2024, 1, 1, 0, 0), ticks - 1234);

    EXPECT_STREQ(backupResultText(1), "success");
    EXPECT_STREQ(backupResultText(2), "user cancelled");
    EXPECT_STREQ(backupResultText(3), "disk full");
    EXPECT_STREQ(backupResultText(4), "blocked operation");
    EXPECT_STREQ(backupResultText(5), "interrupted");
    EXPECT_STREQ(backupResultText(0), "none");
    EXPECT_STREQ(backupResultText(9), "none");
    EXPECT_STREQ(repeatTypeText(2), "weekly");
    EXPECT_STREQ(repeatTypeText(7), "none");
}

TEST(BackupSchedulerCalendar, AdvancesByRepeatRule) {
    PinnedTimeZone zone("UTC0");
    const int64_t monday = localTicks(2024, 1, 1, 9, 0) + 5;  // sub-second part kept
    const int64_t now = monday + 1;

    ScheduleTrigger daily = makeTrigger(kRepeatDaily, monday);
    ASSERT_TRUE(computeNextRunTime(daily, now));
    EXPECT_EQ(daily.nextTrigger, monday + kTicksPerDay);

    ScheduleTrigger weekly = makeTrigger(kRepeatWeekly, monday, 0);
    ASSERT_TRUE(computeNextRunTime(weekly, now));
    EXPECT_EQ(weekly.weekdayMask, 1);
    EXPECT_EQ(weekly.nextTrigger, monday + 6 * kTicksPerDay);  // Sunday 7 January
    EXPECT_EQ(fieldsOf(weekly.nextTrigger).weekday, 0);

    ScheduleTrigger monFri = makeTrigger(kRepeatWeekly, monday, 0x22);
    ASSERT_TRUE(computeNextRunTime(monFri, now));
    EXPECT_EQ(monFri.nextTrigger, monday + 4 * kTicksPerDay);
    ASSERT_TRUE(computeNextRunTime(monFri, now));
    EXPECT_EQ(monFri.nextTrigger, monday + 7 * kTicksPerDay);

    ScheduleTrigger noDays = makeTrigger(kRepeatWeekly, monday, 0x80);  // no weekday among its bits
    ASSERT_TRUE(computeNextRunTime(noDays, now));
    EXPECT_EQ(fieldsOf(noDays.nextTrigger).weekday, 0);

    ScheduleTrigger monthly = makeTrigger(kRepeatMonthly, monday);
    ASSERT_TRUE(computeNextRunTime(monthly, now));
    EXPECT_EQ(monthly.nextTrigger - monday, 730LL * 3600 * kTicksPerSecond);
    EXPECT_EQ(fieldsOf(monthly.nextTrigger).secondsOfDay, 19 * 3600);  // 30 days and 10 hours on

    ScheduleTrigger yearly = makeTrigger(kRepeatYearly, monday);
    ASSERT_TRUE(computeNextRunTime(yearly, now));
    EXPECT_EQ(yearly.nextTrigger - monday, 36125LL * kTicksPerDay / 100);

    for (int32_t type : {kRepeatNone, 5, -1}) {
        ScheduleTrigger fixed = makeTrigger(type, monday);
        EXPECT_FALSE(computeNextRunTime(fixed, now));
        EXPECT_EQ(fixed.nextTrigger, monday);
    }
    ScheduleTrigger inactive = makeTrigger(kRepeatDaily, monday);
    inactive.active = 0;
    EXPECT_FALSE(computeNextRunTime(inactive, now));
    ScheduleTrigger early = makeTrigger(kRepeatDaily, monday);
    EXPECT_FALSE(computeNextRunTime(early, monday - 1));
    EXPECT_EQ(early.nextTrigger, monday);
}

TEST(BackupSchedulerCalendar, DailyAndWeeklyKeepLocalTimeOverSummerTime) {
    PinnedTimeZone zone("CET-1CEST,M3.5.0,M10.5.0/3");
    const int64_t saturday = localTicks(2024, 3, 30, 9, 0);  // clocks go forward on the 31st
    ScheduleTrigger daily = makeTrigger(kRepeatDaily, saturday);
    ASSERT_TRUE(computeNextRunTime(daily, saturday));
    EXPECT_EQ(daily.nextTrigger, localTicks(2024, 3, 31, 9, 0));
    EXPECT_EQ(daily.nextTrigger - saturday, kTicksPerDay - 3600 * kTicksPerSecond);
    ASSERT_TRUE(computeNextRunTime(daily, saturday));
    EXPECT_EQ(fieldsOf(daily.nextTrigger).secondsOfDay, 9 * 3600);

    ScheduleTrigger weekly = makeTrigger(kRepeatWeekly, localTicks(2024, 10, 21, 9, 0), 0x02);
    ASSERT_TRUE(computeNextRunTime(weekly, weekly.nextTrigger));
    EXPECT_EQ(weekly.nextTrigger, localTicks(2024, 10, 28, 9, 0));
}

TEST(BackupSchedulerCalendar, DueByCalendarAndNeverEarly) {
    PinnedTimeZone zone("UTC0");
    const int64_t nine = localTicks(2024, 3, 15, 9, 0);  // a Friday
    ScheduleTrigger daily = makeTrigger(kRepeatDaily, nine);
    EXPECT_FALSE(isTriggerDue(daily, nine - kTicksPerSecond));
    EXPECT_TRUE(isTriggerDue(daily, nine));
    EXPECT_TRUE(isTriggerDue(daily, nine + 2 * kTicksPerDay));   // missed, same month: run late
    EXPECT_FALSE(isTriggerDue(daily, localTicks(2024, 4, 1, 10, 0)));  // another month
    daily.lastTrigger = daily.nextTrigger;
    EXPECT_FALSE(isTriggerDue(daily, nine + 1));  // already ran
    daily = makeTrigger(kRepeatDaily, nine);
    daily.active = 0;
    EXPECT_FALSE(isTriggerDue(daily, nine));

    ScheduleTrigger weekly = makeTrigger(kRepeatWeekly, nine, 0x20);  // Fridays
    EXPECT_TRUE(isTriggerDue(weekly, nine));
    EXPECT_FALSE(isTriggerDue(weekly, nine + kTicksPerDay));  // Saturday
    ScheduleTrigger sunday = makeTrigger(kRepeatWeekly, localTicks(2024, 3, 17, 9, 0), 0);
    EXPECT_TRUE(isTriggerDue(sunday, sunday.nextTrigger));  // empty mask: Sunday

    // Monthly and yearly triggers compare neither the month nor the year, but
    // still never run before their next time.
    ScheduleTrigger monthly = makeTrigger(kRepeatMonthly, nine);
    monthly.activationDate = nine - 60 * kTicksPerDay;
    EXPECT_FALSE(isTriggerDue(monthly, localTicks(2024, 2, 20, 10, 0)));
    EXPECT_TRUE(isTriggerDue(monthly, nine));
    EXPECT_TRUE(isTriggerDue(monthly, localTicks(2024, 5, 16, 8, 0)));
    ScheduleTrigger yearly = makeTrigger(kRepeatYearly, nine);
    yearly.activationDate = nine - 400 * kTicksPerDay;
    EXPECT_FALSE(isTriggerDue(yearly, localTicks(2023, 3, 15, 10, 0)));
    EXPECT_TRUE(isTriggerDue(yearly, localTicks(2024, 3, 15, 10, 0)));
}

TEST_F(BackupSchedulerTest, DailyTriggerFiresOncePerDayAndKeepsItsTime) {
    PinnedTimeZone zone("UTC0");
    const int64_t nine = localTicks(2024, 3, 15, 9, 0);
    addFolder(makeTrigger(kRepeatDaily, nine));

    passAt(nine - kTicksPerSecond);
    EXPECT_EQ(engine.calls, 0);
    const int64_t start = nine + 2500000;  // a quarter second late
    passAt(start);
    EXPECT_EQ(engine.calls, 1);
    EXPECT_EQ(engine.lastStart, start);
    EXPECT_TRUE(engine.lastRecursive);
    EXPECT_EQ(triggerAt(0).nextTrigger, start);
    EXPECT_EQ(triggerAt(0).lastTrigger, start);
    for (int minutes = 1; minutes < 15 * 60; minutes += 7) passAt(start + minutes * 60 * kTicksPerSecond);
    EXPECT_EQ(engine.calls, 1);
    EXPECT_FALSE(scheduledBackupInProgress());
    EXPECT_EQ(triggerAt(0).result, kBackupResultSuccess);
    EXPECT_EQ(triggerAt(0).lastTrigger, start);
    EXPECT_EQ(triggerAt(0).nextTrigger, nine + kTicksPerDay);  // not a quarter second later each day
    EXPECT_FALSE(configurationSaved);

    passAt(nine + kTicksPerDay);
    EXPECT_EQ(engine.calls, 2);
    passAt(nine + kTicksPerDay + 60 * kTicksPerSecond);
    EXPECT_EQ(engine.calls, 2);

    bool logged = false;
    for (const AppLogEntry& entry : appLogSnapshot().entries)
        logged = logged || entry.key.find(L"Initiating scheduled backup: " + kFolder) != std::wstring::npos;
    EXPECT_TRUE(logged);
}

TEST_F(BackupSchedulerTest, MissedTriggerAfterSleepRunsOnceThenKeepsSchedule) {
    PinnedTimeZone zone("UTC0");
    const int64_t nine = localTicks(2024, 3, 10, 9, 0);
    addFolder(makeTrigger(kRepeatDaily, nine));
    passAt(nine - 3600 * kTicksPerSecond);
    // The machine sleeps until two days later, past the time of day.
    const int64_t wake = localTicks(2024, 3, 12, 14, 0);
    passAt(wake);
    passAt(wake + kTicksPerSecond);
    passAt(wake + 2 * kTicksPerSecond);
    EXPECT_EQ(engine.calls, 1);
    EXPECT_EQ(triggerAt(0).nextTrigger, localTicks(2024, 3, 13, 9, 0));

    // Over a month's end the missed runs are stepped over by the repeat rule
    // (at most one late run), and the trigger lands ahead of now.
    const int64_t wake2 = localTicks(2024, 4, 2, 8, 0);
    for (int i = 0; i < 40; ++i) passAt(wake2 + i * kTicksPerSecond);
    EXPECT_LE(engine.calls, 2);
    EXPECT_GT(triggerAt(0).nextTrigger, wake2);
    EXPECT_EQ(fieldsOf(triggerAt(0).nextTrigger).secondsOfDay, 9 * 3600);
}

TEST_F(BackupSchedulerTest, OneShotTriggerAndSkippedFolders) {
    PinnedTimeZone zone("UTC0");
    const int64_t at = localTicks(2024, 5, 5, 12, 0);
    addFolder(makeTrigger(kRepeatNone, at), kFolderTypeFolder);
    passAt(at);
    EXPECT_EQ(engine.calls, 1);
    EXPECT_FALSE(engine.lastRecursive);
    for (int i = 1; i < 20; ++i) passAt(at + i * 600 * kTicksPerSecond);
    EXPECT_EQ(engine.calls, 1);
    EXPECT_EQ(triggerAt(0).nextTrigger, at);
    EXPECT_EQ(triggerAt(0).lastTrigger, at);

    // Disabled and removed folders and inactive triggers never run.
    {
        std::lock_guard<std::mutex> lock(watchFolderMutex);
        WatchFolderEntry& entry = watchFolderMap[kFolder];
        entry.scheduleTriggers = {makeTrigger(kRepeatDaily, at + kTicksPerDay)};
        entry.folderType = kFolderTypeDisable;
    }
    passAt(at + kTicksPerDay);
    {
        std::lock_guard<std::mutex> lock(watchFolderMutex);
        watchFolderMap[kFolder].folderType = kFolderTypeFolder;
        watchFolderMap[kFolder].removed = true;
    }
    passAt(at + kTicksPerDay + 1);
    {
        std::lock_guard<std::mutex> lock(watchFolderMutex);
        watchFolderMap[kFolder].removed = false;
        watchFolderMap[kFolder].scheduleTriggers[0].active = 0;
    }
    passAt(at + kTicksPerDay + 2);
    EXPECT_EQ(engine.calls, 1);
}

TEST_F(BackupSchedulerTest, ResultsAreRecordedInTheTrigger) {
    PinnedTimeZone zone("UTC0");
    int64_t day = localTicks(2024, 6, 3, 7, 30);
    addFolder(makeTrigger(kRepeatDaily, day));
    int runs = 0;
    for (int32_t code : {kBackupResultSuccess, kBackupResultUserCancelled, kBackupResultDiskFull,
                         kBackupResultBlocked}) {
        engine.result = code;
        passAt(day);
        passAt(day + kTicksPerSecond);
        EXPECT_EQ(engine.calls, ++runs);
        EXPECT_EQ(triggerAt(0).result, code) << backupResultText(code);
        day += kTicksPerDay;
        EXPECT_EQ(triggerAt(0).nextTrigger, day);
    }

    // The program stops while the backup still runs: "interrupted".
    engine.hold = true;
    engine.result = kBackupResultSuccess;
    fakeNowTicks = day;
    backupSchedulerPass(day);
    ASSERT_TRUE(waitFor([&] { return engine.calls == runs + 1; }));
    EXPECT_TRUE(scheduledBackupInProgress());
    backupSchedulerPass(day + kTicksPerSecond);  // still running: nothing else starts
    EXPECT_EQ(engine.calls, runs + 1);
    finishBackupSchedulerRun(day + 2 * kTicksPerSecond);
    EXPECT_FALSE(scheduledBackupInProgress());
    EXPECT_EQ(triggerAt(0).result, kBackupResultInterrupted);
    EXPECT_EQ(triggerAt(0).nextTrigger, day + kTicksPerDay);
    engine.hold = false;
    ASSERT_TRUE(engine.waitForRuns(runs + 1));
}

TEST_F(BackupSchedulerTest, ABackupFromTheMainWindowDefersTheTrigger) {
    PinnedTimeZone zone("UTC0");
    const int64_t at = localTicks(2024, 7, 1, 10, 0);
    addFolder(makeTrigger(kRepeatDaily, at));
    ASSERT_TRUE(claimBackupRunning());  // the main window's backup
    EXPECT_FALSE(claimBackupRunning());
    passAt(at);
    EXPECT_EQ(engine.calls, 0);
    EXPECT_EQ(triggerAt(0).nextTrigger, at);
    setBackupRunning(false);
    passAt(at + kTicksPerSecond);
    EXPECT_EQ(engine.calls, 1);
}

TEST_F(BackupSchedulerTest, TriggersEditedWhileTheBackupRuns) {
    PinnedTimeZone zone("UTC0");
    const int64_t at = localTicks(2024, 8, 1, 6, 0);
    ScheduleTrigger later = makeTrigger(kRepeatDaily, at + 3600 * kTicksPerSecond);
    addFolder(later);
    addFolder(makeTrigger(kRepeatDaily, at));
    const uint64_t runningId = triggerAt(1).id;
    EXPECT_NE(triggerAt(0).id, runningId);

    engine.hold = true;
    engine.result = kBackupResultDiskFull;
    fakeNowTicks = at;
    backupSchedulerPass(at);
    ASSERT_TRUE(waitFor([&] { return engine.calls == 1; }));

    // The windows add and remove triggers meanwhile, from another thread,
    // while the scheduler keeps passing.
    std::thread window([&] {
        for (int i = 0; i < 200; ++i) {
            std::lock_guard<std::mutex> lock(watchFolderMutex);
            auto& triggers = watchFolderMap[kFolder].scheduleTriggers;
            triggers.insert(triggers.begin(), makeTrigger(kRepeatNone, at + 100 * kTicksPerDay));
            if (i % 3 == 0) triggers.erase(triggers.begin() + 1);
        }
    });
    for (int i = 0; i < 200; ++i) backupSchedulerPass(at + i);
    window.join();
    engine.hold = false;
    ASSERT_TRUE(engine.waitForRuns(1));
    backupSchedulerPass(at + 1000);

    std::lock_guard<std::mutex> lock(watchFolderMutex);
    int found = 0;
    for (const ScheduleTrigger& trigger : watchFolderMap[kFolder].scheduleTriggers) {
        if (trigger.id != runningId) {
            EXPECT_NE(trigger.result, kBackupResultDiskFull);
            continue;
        }
        ++found;
        EXPECT_EQ(trigger.result, kBackupResultDiskFull);
        EXPECT_EQ(trigger.nextTrigger, at + kTicksPerDay);
    }
    EXPECT_EQ(found, 1);
}

TEST_F(BackupSchedulerTest, RemovedRunningTriggerLeavesNothingBehind) {
    PinnedTimeZone zone("UTC0");
    const int64_t at = localTicks(2024, 9, 2, 6, 0);
    addFolder(makeTrigger(kRepeatDaily, at));
    engine.hold = true;
    fakeNowTicks = at;
    backupSchedulerPass(at);
    ASSERT_TRUE(waitFor([&] { return engine.calls == 1; }));
    {
        std::lock_guard<std::mutex> lock(watchFolderMutex);
        watchFolderMap[kFolder].scheduleTriggers.clear();
        watchFolderMap[kFolder].scheduleTriggers.push_back(makeTrigger(kRepeatDaily, at + kTicksPerDay));
    }
    engine.hold = false;
    ASSERT_TRUE(engine.waitForRuns(1));
    backupSchedulerPass(at + 1);
    EXPECT_FALSE(scheduledBackupInProgress());
    EXPECT_FALSE(isBackupRunning());
    EXPECT_EQ(triggerAt(0).result, 0);
    passAt(at + kTicksPerDay);
    EXPECT_EQ(engine.calls, 2);
}

TEST_F(BackupSchedulerTest, WorkerReportsAndStopsWithTheApplication) {
    PinnedTimeZone zone("UTC0");
    const int64_t at = localTicks(2024, 10, 7, 8, 0);
    fakeNowTicks = at - kTicksPerSecond;
    addFolder(makeTrigger(kRepeatWeekly, at, 0x02));  // Mondays
    std::atomic<bool> watcherRunning{true};
    EngineHooks hooks = engineHooks();
    hooks.isChangeWatcherRunning = [&] { return watcherRunning.load(); };
    setEngineHooks(hooks);

    startEngineThread(backupSchedulerThread);
    const std::string name(kBackupSchedulerThreadName);
    ASSERT_TRUE(waitFor([&] {
        std::lock_guard<std::mutex> lock(threadStateMutex);
        return threadStateMap.count(name) && threadStateMap[name].pingCount > 2;
    }));
    EXPECT_EQ(threadEntry(name).state, kThreadRunning);
    EXPECT_EQ(engine.calls, 0);
    fakeNowTicks = at;
    ASSERT_TRUE(engine.waitForRuns(1));
    ASSERT_TRUE(waitFor([&] { return triggerAt(0).nextTrigger == at + 7 * kTicksPerDay; }));
    EXPECT_EQ(triggerAt(0).result, kBackupResultSuccess);

    watcherRunning = false;
    ASSERT_TRUE(waitFor([&] { return threadEntry(name).state == kThreadStopped; }));
    watcherRunning = true;
    ASSERT_TRUE(waitFor([&] { return threadEntry(name).state == kThreadRunning; }));

    setApplicationRunning(false);
    ASSERT_TRUE(waitForEngineThreads(5000));
    EXPECT_EQ(threadEntry(name).state, kThreadStopped);
}

TEST(BackupSchedulerTriggers, IdentityIsKeptByCopiesAndNewForNewTriggers) {
    ScheduleTrigger first;
    ScheduleTrigger second;
    EXPECT_NE(first.id, second.id);
    ScheduleTrigger copy = first;
    EXPECT_EQ(copy.id, first.id);
    WatchFolderEntry entry;
    entry.scheduleTriggers = {first, second};
    WatchFolderEntry copied = entry;
    EXPECT_EQ(copied.scheduleTriggers[1].id, second.id);
}
