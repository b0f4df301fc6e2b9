// Removing a folder entry on temp folders with real archived files: each
// answer of the question checked on disk, and a sibling folder whose name
// extends the removed one's never touched.
#include <thread>

#include "window_test_support.h"
#include "windows/placeholder_windows.h"

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
    const auto removed = [this] {
        std::lock_guard<std::mutex> lock(watchFolderMutex);
        return watchFolderMap.at(folders.watch).removed;
    };
    const auto removeWith = [this](bool ok, std::vector<bool> bits) {
        std::string body;
        std::thread answer([&] { body = answerNextQuestion(ModalReply{ok, bits}); });
        configurationSaved = true;
        confirmRemoveFolderEntry(folders.watch);
        answer.join();
        return body;
    };

    const std::string body = removeWith(false, {true, true});
    EXPECT_NE(body.find("Watch\n?1 automatically archived files\n?0 backup sets with 0 file versions\n"),
              std::string::npos)
        << body;
    EXPECT_FALSE(removed()) << "Cancel leaves everything";
    EXPECT_TRUE(exists(copy));
    EXPECT_TRUE(configurationSaved.load());

    removeWith(true, {false, false});
    EXPECT_TRUE(removed());
    EXPECT_TRUE(exists(copy)) << "nothing ticked, nothing erased";
    EXPECT_FALSE(configurationSaved.load());

    for (const std::vector<bool>& bits : {std::vector<bool>{false, true}, std::vector<bool>{true, false}}) {
        {
            std::lock_guard<std::mutex> lock(watchFolderMutex);
            watchFolderMap.at(folders.watch).removed = false;
        }
        removeWith(true, bits);
        EXPECT_TRUE(removed());
    }
    EXPECT_FALSE(exists(copy)) << "the archived versions are erased";
    EXPECT_TRUE(exists(siblingCopy)) << "the sibling folder keeps its archive";
    EXPECT_EQ(versionsOf(siblingFile).size(), 1u);
    std::lock_guard<std::mutex> lock(watchFolderMutex);
    EXPECT_FALSE(watchFolderMap.at(sibling).removed);
}
