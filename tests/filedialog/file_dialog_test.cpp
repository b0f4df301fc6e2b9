// The folder chooser driven through Dear ImGui without a renderer, as a user
// drives it: clicks, double clicks, typed text and keys.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <string>

#include "filedialog/dialog_state.h"
#include "filedialog/file_dialog.h"
#include "imgui_headless.h"
#include "shell/display_items.h"
#include "test_env.h"

namespace {

const char* kKey = "ChooseDirDlgKey";

// Remembers where rows, the answer buttons and the top bar were drawn.
class ProbedDialog : public VFD::FileDialog {
public:
    std::map<std::string, ImRect> rows;
    ImRect topBar;
    ImRect okRect;
    bool okDrawn = false;
    bool okDisabled = false;
    ImRect cancelRect;
    ImRect footer;

protected:
    void DrawTopBar() override {
        topBar.Min = ImGui::GetCursorScreenPos();
        FileDialog::DrawTopBar();
        topBar.Max = ImVec2(topBar.Min.x + ImGui::GetContentRegionAvail().x, ImGui::GetCursorScreenPos().y);
    }
    void DrawEntryTable(ImVec2 size) override {
        rows.clear();
        FileDialog::DrawEntryTable(size);
    }
    void DrawEntryRow(int index, const std::shared_ptr<VFD::FileInfos>& entry, bool selected,
                      const char* format) override {
        FileDialog::DrawEntryRow(index, entry, selected, format);
        rows[entry->fileName] = ImRect(ImGui::GetItemRectMin(), ImGui::GetItemRectMax());
    }
    bool DrawBottomBar() override {
        footer.Min = ImGui::GetCursorScreenPos();
        footer.Max = ImVec2(footer.Min.x + ImGui::GetContentRegionAvail().x, footer.Min.y + ImGui::GetFrameHeight());
        return FileDialog::DrawBottomBar();
    }
    bool DrawAcceptButton() override {
        const bool result = FileDialog::DrawAcceptButton();
        okDrawn = GImGui->LastItemData.ID == ImGui::GetID("OK##validationdialog");
        okDisabled = okDrawn && (GImGui->LastItemData.InFlags & ImGuiItemFlags_Disabled);
        if (okDrawn) okRect = ImRect(ImGui::GetItemRectMin(), ImGui::GetItemRectMax());
        return result;
    }
    bool DrawDismissButton() override {
        const bool result = FileDialog::DrawDismissButton();
        cancelRect = ImRect(ImGui::GetItemRectMin(), ImGui::GetItemRectMax());
        return result;
    }
};

struct DialogDriver {
    HeadlessImGui ui;
    ProbedDialog dialog;
    bool ended = false;
    std::function<void()> draw = [this] {
        // Like a caller: once it ended, the dialog is read and no longer drawn.
        if (!ended && dialog.DisplayDialog(kKey, ImGuiWindowFlags_NoCollapse, ImVec2(700, 450))) ended = true;
    };

    void open(const std::string& path, int32_t flags = VFD::OptModal) {
        VFD::DialogOpenOptions options;
        options.path = path;
        options.flags = flags;
        dialog.OpenDialog(kKey, "Choose a Folder", nullptr, options);
        ended = false;
        ui.frame(draw);
        ui.frame(draw);
    }
    std::string current() const { return dialog.state().files.currentPath; }
    // Frames until Dear ImGui's double-click time (0.3 s) has passed, so the
    // next click never joins the last one.
    void settle() {
        for (float waited = 0; waited < 0.35f; waited += ImGui::GetIO().DeltaTime) ui.frame(draw);
    }
    void click(ImVec2 pos) {
        ui.click(draw, pos);
        settle();
    }
    void doubleClickRow(const std::string& name) {
        ASSERT_TRUE(dialog.rows.count(name)) << name;
        ui.doubleClick(draw, dialog.rows[name].GetCenter());
        settle();
    }
    // The hoverable items of the top bar's line `line` (0: buttons and path, 1: search).
    std::vector<ImVec2> topBarItems(int line) {
        const float y = dialog.topBar.Min.y + line * ImGui::GetFrameHeightWithSpacing() + ImGui::GetFrameHeight() / 2;
        return ui.findItems(draw, ImVec2(dialog.topBar.Min.x + 1, y), ImVec2(dialog.topBar.Max.x - 1, y));
    }
    void clickTopBarItem(int line, size_t index) {
        const auto items = topBarItems(line);
        ASSERT_GT(items.size(), index);
        click(items[index]);
    }
    // Replaces the text of the field under `pos`.
    void typeInto(ImVec2 pos, const std::string& text) {
        click(pos);
        ui.pressKey(draw, ImGuiKey_A, true);
        ui.type(draw, text.c_str());
    }
    ImVec2 nameField() const { return ImVec2(dialog.footer.Max.x - 20, dialog.footer.GetCenter().y); }
};

}  // namespace

