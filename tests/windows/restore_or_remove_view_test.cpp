// The restore-or-remove view on a real archive: three versions of each file
// written by the engine for two applications, the tree with and without the
// owner filter, the marks, and restores and removals checked on disk.
#include <imgui_internal.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "engine/backup_data_tasks.h"
#include "engine/restore_state.h"
#include "window_test_support.h"
#include "windows/restore_or_remove_view.h"

namespace {

constexpr const wchar_t* kEditor = L"/usr/bin/editor";
constexpr const wchar_t* kWriter = L"/usr/bin/writer";

class RestoreViewTest : public MainWindowTest {
protected:
    void SetUp() override {
        MainWindowTest::SetUp();
        timings().restorePaceMs = 0;
        timings().progressHoldMs = 0;
        removeRestoringPaths();
        {
            std::lock_guard<std::mutex> lock(statisticsMutex);
            applicationStatsMap[kEditor].displayName = L"editor";
            applicationStatsMap[kWriter].displayName = L"writer";
        }
        // Versions 1 and 3 by the editor, 2 by the writer.
        for (const std::wstring file : {L"A.txt", L"Sub/B.txt"}) {
            for (int v = 1; v <= 3; ++v) {
                queue(write(file, wideToUtf8(file) + " v" + std::to_string(v)), v == 2 ? kWriter : kEditor);
                runCopier();
            }
            ASSERT_EQ(versionsOf(folders.watch + L"/" + file).size(), 3u);
        }
    }
    void TearDown() override {
        resetRestoreOrRemoveView();
        MainWindowTest::TearDown();
        removeRestoringPaths();
    }

    std::wstring source(const std::wstring& relative) const { return folders.watch + L"/" + relative; }
    // The archived copy of a file that holds `content`.
    std::wstring versionWith(const std::wstring& relative, const std::string& content) {
        for (const std::wstring& key : versionsOf(source(relative)))
            if (read(key) == content) return key;
        ADD_FAILURE() << "no version with " << content;
        return {};
    }
    // The rows of the version tree, top to bottom.
    std::vector<ImVec2> rows() {
        ui.frame(drawItemsFrame);
        return ui.itemsDown(drawItemsFrame, HeadlessImGui::firstChildOf(HeadlessImGui::findWindow("Select Items To Restore")),
                            80);  // right of the deepest indent
    }
    void clickRow(size_t n) {
        const std::vector<ImVec2> all = rows();
        ASSERT_GT(all.size(), n);
        ui.click(drawItemsFrame, all[n]);
    }
    static ImGuiWindow* activePopup(const char* prefix) {
        ImGuiWindow* popup = nullptr;
        for (ImGuiWindow* window : GImGui->Windows)
            if (window->Active && std::strncmp(window->Name, prefix, std::strlen(prefix)) == 0) popup = window;
        return popup;
    }
    // Picks entry `n` of the owner filter's combo box ("Any UI", editor, writer).
    void chooseFilter(size_t n) {
        ui.frame(drawItemsFrame);
        const ImGuiWindow* view = HeadlessImGui::findWindow("Select Items To Restore");
        ASSERT_NE(view, nullptr);
        const float y = view->ContentRegionRect.Min.y + 8;
        const std::vector<ImVec2> items =
            ui.findItems(drawItemsFrame, ImVec2(view->Pos.x + 4, y), ImVec2(view->Pos.x + view->Size.x - 4, y));
        ASSERT_FALSE(items.empty());
        ui.click(drawItemsFrame, items[0]);
        const std::vector<ImVec2> entries = ui.itemsDown(drawItemsFrame, activePopup("##Combo"));
        ASSERT_EQ(entries.size(), 3u);
        ui.click(drawItemsFrame, entries[n]);
    }
    // The main window's row has buttons with the same keys: only the view is drawn.
    bool press(const char* key) { return ui.clickButton(restoreOrRemoveView, key); }
    static int selectedIn(const std::wstring& file) {
        int count = 0;
        const auto items = restoreViewItems();
        const auto it = items.find(file);
        if (it != items.end())
            for (const auto& [key, version] : it->second) count += version.selected;
        return count;
    }
    // Waits for a question whose title holds `title` ; returns its body.
    static std::string waitQuestion(const std::string& title) {
        std::string body;
        const bool asked = eventually([&] {
            std::lock_guard<std::mutex> lock(modalMessageMutex);
            body = modalMessage.body;
            return modalMessage.open && modalMessage.title.find(title) != std::string::npos;
        });
        EXPECT_TRUE(asked) << title;
        return body;
    }
    // Answers the next question whose title holds `title` as its window would.
    static std::string answer(const std::string& title, bool ok) {
        std::string body;
        const bool asked = eventually([&] {
            std::lock_guard<std::mutex> lock(modalMessageMutex);
            if (!modalMessage.open || modalMessage.title.find(title) == std::string::npos) return false;
            body = modalMessage.body;
            ModalReply reply;
            reply.confirmed = ok;
            modalMessage.answers[modalMessage.ticket] = reply;
            modalMessage.open = false;
            return true;
        });
        EXPECT_TRUE(asked) << title;
        return body;
    }
    static bool idle() {
        return !restoreActive && !restoreWorkBusy && !deletionRunning && !isCancelRequested(CancelTask::Restore);
    }
};

}  // namespace

