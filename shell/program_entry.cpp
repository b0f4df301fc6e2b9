#include "shell/program_entry.h"

#include <imgui.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <stdexcept>

#include "engine/copy_queue_file.h"
#include "engine/engine_wiring.h"
#include "engine/unclean_end.h"
#include "foundation/app_config.h"
#include "foundation/app_log.h"
#include "foundation/data_files.h"
#include "foundation/file_helpers.h"
#include "foundation/machine_ids.h"
#include "foundation/security.h"
#include "foundation/styles.h"
#include "foundation/text_format.h"
#include "foundation/version_records.h"
#include "foundation/watch_folders.h"
#include "net/update_check.h"
#include "platform/display_loss.h"
#include "platform/file_system.h"
#include "platform/message_box.h"
#include "platform/paths.h"
#include "platform/signals.h"
#include "platform/single_instance.h"
#include "platform/text.h"
#include "platform/tray_host.h"
#include "platform/window_sdl.h"
#include "shell/autostart.h"
#include "shell/display_items.h"
#include "shell/fonts.h"
#include "shell/graphics.h"
#include "shell/main_loop.h"
#include "shell/shell_state.h"
#include "shell/tray.h"
#include "shell/window.h"

namespace {
std::string g_step = "unknown";
constexpr const char* kInstanceName = "Varnholt";
constexpr const char* kUsageText =
    "Usage: varnholt [install | uninstall | --help]\n"
    "  (nothing)   run Varnholt; a second start shows the running one's window\n"
    "  install     set the data folder up anew (what it held goes) and end\n"
    "  uninstall   end at once, changing nothing\n"
    "  --help      show this text\n";

// Test builds only: VARNHOLT_FAIL_STEP="<step>:<runtime|exception|unknown>"
// makes that step fail, so tests can reach the error handler of the real program.
void failStepWhenAsked([[maybe_unused]] const std::string& step) {
#ifdef VARNHOLT_TEST_HOOKS
    static const std::string wanted = [] {
        const char* value = getenv("VARNHOLT_FAIL_STEP");
        return std::string(value ? value : "");
    }();
    const size_t colon = wanted.rfind(':');
    if (colon == std::string::npos || wanted.compare(0, colon, step) != 0 || colon != step.size()) return;
    const std::string kind = wanted.substr(colon + 1);
    if (kind == "runtime") throw std::runtime_error("forced failure in " + step);
    if (kind == "exception") throw std::logic_error("forced failure in " + step);
    throw 1;
#endif
}

// The four embedded resources, held for the whole run.
void loadTexturesAndFonts() {
    registerTexture(loadAppResource("IDR_ABOUT_TEXTURE"), "about_intro", true);
    registerTexture(loadAppResource("IDR_ABOUT_INFO"), "about_info", true);
}

void fillIdentityValues() {
    std::lock_guard<std::mutex> guard(appSettingsMutex);
    if (appSettings.guid.empty()) {
        appSettings.guid = newUuidText();
        appSettings.hwguid = getHardwareProfileGuid();
    }
    if (appSettings.hwguid.empty()) appSettings.hwguid = getHardwareProfileGuid();
    if (appSettings.userName.empty())
        appSettings.userName = wideToUtf8(expandEnvironmentPlaceholders(L"{{USERNAME}}"));
}

// A second start asks for the window through the instance socket; the
// request reaches the main thread as a window event.
void onShowRequest() { postTrayCommandEvent(kShowWindowCommand); }

void setUpTrayAndWindow() {
    // The autostart file is the truth about start at log-on.
    setShellStartAtLogOn(startAtLogOnEnabled());
    setupTrayMenu(shellShowUI(), shellStartAtLogOn(), shellStyleNames());
    startTrayIcon(false);
    // Without a tray icon nothing could show a hidden window.
    const bool show = shellShowUI() || !trayIconShown();
    writeLogLine(trayIconShown() ? "Tray Icon: shown by the tray host" : "Tray Icon: no tray host", "");
    showMainWindow(show);
    writeLogLine(show ? "Main Window: shown" : "Main Window: hidden, the tray icon shows it", "");
    startTrayIcon(false);
    setRequestedRenderState(show ? kRenderOn : kRenderOff);
    listenForShowRequests(kInstanceName, onShowRequest);
}

void tearDownGraphics() {
    if (graphicsActive())
        setGraphicsActive(false);
    else if (ImGui::GetCurrentContext()) {
        forgetApplicationFonts();
        ImGui::DestroyContext();
    }
}

// Set once the configuration, styles and version records are loaded: only
// then may the shut-down write them (a save before that would replace the
// user's files with defaults). g_saved makes the saves run once.
std::atomic<bool> g_readyToSave{false};
std::atomic<bool> g_saved{false};
// Every engine thread ended within the shut-down wait: nothing was left in
// flight, so the run counts as ended cleanly once the saves are done.
std::atomic<bool> g_engineStopped{false};

// Stops the engine and waits (bounded) for its workers and the state check.
// A wait that runs out is logged; the saves still run, since every store
// they read is guarded by its own mutex.
void stopBackgroundWork() {
    stopShellEngine();
    g_engineStopped.store(waitForShellEngine());
    if (!g_engineStopped.load()) {
        const std::string text = "Critical! - Engine threads still running when the shut-down wait ran out";
        writeLogLine(text, "");
        appendAppLogEntry(utf8ToWide(text), 8, true);
    }
    stopNetworkWork();
    waitForPeriodicStateCheck();
    saveUnattendedCopyQueue();
}

void traceSaveResult(bool saved) { writeLogLine(saved ? "Done." : "Failed.", ""); }

// A failed save traces "Failed." and leaves the old file in place (every
// data file is written to a new file and renamed over the old one). A lost
// configuration or version record keeps the run marker, so the next start
// recovers; the log that names the file is saved once more to reach it.
void saveEverything() {
    writeLogLine("Saving Configuration", "");
    traceSaveResult(saveAppConfiguration());
    for (const std::wstring& file : configurationFilesNotSaved()) noteFailedSave(file);
    writeLogLine("Saving Styles", "");
    traceSaveResult(saveStyleFiles() == kStyleCount);
    writeLogLine("Saving Version Records", "");
    const bool recordsSaved = saveVersionRecords();
    traceSaveResult(recordsSaved);
    if (!recordsSaved) noteFailedSave(versionRecordsFilePath());
    if (anySaveFailed()) saveNotificationsFile();
    writeLogLine("End Execution", "");
}

void saveOnce() {
    if (!g_readyToSave.load() || g_saved.exchange(true)) return;
    saveEverything();
    if (g_engineStopped.load()) closeRunMarker();
}

// Ends the process without running static destructors: after a lost display
// or with engine threads still running, they would touch the display or pull
// data from under those threads.
[[noreturn]] void endProcessNow(int code) {
    std::fflush(nullptr);
    _exit(code);
}

// Engine threads that outlived the grace get a second one after the saves;
// main must not return while they run.
void endWhenThreadsRemain() {
    if (waitForShellEngine()) return;
    writeLogLine("Engine threads did not stop; ending without clean-up", "");
    endProcessNow(0);
}

// The X connection is gone (log-out): the normal shut-down without a single
// display or GL call, then the end of the process.
void shutDownWithoutDisplay() {
    if (!g_saved.load()) {
        stopBackgroundWork();
        saveOnce();
    }
    removeTrayHostIconFile();
    endProcessNow(0);
}

// Everything is saved before the first display or GL call: the display may
// go away at any moment during a log-out.
void shutDown() {
    stopBackgroundWork();
    saveOnce();
    if (displayLost()) {
        removeTrayHostIconFile();
        endProcessNow(0);
    }
    endWhenThreadsRemain();
    tearDownGraphics();
    startTrayIcon(true);
    closeWindowSystem();
}

// After a failure: no saves (the state may be half-built), but no thread
// may outlive main and the tray icon goes away.
void releaseAfterFailure() {
    try {
        stopBackgroundWork();
        endWhenThreadsRemain();
        startTrayIcon(true);
        tearDownGraphics();
        closeWindowSystem();
    } catch (...) {
    }
}

int runNormalStart() {
    setCurrentStep("InitInstance");
    if (!initInstance()) throw std::runtime_error("InitInstance Failed (" + windowSystemDescription() + ")");
    installDisplayLossHandler(shutDownWithoutDisplay);
    setCurrentStep("load textures and fonts");
    loadTexturesAndFonts();
    setCurrentStep("CreateDeviceD3D");
    setRenderStates(kRenderOff, kRenderOff);
    setCurrentStep("CreateContext");
    ImGui::CreateContext();
    ImGui::GetIO().IniFilename = nullptr;
    setCurrentStep("Build Glyphs");
    addApplicationFonts();
    ImGui::StyleColorsDark();
    setCurrentStep("loadAppConfiguration");
    // The set-up run makes the folders but no "Config.dat": the first normal
    // run is the one that finds the file missing.
    noteShellFirstRun();
    const bool uncleanEnd = openRunMarker();
    wireEngine();
    installQuestionWindowHook();
    loadAppConfiguration();  // the version records too, before the engine starts
    writeLogLine("Configuration loaded ... Starting Execution", traceLogPath);
    writeLogLine("Window System: " + windowSystemDescription(), "");
    if (!loadAppResource("IDR_ABOUT_TEXTURE").empty()) writeLogLine("About Intro - Ok", "");
    if (!loadAppResource("IDR_ABOUT_INFO").empty()) writeLogLine("About Info - Ok", "");
    loadStyleFiles();
    fillIdentityValues();
    g_readyToSave.store(true);
    startStartUpComparison(uncleanEnd);
    setCurrentStep("Updating Notify Icon");
    setUpTrayAndWindow();
    setCurrentStep("setIGDisplayItem_zOrder");
    setIGDisplayItem_zOrder();
    setCurrentStep("assign mapTextureItems");
    writeLogLine("Start Event Loop & UI", "");
    setCurrentStep("checkApplicationStateAndNotify");
    // The notices ask the network, so they run on their own thread, which
    // then tells the start-up message.
    setApplicationStateCheck([] { checkApplicationStateAndNotify(); });
    startApplicationStateCheck();
    setPeriodicCheckTime(steadyClockMs() + kPeriodicCheckIntervalMs);  // this start's check is the first
    setCurrentStep("start main loop");
    runMainLoop();
    shutDown();
    return 0;
}

int runProgram(int argc, const char* const* argv) {
    setCurrentStep("createSecurityDescriptor");
    createSecurityDescriptor();
    setCurrentStep("MyRegisterClass");
    registerWindowClass();  // a failure shows in InitInstance
    setCurrentStep("GetCurrentProcessId");
    const std::string executable = shellExecutablePath();
    const std::wstring programFolder = utf8ToWide(parentFolder(executable));
    const std::string switchText = switchTextFromArguments(argc, argv);
    const bool firstRun = !isExistingFolder(configurationFolderPath());
    if (switchText == "install") return runInstallBlock(true, programFolder);
    if (firstRun) {
        const int code = runInstallBlock(false, programFolder);
        // Without this line a first start ends without a trace of what it did.
        if (code == 0)
            std::printf("Varnholt set up its data folder %s; start it again to run it.\n",
                        wideToUtf8(dataFolderPath()).c_str());
        return code;
    }
    if (switchText == "uninstall") return 0;
    return runNormalStart();
}
}  // namespace

