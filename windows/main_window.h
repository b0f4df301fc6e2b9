#pragma once
// The main window "Main Menu" (display item IG_000): its tab bar with the
// Folders, Applications, Notifications and Wizards/Help tabs, its keyboard
// shortcuts and colour style, and the thread-status table drawn after it.
// Drawn on the user-interface thread only; the state below belongs to it.
#include <imgui.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

inline constexpr int32_t kMainWindowItemId = 0;

// Tab numbers.
inline constexpr int kTabFolders = 0;
inline constexpr int kTabApplications = 2;
inline constexpr int kTabNotifications = 3;
inline constexpr int kTabHelp = 5;

// Operations of the folder chooser.
inline constexpr const char* kChooserNewFolderEntry = "newFolderEntry";
inline constexpr const char* kChooserUpdateFolderEntry = "updateFolderEntry";

struct MainWindowState {
    std::wstring selectedKey;          // empty: nothing selected
    std::wstring selectedArchivePath;
    bool selectionHasVersions = false;
    bool archivePathExists = false;
    bool selectionBackupActive = false;
    int currentTab = kTabFolders;
    int previousTab = kTabFolders;
    std::string chooserOperation;
    std::wstring lastChosenFolder;     // where the folder chooser opens
    bool firstFrame = false;
    bool helpTabShown = false;         // switched on from the tray menu
    bool selectHelpTab = false;        // select it on the next frame
    int64_t archiveCheckSecond = -1;   // second of the last archive-path check
    bool backupSeenRunning = false;    // a backup ran at the last check
    ImVec2 listArea{0, 0};             // the lists' size this frame
    float fastWave = 0;                // 0.5-second triangle wave, 0..1
    bool coversFrame = false;          // "Main Menu" covered the whole frame last time
};
extern MainWindowState mainWindow;

// The thread-status table is shown (Ctrl+Shift+S+T; its close box clears it).
extern std::atomic<bool> threadStatusShown;

// A filter list: labels with their values, and the labels joined with a NUL
// after each, as a combo box takes them.
struct FilterItem {
    std::string label;
    int32_t value = 0;
};
struct FilterList {
    std::vector<FilterItem> items;
    std::string comboText;
};
const FilterList& folderFilterList();
const FilterList& applicationFilterList();
const FilterList& extensionFilterList();

void drawMainWindow();

// The colour of a blinking label or row: the style's text colour fading in
// and out with the 0.5-second wave. Asks the main loop for the frame of the
// wave's next step, so the blink shows also while the window is idle.
ImVec4 blinkingTextColour();
bool isMainWindowOpen();

// Letters A to Z held down with Ctrl and Shift, in ascending order.
std::string heldShortcutLetters();

// Back to the start state (tests).
void resetMainWindow();
