// The Folders tab driven like a user: every state drawn, the buttons'
// states, a backup started and cancelled, the restore list opened, and the
// folders a chooser may hand over.
#include "platform/paths.h"
#include "windows/folder_choice.h"
#include "windows/folders_tab.h"

#include <filesystem>

#include "engine/smart_lists.h"
#include "foundation/data_files.h"
#include "window_test_support.h"
#include "windows/backup_set_restore_window.h"
#include "windows/main_window_parts.h"
#include "windows/restore_items_view.h"
#include "windows/scheduler_window.h"

namespace fs = std::filesystem;

namespace {
// Fills the list with `count` entries over every type, backup phase,
// problem flag and copy state.
void fillSweepEntries(size_t count) {
    const int32_t types[] = {kFolderTypeFolder, kFolderTypeDescendents, kFolderTypeExclude, kFolderTypeDisable};
    const int32_t phases[] = {5, 6, 7, 8, 9, 42};
    const uint32_t problems[] = {0, kProblemMonitorFolderMissing, kProblemArchiveMissing, kProblemCannotMonitor, 7};
    std::lock_guard<std::mutex> lock(watchFolderMutex);
    watchFolderMap.clear();
    for (size_t i = 0; i < count; ++i) {
        WatchFolderEntry entry;
        entry.displayName = (i % 4 == 2 ? L"excluded-" : L"folder-") + std::to_wstring(i) + L" %s %n";
        entry.archivePath = L"/nowhere/archive-" + std::to_wstring(i);
        entry.folderType = types[i % 4];
        entry.collisionOption = static_cast<int32_t>(i % 5);
        entry.preserveHierarchy = i % 2;
        entry.backupState = phases[i % 6];
        entry.backupProgress = (i % 7) / 6.0;
        entry.backupStartTime = i % 3 ? 0 : currentTimeTicks();
        if (i % 5 == 0) entry.checklist[L"/x"] = BackupChecklistItem{};
        entry.problemFlags = problems[i % 5];
        entry.changesDetected = i % 3 ? 0 : 4;
        entry.givenUpCount = i % 9 == 0 ? 1 : 0;
        entry.progressRatio = (i % 4) / 4.0;
        for (size_t f = 0; f < i % 3; ++f) entry.progressSet[L"/f" + std::to_wstring(f)] = 0.5;
        entry.removed = i % 11 == 10;
        watchFolderMap[L"/sweep/f" + std::to_wstring(i)] = entry;
    }
}
}  // namespace

