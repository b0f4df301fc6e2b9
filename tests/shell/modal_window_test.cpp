#include "shell/modal_window.h"

#include <gtest/gtest.h>

#include "engine/confirm_request.h"
#include "imgui_headless.h"
#include "shell/buttons.h"
#include "shell/display_items.h"
#include "foundation/texts.h"

namespace {

void resetModal() {
    std::lock_guard<std::mutex> lock(modalMessageMutex);
    modalMessage = ModalMessageState();
}

// Draws the window the way the main loop does: only while it is open.
void drawModalFrame() {
    if (isModalMessageOpen()) drawModalMessage();
}

// The message box's buttons, left to right.
std::vector<ImVec2> modalButtons(HeadlessImGui& ui) {
    ui.frame(drawModalFrame);
    ui.frame(drawModalFrame);
    ImGuiWindow* box = HeadlessImGui::findWindow("ChildL_");
    if (!box) return {};
    const float y = box->DC.CursorPosPrevLine.y + ImGui::GetFrameHeight() / 2;
    return ui.findItems(drawModalFrame, ImVec2(box->Pos.x, y), ImVec2(box->Pos.x + box->Size.x, y));
}

// The checkboxes of the text area, top to bottom.
std::vector<ImVec2> modalCheckboxes(HeadlessImGui& ui) {
    ui.frame(drawModalFrame);
    ImGuiWindow* text = HeadlessImGui::findWindow("ChildL-0");
    if (!text) return {};
    const float x = text->Pos.x + ImGui::GetStyle().WindowPadding.x + 4;
    return ui.findItems(drawModalFrame, ImVec2(x, text->Pos.y), ImVec2(x, text->Pos.y + text->Size.y));
}

ModalReply answerOf(uint64_t ticket) {
    ModalReply reply;
    EXPECT_TRUE(pollModalAnswer(ticket, reply));
    return reply;
}

}  // namespace

// An engine task may ask before any window drew (or while the window is
// hidden): the question still has its OK and Cancel.
TEST(ModalWindow, QuestionBeforeAnyWindowDrewHasItsButtons) {
    HeadlessImGui ui;
    resetModal();
    uint64_t ticket = 0;
    ASSERT_TRUE(showModalMessage("Question", "h", "b\n", 3, &ticket));
    const std::vector<ImVec2> buttons = modalButtons(ui);
    ASSERT_EQ(buttons.size(), 2u);
    ui.click(drawModalFrame, buttons[1]);
    EXPECT_TRUE(answerOf(ticket).confirmed);
}

// The question takes its place at the back of the front-window queue while
// it is open, so it stays in front of the windows opened before it.
TEST(ModalWindow, QuestionJoinsAndLeavesTheFrontQueue) {
    HeadlessImGui ui;
    resetModal();
    clearDisplayItems();
    pushDisplayItemZOrder(5);  // a window opened before the question
    uint64_t ticket = 0;
    ASSERT_TRUE(showModalMessage("Question", "h", "b\n", 3, &ticket));
    const std::vector<ImVec2> buttons = modalButtons(ui);
    ASSERT_EQ(buttons.size(), 2u);
    {
        std::lock_guard<std::mutex> lock(zOrderMutex);
        EXPECT_EQ(displayItemZOrder, (std::deque<int32_t>{5, kModalMessageItemId}));
    }
    ui.click(drawModalFrame, buttons[0]);
    EXPECT_FALSE(answerOf(ticket).confirmed);
    std::lock_guard<std::mutex> lock(zOrderMutex);
    EXPECT_EQ(displayItemZOrder, std::deque<int32_t>{5});
}

