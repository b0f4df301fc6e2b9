#include "engine/confirm_request.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "foundation/button_table.h"
#include "foundation/global_defaults.h"
#include "imgui_headless.h"
#include "shell/modal_window.h"

namespace {

void resetModal() {
    std::lock_guard<std::mutex> lock(modalMessageMutex);
    modalMessage = ModalMessageState();
}

void drawModalFrame() {
    if (isModalMessageOpen()) drawModalMessage();
}

std::string currentTitle() {
    std::lock_guard<std::mutex> lock(modalMessageMutex);
    return modalMessage.open ? modalMessage.title : std::string();
}

// Cancel and OK of a two-button message box (the same place for every question).
std::vector<ImVec2> twoButtons(HeadlessImGui& ui) {
    uint64_t ticket = 0;
    if (!showModalMessage("probe", "", "x\n", 3, &ticket)) return {};
    ui.frame(drawModalFrame);
    ui.frame(drawModalFrame);
    ImGuiWindow* box = HeadlessImGui::findWindow("ChildL_");
    const float y = box->DC.CursorPosPrevLine.y + ImGui::GetFrameHeight() / 2;
    std::vector<ImVec2> buttons =
        ui.findItems(drawModalFrame, ImVec2(box->Pos.x, y), ImVec2(box->Pos.x + box->Size.x, y));
    if (buttons.size() == 2) ui.click(drawModalFrame, buttons[0]);
    ModalReply reply;
    pollModalAnswer(ticket, reply);
    return buttons;
}

void pauseMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

}  // namespace

TEST(ConfirmRequest, TwoTasksAskingAtOnceEachGetTheirOwnAnswer) {
    HeadlessImGui ui;
    initUIButtonTable();
    resetModal();
    const std::vector<ImVec2> buttons = twoButtons(ui);
    ASSERT_EQ(buttons.size(), 2u);
    ASSERT_FALSE(isModalMessageOpen());

    // Task A is always answered OK, task B always Cancel; they look for their
    // answers at the program's short poll, shortened here.
    timings().shortPollMs = 1;
    constexpr int kRounds = 4;
    std::atomic<int> finished{0};
    std::atomic<int> pings{0};
    std::vector<bool> answersA;
    std::vector<bool> answersB;
    auto task = [&](const std::string& title, std::vector<bool>& answers) {
        for (int i = 0; i < kRounds; ++i) {
            const ModalReply reply = askModalQuestion(title, "heading", "x\n", 3, [&] {
                ++pings;
                return true;
            });
            answers.push_back(reply.confirmed);
        }
        ++finished;
    };
    std::thread a(task, "Task A", std::ref(answersA));
    std::thread b(task, "Task B", std::ref(answersB));

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (finished < 2 && std::chrono::steady_clock::now() < deadline) {
        const std::string title = currentTitle();
        if (title.empty()) {
            ui.frame(drawModalFrame);
            pauseMs(1);
            continue;
        }
        ui.frame(drawModalFrame);
        ui.frame(drawModalFrame);
        const bool isA = title.find("Task A") != std::string::npos;
        ui.click(drawModalFrame, isA ? buttons[1] : buttons[0]);
    }
    a.join();
    b.join();
    EXPECT_EQ(answersA, std::vector<bool>(kRounds, true));
    EXPECT_EQ(answersB, std::vector<bool>(kRounds, false));
    EXPECT_GT(pings.load(), 0);
    EXPECT_FALSE(isModalMessageOpen());
    resetTimings();
}