TEST_F(MainWindowTest, StateSweepDrawsEveryStateAtEverySize) {
    // Empty list: the help lines, and the welcome text only on a first run.
    {
        std::lock_guard<std::mutex> lock(watchFolderMutex);
        watchFolderMap.clear();
    }
    std::string shown = text();
    EXPECT_NE(shown.find("Add a watch folder by clicking on the \"Add\" button below."), std::string::npos) << shown;
    EXPECT_NE(shown.find("Versions may be restored using the context menu ( Right Click )"), std::string::npos);
    EXPECT_EQ(shown.find("Hello and Welcome,"), std::string::npos);
    // A first run is one without "Config.dat" (the set-up run made the folders).
    const std::string config = wideToUtf8(configurationFolderPath());
    fs::create_directories(config);
    fs::remove(config + "/Config.dat");
    noteShellFirstRun();
    EXPECT_TRUE(shellFirstRun());
    ASSERT_TRUE(writeTestFile(config + "/Config.dat", "saved"));
    noteShellFirstRun();
    EXPECT_FALSE(shellFirstRun());
    fs::remove(config + "/Config.dat");
    setShellFirstRun(true);
    shown = text();
    EXPECT_NE(shown.find("Hello and Welcome,"), std::string::npos) << shown;
    EXPECT_NE(shown.find("     Thank you for choosing Varnholt"), std::string::npos) << "tabs become five blanks";

    fillSweepEntries(500);
    threadStatusShown = true;
    for (ImVec2 size : {ImVec2(720, 420), ImVec2(1024, 700), ImVec2(3840, 2160), ImVec2(300, 200)}) {
        HeadlessImGui::setDisplaySize(size);
        ui.frame([size] {
            drawItemsFrame();
            ImGui::SetWindowSize("Main Menu", size);
        });
        for (const wchar_t* selected : {L"", L"/sweep/f0", L"/sweep/f7", L"/sweep/f8", L"/sweep/f13"}) {
            mainWindow.selectedKey = selected;
            for (int i = 0; i < 3; ++i) {
                ui.frame(drawItemsFrame);
                fakeWindowMs += 30001;  // copies stall past the minute
            }
        }
    }
    HeadlessImGui::setDisplaySize(ImVec2(1280, 800));
    mainWindow.selectedKey.clear();
    shown = text();
    EXPECT_EQ(shown.find("folder-10 "), std::string::npos) << "removed entries are not listed";
    EXPECT_NE(shown.find("folder-0 %s %n"), std::string::npos) << "names are text, never a format";

    // Filter row 4: only excluded folders, from the next frame on.
    {
        std::lock_guard<std::mutex> lock(appSettingsMutex);
        appSettings.folderChoice = 4;
    }
    shown = text();
    EXPECT_NE(shown.find("excluded-2 "), std::string::npos);
    EXPECT_EQ(shown.find("folder-1 "), std::string::npos);

    // Copies that have not moved yet have no remaining time to show.
    {
        std::lock_guard<std::mutex> lock(watchFolderMutex);
        watchFolderMap.clear();
        WatchFolderEntry& entry = watchFolderMap[L"/sweep/copying"];
        entry.displayName = L"copying";
        entry.changesDetected = 3;
        entry.progressSet = {{L"/a", 0.0}, {L"/b", 0.0}};
    }
    {
        std::lock_guard<std::mutex> lock(appSettingsMutex);
        appSettings.folderChoice = 0;
    }
    shown = text();
    EXPECT_NE(shown.find("3 \u2192 00:00:00 | --:--:--"), std::string::npos) << shown;
    fakeWindowMs += 4000;
    {
        std::lock_guard<std::mutex> lock(watchFolderMutex);
        watchFolderMap[L"/sweep/copying"].progressRatio = 0.5;
    }
    shown = text();
    EXPECT_NE(shown.find("3 \u2192 00:00:04 | 00:00:04"), std::string::npos) << shown;
    fakeWindowMs += 60001;
    ui.frame(drawItemsFrame);
    shown = text();
    EXPECT_EQ(shown.find("\u2192"), std::string::npos) << "a stalled copy drops its times: " << shown;
    const auto setPending = [](size_t changes, double ratio) {
        std::lock_guard<std::mutex> lock(watchFolderMutex);
        watchFolderMap[L"/sweep/copying"].changesDetected = changes;
        watchFolderMap[L"/sweep/copying"].progressRatio = ratio;
    };
    setPending(0, 0.0);  // the stalled batch ends; hours later the next one starts
    ui.frame(drawItemsFrame);
    fakeWindowMs += 3 * 3600 * 1000;
    setPending(3, 0.0);
    ui.frame(drawItemsFrame);
    fakeWindowMs += 2000;
    setPending(3, 0.5);
    shown = text();
    EXPECT_NE(shown.find("3 \u2192 00:00:02 | 00:00:02"), std::string::npos) << shown;

    EXPECT_EQ(remainingTimeText(5000, 0.0, 10.0), "--:--:--");
    EXPECT_EQ(remainingTimeText(5000, 5.0, 10.0), "00:00:05");
}