TEST(ModalWindow, ButtonsAndOptionsAnswer) {
    HeadlessImGui ui;
    initUIButtonTable();
    resetModal();

    uint64_t ticket = 0;
    ASSERT_TRUE(showModalMessage("Question", "a\nb", "a\n?b\nc", 3, &ticket));
    {
        std::lock_guard<std::mutex> lock(modalMessageMutex);
        EXPECT_EQ(modalMessage.title, " \u00a7 [Attention] Question");
        EXPECT_EQ(modalMessage.heading, " a\n b");
    }
    EXPECT_FALSE(showModalMessage("Other", "", "x\n", 3)) << "one question at a time";
    {
        std::lock_guard<std::mutex> lock(modalMessageMutex);
        EXPECT_EQ(modalMessage.title, " \u00a7 [Attention] Question");
    }

    const std::vector<ImVec2> boxes = modalCheckboxes(ui);
    ASSERT_EQ(boxes.size(), 1u) << "only \"?b\" is an option; \"c\" has no line end";
    ui.click(drawModalFrame, boxes[0]);
    ModalReply reply;
    EXPECT_FALSE(pollModalAnswer(ticket, reply)) << "no answer yet";

    const std::vector<ImVec2> buttons = modalButtons(ui);
    ASSERT_EQ(buttons.size(), 2u);
    ui.click(drawModalFrame, buttons[1]);  // OK
    EXPECT_FALSE(isModalMessageOpen());
    reply = answerOf(ticket);
    EXPECT_TRUE(reply.confirmed);
    EXPECT_EQ(reply.optionBits, std::vector<bool>{true});
    {
        std::lock_guard<std::mutex> lock(modalMessageMutex);
        EXPECT_TRUE(modalMessage.confirmed);
        EXPECT_FALSE(modalMessage.cancelled);
        EXPECT_EQ(modalMessage.optionBits, std::vector<bool>{true}) << "bits stay until the next opening";
    }

    // Cancel is the first of two buttons.
    ASSERT_TRUE(showModalMessage("Again", "", "?x\n", 3, &ticket));
    ui.frame(drawModalFrame);  // a window can be clicked once it has been shown
    ui.frame(drawModalFrame);
    ui.click(drawModalFrame, buttons[0]);
    reply = answerOf(ticket);
    EXPECT_FALSE(reply.confirmed);
    EXPECT_EQ(reply.optionBits, std::vector<bool>{false}) << "the opening emptied the old bits";
}

TEST(ModalWindow, SingleButtonsAndClosingWithoutAnswer) {
    HeadlessImGui ui;
    initUIButtonTable();
    resetModal();

    // OK alone is the first button and answers cancelled.
    uint64_t ticket = 0;
    ASSERT_TRUE(showModalMessage("Done", "", "x\n", 1, &ticket));
    std::vector<ImVec2> buttons = modalButtons(ui);
    ASSERT_EQ(buttons.size(), 1u);
    ui.click(drawModalFrame, buttons[0]);
    EXPECT_FALSE(answerOf(ticket).confirmed);

    ASSERT_TRUE(showModalMessage("Stop", "", "x\n", 2, &ticket));
    buttons = modalButtons(ui);
    ASSERT_EQ(buttons.size(), 1u);
    ui.click(drawModalFrame, buttons[0]);
    EXPECT_FALSE(answerOf(ticket).confirmed);

    EXPECT_FALSE(showModalMessage("None", "", "x\n", 0)) << "nothing could answer it";

    // Clearing the open flag without an answer answers cancelled.
    ASSERT_TRUE(showModalMessage("Closed", "", "x\n", 3, &ticket));
    ui.frame(drawModalFrame);
    {
        std::lock_guard<std::mutex> lock(modalMessageMutex);
        modalMessage.open = false;
    }
    EXPECT_TRUE(isModalMessageOpen()) << "still to be taken down";
    EXPECT_FALSE(showModalMessage("Early", "", "x\n", 3));
    ui.frame(drawModalFrame);
    EXPECT_FALSE(isModalMessageOpen());
    {
        std::lock_guard<std::mutex> lock(modalMessageMutex);
        EXPECT_TRUE(modalMessage.cancelled);
        EXPECT_FALSE(modalMessage.confirmed);
    }
    EXPECT_FALSE(answerOf(ticket).confirmed);
}

TEST(ModalWindow, FolderEntryTemplateShowsTwoOptions) {
    HeadlessImGui ui;
    initUIButtonTable();
    resetModal();

    const ConfirmTemplate& t = kRemoveFolderEntryTemplate;
    const std::string body = fillTemplate(t.body, {{kPlaceholderDisplayName, "Work"},
                                                   {kPlaceholderAutoBackupVersions, "12"},
                                                   {kPlaceholderBackupSetCount, "2"},
                                                   {kPlaceholderBackupSetVersions, "30"}});
    uint64_t ticket = 0;
    ASSERT_TRUE(showModalMessage(t.title, t.heading, body, t.buttonMask, &ticket));
    const std::vector<ImVec2> boxes = modalCheckboxes(ui);
    ASSERT_EQ(boxes.size(), 2u);
    ui.click(drawModalFrame, boxes[1]);
    const std::vector<ImVec2> buttons = modalButtons(ui);
    ASSERT_EQ(buttons.size(), 2u);
    ui.click(drawModalFrame, buttons[1]);
    const ModalReply reply = answerOf(ticket);
    EXPECT_TRUE(reply.confirmed);
    EXPECT_EQ(reply.optionBits, (std::vector<bool>{false, true}));
}
