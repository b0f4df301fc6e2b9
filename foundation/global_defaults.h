#pragma once
// The program's fixed names, default paths, labels and timings, in one place.
// Paths hold {{NAME}} placeholders that expand to environment variables and
// use "/" between their parts.
#include <atomic>
#include <cstdint>
#include <string_view>

// Names under which the workers report in the thread-state registry.
inline constexpr std::string_view kCopierThreadName = "Copier (W)";
inline constexpr std::string_view kMonitorUiThreadName = "Monitor UI (W)";
inline constexpr std::string_view kFileWatcherThreadName = "File Watcher (W)";
inline constexpr std::string_view kStorageCheckerThreadName = "Storage Checker (W)";
inline constexpr std::string_view kMonitorFilesThreadName = "Monitor Files (W)";
inline constexpr std::string_view kBackupSchedulerThreadName = "Backup Scheduler (W)";
inline constexpr std::string_view kBackupProcedureThreadName = "Backup Procedure";

// Data folder and the files and folders inside it.
inline constexpr std::wstring_view kDataFolderParent = L"{{LOCALAPPDATA}}/Morvane";
inline constexpr std::wstring_view kDataFolder = L"{{LOCALAPPDATA}}/Morvane/QZR";
inline constexpr std::wstring_view kConfigFolderName = L"ConfigData";
inline constexpr std::wstring_view kMetadataFolderName = L"FileMetaData";
inline constexpr std::wstring_view kGuideFileName = L"guide.pdf";
inline constexpr std::string_view kConfigFileName = "Config.dat";              // section "main"
inline constexpr std::string_view kUserFileName = "User.dat";                  // section "user"
inline constexpr std::string_view kNotificationsFileName = "Notifications.dat";  // section "notifications"
inline constexpr std::string_view kCopyQueueFileName = "CopyQueue.dat";        // section "cq"
inline constexpr std::string_view kBackupSetNotesFileName = "BS_Notes.dat";    // section "bsnotes"
inline constexpr std::string_view kStylesFolderName = "Styles";                // section "styles"
inline constexpr std::string_view kMetadataKey = "md";
inline constexpr std::string_view kTraceLogFileName = "logString.txt";
inline constexpr std::wstring_view kArchiveRootFolderName = L"QZR_ARCHIVE_ROOT";

// Pass phrases of the data-file framing.
inline constexpr std::string_view kDataFilePassPhrase = "Br4mbl3#2.71c0d3x9";
inline constexpr std::string_view kStylePassPhrase = "k8q2_%?.&7";

// The maker's web addresses, all in this one place (the README names them):
// the online user guide, the maker's home page, the product page, the
// product's change log and download page, and where user messages go.
inline constexpr std::wstring_view kOnlineGuideAddress = L"https://varnholt.morvane.example/guide/";
inline constexpr std::wstring_view kMakerHomeAddress = L"https://morvane.example/";
inline constexpr std::wstring_view kProductPageAddress = L"https://varnholt.morvane.example/";
inline constexpr std::wstring_view kChangeLogAddress = L"https://varnholt.morvane.example/changes/";
inline constexpr std::wstring_view kDownloadAddress = L"https://varnholt.morvane.example/download/";
inline constexpr std::string_view kUserMessageMailAddress = "varnholt-feedback@morvane.example";

// Default paths and lists.
inline constexpr std::wstring_view kDefaultArchiveRoot = L"{{USERPROFILE}}/Documents/Varnholt";
inline constexpr std::wstring_view kDocumentsFolder = L"{{USERPROFILE}}/Documents/.";
inline constexpr std::wstring_view kSystemFolderList =
    L"{{APPDATA}};{{PUBLIC}};{{windir}};{{LOCALAPPDATA}};{{ProgramFiles}};{{SystemRoot}}";
inline constexpr std::wstring_view kSystemDrive = L"{{SystemDrive}}/";
inline constexpr std::wstring_view kDefaultExtensionList =
    L"pdf;txt;doc;docx;rtf;log;jpg;bmp;png;c;cpp;h;hpp;sln;vcxproj";
