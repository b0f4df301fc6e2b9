#include "engine/backup_scheduler.h"

#include <atomic>
#include <chrono>
#include <ctime>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>

#include "engine/engine_hooks.h"
#include "engine/thread_registry.h"
#include "foundation/app_log.h"
#include "foundation/global_defaults.h"

namespace {

std::atomic<bool> backupRunningFlag{false};

// The backup the scheduler started and has not finished yet. Only the
// scheduler touches it, but tests drive passes from their own thread.
struct ScheduledRun {
    std::wstring folderKey;
    uint64_t triggerId = 0;
    int64_t startTicks = 0;      // written into next and last at the start
    int64_t scheduledTicks = 0;  // the next run it was started for
};
std::mutex scheduledRunMutex;
std::optional<ScheduledRun> scheduledRun;

// What a pass needs to start a backup once the watch-folder lock is let go.
struct BackupStart {
    ScheduledRun run;
    bool recursive = false;
};

int64_t floorDiv(int64_t value, int64_t divisor) {
    int64_t q = value / divisor;
    if (value % divisor != 0 && value < 0) --q;
    return q;
}

bool localTm(int64_t ticks, std::tm& tm) {
    const std::time_t seconds = static_cast<std::time_t>(floorDiv(ticks, kTicksPerSecond));
    return localtime_r(&seconds, &tm) != nullptr;
}

// The same local time of day `days` calendar days later, so that a change to
// or from summer time does not move the run by an hour. Falls back to whole
// 24-hour spans when the local time cannot be converted.
int64_t addLocalDays(int64_t ticks, int32_t days) {
    std::tm tm{};
    if (!localTm(ticks, tm)) return ticks + days * kTicksPerDay;
    const int64_t fraction = ticks - floorDiv(ticks, kTicksPerSecond) * kTicksPerSecond;
    tm.tm_mday += days;
    tm.tm_isdst = -1;
    const std::time_t seconds = std::mktime(&tm);
    if (seconds == static_cast<std::time_t>(-1)) return ticks + days * kTicksPerDay;
    return static_cast<int64_t>(seconds) * kTicksPerSecond + fraction;
}

// Weekday bits that count: an empty mask (or one without any of the seven
// days) means Sunday.
int32_t effectiveWeekdayMask(int32_t mask) {
    return (mask & 0x7F) == 0 ? 1 : mask & 0x7F;
}

bool advanceWeekly(ScheduleTrigger& trigger) {
    if ((trigger.weekdayMask & 0x7F) == 0) trigger.weekdayMask = 1;
    int64_t candidate = trigger.nextTrigger;
    for (int step = 0; step < 7; ++step) {
        candidate = addLocalDays(candidate, 1);
        LocalCalendarFields fields;
        if (!localCalendarFields(candidate, fields)) return false;
        if (trigger.weekdayMask & (1 << fields.weekday)) {
            trigger.nextTrigger = candidate;
            return true;
        }
    }
    return false;
}

// Same month, not an earlier day, and on the same day not an earlier time.
bool commonDueTest(const LocalCalendarFields& now, const LocalCalendarFields& next) {
    if (now.month != next.month || now.day < next.day) return false;
    if (now.day != next.day) return true;
    return now.secondsOfDay >= next.secondsOfDay;
}

bool calendarDueTest(const ScheduleTrigger& trigger, const LocalCalendarFields& now, const LocalCalendarFields& next) {
    switch (trigger.repeatType) {
    case kRepeatNone:
    case kRepeatDaily:
        return now.year == next.year && commonDueTest(now, next);
    case kRepeatWeekly:
        if (now.year != next.year || now.month != next.month || now.day < next.day) return false;
        if (now.day == next.day && now.secondsOfDay < next.secondsOfDay) return false;
        return (effectiveWeekdayMask(trigger.weekdayMask) & (1 << now.weekday)) != 0;
    case kRepeatMonthly:
        if (now.year != next.year || now.day < next.day) return false;
        return now.day != next.day || now.secondsOfDay >= next.secondsOfDay;
    case kRepeatYearly:
        return commonDueTest(now, next);
    default:
        return true;
    }
}

ScheduleTrigger* findTrigger(const std::wstring& folderKey, uint64_t triggerId, WatchFolderEntry** entryOut) {
    auto it = watchFolderMap.find(folderKey);
    if (it == watchFolderMap.end()) return nullptr;
    for (ScheduleTrigger& trigger : it->second.scheduleTriggers) {
        if (trigger.id != triggerId) continue;
        *entryOut = &it->second;
        return &trigger;
    }
    return nullptr;
}

// Stores the result and sets the next run. When the trigger still shows the
// start of this run, its next run goes back to the time it was scheduled for
// and moves ahead by its repeat rule, so the time of day the user chose is
// kept. A trigger that cannot advance (no repetition) keeps next = last, so it
// does not run again; one the user edited meanwhile keeps what the user set.
void recordRunEnd(ScheduleTrigger& trigger, const ScheduledRun& run, int32_t result, int64_t nowTicks) {
    trigger.result = result;
    configurationSaved = false;
    if (trigger.nextTrigger != run.startTicks) return;
    ScheduleTrigger advanced = trigger;
    advanced.nextTrigger = run.scheduledTicks;
    bool moved = false;
    for (int step = 0; step < 1000 && advanced.nextTrigger <= nowTicks; ++step) {
        if (!computeNextRunTime(advanced, nowTicks)) break;
        moved = true;
    }
    if (moved && advanced.nextTrigger > run.startTicks) trigger = advanced;
}

// Finishes the remembered run; `forcedResult` replaces the folder's last
// backup result (0 keeps it).
void finishScheduledRun(int32_t forcedResult, int64_t nowTicks) {
    std::lock_guard<std::mutex> runLock(scheduledRunMutex);
    if (!scheduledRun) return;
    {
        std::lock_guard<std::mutex> lock(watchFolderMutex);
        WatchFolderEntry* entry = nullptr;
        ScheduleTrigger* trigger = findTrigger(scheduledRun->folderKey, scheduledRun->triggerId, &entry);
        if (trigger) recordRunEnd(*trigger, *scheduledRun, forcedResult ? forcedResult : entry->backupResult, nowTicks);
    }
    scheduledRun.reset();
}

bool mayRunTriggers(const WatchFolderEntry& entry) {
    return !entry.removed && entry.folderType != kFolderTypeDisable && !entry.scheduleTriggers.empty();
}

// Starts the backup thread for a picked trigger. The caller holds
// scheduledRunMutex and watchFolderMutex, so no window can remove the trigger
// between the pick and the start. False when the thread could not start: the
// running flag is given back and the run recorded as blocked.
bool startScheduledBackupLocked(const BackupStart& start, ScheduleTrigger& trigger,
                                const EngineHooks::BackupThreadMain& backupThreadMain) {
    scheduledRun = start.run;
    try {
        const std::wstring key = start.run.folderKey;
        const int64_t startTicks = start.run.startTicks;
        const bool recursive = start.recursive;
        startEngineThread([backupThreadMain, key, startTicks, recursive] { backupThreadMain(key, startTicks, recursive); });
        return true;
    } catch (const std::system_error&) {
        setBackupRunning(false);
        recordRunEnd(trigger, start.run, kBackupResultBlocked, start.run.startTicks);
        scheduledRun.reset();
        return false;
    }
}

// Walks the triggers: starts the backup of the first due one (claiming the
// running flag) and advances the ones that were missed. The pick and the
// start happen under one hold of the locks.
std::optional<BackupStart> startDueTrigger(int64_t nowTicks, const EngineHooks::BackupThreadMain& backupThreadMain,
                                           bool& started) {
    std::lock_guard<std::mutex> runLock(scheduledRunMutex);
    std::lock_guard<std::mutex> lock(watchFolderMutex);
    for (auto& [key, entry] : watchFolderMap) {
        if (!mayRunTriggers(entry)) continue;
        for (ScheduleTrigger& trigger : entry.scheduleTriggers) {
            if (!trigger.active || nowTicks < trigger.activationDate) continue;
            if (isTriggerDue(trigger, nowTicks)) {
                if (!claimBackupRunning()) continue;  // a backup from the main window runs
                BackupStart start{{key, trigger.id, nowTicks, trigger.nextTrigger},
                                  entry.folderType == kFolderTypeDescendents};
                trigger.nextTrigger = nowTicks;
                trigger.lastTrigger = nowTicks;
                configurationSaved = false;
                started = startScheduledBackupLocked(start, trigger, backupThreadMain);
                return start;
            }
            if (trigger.nextTrigger < nowTicks && computeNextRunTime(trigger, nowTicks)) configurationSaved = false;
        }
    }
    return std::nullopt;
}

void sleepPoll() {
    std::this_thread::sleep_for(std::chrono::milliseconds(timings().pollMs.load()));
}

// Running while the change watcher runs, Stopped while it does not. A ping
// would make a stopped entry running again, so the stopped worker only waits.
void reportSchedulerState(bool& shownRunning) {
    const std::string name(kBackupSchedulerThreadName);
    const EngineHooks hooks = engineHooks();
    const bool watcherRunning = hooks.isChangeWatcherRunning && hooks.isChangeWatcherRunning();
    if (!watcherRunning) {
        if (shownRunning) setThreadState(name, kThreadStopped);
        shownRunning = false;
        return;
    }
    if (!shownRunning) setThreadState(name, kThreadRunning);
    shownRunning = true;
    getThreadState(name, 0, 0);
}

}  // namespace

