#pragma once
// What the windows start on threads of their own and the two things they
// read from outside, each behind a seam that tests replace: the clock and
// the shell's opener.
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

// Milliseconds since the program started (blinking, elapsed times).
using WindowClock = int64_t (*)();
void setWindowClock(WindowClock clock);  // nullptr: the real clock
int64_t windowClockMs();

// Opens a file, folder or web page (or hands a "mailto:" address to the mail
// program) with the desktop's program; runs on a thread of its own, because
// the opener waits for the desktop. `onOpened` runs (on that thread) only
// when the target was opened; a failure is logged as an issue.
using ShellOpener = bool (*)(const std::wstring& target);
void setShellOpener(ShellOpener opener);  // nullptr: the desktop's opener
void startShellOpen(const std::wstring& target, std::function<void()> onOpened = nullptr);
// The same opener, waited for on the caller's thread: true when it opened.
bool openWithShellOpener(const std::wstring& target);

// The Restore button's job: builds the folder's restore list on a thread.
// "Restore job running" is set from the call until the job ends, however it
// ends; a list built and ready is reported once by takeRestoreListReady.
void startRestoreListJob(const std::wstring& folderKey);
bool isRestoreJobRunning();
bool takeRestoreListReady();

// Back to the real clock and opener, no job state (tests).
void resetWindowJobs();
