#pragma once
// The program entry: the named start-up steps, the first-run set-up, the
// main loop and the shut-down with its saves, all under one top-level error
// handler that names the failed step.
#include <functional>
#include <string>

// Exit codes of the top-level error handler (the shell sees them modulo 256:
// 34, 145 and 179).
inline constexpr int kExitRuntimeError = -222;
inline constexpr int kExitException = -111;
inline constexpr int kExitUnknownError = -333;
// The first-run set-up could not create the data folder.
inline constexpr int kExitInstallFailed = 1;
// The command line held something the program does not know.
inline constexpr int kExitUsage = 2;

// The step now running ("unknown" before the first). Setting a step also
// fails it when VARNHOLT_FAIL_STEP names it (tests only; see the .cpp).
const std::string& currentStepName();
void setCurrentStep(const std::string& name);

// Runs `body` and turns an escaping exception into a message box and an exit
// code: std::runtime_error "Runtime error!" (-222), any other std::exception
// "exception thrown!" (-111), anything else "Unknown error!" with the step
// name (-333).
int runWithErrorHandler(const std::function<int()>& body);

// The command line as one switch text: arguments joined by blanks, one
// leading "/" dropped, lower-cased.
std::string switchTextFromArguments(int argc, const char* const* argv);

// The first-run set-up. `reset` (the "install" switch) removes the old data
// first; a start without the configuration folder only creates what is
// missing. Copies the style files and the guide from `programFolder`.
// Returns 0, or kExitInstallFailed when the data folder cannot be created.
int runInstallBlock(bool reset, const std::wstring& programFolder);

// The whole program, as main runs it.
int varnholtMain(int argc, const char* const* argv);
