#pragma once
// The backup scheduler: the "Backup Scheduler (W)" worker that starts the
// backup of a watch folder when one of its schedule triggers is due, the
// calendar tests that decide it and the repeat rules that advance a trigger.
//
// The triggers live in the watch-folder entries and are guarded, like the
// rest of an entry, by watchFolderMutex. The scheduler holds that lock while
// it looks at the triggers and starts a due trigger's backup thread, so a
// trigger removed by a window is never started; it remembers the run by
// folder key and trigger id and finds the trigger again when the backup has
// ended, so the windows may add, edit and remove triggers meanwhile.
#include <cstdint>
#include <string>

#include "foundation/watch_folders.h"

inline constexpr int32_t kRepeatNone = 0;
inline constexpr int32_t kRepeatDaily = 1;
inline constexpr int32_t kRepeatWeekly = 2;
inline constexpr int32_t kRepeatMonthly = 3;
inline constexpr int32_t kRepeatYearly = 4;

// Results of a backup, stored in the folder entry by the backup engine and
// copied into the trigger that started it.
inline constexpr int32_t kBackupResultNone = 0;
inline constexpr int32_t kBackupResultSuccess = 1;
inline constexpr int32_t kBackupResultUserCancelled = 2;
inline constexpr int32_t kBackupResultDiskFull = 3;
inline constexpr int32_t kBackupResultBlocked = 4;
inline constexpr int32_t kBackupResultInterrupted = 5;

inline constexpr int64_t kTicksPerSecond = 10000000;
inline constexpr int64_t kTicksPerDay = 864000000000;        // 24 hours
inline constexpr int64_t kTicksPerMonthSpan = 26280000000000;  // 730 hours
inline constexpr int64_t kTicksPerYearSpan = 312120000000000;  // 8670 hours (361.25 days)

// "success", "user cancelled", "disk full", "blocked operation",
// "interrupted"; "none" for any other code.
const char* backupResultText(int32_t result);
// "daily", "weekly", "monthly", "yearly"; "none" for any other type.
const char* repeatTypeText(int32_t repeatType);

// Weekday of a calendar date, 0 = Sunday (month 1 to 12).
int32_t weekdayOfDate(int32_t year, int32_t month, int32_t day);

// Local calendar fields of a tick time (the process's time zone).
struct LocalCalendarFields {
    int32_t year = 0;
    int32_t month = 0;          // 1 to 12
    int32_t day = 0;            // 1 to 31
    int32_t weekday = 0;        // 0 = Sunday
    int32_t secondsOfDay = 0;
};
bool localCalendarFields(int64_t ticks, LocalCalendarFields& fields);

// Advances the trigger's next run by its repeat rule. False, changing
// nothing, when the trigger is inactive, `nowTicks` lies before its
// activation date or the repeat type is none or unknown. Daily and weekly
// triggers keep their local time of day; monthly and yearly ones move by a
// fixed span of 730 and 8670 hours. A weekly trigger without weekdays runs
// on Sundays (its mask becomes 1).
bool computeNextRunTime(ScheduleTrigger& trigger, int64_t nowTicks);
bool computeNextRunTime(ScheduleTrigger& trigger);  // now = the engine clock

// The calendar test: whether the trigger should run at `nowTicks`. Never
// before its activation date or its next run, and not again once it ran
// for that next run (next equals last).
bool isTriggerDue(const ScheduleTrigger& trigger, int64_t nowTicks);
bool isTriggerDue(const ScheduleTrigger& trigger);  // now = the engine clock

// The backup engine's running flag: one backup at a time. The main window and
// the scheduler claim it before they start a backup; the backup thread sets
// it at its start and clears it at its end.
bool isBackupRunning();
void setBackupRunning(bool running);
// Sets the flag when it is clear; true when this caller set it.
bool claimBackupRunning();

// One pass of the scheduler at `nowTicks`: finishes the scheduled backup that
// has ended (its result into the trigger, the trigger advanced), then starts
// the first due trigger's backup, or advances triggers whose next run passed.
void backupSchedulerPass(int64_t nowTicks);
// Whether a backup started by the scheduler has not been finished yet.
bool scheduledBackupInProgress();
// Ends the scheduler's bookkeeping: a scheduled backup still running is
// recorded "interrupted" and its trigger advanced.
void finishBackupSchedulerRun(int64_t nowTicks);

// The worker's body, registered as "Backup Scheduler (W)"; checks the
// triggers every poll period until the application stops.
void backupSchedulerThread();
