// The backup-set restoration window and the items view of an edited set, on
// staged sets of a real watch folder and archive.
#include <atomic>
#include <thread>

#include "engine/backup_data_tasks.h"
#include "engine/restore_state.h"
#include "engine/restore_tasks.h"
#include "engine/smart_lists.h"
#include "foundation/data_files.h"
#include "window_test_support.h"
#include "windows/backup_set_restore_window.h"
#include "windows/restore_items_view.h"

namespace {

namespace fs = std::filesystem;

// The restore windows and the question window, without the main window, so
// that the button rectangles of shared keys are theirs.
void drawSetWindowsFrame() {
    copyDisplayItemOpenFlags();
    if (isBackupSetRestoreWindowOpen()) drawBackupSetRestoreWindow();
    if (isRestoreItemsViewOpen()) restoreItemsView();
    if (isModalMessageOpen()) drawModalMessage();
}

class SetWindowTest : public MainWindowTest {
protected:
    void SetUp() override {
        MainWindowTest::SetUp();
        timings().restorePaceMs = 0;
        timings().pollMs = 5;
        timings().shortPollMs = 5;
        clearSetState();
    }
    void TearDown() override {
        backupSetEditActive = false;
        EXPECT_TRUE(waitForEngineThreads(20000));
        clearSetState();
        MainWindowTest::TearDown();
    }
    static void clearSetState() {
        {
            std::lock_guard<std::mutex> lock(backupSetListMutex);
            backupSetList.clear();
            restoreListFolder.clear();
        }
        {
            std::lock_guard<std::mutex> lock(backupSetNotesMutex);
            backupSetNotesMap.clear();
        }
        std::lock_guard<std::mutex> lock(backupSetMutex);
        editedBackupSet = BackupSetRecord();
        editedBackupSetPath.clear();
    }

    // A staged set of `copied` + `notCopied` files of the watch folder, every
    // second one in "sub"; the copies hold "archived N", the sources "source N".
    std::wstring stageSet(const std::wstring& name, int copied, int notCopied = 0) {
        BackupSetRecord set;
        set.name = name;
        for (int i = 0; i < copied + notCopied; ++i) {
            const std::wstring file = (i % 2 ? L"sub/f" : L"f") + std::to_wstring(i) + L".txt";
            BackupSetEntry entry;
            entry.sourcePath = write(file, "source " + std::to_string(i));
            entry.archivePath = archived(L"set" + std::to_wstring(stagedSets) + L"/" + file);
            entry.copied = i < copied;
            entry.restore = true;
            if (entry.copied) {
                fs::create_directories(fs::path(wideToUtf8(entry.archivePath)).parent_path());
                EXPECT_TRUE(writeTestFile(wideToUtf8(entry.archivePath), "archived " + std::to_string(i)));
            }
            set.files[entry.sourcePath] = entry;
        }
        const std::wstring path = backupSetStagingFilePath(folders.watch, name);
        EXPECT_TRUE(saveBackupSetFile(path, set));
        ++stagedSets;
        return path;
    }
    int stagedSets = 0;
    void openSetWindow() {
        ASSERT_EQ(buildSmartRestoreList(folders.watch), 1);
        openBackupSetRestoreWindow();
        frame();
    }

