#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <mutex>

#include "engine/default_watch_folder.h"
#include "foundation/watch_folders.h"
#include "platform/file_system.h"
#include "platform/text.h"
#include "test_env.h"

TEST(DefaultWatchFolder, AddsDocumentsWithAnArchiveOnTheHomeDriveOnce) {
    const std::string home = std::getenv("HOME");
    // One real file system at "/": the drive holding $HOME counts as $HOME.
    setMountTableOverride(std::string("/dev/vda / ext4 rw,relatime 0 0\nproc /proc proc rw 0 0\n"));
    EXPECT_EQ(addDefaultWatchFolder(), L"") << "no Documents folder yet";

    std::filesystem::create_directories(home + "/Documents/Letters");
    const std::wstring key = addDefaultWatchFolder();
    EXPECT_EQ(key, utf8ToWide(home + "/Documents"));
    const std::string archive = home + "/QZR_ARCHIVE_ROOT/Documents";
    EXPECT_TRUE(std::filesystem::is_directory(archive));
    {
        std::lock_guard<std::mutex> lock(watchFolderMutex);
        ASSERT_EQ(watchFolderMap.count(key), 1u);
        EXPECT_EQ(watchFolderMap[key].displayName, L"Documents");
        EXPECT_EQ(watchFolderMap[key].archivePath.rfind(utf8ToWide(archive), 0), 0u);
    }
    EXPECT_TRUE(isFileExtensionIncluded(key, key + L"/Letters/plan.odt")) << "its files are archived";
    EXPECT_FALSE(configurationSaved.load());
    EXPECT_EQ(addDefaultWatchFolder(), L"") << "a folder already watched is not added twice";

    // An unset USERPROFILE expands to "?": nothing is created or watched.
    unsetenv("USERPROFILE");
    EXPECT_EQ(addDefaultWatchFolder(), L"");
    setenv("USERPROFILE", home.c_str(), 1);
    setMountTableOverride(std::nullopt);
}