TEST(FileDialogWindow, ChoosesAFolderByBrowsingTypingCreatingAndSearching) {
    const std::string dir = makeTestFolder("choose");
    ASSERT_EQ(mkdir((dir + "/alpha").c_str(), 0755), 0);
    ASSERT_EQ(mkdir((dir + "/alpha/inner").c_str(), 0755), 0);
    ASSERT_EQ(mkdir((dir + "/beta").c_str(), 0755), 0);
    ASSERT_TRUE(writeTestFile(dir + "/file.txt", ""));
    EXPECT_EQ(&VFD::FileDialog::Shared(), &VFD::FileDialog::Shared());

    DialogDriver d;
    d.open(dir);
    EXPECT_TRUE(d.dialog.IsOpened(kKey));
    ImGuiWindow* window = HeadlessImGui::findWindow("Choose a Folder##ChooseDirDlgKey");
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->Flags & ImGuiWindowFlags_Modal);
    EXPECT_EQ(d.current(), dir);
    EXPECT_TRUE(d.dialog.rows.count("alpha") && d.dialog.rows.count(".."));
    EXPECT_FALSE(d.dialog.rows.count("file.txt"));
    EXPECT_TRUE(d.dialog.okDrawn && !d.dialog.okDisabled);  // the field holds "."

    // Enter a folder by double click, go up with "..".
    d.doubleClickRow("alpha");
    EXPECT_EQ(d.current(), dir + "/alpha");
    EXPECT_TRUE(d.dialog.rows.count("inner"));
    d.doubleClickRow("..");
    EXPECT_EQ(d.current(), dir);

    // "E" opens path edition with the current path; typing and Enter go there.
    d.clickTopBarItem(0, 3);
    ASSERT_TRUE(d.dialog.state().files.pathEditionActive);
    const auto line = d.topBarItems(0);
    ASSERT_EQ(line.size(), 5u);  // +, R, Drives, E, the path field
    d.click(line[4]);
    d.ui.type(d.draw, "/beta");
    d.ui.pressKey(d.draw, ImGuiKey_Enter);
    EXPECT_EQ(d.current(), dir + "/beta");
    EXPECT_FALSE(d.dialog.state().files.pathEditionActive);

    // "+" creates a folder in the current one and enters it.
    d.clickTopBarItem(0, 0);
    const auto creating = d.topBarItems(0);  // +, name field, OK, Cancel, R, ...
    ASSERT_GE(creating.size(), 4u);
    d.click(creating[1]);
    d.ui.type(d.draw, "made");
    d.click(creating[2]);
    EXPECT_EQ(d.current(), dir + "/beta/made");
    struct stat st {};
    EXPECT_EQ(stat((dir + "/beta/made").c_str(), &st), 0);

    // Search narrows the list ("..": always shown); "R" beside it resets it.
    d.doubleClickRow("..");
    d.doubleClickRow("..");
    const auto search = d.topBarItems(1);
    ASSERT_EQ(search.size(), 2u);
    d.click(search[1]);
    d.ui.type(d.draw, "alp");
    EXPECT_TRUE(d.dialog.rows.count("alpha"));
    EXPECT_FALSE(d.dialog.rows.count("beta"));
    d.click(search[0]);
    EXPECT_TRUE(d.dialog.rows.count("beta"));

    // A typed path that names no folder: OK stays disabled and Enter does nothing.
    d.typeInto(d.nameField(), dir + "/missing");
    EXPECT_TRUE(d.dialog.okDisabled);
    d.ui.pressKey(d.draw, ImGuiKey_Enter);
    EXPECT_FALSE(d.ended);

    // A typed absolute path is kept as typed, "..": resolved.
    d.typeInto(d.nameField(), dir + "/alpha/../beta/");
    EXPECT_FALSE(d.dialog.okDisabled);
    d.click(d.dialog.okRect.GetCenter());
    EXPECT_TRUE(d.ended);
    EXPECT_TRUE(d.dialog.IsOk());
    EXPECT_EQ(d.dialog.GetCurrentPath(), dir + "/beta");
    EXPECT_EQ(d.dialog.GetFilePathName(), "");
    d.dialog.CloseDialog();
    EXPECT_FALSE(d.dialog.IsOpened());

    // Opening again without a path starts where the last use ended; a single
    // click selects a folder and OK returns it.
    d.open("");
    EXPECT_EQ(d.current(), dir);
    EXPECT_TRUE(d.dialog.state().files.selectedNames.empty());
    d.click(d.dialog.rows["alpha"].GetCenter());
    d.click(d.dialog.okRect.GetCenter());
    EXPECT_TRUE(d.ended && d.dialog.IsOk());
    EXPECT_EQ(d.dialog.GetCurrentPath(), dir + "/alpha");
    d.dialog.CloseDialog();

    // Cancel ends without a result.
    d.open(dir);
    d.click(d.dialog.cancelRect.GetCenter());
    EXPECT_TRUE(d.ended);
    EXPECT_FALSE(d.dialog.IsOk());
    d.dialog.CloseDialog();
}