    void frame(ImVec2 pos = ImVec2(-1000, -1000)) { ui.frame(drawSetWindowsFrame, pos); }
    template <typename Condition>
    bool drawnUntil(Condition condition) {
        for (int i = 0; i < 4000; ++i) {
            frame();
            if (condition()) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return condition();
    }
    std::string windowText(void (*draw)()) { return ui.frameText(draw); }
    std::string setWindowText() { return windowText(drawBackupSetRestoreWindow); }
    std::string itemsText() { return windowText(restoreItemsView); }
    bool setWindowShows(const std::string& text) {
        return drawnUntil([&] { return setWindowText().find(text) != std::string::npos; });
    }
    bool click(const char* key) { return ui.clickButton(drawSetWindowsFrame, key); }
    static int32_t state(const char* key) { return getUIButtonValue(key); }

    // The rows of the set list (selectable ones), top to bottom.
    std::vector<ImVec2> setRows() {
        frame();
        return ui.itemsDown(drawSetWindowsFrame, HeadlessImGui::firstChildOf(HeadlessImGui::findWindow("Backup Set")));
    }
    void chooseRow(size_t n) {
        const std::vector<ImVec2> rows = setRows();
        ASSERT_GT(rows.size(), n);
        ui.click(drawSetWindowsFrame, rows[n]);
    }
    // Answers the question whose title holds `title` with the window's button.
    bool answer(const std::string& title, const char* key) {
        if (!drawnUntil([&] {
                std::lock_guard<std::mutex> lock(modalMessageMutex);
                return modalMessage.open && modalMessage.title.find(title) != std::string::npos;
            }))
            return false;
        return click(key);
    }
};

TEST_F(SetWindowTest, StatisticsMarksNoteAndRemoval) {
    const std::wstring path = stageSet(L"2026/01/02 10:00:00.000 : File Set", 9, 1);
    openSetWindow();
    EXPECT_NE(HeadlessImGui::findWindow("Backup Set Restoration: Watch###"), nullptr);
    frame();
    EXPECT_EQ(state("bkr"), kButtonDisabled) << "nothing chosen: only Dismiss";
    EXPECT_EQ(state("bkrf"), kButtonDisabled);
    EXPECT_EQ(state("bkre"), kButtonDisabled);
    EXPECT_EQ(state("bkc"), kButtonEnabled);
    EXPECT_EQ(state("bkcncl"), kButtonDisabled);

    // The set's summary: ten files, nine copied.
    chooseRow(0);
    ASSERT_TRUE(setWindowShows("Consistency: 90.0%"));
    const std::string stats = setWindowText();
    for (const char* line : {"Selected: 2026/01/02 10:00:00.000 : File Set", "File Count: 10", "Existing: 9",
                             "Missing: 1", "Selected to restore: 9"})
        EXPECT_NE(stats.find(line), std::string::npos) << line << "\n" << stats;
    EXPECT_EQ(state("bkre"), kButtonEnabled);
    // Choosing it again reads nothing again.
    ASSERT_TRUE(waitForEngineThreads(20000));
    updateSetListEntry(L"2026/01/02 10:00:00.000 : File Set", path, [](SetListEntry& e) { e.statisticsReady = 0; });
    chooseRow(0);
    ASSERT_TRUE(waitForEngineThreads(20000));
    EXPECT_NE(setWindowText().find("Reading ..."), std::string::npos);

    // Edit: the items view shows the set's nine written entries in two
    // groups, one of them with its copy deleted meanwhile.
    ASSERT_TRUE(fs::remove(wideToUtf8(archived(L"set0/f2.txt"))));
    ASSERT_TRUE(click("bkre"));
    ASSERT_TRUE(drawnUntil([] { return isRestoreItemsViewOpen(); }));
    ASSERT_TRUE(drawnUntil([&] { return itemsText().find("Total Archived: 9") != std::string::npos; }));
    EXPECT_NE(itemsText().find("Total Existing: 8"), std::string::npos);
    EXPECT_NE(itemsText().find(wideToUtf8(folders.watch).substr(1) + "/sub"), std::string::npos) << "whole folders";
    EXPECT_NE(itemsText().find("Total Selected: 9"), std::string::npos);
    ASSERT_TRUE(click("bkdsa"));
    EXPECT_NE(itemsText().find("Total Selected: 0"), std::string::npos);

    // The group popup of the first group (the watch folder's own files) selects it.
    frame();
    ImGuiWindow* view = HeadlessImGui::findWindow("Select Items To Restore");
    ASSERT_NE(view, nullptr);
    const std::vector<ImVec2> groups = ui.itemsDown(drawSetWindowsFrame, HeadlessImGui::firstChildOf(view));
    ASSERT_EQ(groups.size(), 2u);
    ui.click(drawSetWindowsFrame, groups[0], 1);
    ASSERT_GT(GImGui->OpenPopupStack.Size, 0);
    const std::vector<ImVec2> options = ui.itemsDown(drawSetWindowsFrame, GImGui->OpenPopupStack.back().Window);
    ASSERT_EQ(options.size(), 3u);  // Select Group, DeSelect Group, Cancel
    ui.click(drawSetWindowsFrame, options[0]);
    EXPECT_NE(itemsText().find("Total Selected: 5"), std::string::npos);
    ui.click(drawSetWindowsFrame, groups[0]);  // opens the group
    EXPECT_NE(itemsText().find("Missing f2.txt"), std::string::npos);

    // The note: typed into its field.
    ImGuiWindow* noteField = nullptr;
    for (ImGuiWindow* window : GImGui->Windows)
        if (window->ParentWindow == view && window != HeadlessImGui::firstChildOf(view) && window->Active)
            noteField = window;
    ASSERT_NE(noteField, nullptr);
    ui.click(drawSetWindowsFrame, ImVec2(noteField->Pos.x + 10, noteField->Pos.y + 10));
    ui.type(drawSetWindowsFrame, "kept for the audit");
    ASSERT_TRUE(click("bkc"));
    ASSERT_TRUE(drawnUntil([] { return !isRestoreItemsViewOpen() && !isBackupSetEditRunning(); }));

    // Written to the set, to its list entry and to the notes of "BS_Notes.dat".
    BackupSetRecord read;
    ASSERT_TRUE(loadBackupSetFile(path, read));
    EXPECT_EQ(read.note, "kept for the audit");
    size_t marked = 0;
    for (const auto& [key, entry] : read.files) {
        marked += entry.restore;
        EXPECT_TRUE(!entry.restore || !pathIsInside(key, folders.watch + L"/sub")) << wideToUtf8(key);
    }
    EXPECT_EQ(marked, 5u) << "the watch folder's own files";
    EXPECT_TRUE(setWindowShows("kept for the audit")) << "the note column";
    EXPECT_FALSE(configurationSaved);
    ASSERT_TRUE(saveBackupSetNotesFile());
    {
        std::lock_guard<std::mutex> lock(backupSetNotesMutex);
        backupSetNotesMap.clear();
    }
    ASSERT_TRUE(loadBackupSetNotesFile());
    {
        std::lock_guard<std::mutex> lock(backupSetNotesMutex);
        EXPECT_EQ(backupSetNotesMap[path], "kept for the audit");
    }

    // A row under removal shows its progress.
    updateSetListEntry(std::wstring(kAllRecentFilesName), folders.watch, [](SetListEntry& e) {
        e.beingRemoved = e.removalShown = 1;
        e.removalProgress = 0.5;
    });
    EXPECT_TRUE(setWindowShows(" 50% Removed!"));
    updateSetListEntry(std::wstring(kAllRecentFilesName), folders.watch, [](SetListEntry& e) { e.beingRemoved = 0; });

    // Remove, confirmed: copies, set file and note go, and so does its row.
    chooseRow(0);
    ASSERT_TRUE(click("bkr"));
    ASSERT_TRUE(answer("Confirm Remove Backup Set:", "bkmdok"));
    ASSERT_TRUE(drawnUntil([&] { return !exists(path); }));
    SetListEntry removed;
    ASSERT_TRUE(drawnUntil([&] { return findSetListEntry(read.name, removed) && !removed.removalShown; }));
    EXPECT_DOUBLE_EQ(removed.removalProgress, 8.0 / 9.0) << "the eight copies left of nine entries";
    EXPECT_FALSE(exists(archived(L"set0/f0.txt")));
    EXPECT_EQ(setWindowText().find("2026/01/02"), std::string::npos) << "no row once removed";
    std::lock_guard<std::mutex> lock(backupSetNotesMutex);
    EXPECT_EQ(backupSetNotesMap.count(path), 0u);
}

TEST_F(SetWindowTest, DeletedSetFileAndRestoreWithBytesOnDisk) {
    const std::wstring kept = stageSet(L"2026/01/03 08:00:00.000 : File Set", 4);
    const std::wstring gone = stageSet(L"2026/01/04 08:00:00.000 : File Set", 2);
    openSetWindow();
    ASSERT_TRUE(fs::remove(wideToUtf8(gone)));  // deleted outside the program

    // Restored from, but neither edited nor removed; the restore ends quietly.
    chooseRow(1);
    frame();
    EXPECT_EQ(state("bkr"), kButtonDisabled);
    EXPECT_EQ(state("bkre"), kButtonDisabled);
    EXPECT_EQ(state("bkrf"), kButtonEnabled);
    ASSERT_TRUE(click("bkrf"));
    EXPECT_TRUE(waitForEngineThreads(20000));
    EXPECT_FALSE(restoreActive);
    EXPECT_FALSE(isModalMessageOpen());

    // The kept set over changed files: only Cancel while it runs, then the bytes.
    chooseRow(0);
    ASSERT_TRUE(click("bkrf"));
    ASSERT_TRUE(drawnUntil([] { return isModalMessageOpen(); }));
    frame();
    EXPECT_EQ(state("bkcncl"), kButtonEnabled);
    for (const char* key : {"bkr", "bkrf", "bkre", "bkc"}) EXPECT_EQ(state(key), kButtonDisabled) << key;
    ASSERT_TRUE(answer("Confirm Source File Overwrite:", "bkmdok"));
    ASSERT_TRUE(answer("Restore Successful!:", "bkmdok"));
    EXPECT_TRUE(drawnUntil([] { return !restoreActive; }));
    for (int i = 0; i < 4; ++i) {
        const std::wstring file = (i % 2 ? L"sub/f" : L"f") + std::to_wstring(i) + L".txt";
        EXPECT_EQ(read(folders.watch + L"/" + file), "archived " + std::to_string(i));
    }
    std::vector<std::wstring> files;
    listFilesRecursive(folders.watch, files, true);
    EXPECT_EQ(files.size(), 4u) << "no temporary file left beside the restored ones";
}

// The last restore's 100% is not shown behind the next one's question.
TEST_F(SetWindowTest, ANewRestoreStartsAtZeroBehindItsQuestion) {
    stageSet(L"2026/01/06 08:00:00.000 : File Set", 2);
    openSetWindow();
    chooseRow(0);
    ASSERT_TRUE(click("bkrf"));
    ASSERT_TRUE(answer("Confirm Source File Overwrite:", "bkmdok"));
    ASSERT_TRUE(answer("Restore Successful!:", "bkmdok"));
    ASSERT_TRUE(drawnUntil([] { return !restoreActive; }));
    ASSERT_TRUE(click("bkrf"));
    ASSERT_TRUE(drawnUntil([] { return isModalMessageOpen(); }));
    EXPECT_NE(setWindowText().find("Restore Progress: 0.000%"), std::string::npos) << setWindowText();
    ASSERT_TRUE(answer("Confirm Source File Overwrite:", "bkmdcan"));
}

// A set restore runs again and again while both windows draw and the user
// marks entries: nothing waits on a lock a task holds, every task ends.
TEST_F(SetWindowTest, RestoresWhileTheWindowsDrawNeverDeadlock) {
    const std::wstring path = stageSet(L"2026/01/05 08:00:00.000 : File Set", 40);
    openSetWindow();
    chooseRow(0);
    ASSERT_TRUE(click("bkre"));
    ASSERT_TRUE(drawnUntil([] { return isRestoreItemsViewOpen(); }));

    std::atomic<bool> stopRestores{false};
    std::atomic<bool> stopAnswers{false};
    std::atomic<int> restores{0};
    std::thread user([&] {  // answers every question as it comes
        while (!stopAnswers) {
            {
                std::lock_guard<std::mutex> lock(modalMessageMutex);
                if (modalMessage.open && modalMessage.ticket != 0 && !modalMessage.answers.count(modalMessage.ticket)) {
                    ModalReply reply;
                    reply.confirmed = true;
                    modalMessage.answers[modalMessage.ticket] = reply;
                    modalMessage.open = false;
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    std::thread restorer([&] {
        while (!stopRestores) {
            restoreBackupSetTask(path, folders.watch);
            ++restores;
        }
    });
    // The question window stays undrawn: the user above answers it.
    const auto draw = [] {
        copyDisplayItemOpenFlags();
        drawBackupSetRestoreWindow();
        restoreItemsView();
    };
    ImGuiWindow* list = HeadlessImGui::firstChildOf(HeadlessImGui::findWindow("Backup Set"));
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    for (int i = 0; std::chrono::steady_clock::now() < end; ++i) {
        ui.frame(draw);
        if (i % 10 == 0) ui.clickButton(draw, i % 20 ? "bksa" : "bkdsa");
        if (i % 25 == 0) {
            const std::vector<ImVec2> rows = ui.itemsDown(draw, list);
            EXPECT_EQ(rows.size(), 2u);  // never an ASSERT here: the threads must be joined
            if (rows.size() == 2) ui.click(draw, rows[i % 50 ? 0 : 1]);
        }
    }
    stopRestores = true;
    restorer.join();
    stopAnswers = true;
    user.join();
    EXPECT_GT(restores.load(), 0);
    EXPECT_FALSE(restoreActive);
    ASSERT_TRUE(click("bkc"));
    frame();
    EXPECT_TRUE(drawnUntil([] { return !isRestoreItemsViewOpen() && !isBackupSetEditRunning(); }));
}

}  // namespace

TEST_F(SetWindowTest, ARemovedSetNeverComesBack) {
    const std::wstring path = stageSet(L"2026/01/05 08:00:00.000 : File Set", 2);
    openSetWindow();
    chooseRow(0);
    ASSERT_TRUE(click("bkre"));
    ASSERT_TRUE(drawnUntil([] { return isRestoreItemsViewOpen(); }));
    ASSERT_TRUE(drawnUntil([&] { return itemsText().find("Total Selected: 2") != std::string::npos; }));
    ASSERT_TRUE(click("bkdsa"));  // an edit that would be written back
    chooseRow(0);
    frame();
    EXPECT_EQ(state("bkr"), kButtonDisabled) << "the set open in the items view cannot be removed";
    // Removed all the same (a task asked before the edit began): the edit ends unwritten.
    std::thread removal([path] { removeBackupSetTask(path, L"2026/01/05 08:00:00.000 : File Set"); });
    EXPECT_TRUE(answer("Confirm Remove Backup Set:", "bkmdok"));
    removal.join();
    EXPECT_TRUE(drawnUntil([] { return !isBackupSetEditRunning(); }));
    EXPECT_FALSE(exists(path));
}