TEST_F(RestoreViewTest, TreeFilterMarksRestoreAndRemove) {
    openRestoreOrRemoveView(folders.watch);
    std::string shown = text();
    EXPECT_NE(shown.find("Select Items To Restore or Remove from the Archive: "), std::string::npos);
    EXPECT_NE(shown.find("Watch (1)"), std::string::npos) << shown;
    EXPECT_NE(shown.find("Watch/Sub (1)"), std::string::npos);
    EXPECT_NE(shown.find("Selected Items: 0"), std::string::npos);
    EXPECT_NE(shown.find("Operation: Idle"), std::string::npos);

    // Folder "Watch" open, then its file: three versions under their own names.
    clickRow(0);
    clickRow(1);
    shown = text();
    EXPECT_NE(shown.find("Watch/A.txt (3)"), std::string::npos) << shown;
    const std::vector<std::wstring> keys = versionsOf(source(L"A.txt"));
    for (const std::wstring& key : keys)
        EXPECT_NE(shown.find(wideToUtf8(key.substr(key.rfind(L'/') + 1))), std::string::npos);

    // The owner filter: the writer made one version of each file.
    chooseFilter(2);
    shown = text();
    EXPECT_NE(shown.find("{ writer }"), std::string::npos) << shown;
    EXPECT_NE(shown.find("Watch/A.txt (1)"), std::string::npos) << shown;
    EXPECT_NE(shown.find("Watch/Sub (1)"), std::string::npos);
    setRestoreViewFilter(kEditor);
    EXPECT_NE(text().find("Watch/A.txt (2)"), std::string::npos);
    setRestoreViewFilter(L"");
    EXPECT_NE(text().find("Watch/A.txt (3)"), std::string::npos);

    // One version per file: a second click moves the mark.
    clickRow(2);
    clickRow(3);
    EXPECT_EQ(selectedIn(source(L"A.txt")), 1);
    EXPECT_TRUE(restoreViewItems()[source(L"A.txt")][keys[1]].selected);
    EXPECT_NE(text().find("Selected Items: 1"), std::string::npos);

    // Select All marks the newest version of each file; De-Select All none.
    ASSERT_TRUE(press("bksa"));
    ASSERT_TRUE(eventually([] { return restoreViewSelectedCount() == 2; }, &ui));
    EXPECT_EQ(selectedIn(source(L"Sub/B.txt")), 1);
    EXPECT_TRUE(restoreViewItems()[source(L"A.txt")][versionWith(L"A.txt", "A.txt v3")].selected);  // the newest
    ASSERT_TRUE(press("bkdsa"));
    ASSERT_TRUE(eventually([] { return restoreViewSelectedCount() == 0; }, &ui));

    // Restore the first version of A over the file's newer content.
    const std::wstring first = versionWith(L"A.txt", "A.txt v1");
    const size_t firstRow = 2 + static_cast<size_t>(std::find(keys.begin(), keys.end(), first) - keys.begin());
    clickRow(firstRow);
    ASSERT_EQ(restoreViewSelectedCount(), 1);
    write(L"A.txt", "A.txt now");
    ASSERT_TRUE(press("bkrf"));
    answer("Confirm Source File Overwrite:", true);
    ASSERT_TRUE(eventually(idle, &ui));
    EXPECT_EQ(read(source(L"A.txt")), "A.txt v1");
    EXPECT_EQ(read(source(L"Sub/B.txt")), "Sub/B.txt v3");

    // Remove the writer's version of B: gone from disk, records and the tree.
    setRestoreViewFilter(kWriter);
    const std::wstring second = versionWith(L"Sub/B.txt", "Sub/B.txt v2");
    // Select All under the filter: A's hidden first version loses its mark.
    ASSERT_TRUE(press("bksa"));
    ASSERT_TRUE(eventually([] { return restoreViewSelectedCount() == 2; }, &ui));
    EXPECT_EQ(selectedIn(source(L"A.txt")), 1);
    ASSERT_TRUE(press("bkdsa"));
    ASSERT_TRUE(eventually([] { return restoreViewSelectedCount() == 0; }, &ui));
    // Rows: Watch, its A.txt (open), A's writer version, Watch/Sub; open Sub and B.
    clickRow(3);
    clickRow(4);
    EXPECT_NE(text().find("Watch/Sub/B.txt (1)"), std::string::npos);
    clickRow(5);
    ASSERT_EQ(restoreViewSelectedCount(), 1);
    ASSERT_TRUE(restoreViewItems()[source(L"Sub/B.txt")][second].selected);
    ASSERT_TRUE(press("bkr"));
    answer("Confirm Backup Data Deletion:", true);
    ASSERT_TRUE(eventually([&] { return idle() && !restoreViewItems()[source(L"Sub/B.txt")].count(second); }, &ui));
    EXPECT_FALSE(exists(second));
    EXPECT_EQ(versionsOf(source(L"Sub/B.txt")).size(), 2u);
    EXPECT_EQ(versionsOf(source(L"A.txt")).size(), 3u);
    EXPECT_EQ(text().find("Watch/Sub (1)"), std::string::npos);  // no writer version is left there

    // Dismiss closes the view; the next opening builds it afresh.
    ASSERT_TRUE(press("bkc"));
    EXPECT_FALSE(isRestoreOrRemoveViewOpen());
}