const std::string& currentStepName() { return g_step; }

void setCurrentStep(const std::string& name) {
    g_step = name;
    failStepWhenAsked(name);
}

int runWithErrorHandler(const std::function<int()>& body) {
    try {
        return body();
    } catch (const std::runtime_error& error) {
        showMessageBox(std::string("Error: ") + error.what(), "Runtime error!");
        return kExitRuntimeError;
    } catch (const std::exception& error) {
        showMessageBox(std::string("Error: ") + error.what(), "exception thrown!");
        return kExitException;
    } catch (...) {
        showMessageBox("Error: catch all region: " + currentStepName(), "Unknown error!");
        return kExitUnknownError;
    }
}

std::string switchTextFromArguments(int argc, const char* const* argv) {
    std::string text;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) text += ' ';
        text += argv[i];
    }
    if (!text.empty() && text.front() == '/') text.erase(0, 1);
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

int varnholtMain(int argc, const char* const* argv) {
    // Before the instance lock: asking for help must not bring up a running window.
    const std::string switchText = switchTextFromArguments(argc, argv);
    if (switchText == "--help") {
        std::fputs(kUsageText, stdout);
        return 0;
    }
    if (!switchText.empty() && switchText != "install" && switchText != "uninstall") {
        std::fprintf(stderr, "varnholt: unknown argument \"%s\"\n%s", switchText.c_str(), kUsageText);
        return kExitUsage;
    }
    applyPlatformEnvironmentDefaults();
    // "uninstall" changes nothing, not even a lock file.
    if (switchTextFromArguments(argc, argv) == "uninstall") return 0;
    if (!isAbsolutePath(dataFolderPath())) {
        showMessageBox("Critical! - The data folder \"" + wideToUtf8(dataFolderPath()) +
                           "\" is not an absolute path: set LOCALAPPDATA or HOME to an absolute folder",
                       "Varnholt");
        return kExitInstallFailed;
    }
    // One instance per data folder, decided before anything else: a second
    // start must not set up or remove data under the running one.
    const std::string lockPath = wideToUtf8(instanceLockFilePath());
    std::string reason;
    const InstanceLock lock = acquireSingleInstanceLock(lockPath, reason);
    if (lock == InstanceLock::heldByOther) {
        askRunningInstanceToShow(lockPath, kInstanceName);
        return 0;
    }
    if (lock == InstanceLock::failed) {
        const std::string why = " (" + lockPath + ": " + reason + ")";
        showMessageBox(isExistingFolder(dataFolderPath())
                           ? "Critical! - Varnholt cannot lock its data folder" + why +
                                 ", so it does not start: another instance could be using it"
                           : "Critical! - Unable to create application data storage area" + why,
                       "Varnholt");
        return kExitInstallFailed;
    }
    installShutdownSignalHandlers();
    const int code = runWithErrorHandler([&] { return runProgram(argc, argv); });
    if (code < 0) releaseAfterFailure();
    return code;
}
