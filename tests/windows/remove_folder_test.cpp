// Removing a folder entry on temp folders with real archived files: each
// answer of the question checked on disk (automatic versions, backup sets
// and their copies), and a sibling folder whose name extends the removed
// one's never touched.
#include <algorithm>
#include <thread>

#include "window_test_support.h"
#include "windows/main_window_parts.h"

namespace {
// Answers the next question with `reply` and keeps its body.
std::string answerNextQuestion(const ModalReply& reply) {
    for (int i = 0; i < 20000; ++i) {
        {
            std::lock_guard<std::mutex> lock(modalMessageMutex);
            ModalMessageState& s = modalMessage;
            if (s.open) {
                s.answers[s.ticket] = reply;
                s.open = false;
                s.firstFrame = false;
                return s.body;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return "";
}
}  // namespace

TEST_F(MainWindowTest, RemoveFolderEntryErasesWhatWasTicked) {
    const std::wstring sibling = folders.watch + L"2";
    const std::wstring siblingArchive = folders.archive + L"2";
    std::filesystem::create_directories(wideToUtf8(sibling));
    std::filesystem::create_directories(wideToUtf8(siblingArchive));
    addFolder(sibling, siblingArchive, kCollisionAppendVersion);
    const std::wstring file = write(L"a.txt", "one");
    const std::wstring siblingFile = sibling + L"/b.txt";
    ASSERT_TRUE(writeTestFile(wideToUtf8(siblingFile), "two"));
    queue(file);
    queue(siblingFile);
    runCopier();
    ASSERT_EQ(versionsOf(file).size(), 1u);
    ASSERT_EQ(versionsOf(siblingFile).size(), 1u);
    const std::wstring copy = versionsOf(file)[0];
    const std::wstring siblingCopy = versionsOf(siblingFile)[0];
    // Two backup sets of the folder holding three copies.
    std::vector<std::wstring> setFiles, setCopies;
    for (int n = 0; n < 2; ++n) {
        BackupSetRecord set;
        for (int i = 0; i <= n; ++i) {
            BackupSetEntry e;
            e.sourcePath = folders.watch + L"/set" + std::to_wstring(n) + L"-" + std::to_wstring(i) + L".txt";
            e.archivePath = archived(L"set" + std::to_wstring(n) + L"-" + std::to_wstring(i) + L".txt");
            e.copied = true;
            ASSERT_TRUE(writeTestFile(wideToUtf8(e.archivePath), "set copy"));
            setCopies.push_back(e.archivePath);
            set.files[e.sourcePath] = e;
        }
        setFiles.push_back(backupSetStagingFilePath(folders.watch, L"Set " + std::to_wstring(n)));
        ASSERT_TRUE(saveBackupSetFile(setFiles.back(), set));
    }
    const auto allExist = [](const std::vector<std::wstring>& paths) {
        return std::all_of(paths.begin(), paths.end(), [](const std::wstring& p) { return exists(p); });
    };
    const auto noneExist = [](const std::vector<std::wstring>& paths) {
        return std::none_of(paths.begin(), paths.end(), [](const std::wstring& p) { return exists(p); });
    };
    const auto removed = [this] {
        std::lock_guard<std::mutex> lock(watchFolderMutex);
        return watchFolderMap.at(folders.watch).removed;
    };
    const auto removeWith = [this](bool ok, std::vector<bool> bits) {
        {
            std::lock_guard<std::mutex> lock(watchFolderMutex);
            watchFolderMap.at(folders.watch).removed = false;
        }
        std::string body;
        std::thread answer([&] { body = answerNextQuestion(ModalReply{ok, bits}); });
        configurationSaved = true;
        confirmRemoveFolderEntry(folders.watch);
        answer.join();
        return body;
    };

    {
        std::lock_guard<std::mutex> lock(watchFolderMutex);
        watchFolderMap.at(folders.watch).displayName = L"Old\\Watch";  // a "\" is part of a name
    }
    const std::string body = removeWith(false, {true, true});
    EXPECT_NE(body.find("Old\\Watch\n?1 automatically archived files\n?2 backup sets with 3 file versions\n"),
              std::string::npos)
        << body;
    EXPECT_FALSE(removed()) << "Cancel leaves everything";
    EXPECT_TRUE(exists(copy));
    EXPECT_TRUE(allExist(setFiles) && allExist(setCopies));
    EXPECT_TRUE(configurationSaved.load());

    removeWith(true, {false, false});
    EXPECT_TRUE(removed());
    EXPECT_TRUE(exists(copy) && allExist(setFiles) && allExist(setCopies)) << "nothing ticked, nothing erased";
    EXPECT_FALSE(configurationSaved.load());

    removeWith(true, {false, true});
    EXPECT_TRUE(removed());
    EXPECT_TRUE(noneExist(setFiles) && noneExist(setCopies)) << "the sets and their copies are erased";
    EXPECT_TRUE(exists(copy)) << "the automatically archived version stays";

    removeWith(true, {true, false});
    EXPECT_TRUE(removed());
    EXPECT_FALSE(exists(copy)) << "the archived versions are erased";
    EXPECT_TRUE(versionsOf(file).empty());
    EXPECT_TRUE(exists(file)) << "the user's own file stays";
    EXPECT_TRUE(exists(siblingCopy)) << "the sibling folder keeps its archive";
    EXPECT_EQ(versionsOf(siblingFile).size(), 1u);
    std::lock_guard<std::mutex> lock(watchFolderMutex);
    EXPECT_FALSE(watchFolderMap.at(sibling).removed);
}

TEST_F(MainWindowTest, AFolderNameCannotAddAnOptionToTheRemoveQuestion) {
    {
        std::lock_guard<std::mutex> lock(watchFolderMutex);
        watchFolderMap.at(folders.watch).displayName = L"Work\n?Keep settings";
    }
    const std::wstring file = write(L"a.txt", "one");
    queue(file);
    runCopier();
    ASSERT_EQ(versionsOf(file).size(), 1u);
    const std::wstring copy = versionsOf(file)[0];
    std::thread remove([this] { confirmRemoveFolderEntry(folders.watch); });
    ASSERT_TRUE(eventually([] { std::lock_guard<std::mutex> l(modalMessageMutex); return modalMessage.open; }, &ui));
    // The user ticks the box on the line that reads "automatically archived files".
    const std::string shown = ui.frameText(drawModalMessage);
    size_t box = 0;
    for (size_t at = shown.find("[ ]"); at < shown.find("automatically archived files"); at = shown.find("[ ]", at + 1))
        ++box;
    const std::vector<ImVec2> boxes = ui.itemsDown(drawItemsFrame, HeadlessImGui::findWindow("ChildL-0"));
    ASSERT_GE(box, 1u);
    ASSERT_GE(boxes.size(), box);
    ui.click(drawItemsFrame, boxes[box - 1]);
    ASSERT_TRUE(ui.clickButton(drawItemsFrame, "bkmdok"));
    remove.join();
    EXPECT_FALSE(exists(copy)) << "what the ticked line names is erased";
}