TEST_F(RestoreViewTest, ChangedFileIsAskedAboutAndCancelStopsMidRestore) {
    openRestoreOrRemoveView(folders.watch);
    ASSERT_TRUE(press("bksa"));
    ASSERT_TRUE(eventually([] { return restoreViewSelectedCount() == 2; }, &ui));
    const std::string bQuestion = wideToUtf8(source(L"Sub/B.txt"));

    // B is written while the first question waits: it is asked about again
    // before it is overwritten, and CANCEL keeps it.
    write(L"A.txt", "A now");
    ASSERT_TRUE(press("bkrf"));
    waitQuestion("Confirm Source File Overwrite:");
    write(L"Sub/B.txt", "B changed meanwhile");
    answer("Confirm Source File Overwrite:", true);
    EXPECT_NE(waitQuestion("Confirm Source File Overwrite:").find(bQuestion), std::string::npos);
    answer("Confirm Source File Overwrite:", false);
    ASSERT_TRUE(eventually(idle, &ui));
    EXPECT_EQ(read(source(L"A.txt")), "A.txt v3");
    EXPECT_EQ(read(source(L"Sub/B.txt")), "B changed meanwhile");
    EXPECT_TRUE(logHas(L"one or more files not restored, 2 selected, 1 copied."));

    // " Cancel " after the first file: the stop question, then nothing more is written.
    write(L"A.txt", "A now");
    ASSERT_TRUE(press("bkrf"));
    waitQuestion("Confirm Source File Overwrite:");
    const std::string shown = ui.frameText(restoreOrRemoveView);  // nothing of the last restore behind the question
    EXPECT_NE(shown.find("Operation: In Progress"), std::string::npos) << shown;
    EXPECT_NE(shown.find("Progress: 0.000%"), std::string::npos);
    write(L"Sub/B.txt", "B changed again");
    answer("Confirm Source File Overwrite:", true);
    EXPECT_NE(waitQuestion("Confirm Source File Overwrite:").find(bQuestion), std::string::npos);
    ASSERT_TRUE(press("bkcncl"));
    EXPECT_TRUE(isCancelRequested(CancelTask::Restore));
    answer("Confirm Source File Overwrite:", true);
    answer("Cancel File Restoration!:", true);
    ASSERT_TRUE(eventually(idle, &ui));
    EXPECT_EQ(read(source(L"A.txt")), "A.txt v3");
    EXPECT_EQ(read(source(L"Sub/B.txt")), "B changed again");
    EXPECT_TRUE(logHas(L"Varnholt Restore operation canceled by user!"));
    std::vector<std::wstring> files;
    listFilesRecursive(folders.watch, files, true);
    EXPECT_EQ(files.size(), 2u);  // no partial or temporary file left
    EXPECT_NE(text().find("Operation: Idle"), std::string::npos);
}