TEST_F(MainWindowTest, BackupRunsWhenIdleWithArchiveAndCancelStopsIt) {
    installArchiveHooks();
    installBackupEngineHooks();
    getThreadState(std::string(kCopierThreadName), 1000, 10000);
    setThreadState(std::string(kCopierThreadName), kThreadStopped);
    startEngineThread(startWorkerThreads);
    timings().backupStepMs = 1;
    {
        std::lock_guard<std::mutex> lock(watchFolderMutex);
        watchFolderMap[folders.watch].displayName = L"Docs";
        WatchFolderEntry& gone = watchFolderMap[folders.watch + L"-gone"];
        gone.displayName = L"Gone";
        gone.archivePath = folders.archive + L"-missing";
    }
    write(L"a.txt", "alpha");
    write(L"b.txt", "bravo");

    ui.frame(drawItemsFrame);
    EXPECT_EQ(getUIButtonValue("bkbuf"), kButtonDisabled) << "nothing selected";
    EXPECT_EQ(getUIButtonValue("bka"), kButtonEnabled);
    clickRow(1);
    EXPECT_EQ(mainWindow.selectedKey, folders.watch + L"-gone");
    EXPECT_EQ(getUIButtonValue("bkbuf"), kButtonDisabled) << "its archive is missing";
    clickRow(0);
    ASSERT_EQ(mainWindow.selectedKey, folders.watch);
    EXPECT_EQ(getUIButtonValue("bkbuf"), kButtonEnabled);
    EXPECT_EQ(getUIButtonValue("bkrf"), kButtonDisabled) << "no backup set yet";
    EXPECT_EQ(getUIButtonValue("bkcncl"), kButtonDisabled);

    // A folder whose backup state is not idle starts nothing.
    {
        std::lock_guard<std::mutex> lock(watchFolderMutex);
        watchFolderMap[folders.watch].backupState = kBackupStatePreparing;
    }
    ASSERT_TRUE(ui.clickButton(drawItemsFrame, "bkbuf"));
    EXPECT_FALSE(isBackupRunning());
    {
        std::lock_guard<std::mutex> lock(watchFolderMutex);
        watchFolderMap[folders.watch].backupState = kBackupStateIdle;
    }

    // A whole backup: the set it saves enables Restore.
    ASSERT_TRUE(ui.clickButton(drawItemsFrame, "bkbuf"));
    EXPECT_EQ(getUIButtonValue("bkbuf"), kButtonDisabled);
    ASSERT_TRUE(eventually([] { return !isBackupRunning(); }, &ui));
    EXPECT_EQ(read(archived(L"a.txt")), "alpha");
    // The backup's end counts the selection's sets again, whatever the clock.
    ASSERT_TRUE(eventually([] { return getUIButtonValue("bkrf") == kButtonEnabled; }, &ui));
    EXPECT_EQ(getUIButtonValue("bkbuf"), kButtonEnabled);

    // Restore builds the list, then opens the set window; the job's flag drops.
    ASSERT_TRUE(ui.clickButton(drawItemsFrame, "bkrf"));
    ASSERT_TRUE(eventually([] { return isBackupSetRestoreWindowOpen(); }, &ui)) << "the list is ready";
    EXPECT_FALSE(isRestoreJobRunning());
    EXPECT_EQ(restoreListFolder, folders.watch);

    // A second backup held in the Copier's settle time, then cancelled.
    timings().settleMs = 60000;
    write(L"c.txt", "charlie");
    ASSERT_TRUE(ui.clickButton(drawItemsFrame, "bkc")) << "Dismiss closes the set window";
    ASSERT_TRUE(eventually([] { return !isBackupSetRestoreWindowOpen(); }, &ui));
    ASSERT_TRUE(ui.clickButton(drawItemsFrame, "bkbuf"));
    ASSERT_TRUE(eventually([&] {
        std::lock_guard<std::mutex> lock(watchFolderMutex);
        return watchFolderMap[folders.watch].backupState == kBackupStateCopying;
    }, &ui));
    EXPECT_EQ(getUIButtonValue("bkcncl"), kButtonEnabled);
    EXPECT_EQ(getUIButtonValue("bka"), kButtonDisabled) << "no adding while a backup runs";
    EXPECT_EQ(getUIButtonValue("bkrf"), kButtonDisabled);
    ASSERT_TRUE(ui.clickButton(drawItemsFrame, "bkcncl"));
    ASSERT_TRUE(eventually([] { return isModalMessageOpen(); }, &ui));
    ASSERT_TRUE(ui.clickButton(drawItemsFrame, "bkmdok")) << "OK cancels the backup";
    ASSERT_TRUE(eventually([] { return !isBackupRunning(); }, &ui));
    timings().settleMs = 20;
    // The next frames read the ended backup.
    EXPECT_TRUE(eventually([] {
        return getUIButtonValue("bkcncl") == kButtonDisabled && getUIButtonValue("bkbuf") == kButtonEnabled;
    }, &ui));
    std::lock_guard<std::mutex> lock(watchFolderMutex);
    EXPECT_EQ(watchFolderMap[folders.watch].backupResult, kBackupResultUserCancelled);
}

TEST_F(MainWindowTest, RestoreJobEndsWithoutAList) {
    startRestoreListJob(L"/not/a/watch/folder");
    ASSERT_TRUE(eventually([] { return !isRestoreJobRunning(); }));
    EXPECT_FALSE(takeRestoreListReady());
    ui.frame(drawItemsFrame);
    EXPECT_FALSE(isBackupSetRestoreWindowOpen());
}