inline constexpr std::wstring_view kStartMenuFolder = L"{{APPDATA}}/Microsoft/Windows/Start Menu/Programs/Varnholt/";
inline constexpr std::wstring_view kBackupNameLower = L"backup";
inline constexpr std::wstring_view kBackupNameUpper = L"BACKUP";
inline constexpr std::wstring_view kFileSetSuffix = L" - File Set";
inline constexpr std::wstring_view kRootLabel = L"root";
inline constexpr std::string_view kRootLabelNarrow = "root";

// Separators of list values and archive names.
inline constexpr std::string_view kLineSeparator = "[||]";
inline constexpr std::wstring_view kLineSeparatorW = L"[||]";
inline constexpr std::string_view kFieldSeparator = "[|]";
inline constexpr std::wstring_view kFieldSeparatorW = L"[|]";
inline constexpr std::wstring_view kArchiveNameSeparator = L" ~ ";

// UI symbols (UTF-8).
inline constexpr std::string_view kSymbolCircle = "○";
inline constexpr std::string_view kSymbolDisc = "●";
inline constexpr std::string_view kSymbolPointerRight = "►";
inline constexpr std::string_view kSymbolTriangleUp = "▲";
inline constexpr std::string_view kSymbolPointerLeft = "◄";
inline constexpr std::string_view kSymbolTriangleDown = "▼";
inline constexpr std::string_view kSymbolSlashedO = "Ø";
inline constexpr std::string_view kSymbolSquare = "□";
inline constexpr std::string_view kSymbolDoubleExclamation = "‼";
inline constexpr std::string_view kSymbolVerticalDots = "⁝";
inline constexpr std::string_view kSymbolFourDots = "⁖";
inline constexpr std::string_view kSymbolArmenianEternity = "֍";
inline constexpr std::string_view kSymbolSection = "§";

// Tray menu, tool tip and shut-down notice.
inline constexpr std::string_view kTrayTitle = "Varnholt";
inline constexpr std::string_view kTrayNewNotifications = "** You Have New Notifications **";
inline constexpr std::string_view kTrayShowUi = "Show UI";
inline constexpr std::string_view kTrayStyleSelector = "UI Color Style Selector";
inline constexpr std::string_view kTrayStartAtLogOn = "Start When User Logs On";
inline constexpr std::string_view kTrayAbout = "About";
inline constexpr std::string_view kTrayExit = "Exit";
inline constexpr std::string_view kTrayTools = "Tools";
inline constexpr std::string_view kTrayToolsWizTab = "WizTab";
inline constexpr std::string_view kTrayToolTip = "Varnholt Application";
inline constexpr std::wstring_view kShutdownNotice = L"Application closed due to windows shutdown!";

// The four built-in styles, in style-number order.
inline constexpr std::string_view kStyleNames[4] = {"Dark", "Light", "Wicked", "Light 2"};

// Main window.
inline constexpr std::string_view kMainWindowTitle = "Main Menu";
inline constexpr std::string_view kMainWindowHelpLines[3] = {
    "Watch Folders are monitored for file changes",
    "When changes are detected a new version of the changed file is automatically archived",
    "Versions may be restored using the context menu ( Right Click )"};

inline constexpr std::string_view kMonthNames =
    "January,February,March,April,May,June,July,August,September,October,November,December";