const char* backupResultText(int32_t result) {
    switch (result) {
    case kBackupResultSuccess: return "success";
    case kBackupResultUserCancelled: return "user cancelled";
    case kBackupResultDiskFull: return "disk full";
    case kBackupResultBlocked: return "blocked operation";
    case kBackupResultInterrupted: return "interrupted";
    default: return "none";
    }
}

const char* repeatTypeText(int32_t repeatType) {
    switch (repeatType) {
    case kRepeatDaily: return "daily";
    case kRepeatWeekly: return "weekly";
    case kRepeatMonthly: return "monthly";
    case kRepeatYearly: return "yearly";
    default: return "none";
    }
}

int32_t weekdayOfDate(int32_t year, int32_t month, int32_t day) {
    const int32_t y = month < 3 ? year - 1 : year;
    const int32_t sum = 23 * month / 9 + day + 4 + (month < 3 ? year : year - 2) + y / 4 - y / 100 + y / 400;
    return ((sum % 7) + 7) % 7;
}

bool localCalendarFields(int64_t ticks, LocalCalendarFields& fields) {
    std::tm tm{};
    if (!localTm(ticks, tm)) return false;
    fields.year = tm.tm_year + 1900;
    fields.month = tm.tm_mon + 1;
    fields.day = tm.tm_mday;
    fields.weekday = weekdayOfDate(fields.year, fields.month, fields.day);
    fields.secondsOfDay = tm.tm_hour * 3600 + tm.tm_min * 60 + tm.tm_sec;
    return true;
}