TEST_F(MainWindowTest, ChosenFoldersAreCheckedBeforeTheyAreUsed) {
    const std::string data = wideToUtf8(dataFolderPath());
    fs::create_directories(data + "/ConfigData");
    // Refused: the root and the data folder, with a line in the log.
    EXPECT_FALSE(addChosenWatchFolder(L"/"));
    EXPECT_FALSE(addChosenWatchFolder(utf8ToWide(data) + L"/ConfigData/"));
    EXPECT_TRUE(logHas(L"Folder not added, it cannot be a watch folder: /"));

    // A new folder gets the proposed archive outside itself and the "*" extension.
    const std::wstring chosen = utf8ToWide(makeTestFolder("chosen")) + L"/Papers";
    fs::create_directories(wideToUtf8(chosen));
    ASSERT_TRUE(addChosenWatchFolder(chosen + L"/"));
    std::wstring archive;
    ASSERT_TRUE(eventually([&] {
        std::lock_guard<std::mutex> lock(watchFolderMutex);
        archive = watchFolderMap[chosen].archivePath;
        return !archive.empty() && isExistingFolder(archive);
    }));
    EXPECT_FALSE(pathIsInside(archive, chosen)) << wideToUtf8(archive);
    EXPECT_EQ(lastPathComponent(archive), L"Papers");
    {
        std::lock_guard<std::mutex> lock(watchFolderMutex);
        EXPECT_EQ(watchFolderMap[chosen].extensionMap.count(L"*"), 1u);
    }
    EXPECT_EQ(mainWindow.lastChosenFolder, chosen.substr(0, chosen.rfind(L'/') + 1));
    EXPECT_FALSE(addChosenWatchFolder(chosen)) << "listed already";

    // A chosen archive inside the watch folder, or its parent (which makes
    // the folder its own archive), is refused; one beside it is taken.
    mainWindow.selectedKey = chosen;
    EXPECT_FALSE(changeSelectedArchive(chosen + L"/inner"));
    EXPECT_FALSE(changeSelectedArchive(chosen.substr(0, chosen.rfind(L'/'))));
    EXPECT_TRUE(logHas(L"Archive folder refused, it lies inside its watch folder: " + chosen + L"/inner"));
    const std::wstring beside = utf8ToWide(makeTestFolder("beside"));
    ASSERT_TRUE(changeSelectedArchive(beside));
    EXPECT_TRUE(eventually([&] {
        std::lock_guard<std::mutex> lock(watchFolderMutex);
        return watchFolderMap[chosen].archivePath == beside + L"/Papers";
    }));
}

TEST_F(MainWindowTest, AddThroughTheFolderChooser) {
    fs::create_directories(wideToUtf8(dataFolderPath()) + "/ConfigData");
    const std::string chosen = makeTestFolder("pick") + "/Letters";
    fs::create_directories(chosen);
    ASSERT_TRUE(ui.clickButton(drawItemsFrame, "bka"));
    ui.frame(drawItemsFrame);
    ui.frame(drawItemsFrame);
    const ImGuiWindow* dialog = HeadlessImGui::findWindow("Choose a Folder##ChooseDirDlgKey");
    ASSERT_NE(dialog, nullptr);
    EXPECT_NEAR(dialog->Size.x, 640, 1) << "half the viewport";
    EXPECT_NEAR(dialog->Pos.x + dialog->Size.x / 2, 640, 1) << "centred";

    // The path typed into "Directory Path:" (which holds ".") and Enter.
    const float x = dialog->Pos.x + dialog->Size.x / 2;
    const float bottom = dialog->Pos.y + dialog->Size.y;
    const std::vector<ImVec2> fromBottom = ui.findItems(drawItemsFrame, ImVec2(x, bottom - 1), ImVec2(x, bottom - 80));
    ASSERT_FALSE(fromBottom.empty());
    const ImVec2 field = fromBottom.front();
    ui.click(drawItemsFrame, field);

    ui.pressKey(drawItemsFrame, ImGuiKey_Backspace);
    ui.pressKey(drawItemsFrame, ImGuiKey_Backspace);
    ui.type(drawItemsFrame, chosen.c_str());
    ui.pressKey(drawItemsFrame, ImGuiKey_Enter);

    const std::wstring key = utf8ToWide(chosen);
    std::wstring archive;
    ASSERT_TRUE(eventually([&] {
        std::lock_guard<std::mutex> lock(watchFolderMutex);
        auto it = watchFolderMap.find(key);
        if (it == watchFolderMap.end() || it->second.extensionMap.count(L"*") == 0) return false;
        archive = it->second.archivePath;
        return isExistingFolder(archive);
    }, &ui));
    EXPECT_EQ(archive, utf8ToWide(getenv("HOME")) + L"/QZR_ARCHIVE_ROOT/Letters") << "the proposed archive";
    EXPECT_EQ(HeadlessImGui::findWindow("Choose a Folder##ChooseDirDlgKey")->Active, false);
    EXPECT_NE(text().find("Letters"), std::string::npos);
    EXPECT_EQ(mainWindow.lastChosenFolder, utf8ToWide(chosen.substr(0, chosen.rfind('/') + 1)));
}