TEST(ConfirmRequest, AnswerIsKeptForItsOwnQuestion) {
    HeadlessImGui ui;
    initUIButtonTable();
    resetModal();
    const std::vector<ImVec2> buttons = twoButtons(ui);
    ASSERT_EQ(buttons.size(), 2u);

    // A's answer is given, then B's question opens before A looks: A still
    // gets its own answer and B waits for its own.
    uint64_t first = 0;
    uint64_t second = 0;
    ASSERT_TRUE(showModalMessage("first", "", "x\n", 3, &first));
    ui.frame(drawModalFrame);
    ui.frame(drawModalFrame);
    ui.click(drawModalFrame, buttons[1]);
    ASSERT_TRUE(showModalMessage("second", "", "x\n", 3, &second));
    ModalReply reply;
    ASSERT_TRUE(pollModalAnswer(first, reply));
    EXPECT_TRUE(reply.confirmed);
    EXPECT_FALSE(pollModalAnswer(second, reply));
    ui.frame(drawModalFrame);
    ui.frame(drawModalFrame);
    ui.click(drawModalFrame, buttons[0]);
    ASSERT_TRUE(pollModalAnswer(second, reply));
    EXPECT_FALSE(reply.confirmed);

    // A task that gives up withdraws its question; the window goes, the next one opens.
    int looks = 0;
    reply = askModalQuestion("given up", "", "x\n", 3, [&] { return ++looks < 3; }, 1);
    EXPECT_FALSE(reply.confirmed);
    ui.frame(drawModalFrame);
    EXPECT_FALSE(isModalMessageOpen());
    ASSERT_TRUE(showModalMessage("next", "", "x\n", 3, &first));
    ui.frame(drawModalFrame);
    uint64_t later = 0;
    EXPECT_FALSE(showModalMessage("later", "", "x\n", 3, &later));
    withdrawModalMessage(first);
    EXPECT_TRUE(isModalMessageOpen()) << "a shown window is taken down by its next frame";
    ui.frame(drawModalFrame);
    EXPECT_FALSE(isModalMessageOpen());

    // Nothing could answer a question without buttons.
    EXPECT_FALSE(askModalQuestion("none", "", "x\n", 0, {}, 1).confirmed);
    EXPECT_FALSE(isModalMessageOpen());
}

TEST(ConfirmRequest, BackupPathMap) {
    {
        std::lock_guard<std::mutex> lock(backupPathMapMutex);
        backupPathMap.clear();
        CopyStatusRecord record;
        record.status = 1;
        backupPathMap[backupPathMapKey(L"Backup")][L"/data/a.txt"] = record;
    }
    EXPECT_TRUE(hasBackupPathEntry(L"BACKUP"));
    EXPECT_TRUE(hasBackupPathEntry(L"backup"));
    EXPECT_FALSE(hasBackupPathEntry(L"restore"));

    EXPECT_TRUE(clearBackupPathEntry(L"bAcKuP"));
    EXPECT_TRUE(hasBackupPathEntry(L"backup")) << "clearing keeps the entry";
    {
        std::lock_guard<std::mutex> lock(backupPathMapMutex);
        EXPECT_TRUE(backupPathMap[L"backup"].empty());
    }
    EXPECT_FALSE(clearBackupPathEntry(L"restore"));

    EXPECT_TRUE(removeBackupPathEntry(L"BACKUP"));
    EXPECT_FALSE(hasBackupPathEntry(L"backup"));
    EXPECT_FALSE(removeBackupPathEntry(L"backup"));
}

// The window's answer wakes the asking task at once, not at its next look.
TEST(ConfirmRequest, AnAnswerWakesTheAskingTaskAtOnce) {
    HeadlessImGui ui;
    initUIButtonTable();
    resetModal();
    const std::vector<ImVec2> buttons = twoButtons(ui);
    ASSERT_EQ(buttons.size(), 2u);
    std::atomic<int> answer{0};  // 1 OK, 2 Cancel
    std::thread task([&] { answer = askModalQuestion("slow looks", "", "x\n", 3, {}, 30000).confirmed ? 1 : 2; });
    while (currentTitle().empty()) pauseMs(1);
    ui.frame(drawModalFrame);
    ui.frame(drawModalFrame);
    ui.click(drawModalFrame, buttons[1]);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (answer == 0 && std::chrono::steady_clock::now() < deadline) pauseMs(1);
    EXPECT_EQ(answer.load(), 1) << "the task waited for its next look, 30 s after the question";
    task.join();
}