// Restores run while the window draws, marks change and the filter switches:
// no deadlock, no race (the sanitizer builds run it too).
TEST_F(RestoreViewTest, RestoresWhileTheWindowDraws) {
    for (int i = 0; i < 30; ++i) {
        queue(write(L"many/f" + std::to_wstring(i) + L".txt", "content " + std::to_string(i)), kEditor);
        runCopier();
    }
    std::atomic<bool> stop{false};
    std::thread user([&stop] {
        while (!stop) {
            {
                std::lock_guard<std::mutex> lock(modalMessageMutex);
                if (modalMessage.open && modalMessage.answers.count(modalMessage.ticket) == 0) {
                    ModalReply reply;
                    reply.confirmed = true;
                    modalMessage.answers[modalMessage.ticket] = reply;
                    modalMessage.open = false;
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    openRestoreOrRemoveView(folders.watch);
    int restores = 0;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    for (int frame = 0; std::chrono::steady_clock::now() < end; ++frame) {
        ui.frame(drawItemsFrame);
        if (frame % 7 == 0) setRestoreViewFilter(frame % 2 ? kEditor : L"");
        if (idle() && frame % 3 == 0) {
            press("bksa");
            if (restoreViewSelectedCount() > 0 && press("bkrf")) ++restores;
        }
    }
    EXPECT_TRUE(eventually(idle, &ui));
    stop = true;
    user.join();
    EXPECT_GT(restores, 0);
    EXPECT_EQ(read(source(L"many/f7.txt")), "content 7");
}

TEST_F(RestoreViewTest, GroupPopupMarksTheFirstOrLastVersionOfEachFile) {
    openRestoreOrRemoveView(folders.watch);
    // Right click on a folder row, then one of the popup's options.
    const auto groupOption = [this](size_t row, size_t option) {
        const std::vector<ImVec2> all = rows();
        ASSERT_GT(all.size(), row);
        ui.click(drawItemsFrame, all[row], 1);
        const std::vector<ImVec2> options = ui.itemsDown(drawItemsFrame, activePopup("##Popup"));
        ASSERT_EQ(options.size(), 4u);  // first, last, deselect, Cancel
        ui.click(drawItemsFrame, options[option]);
    };
    const auto selected = [this](const std::wstring& file, const std::string& content) {
        return restoreViewItems()[source(file)][versionWith(file, content)].selected;
    };
    groupOption(1, 0);  // Watch/Sub: B's first version
    ASSERT_TRUE(eventually([] { return restoreViewSelectedCount() == 1; }, &ui));
    EXPECT_TRUE(selected(L"Sub/B.txt", "Sub/B.txt v1"));
    groupOption(0, 1);  // Watch: A's last version
    ASSERT_TRUE(eventually([] { return restoreViewSelectedCount() == 2; }, &ui));
    EXPECT_TRUE(selected(L"A.txt", "A.txt v3"));
    groupOption(0, 2);
    ASSERT_TRUE(eventually([] { return restoreViewSelectedCount() == 1; }, &ui));
    EXPECT_TRUE(selected(L"Sub/B.txt", "Sub/B.txt v1"));
}

TEST_F(RestoreViewTest, NamesHoldingHashesAreShownWholeAndChosenRight) {
    for (const wchar_t* name : {L"Sub/notes##new.txt", L"Sub/notes##old.txt"}) {
        queue(write(name, "notes"));
        runCopier();
    }
    openRestoreOrRemoveView(folders.watch);
    clickRow(1);  // Watch/Sub: B.txt, notes##new.txt, notes##old.txt
    const std::string shown = text();
    EXPECT_NE(shown.find("Watch/Sub/notes##new.txt (1)"), std::string::npos) << shown;
    EXPECT_NE(shown.find("Watch/Sub/notes##old.txt (1)"), std::string::npos) << shown;
    clickRow(3);
    EXPECT_NE(text().find(" notes##new.txt\n"), std::string::npos) << "the version row";
    clickRow(4);  // the one version of notes##new.txt
    EXPECT_EQ(selectedIn(source(L"Sub/notes##new.txt")), 1);
    EXPECT_EQ(selectedIn(source(L"Sub/notes##old.txt")), 0);
}
