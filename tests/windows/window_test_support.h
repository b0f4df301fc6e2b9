#pragma once
// The main window on temp folders: the archiving engine of the engine tests,
// the headless Dear ImGui harness with the program's fonts, the display
// items, and the windows' clock and opener seams.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "engine/archive_test_support.h"
#include "engine/backup_engine.h"
#include "engine/backup_scheduler.h"
#include "engine/supervisor.h"
#include "imgui_headless.h"
#include "shell/modal_window.h"
#include "shell/shell_state.h"
#include "foundation/file_helpers.h"
#include "foundation/text_format.h"
#include "platform/paths.h"
#include "windows/extension_manager.h"
#include "windows/main_window.h"
#include "windows/program_windows.h"
#include "windows/style_editor.h"

// Waits up to twenty seconds for `condition`, drawing frames meanwhile when
// a harness is given (the windows only learn what changed by drawing).
template <typename Condition>
bool eventually(Condition condition, HeadlessImGui* ui = nullptr) {
    for (int i = 0; i < 4000; ++i) {
        if (ui) ui->frame(drawItemsFrame);
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return condition();
}

class MainWindowTest : public ArchiveTest {
protected:
    void SetUp() override {
        ArchiveTest::SetUp();
        resetWindowJobs();
        installWindowSeams();
        resetMainWindow();
        resetStyleEditor();
        initUIButtonTable();
        clearDisplayItems();
        registerProgramWindows();
        setIGDisplayItem_zOrder();
        {
            std::lock_guard<std::mutex> lock(modalMessageMutex);
            modalMessage = ModalMessageState();
        }
        {
            std::lock_guard<std::mutex> lock(appSettingsMutex);
            appSettings.folderChoice = 0;
        }
        setShellFirstRun(false);
        setBackupRunning(false);
        removeAppLogEntriesOfKind(0xFFFFFFFF);
    }
    void TearDown() override {
        closeExtensionManagerWindow();
        ArchiveTest::TearDown();
        setBackupRunning(false);
        resetMainWindow();
        resetStyleEditor();
        resetWindowJobs();
        clearDisplayItems();
    }

    std::string text() { return ui.frameText(drawItemsFrame); }
    static ImGuiWindow* folderList() { return HeadlessImGui::firstChildOf(HeadlessImGui::findWindow("Main Menu")); }
    // Clicks the n-th row of the folder list.
    void clickRow(size_t n) {
        ui.frame(drawItemsFrame);
        const std::vector<ImVec2> rows = ui.itemsDown(drawItemsFrame, folderList());
        ASSERT_GT(rows.size(), n);
        ui.click(drawItemsFrame, rows[n]);
    }
    static bool logHas(const std::wstring& text) {
        for (const AppLogEntry& entry : appLogSnapshot().entries)
            if (entry.key.find(text) != std::wstring::npos) return true;
        return false;
    }

    bool clickTab(const char* label) {
        for (int i = 0; i < 3; ++i) ui.frame(drawItemsFrame);  // a new tab is laid out a frame late
        ImVec2 centre;
        if (!tabCentre(label, centre)) return false;
        ui.click(drawItemsFrame, centre);
        return true;
    }

    HeadlessImGui ui{ImVec2(1280, 800), true};
};