TEST(FileDialogWindow, OneDrawPerFrameOnlyUnderItsKey) {
    const std::string dir = makeTestFolder("once");
    DialogDriver d;
    d.open(dir, 0);
    int drawn = 0;
    d.ui.frame([&] {
        drawn += d.dialog.WasOpenedThisFrame() ? 1 : 0;
        d.dialog.DisplayDialog(kKey);
        EXPECT_TRUE(d.dialog.WasOpenedThisFrame(kKey));
        EXPECT_FALSE(d.dialog.DisplayDialog(kKey));  // a second call in the frame draws nothing
        EXPECT_FALSE(d.dialog.DisplayDialog("OtherKey"));
    });
    EXPECT_EQ(drawn, 0);
    EXPECT_FALSE(d.dialog.IsOpened("OtherKey"));
    // A second opening while shown is ignored.
    d.dialog.OpenDialog("OtherKey", "Other", nullptr);
    EXPECT_TRUE(d.dialog.IsOpened(kKey));
    d.dialog.CloseDialog();
    d.ui.frame([&] { EXPECT_FALSE(d.dialog.DisplayDialog(kKey)); });
}

TEST(FileDialogWindow, FileResultsLieInTheDialogsFolder) {
    const std::string dir = makeTestFolder("files");
    ASSERT_TRUE(writeTestFile(dir + "/report.txt", ""));
    DialogDriver d;
    VFD::DialogOpenOptions options;
    options.path = dir;
    // Only the leading dialog path leaves the default name.
    options.defaultName = dir + "/a" + dir + "b";
    d.dialog.OpenDialog(kKey, "Save", ".txt", options);
    d.ui.frame(d.draw);
    d.ui.frame(d.draw);
    EXPECT_EQ(VFD::bufferText(d.dialog.state().files.fileName), "a" + dir + "b");
    // A relative name is joined with the dialog's folder, never the working folder.
    VFD::setBufferText(d.dialog.state().files.fileName, "notes");
    EXPECT_EQ(d.dialog.GetFilePathName(), dir + "/notes.txt");
    // A double click on a file ends the dialog with OK.
    d.doubleClickRow("report.txt");
    EXPECT_TRUE(d.ended && d.dialog.IsOk());
    EXPECT_EQ(d.dialog.GetFilePathName(), dir + "/report.txt");
    d.dialog.CloseDialog();
}

// The main window opens the folder chooser in the frame in which another
// window first appears. Dear ImGui's assertions are live: drawn through the
// display items, the run must not abort.
namespace {
VFD::FileDialog* modalDialog = nullptr;
int appearingFrame = 0;
void drawMainWithDialog() {
    ImGui::Begin("IG_000");
    ImGui::TextUnformatted("main");
    ImGui::End();
    modalDialog->DisplayDialog(kKey);
}
void drawAppearingWindow() {
    ImGui::Begin(appearingFrame == 0 ? "Appearing" : "Appearing later");
    ImGui::TextUnformatted("new");
    ImGui::End();
}
}  // namespace

