#include "shell/program_entry.h"

#include <imgui.h>
#include <stdlib.h>

#include <cstdio>
#include <stdexcept>

#include "engine/copy_queue.h"
#include "engine/engine_wiring.h"
#include "engine/unclean_end.h"
#include "foundation/app_config.h"
#include "foundation/app_log.h"
#include "foundation/data_files.h"
#include "foundation/file_helpers.h"
#include "foundation/machine_ids.h"
#include "foundation/security.h"
#include "foundation/styles.h"
#include "foundation/version_records.h"
#include "foundation/watch_folders.h"
#include "platform/message_box.h"
#include "platform/paths.h"
#include "platform/signals.h"
#include "platform/single_instance.h"
#include "platform/text.h"
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

std::wstring folderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::wstring() : utf8ToWide(path.substr(0, slash));
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

void setUpTrayAndWindow() {
    const bool show = shellShowUI();
    // The autostart file is the truth about start at log-on.
    setShellStartAtLogOn(startAtLogOnEnabled());
    setupTrayMenu(show, shellStartAtLogOn(), shellStyleNames());
    startTrayIcon(false);
    showMainWindow(show);
    setRequestedRenderState(show ? kRenderOn : kRenderOff);
}

void addStartUpMessage() {
    std::string message;
    {
        std::lock_guard<std::mutex> guard(appSettingsMutex);
        message = appSettings.lastBootMessage;
    }
    appendAppLogEntry(L"Start-Up Message: " + utf8ToWide(message), 1, false);
}

void tearDownGraphics() {
    if (graphicsActive())
        setGraphicsActive(false);
    else if (ImGui::GetCurrentContext())
        ImGui::DestroyContext();
}

// Stops the engine and waits (bounded) for its workers and the state check,
// so no thread outlives the data it uses.
void stopBackgroundWork() {
    stopShellEngine();
    waitForShellEngine();
    waitForPeriodicStateCheck();
    saveUnattendedCopyQueue();
}

void saveEverything() {
    writeLogLine("Saving Configuration", "");
    saveAppConfiguration();
    writeLogLine("Done.", "");
    writeLogLine("Saving Styles", "");
    saveStyleFiles();
    writeLogLine("Done.", "");
    writeLogLine("Saving Version Records", "");
    saveVersionRecords();
    writeLogLine("Done.", "");
    writeLogLine("End Execution", "");
}

void shutDown() {
    stopBackgroundWork();
    tearDownGraphics();
    saveEverything();
    closeRunMarker();
    startTrayIcon(true);
    closeWindowSystem();
}

// After a failure: no saves (the state may be half-built), but no thread
// may outlive main and the tray icon goes away.
void releaseAfterFailure() {
    try {
        stopBackgroundWork();
        startTrayIcon(true);
        tearDownGraphics();
        closeWindowSystem();
    } catch (...) {
    }
}

int runNormalStart() {
    setCurrentStep("InitInstance");
    if (!initInstance()) throw std::runtime_error("InitInstance Failed");
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
    const bool uncleanEnd = openRunMarker();
    wireEngine();
    loadAppConfiguration();
    writeLogLine("Configuration loaded ... Starting Execution", traceLogPath);
    if (!loadAppResource("IDR_ABOUT_TEXTURE").empty()) writeLogLine("About Intro - Ok", "");
    if (!loadAppResource("IDR_ABOUT_INFO").empty()) writeLogLine("About Info - Ok", "");
    loadStyleFiles();
    fillIdentityValues();
    setCurrentStep("loadVersionRecords");
    loadVersionRecords();
    if (uncleanEnd) startUncleanEndRecovery();
    setCurrentStep("Updating Notify Icon");
    setUpTrayAndWindow();
    setCurrentStep("setIGDisplayItem_zOrder");
    setIGDisplayItem_zOrder();
    setCurrentStep("assign mapTextureItems");
    writeLogLine("Start Event Loop & UI", "");
    setCurrentStep("checkApplicationStateAndNotify");
    runApplicationStateCheck();
    addStartUpMessage();
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
    const std::wstring programFolder = folderOf(executable);
    const std::string switchText = switchTextFromArguments(argc, argv);
    const bool firstRun = !isExistingFolder(configurationFolderPath());
    if (switchText == "install" || firstRun) return runInstallBlock(switchText == "install", programFolder);
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
    for (int i = 1; i < argc; ++i) text += (i > 1 ? " " : "") + std::string(argv[i]);
    if (!text.empty() && text.front() == '/') text.erase(0, 1);
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

int varnholtMain(int argc, const char* const* argv) {
    applyPlatformEnvironmentDefaults();
    // One instance per user, decided before anything else: a second start
    // must not set up or remove data under the running one.
    const InstanceLock lock = acquireSingleInstanceLock("Varnholt");
    if (lock == InstanceLock::heldByOther) return 0;
    if (lock == InstanceLock::failed) std::fprintf(stderr, "Varnholt: no single-instance lock could be taken\n");
    installShutdownSignalHandlers();
    const int code = runWithErrorHandler([&] { return runProgram(argc, argv); });
    if (code < 0) releaseAfterFailure();
    return code;
}
