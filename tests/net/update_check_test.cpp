#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "foundation/app_config.h"
#include "foundation/app_log.h"
#include "foundation/app_version.h"
#include "foundation/data_packet.h"
#include "foundation/global_defaults.h"
#include "foundation/watch_folders.h"
#include "platform/text.h"
#include "test_env.h"
#include "update_server_test.h"

namespace {

const std::string kUpdateFile(kUpdateDescriptionPath);

std::vector<std::wstring> logTexts() {
    std::vector<std::wstring> texts;
    for (const AppLogEntry& entry : appLogSnapshot().entries) texts.push_back(entry.key);
    return texts;
}

size_t logCountWith(const std::wstring& text) {
    size_t count = 0;
    for (const std::wstring& line : logTexts()) count += line.find(text) != std::wstring::npos;
    return count;
}

class UpdateCheck : public UpdateServerTest {
protected:
    void SetUp() override {
        UpdateServerTest::SetUp();
        if (HasFatalFailure()) return;
        {
            std::lock_guard<std::mutex> guard(appSettingsMutex);
            appSettings = AppSettings{};
        }
        removeAppLogEntriesOfKind(0xFFFFFFFF);
        std::filesystem::remove(server.folder + "/delay_ms");
    }
    void TearDown() override {
        UpdateServerTest::TearDown();
        removeAppLogEntriesOfKind(0xFFFFFFFF);
    }
    static void serveDescription(const std::string& boot, const std::string& version, const std::string& older) {
        serveFile(server, kUpdateFile, "{\r\n \"version\": 1,\r\n \"data\": \"" + packedItems(boot, version, older) + "\"\r\n}");
    }
};

TEST_F(UpdateCheck, RemoteVersionAcceptsOnlyVersions) {
    std::atomic<int> rebuilds{0};
    setAboutWindowHooks([&] { ++rebuilds; }, nullptr);
    EXPECT_EQ(remoteAppVersion(), kInitialRemoteVersion);
    struct Case {
        const char* served;
        bool accepted;
        const char* remote;
        bool newer;
    };
    for (const Case& c : {Case{"2.000.0006", true, "2.000.0006", true},
                          Case{"2.000.0005\n", true, "2.000.0005", false},
                          Case{"10.000.0000\r\n", true, "10.000.0000", true},
                          Case{"1.999.0000", true, "1.999.0000", false},
                          Case{"<html>moved</html>", false, "1.999.0000", false},
                          Case{"2.000.0007 beta", false, "1.999.0000", false}}) {
        serveFile(server, kVersionFile, c.served);
        EXPECT_EQ(fetchRemoteAppVersion(), c.accepted) << c.served;
        EXPECT_EQ(remoteAppVersion(), c.remote) << c.served;
        EXPECT_EQ(isNewerVersion(kOwnAppVersion, remoteAppVersion()), c.newer) << c.served;
    }
    EXPECT_EQ(rebuilds.load(), 6);  // the about information follows every fetch

    // An error page is no version.
    std::filesystem::remove(server.folder + "/www" + kVersionFile);
    EXPECT_FALSE(fetchRemoteAppVersion());
    EXPECT_EQ(remoteAppVersion(), "1.999.0000");

    // One fetch at a time: a second one while the first waits asks nothing.
    serveFile(server, kVersionFile, "3.0");
    writeTestFile(server.folder + "/delay_ms", "700");
    const int before = requestCount(server, kVersionFile);
    std::atomic<bool> first{false};
    std::thread slow([&] { first = fetchRemoteAppVersion(); });
    while (requestCount(server, kVersionFile) == before) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_FALSE(fetchRemoteAppVersion());
    slow.join();
    EXPECT_TRUE(first.load());
    EXPECT_EQ(requestCount(server, kVersionFile), before + 1);
    EXPECT_EQ(remoteAppVersion(), "3.0");

    // The about refresh rebuilds, then shows.
    std::atomic<int> shown{0};
    setAboutWindowHooks([&] { ++rebuilds; }, [&] { shown = rebuilds.load(); });
    startAboutRefreshThread();
    stopNetworkWork();
    EXPECT_EQ(shown.load(), 9);
}

TEST_F(UpdateCheck, UpdateDescriptionIsTheDataMember) {
    serveFile(server, kUpdateFile, "{'other':'x',\r\n'data':'ABC+/='}");
    EXPECT_EQ(readUpdateDescription(), 1);
    EXPECT_EQ(updateDescription(), "ABC+/=");
    for (const char* text : {"{\"other\":\"x\"}", "no object at all", "{\"data\":[]}"}) {
        serveFile(server, kUpdateFile, text);
        EXPECT_EQ(readUpdateDescription(), 0) << text;
        EXPECT_EQ(updateDescription(), "") << text;
    }
    // Bytes above 127 come through as they stand; the text ends at a zero byte.
    serveFile(server, kUpdateFile, std::string("{\"data\":\"\xc3\xa9t\xff\"}\0{\"data\":\"later\"}", 30));
    EXPECT_EQ(readUpdateDescription(), 1);
    EXPECT_EQ(updateDescription(), "\xc3\xa9t\xff");
    std::filesystem::remove(server.folder + "/www" + kUpdateFile);
    EXPECT_EQ(readUpdateDescription(), 0);
    EXPECT_FALSE(checkApplicationStateAndNotify());
}

TEST_F(UpdateCheck, NoticesAreToldOncePerNewText) {
    serveDescription("Hello from the maker", "2.000.0010", "There is an updated version of Varnholt");
    configurationSaved = true;
    EXPECT_TRUE(checkApplicationStateAndNotify());
    EXPECT_FALSE(configurationSaved.load());
    EXPECT_EQ(logCountWith(L"Start-Up Message: Hello from the maker"), 1u);
    EXPECT_EQ(logCountWith(L"There is an updated version of Varnholt"), 1u);
    {
        std::lock_guard<std::mutex> guard(appSettingsMutex);
        EXPECT_EQ(appSettings.lastBootMessage, "Hello from the maker");
        EXPECT_EQ(appSettings.lastAppVersion, "2.000.0010");
        EXPECT_EQ(appSettings.lastVersionMessage, "There is an updated version of Varnholt");
    }
    // The same description again: nothing new.
    configurationSaved = true;
    EXPECT_TRUE(checkApplicationStateAndNotify());
    EXPECT_TRUE(configurationSaved.load());
    EXPECT_EQ(logTexts().size(), 2u);

    // A later release with the same message is told again; an equal or an
    // older one, or one that is no version, is not, whatever its message.
    serveDescription("Hello from the maker", "2.000.0011", "There is an updated version of Varnholt");
    EXPECT_TRUE(checkApplicationStateAndNotify());
    EXPECT_EQ(logCountWith(L"There is an updated version of Varnholt"), 2u);
    for (const char* version : {"2.000.0005", "1.000.0000", "2.000.0012-rc"}) {
        serveDescription("Hello from the maker", version, std::string("Release ") + version);
        EXPECT_TRUE(checkApplicationStateAndNotify());
        EXPECT_EQ(logCountWith(L"Release "), 0u) << version;
    }
    // "10.000.0000" is newer than "2.000.0005".
    serveDescription("Hello from the maker", "10.000.0000", "Version ten");
    EXPECT_TRUE(checkApplicationStateAndNotify());
    EXPECT_EQ(logCountWith(L"Version ten"), 1u);

    // A description that does not unpack counts as the default items.
    serveFile(server, kUpdateFile, "{\"data\":\"not a packed record\"}");
    EXPECT_TRUE(checkApplicationStateAndNotify());
    EXPECT_EQ(logCountWith(L"Start-Up Message: Welcome to \"Varnholt\""), 1u);
    std::lock_guard<std::mutex> guard(appSettingsMutex);
    EXPECT_EQ(appSettings.lastAppVersion, "1.000.000");
}

TEST_F(UpdateCheck, EveryStartTellsTheStoredStartUpMessage) {
    {
        std::lock_guard<std::mutex> guard(appSettingsMutex);
        appSettings.lastBootMessage = "Stored hello";
    }
    const auto startAndWait = [](const wchar_t* text, size_t count) {
        startApplicationStateCheck();
        for (int i = 0; i < 2000 && logCountWith(text) < count; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        EXPECT_EQ(logCountWith(text), count) << text;
    };
    std::filesystem::remove(server.folder + "/www" + kUpdateFile);  // the server has nothing
    startAndWait(L"Start-Up Message: Stored hello", 1);
    startAndWait(L"Start-Up Message: Stored hello", 2);
    serveDescription("New hello", "2.000.0005", "x");  // a new message is told once
    startAndWait(L"Start-Up Message: New hello", 1);
    EXPECT_TRUE(stopNetworkWork());
    EXPECT_EQ(logCountWith(L"Start-Up Message: New hello"), 1u);
    EXPECT_EQ(logCountWith(L"Start-Up Message: Stored hello"), 2u);
}

TEST_F(UpdateCheck, ChecksAtTheSameTimeAskOnce) {
    serveDescription("Once", "2.000.0009", "Newer");
    writeTestFile(server.folder + "/delay_ms", "1500");
    const int before = requestCount(server, kUpdateFile);
    std::vector<std::thread> threads;
    std::atomic<int> succeeded{0};
    for (int i = 0; i < 4; ++i) threads.emplace_back([&] { succeeded += checkApplicationStateAndNotify(); });
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(succeeded.load(), 4);
    EXPECT_EQ(requestCount(server, kUpdateFile), before + 1);
    EXPECT_EQ(logCountWith(L"Start-Up Message: Once"), 1u);
    EXPECT_EQ(logCountWith(L"Newer"), 1u);

    // Started in the background and stopped: the request is cancelled at once.
    timings().shutdownGraceMs = 30000;
    writeTestFile(server.folder + "/delay_ms", "20000");
    const auto started = std::chrono::steady_clock::now();
    startApplicationStateCheck();
    while (requestCount(server, kUpdateFile) == before + 1 && std::chrono::steady_clock::now() - started < std::chrono::seconds(20))
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_TRUE(stopNetworkWork());
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(15));
    resetTimings();
}

}  // namespace
