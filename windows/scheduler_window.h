#pragma once
// The schedule of one watch folder: the window "Manage Schedule: " lists its
// triggers (add, enable, disable, remove) and the trigger editor "Manage
// Triggers" sets one trigger's date and time on a month calendar, its repeat
// type and its weekdays.
//
// Both windows run on the main thread. They copy the triggers out of the
// folder entry under watchFolderMutex each frame and write a change back
// under it, finding the trigger again by its id, so the scheduler thread and
// the windows never hold a reference into the list across an unlock.
#include <cstdint>
#include <string>

// The schedule window (display item IG_006) and its open flag.
void drawSchedulerWindow();
bool isSchedulerWindowOpen();
// Opens it on the triggers of one watch folder (its key as stored).
void openSchedulerWindow(const std::wstring& folderKey);

// Display-item id of the schedule window; the trigger editor shares it.
inline constexpr int32_t kSchedulerItemId = 6;

// The folder the schedule window shows: the watch-folder key as stored.
std::wstring schedulerWindowFolder();

// The trigger editor, opened by " Edit " for one trigger of the folder.
void openTriggerEditor(const std::wstring& folderKey, uint64_t triggerId);
bool isTriggerEditorOpen();
// Closes it as " Cancel " does: nothing is written.
void closeTriggerEditor();
void drawTriggerEditorWindow();

// Draws the month calendar of the local date `date` (ticks) and returns the
// user's change as "y:<year text>,m:<month name>,d:<0-based day>", or an
// empty text when nothing changed this frame.
std::string drawScheduleCalendar(int64_t date);

// The month 1 to 12 named by the first three letters of `text` (any case),
// -1 when none matches; the empty text gives 1.
int32_t monthNumberFromName(const std::string& text);
// Days of a month (1 to 12) of a year, 29 for February of a leap year.
int32_t daysInMonth(int32_t year, int32_t month);
// "h:mm am" / "h:mm pm" for an hour 0 to 23 ("0:05 am", "12:30 pm", "1:07 pm").
std::string triggerTimeText(int32_t hour, int32_t minute);
// Reads "h:mm" with an optional "am" or "pm" after the minutes. False,
// leaving hour and minute alone, when the text has not exactly one ":" or a
// field does not begin with a number in the 32-bit range. The numbers are not
// range-tested: the date conversion carries 25:00 over to the next day.
bool readTriggerTimeText(const std::string& text, int32_t& hour, int32_t& minute);
// Ticks of a local date and time (month 0 to 11; fields out of range carry
// over). False when the conversion fails or the result lies outside the
// years 1970 to 3000, which the scheduler cannot run.
bool localDateTicks(int32_t year, int32_t month, int32_t day, int32_t hour, int32_t minute, int32_t second,
                    int64_t& ticks);

// The line the trigger editor shows after a refused change, empty when none.
std::string triggerEditorHint();
// The editor back to its state at process start (tests).
void resetTriggerEditor();
// Both windows back to their start state (tests).
void resetSchedulerWindows();