TEST(FileDialogWindow, ModalOpensInTheFrameAnotherWindowAppears) {
    const std::string dir = makeTestFolder("modal");
    EXPECT_EXIT(
        {
            HeadlessImGui ui;
            VFD::FileDialog dialog;
            modalDialog = &dialog;
            clearDisplayItems();
            registerDisplayItem(0, L"IG_000");
            registerDisplayItem(5, L"IG_005");
            setDisplayItemDrawFunction(0, drawMainWithDialog);
            setDisplayItemDrawFunction(5, drawAppearingWindow);
            setDisplayItemVisible(0, true);
            ui.frame([] { drawDisplayItems(); });
            VFD::DialogOpenOptions options;
            options.path = dir;
            options.flags = VFD::OptModal;
            dialog.OpenDialog(kKey, "Choose a Folder", nullptr, options);
            setDisplayItemVisible(5, true);
            for (appearingFrame = 0; appearingFrame < 3; ++appearingFrame) ui.frame([] { drawDisplayItems(); });
            clearDisplayItems();
            std::exit(dialog.IsOpened() ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST(FileDialogWindow, PathPopupNothingSelectedAndOverwrite) {
    const std::string dir = makeTestFolder("popup");
    ASSERT_EQ(mkdir((dir + "/alpha").c_str(), 0755), 0);
    ASSERT_EQ(mkdir((dir + "/beta").c_str(), 0755), 0);
    ASSERT_EQ(mkdir((dir + "/x##y").c_str(), 0755), 0);
    DialogDriver d;
    d.open(dir + "/x##y");
    EXPECT_NE(d.ui.frameText(d.draw).find("x##y"), std::string::npos) << "a path part is shown whole";
    // The "/" before the last path part lists its sibling folders; one is chosen.
    const auto line = d.topBarItems(0);
    ASSERT_GE(line.size(), 2u);
    d.click(line[line.size() - 2]);
    ImGuiWindow* popup = nullptr;
    for (ImGuiWindow* w : GImGui->Windows)
        if ((w->Flags & ImGuiWindowFlags_Popup) && !(w->Flags & ImGuiWindowFlags_Modal) && w->Active) popup = w;
    ASSERT_NE(popup, nullptr) << "the path popup opens";
    const auto rows = d.ui.itemsDown(d.draw, popup);  // header, ".", "..", "alpha", "beta", "x##y"
    ASSERT_GE(rows.size(), 2u);
    d.click(rows[rows.size() - 2]);
    EXPECT_EQ(d.current(), dir + "/beta");

    // Any number may be selected: one selected and taken off again leaves
    // none, and OK returns the current folder.
    VFD::DialogOpenOptions options;
    options.path = dir;
    options.maxSelectionCount = 0;
    const auto reopen = [&](const char* filters) {
        d.dialog.CloseDialog();
        d.dialog.OpenDialog(kKey, "Choose", filters, options);
        d.ended = false;
        d.ui.frame(d.draw);
        d.ui.frame(d.draw);
    };
    reopen(nullptr);
    d.click(d.dialog.rows["alpha"].GetCenter());
    ImGui::GetIO().KeyCtrl = true;
    d.click(d.dialog.rows["alpha"].GetCenter());
    ImGui::GetIO().KeyCtrl = false;
    EXPECT_EQ(VFD::bufferText(d.dialog.state().files.fileName), "0 files Selected");
    d.click(d.dialog.okRect.GetCenter());
    EXPECT_TRUE(d.ended && d.dialog.IsOk());
    EXPECT_EQ(d.dialog.GetCurrentPath(), dir);

    // A name that exists but cannot be read is still asked about.
    ASSERT_EQ(symlink((dir + "/gone").c_str(), (dir + "/link.txt").c_str()), 0);
    options.defaultName = "link.txt";
    options.flags = VFD::OptAskBeforeOverwrite;
    reopen(".txt");
    d.click(d.dialog.okRect.GetCenter());
    EXPECT_FALSE(d.ended);
    EXPECT_TRUE(d.dialog.state().overwriteQuestionOpen);
}