bool computeNextRunTime(ScheduleTrigger& trigger, int64_t nowTicks) {
    if (!trigger.active || nowTicks < trigger.activationDate) return false;
    switch (trigger.repeatType) {
    case kRepeatDaily:
        trigger.nextTrigger = addLocalDays(trigger.nextTrigger, 1);
        return true;
    case kRepeatWeekly:
        return advanceWeekly(trigger);
    case kRepeatMonthly:
        trigger.nextTrigger += kTicksPerMonthSpan;
        return true;
    case kRepeatYearly:
        trigger.nextTrigger += kTicksPerYearSpan;
        return true;
    default:
        return false;
    }
}

bool computeNextRunTime(ScheduleTrigger& trigger) {
    return computeNextRunTime(trigger, engineNowTicks());
}

bool isTriggerDue(const ScheduleTrigger& trigger, int64_t nowTicks) {
    if (!trigger.active || nowTicks < trigger.activationDate) return false;
    if (nowTicks < trigger.nextTrigger || trigger.nextTrigger == trigger.lastTrigger) return false;
    LocalCalendarFields now;
    LocalCalendarFields next;
    if (!localCalendarFields(nowTicks, now) || !localCalendarFields(trigger.nextTrigger, next)) return false;
    return calendarDueTest(trigger, now, next);
}

bool isTriggerDue(const ScheduleTrigger& trigger) {
    return isTriggerDue(trigger, engineNowTicks());
}

bool isBackupRunning() {
    return backupRunningFlag.load();
}

void setBackupRunning(bool running) {
    backupRunningFlag = running;
}

bool claimBackupRunning() {
    bool expected = false;
    return backupRunningFlag.compare_exchange_strong(expected, true);
}

bool scheduledBackupInProgress() {
    std::lock_guard<std::mutex> runLock(scheduledRunMutex);
    return scheduledRun.has_value();
}

void backupSchedulerPass(int64_t nowTicks) {
    if (scheduledBackupInProgress()) {
        if (isBackupRunning()) return;  // one scheduled backup at a time
        finishScheduledRun(0, nowTicks);
    }
    const EngineHooks hooks = engineHooks();
    if (!hooks.backupThreadMain) return;  // no backup engine in this program
    bool started = false;
    const std::optional<BackupStart> start = startDueTrigger(nowTicks, hooks.backupThreadMain, started);
    if (!start) return;
    // Logged once the locks are let go: the log has its own mutex.
    if (started)
        appendAppLogEntry(L"Initiating scheduled backup: " + start->run.folderKey, 1, false);
    else
        appendAppLogEntry(L"Critical! - Scheduled backup could not start: " + start->run.folderKey, 8, false);
}

void finishBackupSchedulerRun(int64_t nowTicks) {
    if (!scheduledBackupInProgress()) return;
    finishScheduledRun(isBackupRunning() ? kBackupResultInterrupted : 0, nowTicks);
}

void backupSchedulerThread() {
    const std::string name(kBackupSchedulerThreadName);
    getThreadState(name, 250, 5000);
    setThreadState(name, kThreadRunning);
    bool shownRunning = true;
    while (true) {
        reportSchedulerState(shownRunning);
        if (!isApplicationRunning()) break;
        sleepPoll();
        backupSchedulerPass(engineNowTicks());
    }
    finishBackupSchedulerRun(engineNowTicks());
    setThreadState(name, kThreadStopped);
}