// About window lines and their commands.
inline constexpr std::string_view kAboutName = "● Varnholt";
inline constexpr std::string_view kAboutVersion = "● Version: 1.000.0000";
inline constexpr std::string_view kAboutUserId = "● User ID: ";
inline constexpr std::string_view kAboutHardwareId = "● HW ID: ";
inline constexpr std::string_view kAboutOnlineGuide = "● Open Online User Guide: ( click here )";
inline constexpr std::string_view kAboutOnlineGuideCommand = "btn:OpenOnlineGuide";
inline constexpr std::string_view kAboutGuide = "● Open User Guide: ( click here )";
inline constexpr std::string_view kAboutGuideCommand = "btn:OpenGuide";
inline constexpr std::string_view kAboutChangeLog = "● Version Change Log: ( click here )";
inline constexpr std::string_view kAboutCheckUpdate = "● Check for new version ( click here )";
inline constexpr std::string_view kAboutCheckUpdateCommand = "btn:CheckForUpdate";
inline constexpr std::string_view kAboutDownload = "● Download new version ( click here )";
inline constexpr std::string_view kAboutIssues = "● Reported Issues/Fixes ( click here )";
inline constexpr std::string_view kAboutAuthor = "● Written by Morvane";
inline constexpr std::string_view kAboutMaker = "● Morvane on the web ( click here )";
inline constexpr std::string_view kAboutImGuiCredit = "● Dear ImGui: Omar Cornut and contributors (MIT License)";

// User-message window: the reasons a message is sent for, in index order.
inline constexpr std::string_view kUserMessageReasons[4] = {"General Comment", "Report Issue/Bug", "Request Feature",
                                                            "Other reason"};

// Start-up notices: keys and default texts.
inline constexpr std::string_view kNoticeBootKey = "boot_msg";
inline constexpr std::string_view kNoticeBootText =
    "Welcome to \"Varnholt\" - Enjoy, Evaluate, Review... feedback helps with revision and improvements, thanks.";
inline constexpr std::string_view kNoticeVersionKey = "app_version";
inline constexpr std::string_view kNoticeVersionValue = "1.000.000";
inline constexpr std::string_view kNoticeOlderKey = "app_version_msg_older";
inline constexpr std::string_view kNoticeOlderText = "There is an updated version of Varnholt";

// Every wait and period of the program, in milliseconds. Code reads them here
// at the moment it waits, so tests can shorten them before starting work.
struct Timings {
    std::atomic<uint32_t> shortPollMs{125};      // answer polls, start pauses, tray loop, resize delay
    std::atomic<uint32_t> pollMs{250};           // scheduler checks, copier wake-ups, retries
    std::atomic<uint32_t> busyPassMs{500};       // supervisor and storage checks while busy
    std::atomic<uint32_t> idlePassMs{1500};      // supervisor pass while idle
    std::atomic<uint32_t> settleMs{10000};       // copier waits before a batch
    std::atomic<uint32_t> folderScanMs{60001};   // at most one archive scan per period
    std::atomic<uint32_t> shutdownGraceMs{5000};  // between stopping the engine and quitting
    std::atomic<uint32_t> watcherStopMs{2000};   // change watcher's stop grace
    std::atomic<uint32_t> progressHoldMs{1000};  // a finished task's progress stays shown
    std::atomic<uint32_t> backupStepMs{1000};    // a backup's pause between its shown states
    std::atomic<uint32_t> backupStallMs{60000};  // a backup's copy wait without progress before it asks
    std::atomic<uint32_t> restorePaceMs{2000};   // a restore's pacing budget and its pause at the end
    std::atomic<uint32_t> httpConnectMs{60000};  // an HTTPS request's connection and TLS handshake
    std::atomic<uint32_t> httpTotalMs{120000};   // an HTTPS request from start to the last byte
    std::atomic<uint32_t> displayWaitMs{5000};   // a start asks a display that does not answer again
};
Timings& timings();
// Puts every timing back to the product's value.
void resetTimings();
// Test builds only (VARNHOLT_TEST_HOOKS): VARNHOLT_TEST_TIMINGS="settleMs=200,pollMs=20"
// shortens the named timings of the real program; unknown names are ignored.
// Returns the number of timings it set; the shipped program always returns 0.
int applyTestTimingsFromEnvironment();

// Clock readings taken when the process started: 100-ns system ticks and
// milliseconds of the steady clock.
int64_t processStartTicks();
int64_t processStartSteadyMs();
