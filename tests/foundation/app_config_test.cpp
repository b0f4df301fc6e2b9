#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "foundation/app_config.h"
#include "foundation/app_log.h"
#include "foundation/data_files.h"
#include "foundation/data_packet.h"
#include "foundation/data_record.h"
#include "foundation/version_records.h"
#include "platform/text.h"
#include "test_env.h"

namespace {

// Each test gets its own data folder and starts from empty globals.
std::string freshStart() {
    const std::string local = makeTestFolder("local");
    setenv("LOCALAPPDATA", local.c_str(), 1);
    {
        std::lock_guard lock(watchFolderMutex);
        watchFolderMap.clear();
        defaultFolderMap.clear();
    }
    {
        std::lock_guard lock(extensionMapMutex);
        extensionMap.clear();
        defaultExtensionMap.clear();
    }
    {
        std::lock_guard lock(appSettingsMutex);
        appSettings = AppSettings{};
    }
    {
        std::lock_guard lock(statisticsMutex);
        applicationStatsMap.clear();
    }
    removeRecordSection("main");
    removeRecordSection("user");
    return local + "/Morvane/QZR/ConfigData/";
}

// Forgets everything in memory, as a new process would.
void forgetInMemory() {
    const char* local = std::getenv("LOCALAPPDATA");
    const std::string keep = local;
    freshStart();
    setenv("LOCALAPPDATA", keep.c_str(), 1);
}

bool fileExists(const std::string& path) { return std::filesystem::exists(path); }

ScheduleTrigger sampleTrigger(int seed) {
    ScheduleTrigger t;
    t.active = 1;
    t.repeatType = 2;
    t.weekdayMask = 0x41;
    t.activationDate = 17000000000000000 + seed * 10000;
    t.creationTime = 17000000000010000 + seed * 10000;
    t.nextTrigger = 17000000864000000 + seed * 10000;
    t.lastTrigger = 16999999999990000;
    t.result = 3;
    return t;
}

bool sameTrigger(const ScheduleTrigger& a, const ScheduleTrigger& b) {
    return a.active == b.active && a.repeatType == b.repeatType && a.weekdayMask == b.weekdayMask &&
           a.activationDate == b.activationDate && a.creationTime == b.creationTime &&
           a.nextTrigger == b.nextTrigger && a.lastTrigger == b.lastTrigger && a.result == b.result;
}

}  // namespace

TEST(AppConfig, FirstStartWithoutFiles) {
    const std::string config = freshStart();
    bool started = false;
    setEngineStarter([&] { started = true; });
    ASSERT_TRUE(loadAppConfiguration());
    setEngineStarter(nullptr);
    EXPECT_TRUE(started);
    EXPECT_TRUE(configurationSaved);
    EXPECT_TRUE(std::filesystem::is_directory(config));
    EXPECT_EQ(wideToUtf8(configurationFolderPath()) + "/", config);
    EXPECT_EQ(traceLogPath, config + "logString.txt");
    {
        std::lock_guard lock(appSettingsMutex);
        EXPECT_TRUE(appSettings.showUI);
        EXPECT_FALSE(appSettings.startWithLogin);
    }
    {
        std::lock_guard lock(watchFolderMutex);
        EXPECT_TRUE(watchFolderMap.empty());
        // windir and SystemRoot both expand to /usr: five distinct folders.
        EXPECT_EQ(defaultFolderMap.size(), 5u);
        ASSERT_TRUE(defaultFolderMap.count(L"/usr"));
        EXPECT_EQ(defaultFolderMap.at(L"/usr").folderType, kFolderTypeExclude);
        EXPECT_TRUE(defaultFolderMap.count(utf8ToWide(std::getenv("LOCALAPPDATA"))));
    }
    {
        std::lock_guard lock(extensionMapMutex);
        EXPECT_EQ(defaultExtensionMap.size(), 15u);
        EXPECT_EQ(defaultExtensionMap.at(L"vcxproj").text, L"vcxproj");
    }
    EXPECT_FALSE(fileExists(config + "Config.dat.bad"));
    ASSERT_TRUE(saveAppConfiguration());
    EXPECT_TRUE(fileExists(config + "Config.dat"));
    EXPECT_TRUE(fileExists(config + "User.dat"));

    // A second start reads the saved files and finds the same.
    forgetInMemory();
    ASSERT_TRUE(loadAppConfiguration());
    std::lock_guard lock(appSettingsMutex);
    EXPECT_TRUE(appSettings.showUI);
    EXPECT_FALSE(fileExists(config + "User.dat.bad"));
}

TEST(AppConfig, RoundTripOfEveryKeyListAndTrigger) {
    freshStart();
    ASSERT_TRUE(loadAppConfiguration());
    AppSettings wanted;
    wanted.misc = -7;
    wanted.enabled = 123456;
    wanted.uiStyle = 3;
    wanted.folderChoice = 1;
    wanted.applicationChoice = 2;
    wanted.extensionFilter = 4;
    wanted.guid = "0f8e6b2a-1234-4abc-9def-001122334455";
    wanted.hwguid = "{00000000-1111-4222-8333-444444444444}";
    wanted.userName = "Ann \xC3\xA9";
    wanted.userEmail = "ann@example.org";
    wanted.userMessage = "line one\nline two";
    wanted.userReason = 2;
    wanted.lastBootMessage = "boot";
    wanted.lastAppVersion = "2.000.0010";
    wanted.lastVersionMessage = "newer";
    wanted.showUI = false;
    wanted.startWithLogin = true;
    {
        std::lock_guard lock(appSettingsMutex);
        appSettings = wanted;
    }
    WatchFolderEntry a;
    a.archivePath = L"/arch/Docs";
    a.folderType = kFolderTypeFolder;
    a.collisionOption = kCollisionSingleBackup;
    a.preserveHierarchy = false;
    a.thirdFlag = false;
    ASSERT_TRUE(updateWatchFolderList(L"/home/Ann/Docs \u00e9", a, false));
    WatchFolderEntry b;
    b.archivePath = L"/arch/Work";
    b.collisionOption = kCollisionAppendVersion;
    ASSERT_TRUE(updateWatchFolderList(L"/home/ann/Work 1", b, false));
    b.folderType = kFolderTypeExclude;
    b.collisionOption = kCollisionOverwrite;
    ASSERT_TRUE(updateWatchFolderList(L"/home/ann/Work 2", b, false));
    b.folderType = kFolderTypeDisable;
    ASSERT_TRUE(updateWatchFolderList(L"/gone", b, false));
    {
        std::lock_guard lock(watchFolderMutex);
        auto& docs = watchFolderMap.at(L"/home/Ann/Docs \u00e9");
        docs.extensionMap[L"pdf"] = ExtensionEntry{L"Portable", true, true};
        docs.extensionMap[L"tmp"] = ExtensionEntry{L"", false, false};
        docs.scheduleTriggers = {sampleTrigger(1), sampleTrigger(2)};
        // These two share the entry name _home_ann_work___sci.
        watchFolderMap.at(L"/home/ann/Work 1").scheduleTriggers = {sampleTrigger(3)};
        watchFolderMap.at(L"/home/ann/Work 2").scheduleTriggers = {sampleTrigger(4), sampleTrigger(5)};
        watchFolderMap.at(L"/gone").removed = true;
    }
    {
        std::lock_guard lock(statisticsMutex);
        applicationStatsMap[L"/usr/bin/editor"] = ApplicationRecord{L"Editor", 0, 0, 0, true, true, false, 0, 0.0};
        applicationStatsMap[L"/usr/bin/quiet"] = ApplicationRecord{L"quiet: x", 0, 0, 0, false, false, false, 0, 0.0};
    }
    EXPECT_EQ(scheduleEntryName(L"/home/ann/Work 1"), scheduleEntryName(L"/home/ann/Work 2"));
    configurationSaved = false;
    ASSERT_TRUE(saveAppConfiguration());
    EXPECT_TRUE(configurationSaved);

    forgetInMemory();
    ASSERT_TRUE(loadAppConfiguration());
    {
        std::lock_guard lock(appSettingsMutex);
        const AppSettings& s = appSettings;
        EXPECT_EQ(s.misc, wanted.misc);
        EXPECT_EQ(s.enabled, wanted.enabled);
        EXPECT_EQ(s.uiStyle, wanted.uiStyle);
        EXPECT_EQ(s.folderChoice, wanted.folderChoice);
        EXPECT_EQ(s.applicationChoice, wanted.applicationChoice);
        EXPECT_EQ(s.extensionFilter, wanted.extensionFilter);
        EXPECT_EQ(s.guid, wanted.guid);
        EXPECT_EQ(s.hwguid, wanted.hwguid);
        EXPECT_EQ(s.userName, wanted.userName);
        EXPECT_EQ(s.userEmail, wanted.userEmail);
        EXPECT_EQ(s.userMessage, wanted.userMessage);
        EXPECT_EQ(s.userReason, wanted.userReason);
        EXPECT_EQ(s.lastBootMessage, wanted.lastBootMessage);
        EXPECT_EQ(s.lastAppVersion, wanted.lastAppVersion);
        EXPECT_EQ(s.lastVersionMessage, wanted.lastVersionMessage);
        EXPECT_EQ(s.showUI, wanted.showUI);
        EXPECT_EQ(s.startWithLogin, wanted.startWithLogin);
    }
    {
        std::lock_guard lock(watchFolderMutex);
        ASSERT_EQ(watchFolderMap.size(), 3u);  // the removed folder is not saved
        const auto& docs = watchFolderMap.at(L"/home/Ann/Docs \u00e9");
        EXPECT_EQ(docs.displayName, L"Docs \u00e9");
        EXPECT_EQ(docs.archivePath, L"/arch/Docs");
        EXPECT_EQ(docs.folderType, kFolderTypeFolder);
        EXPECT_EQ(docs.collisionOption, kCollisionSingleBackup);
        EXPECT_FALSE(docs.preserveHierarchy);
        EXPECT_FALSE(docs.thirdFlag);
        ASSERT_EQ(docs.extensionMap.size(), 2u);
        EXPECT_EQ(docs.extensionMap.at(L"pdf").text, L"Portable");
        EXPECT_TRUE(docs.extensionMap.at(L"pdf").included);
        EXPECT_FALSE(docs.extensionMap.at(L"tmp").included);
        ASSERT_EQ(docs.scheduleTriggers.size(), 2u);
        EXPECT_TRUE(sameTrigger(docs.scheduleTriggers[0], sampleTrigger(1)));
        EXPECT_TRUE(sameTrigger(docs.scheduleTriggers[1], sampleTrigger(2)));
        const auto& work1 = watchFolderMap.at(L"/home/ann/Work 1");
        EXPECT_EQ(work1.collisionOption, kCollisionAppendVersion);
        EXPECT_EQ(work1.folderType, kFolderTypeDescendents);
        EXPECT_TRUE(work1.preserveHierarchy);
        EXPECT_TRUE(work1.thirdFlag);
        ASSERT_EQ(work1.scheduleTriggers.size(), 1u);
        EXPECT_TRUE(sameTrigger(work1.scheduleTriggers[0], sampleTrigger(3)));
        const auto& work2 = watchFolderMap.at(L"/home/ann/Work 2");
        EXPECT_EQ(work2.folderType, kFolderTypeExclude);
        EXPECT_EQ(work2.collisionOption, kCollisionOverwrite);
        ASSERT_EQ(work2.scheduleTriggers.size(), 2u);
        EXPECT_TRUE(sameTrigger(work2.scheduleTriggers[1], sampleTrigger(5)));
    }
    std::lock_guard lock(statisticsMutex);
    ASSERT_EQ(applicationStatsMap.size(), 2u);
    EXPECT_EQ(applicationStatsMap.at(L"/usr/bin/editor").displayName, L"Editor");
    EXPECT_TRUE(applicationStatsMap.at(L"/usr/bin/editor").monitorFocus);
    EXPECT_FALSE(applicationStatsMap.at(L"/usr/bin/quiet").monitorFocus);
}

TEST(AppConfig, ScheduleRecordLayoutAndConversions) {
    ScheduleTrigger t;
    t.active = 7;
    t.repeatType = 0x10004;  // narrowed to 16 bits
    t.weekdayMask = 0x7F;
    t.activationDate = 15;   // below one millisecond
    t.creationTime = 12345678;
    t.nextTrigger = -25000;  // rounds toward zero
    t.lastTrigger = 864000000000;
    t.result = 5;
    ScheduleRecord r;
    r.fill(0xEE);
    ASSERT_TRUE(ticksToMillis(t, r));
    EXPECT_EQ(r[0], 1);
    EXPECT_EQ(r[1], 0);
    EXPECT_EQ(r[2], 4);
    EXPECT_EQ(r[3], 0);
    EXPECT_EQ(r[4], 0x7F);
    EXPECT_EQ(r[5] | r[6] | r[7], 0);
    for (int i = 8; i < 16; ++i) EXPECT_EQ(r[i], 0);
    EXPECT_EQ(r[16], 1234 & 0xFF);
    EXPECT_EQ(r[17], 1234 >> 8);
    EXPECT_EQ(r[24], 0xFE);  // -2 ms
    EXPECT_EQ(r[31], 0xFF);
    EXPECT_EQ(r[40], 5);
    for (int i = 42; i < 48; ++i) EXPECT_EQ(r[i], 0);

    ScheduleTrigger back;
    ASSERT_TRUE(millisToTicks(r, back));
    EXPECT_EQ(back.active, 1);
    EXPECT_EQ(back.repeatType, 4);
    EXPECT_EQ(back.weekdayMask, 0x7F);
    EXPECT_EQ(back.activationDate, 0);
    EXPECT_EQ(back.creationTime, 12340000);
    EXPECT_EQ(back.nextTrigger, -20000);
    EXPECT_EQ(back.lastTrigger, 864000000000);
    EXPECT_EQ(back.result, 5);

    EXPECT_EQ(decodeUInt64Field(encodeUInt64Field(0x0123456789ABCDEFull)), 0x0123456789ABCDEFull);
    EXPECT_EQ(decodeUInt64Field(base64Convert(std::string(7, 'x'))), 0u);
    EXPECT_EQ(decodeUInt64Field(""), 0u);
    EXPECT_EQ(scheduleEntryName(L"C:/Work 2"), "c__work___sci");
}

TEST(AppConfig, ShowUIIsOnOnlyForLowerCaseS) {
    for (const char* text : {"S", "1", "", "s"}) {
        freshStart();
        ASSERT_TRUE(loadAppConfiguration());
        addRecordSection(appDataRecord, "main");
        auto section = getRecordSection(appDataRecord, "main");
        setRecordString(section, "ShowUI", text, 0);
        setRecordString(section, "StartWithLogin", text, 0);
        ASSERT_TRUE(saveDataRecordFile(appDataRecord, "main", configFilePath, kDataFilePassPhrase));
        forgetInMemory();
        ASSERT_TRUE(loadAppConfiguration());
        std::lock_guard lock(appSettingsMutex);
        EXPECT_EQ(appSettings.showUI, std::string(text) == "s") << text;
        EXPECT_EQ(appSettings.startWithLogin, std::string(text) == "s") << text;
    }
}

TEST(AppConfig, DamagedFilesAreKeptBeforeTheNextSave) {
    const std::string config = freshStart();
    ASSERT_TRUE(loadAppConfiguration());
    ASSERT_TRUE(updateWatchFolderList(L"/data/Mine", WatchFolderEntry{}, false));
    {
        std::lock_guard lock(appSettingsMutex);
        appSettings.uiStyle = 2;
    }
    ASSERT_TRUE(saveAppConfiguration());
    const std::string goodUser = readTestFile(config + "User.dat");
    std::string damaged = goodUser;
    damaged[damaged.size() / 2] = damaged[damaged.size() / 2] == 'A' ? 'B' : 'A';
    ASSERT_TRUE(writeTestFile(config + "User.dat", damaged));
    ASSERT_TRUE(writeTestFile(config + "Config.dat", "not a data file"));

    forgetInMemory();
    ASSERT_TRUE(loadAppConfiguration());
    {
        std::lock_guard lock(watchFolderMutex);
        EXPECT_TRUE(watchFolderMap.empty());
        EXPECT_EQ(defaultFolderMap.size(), 5u);
    }
    {
        std::lock_guard lock(appSettingsMutex);
        EXPECT_EQ(appSettings.uiStyle, 0u);
        EXPECT_TRUE(appSettings.showUI);
    }
    EXPECT_EQ(readTestFile(config + "User.dat.bad"), damaged);
    EXPECT_EQ(readTestFile(config + "Config.dat.bad"), "not a data file");
    EXPECT_NE(appLogPendingKinds() & 8, 0u);

    // The next save replaces the damaged files; the copies stay.
    ASSERT_TRUE(saveAppConfiguration());
    EXPECT_EQ(readTestFile(config + "User.dat.bad"), damaged);
    forgetInMemory();
    ASSERT_TRUE(loadAppConfiguration());

    // An empty user file is what an empty list saves: no damage.
    forgetInMemory();
    ASSERT_TRUE(writeTestFile(config + "User.dat", ""));
    std::filesystem::remove(config + "User.dat.bad");
    ASSERT_TRUE(loadAppConfiguration());
    EXPECT_FALSE(fileExists(config + "User.dat.bad"));
}

TEST(AppConfig, MalformedListValuesAreSkipped) {
    freshStart();
    ASSERT_TRUE(loadAppConfiguration());
    addRecordSection(appDataRecord, "user");
    auto section = getRecordSection(appDataRecord, "user");
    setRecordWString(section, "fi", L"i[||]/five/fields[||]p[||]u[||]/arch", 9999);
    setRecordWString(section, "fi", L"x[||]/seven[||]p[||]u[||]/arch[||]t[||]extra", 9999);
    setRecordWString(section, "fi", L"Q[||]/odd letters[||]p[||]0[||]/arch[||]z", 9999);
    setRecordWString(section, "ei", L"t[||]/odd letters[||]PDF", 9999);
    setRecordWString(section, "ei", L"t[||]/odd letters[||]PDF[||]text", 9999);
    setRecordWString(section, "ei", L"t[||]/unknown[||]doc[||]", 9999);
    setRecordString(section, scheduleEntryName(L"/odd letters"), "c2hvcnQ=", 9999);  // not 48 bytes
    ASSERT_TRUE(saveDataRecordFile(appDataRecord, "user", userFilePath, kDataFilePassPhrase));
    forgetInMemory();
    ASSERT_TRUE(loadAppConfiguration());
    std::lock_guard lock(watchFolderMutex);
    ASSERT_EQ(watchFolderMap.size(), 1u);
    const auto& odd = watchFolderMap.at(L"/odd letters");
    EXPECT_EQ(odd.folderType, kFolderTypeDisable);
    EXPECT_EQ(odd.collisionOption, kCollisionAppendVersion);
    EXPECT_FALSE(odd.thirdFlag);
    ASSERT_EQ(odd.extensionMap.size(), 1u);
    EXPECT_EQ(odd.extensionMap.at(L"pdf").text, L"text");
    EXPECT_TRUE(odd.scheduleTriggers.empty());
}

TEST(AppConfig, NamesWithInvalidBytesAndNonLatinTextSurvive) {
    freshStart();
    ASSERT_TRUE(loadAppConfiguration());
    // Bytes of names that are not valid UTF-8, as the text converter keeps them.
    const std::wstring e9 = utf8ToWide("\xE9"), ff = utf8ToWide("\xFF"), b80 = utf8ToWide("\x80");
    const std::wstring folder = L"/data/caf" + e9 + L" \u65E5\u672C";
    WatchFolderEntry entry;
    entry.archivePath = L"/arch/\u0141" + ff;
    ASSERT_TRUE(updateWatchFolderList(folder, entry, false));
    {
        std::lock_guard lock(watchFolderMutex);
        watchFolderMap.at(folder).extensionMap[L"\u00e9" + b80] = ExtensionEntry{L"\u65E5", true, false};
    }
    {
        std::lock_guard lock(statisticsMutex);
        applicationStatsMap[L"/opt/" + e9 + L"\u65E5"] = ApplicationRecord{L"\u65E5" + e9, 0, 0, 0, true, true, false, 0, 0.0};
    }
    ASSERT_TRUE(saveAppConfiguration());
    forgetInMemory();
    ASSERT_TRUE(loadAppConfiguration());
    {
        std::lock_guard lock(watchFolderMutex);
        ASSERT_EQ(watchFolderMap.count(folder), 1u);
        EXPECT_EQ(watchFolderMap.at(folder).archivePath, entry.archivePath);
        ASSERT_EQ(watchFolderMap.at(folder).extensionMap.count(L"\u00e9" + b80), 1u);
        EXPECT_EQ(watchFolderMap.at(folder).extensionMap.at(L"\u00e9" + b80).text, L"\u65E5");
    }
    std::lock_guard lock(statisticsMutex);
    ASSERT_EQ(applicationStatsMap.count(L"/opt/" + e9 + L"\u65E5"), 1u);
    EXPECT_EQ(applicationStatsMap.at(L"/opt/" + e9 + L"\u65E5").displayName, L"\u65E5" + e9);
}

TEST(AppConfig, NamesHoldingTheSeparatorsSurvive) {
    freshStart();
    ASSERT_TRUE(loadAppConfiguration());
    const std::wstring names[] = {L"/data/a[||]b", L"/data/c[|]d", L"/data/e|f[||]"};
    for (const std::wstring& name : names) {
        WatchFolderEntry entry;
        entry.archivePath = name + L"/[||]arch";
        ASSERT_TRUE(updateWatchFolderList(name, entry, false));
        std::lock_guard lock(watchFolderMutex);
        watchFolderMap.at(name).extensionMap[L"x[||]y"] = ExtensionEntry{L"t[||]", true, false};
    }
    {
        std::lock_guard lock(statisticsMutex);
        applicationStatsMap[L"/opt/[||]app"] = ApplicationRecord{L"A[||]", 0, 0, 0, true, true, false, 0, 0.0};
    }
    ASSERT_TRUE(saveAppConfiguration());
    forgetInMemory();
    ASSERT_TRUE(loadAppConfiguration());
    {
        std::lock_guard lock(watchFolderMutex);
        ASSERT_EQ(watchFolderMap.size(), 3u);
        for (const std::wstring& name : names) {
            ASSERT_EQ(watchFolderMap.count(name), 1u) << wideToUtf8(name);
            EXPECT_EQ(watchFolderMap.at(name).archivePath, name + L"/[||]arch");
            EXPECT_EQ(watchFolderMap.at(name).extensionMap.at(L"x[||]y").text, L"t[||]");
        }
    }
    std::lock_guard lock(statisticsMutex);
    EXPECT_EQ(applicationStatsMap.at(L"/opt/[||]app").displayName, L"A[||]");
}

TEST(AppConfig, ListsOfTenThousandValuesAndMoreAreRewritten) {
    freshStart();
    ASSERT_TRUE(loadAppConfiguration());
    {
        std::lock_guard lock(statisticsMutex);
        for (int i = 0; i < 10100; ++i)
            applicationStatsMap[L"/opt/app" + std::to_wstring(i)] = ApplicationRecord{L"A", 0, 0, 0, true, true, false, 0, 0.0};
    }
    ASSERT_TRUE(saveAppConfiguration());
    {
        std::lock_guard lock(statisticsMutex);
        for (int i = 0; i < 10100; i += 2) applicationStatsMap.erase(L"/opt/app" + std::to_wstring(i));
        for (auto& [key, record] : applicationStatsMap) record.displayName = L"B";
    }
    ASSERT_TRUE(updateWatchFolderList(L"/data/many", WatchFolderEntry{}, false));
    ASSERT_TRUE(saveAppConfiguration());
    // 70,000 triggers of one folder, past every 16-bit index.
    ScheduleRecord record;
    ticksToMillis(sampleTrigger(1), record);
    const std::string text = base64Convert(std::string(record.begin(), record.end()));
    auto section = getRecordSection(appDataRecord, "user");
    for (int i = 0; i < 70000; ++i) setRecordString(section, scheduleEntryName(L"/data/many"), text, kRecordAppend);
    ASSERT_TRUE(saveDataRecordFile(appDataRecord, "user", userFilePath, kDataFilePassPhrase));

    forgetInMemory();
    ASSERT_TRUE(loadAppConfiguration());
    {
        std::lock_guard lock(statisticsMutex);
        ASSERT_EQ(applicationStatsMap.size(), 5050u);
        for (const auto& [key, record] : applicationStatsMap) ASSERT_EQ(record.displayName, L"B") << wideToUtf8(key);
    }
    {
        std::lock_guard lock(watchFolderMutex);
        ASSERT_EQ(watchFolderMap.at(L"/data/many").scheduleTriggers.size(), 70000u);
        watchFolderMap.at(L"/data/many").scheduleTriggers.resize(69999);
    }
    ASSERT_TRUE(saveAppConfiguration());
    forgetInMemory();
    ASSERT_TRUE(loadAppConfiguration());
    std::lock_guard lock(watchFolderMutex);
    EXPECT_EQ(watchFolderMap.at(L"/data/many").scheduleTriggers.size(), 69999u);
}

TEST(AppConfig, DamageNoticeSurvivesLoadingTheNotifications) {
    const std::string config = freshStart();
    replaceAppLogEntries({});
    appendAppLogEntryAt(L"kept from the last run", 1, false, 17000000000000000);
    ASSERT_TRUE(loadAppConfiguration());
    ASSERT_TRUE(saveAppConfiguration());
    ASSERT_TRUE(writeTestFile(config + "Config.dat", "not a data file"));
    forgetInMemory();
    replaceAppLogEntries({});
    ASSERT_TRUE(loadAppConfiguration());
    size_t kept = 0, damaged = 0;
    for (const AppLogEntry& entry : appLogSnapshot().entries) {
        kept += entry.key.find(L"kept from the last run") != std::wstring::npos;
        damaged += entry.key.find(L"Unable to read configuration file") != std::wstring::npos;
    }
    EXPECT_EQ(kept, 1u);
    EXPECT_EQ(damaged, 1u);
    EXPECT_NE(appLogPendingKinds() & 8, 0u);
}

TEST(AppConfig, VersionRecordsAreLoadedBeforeTheEngineStarts) {
    freshStart();
    ASSERT_TRUE(loadAppConfiguration());
    WatchFolderEntry entry;
    entry.archivePath = L"/arch/w";
    ASSERT_TRUE(updateWatchFolderList(L"/data/w", entry, false));
    ASSERT_TRUE(addVersionRecord(L"/data/w/a.txt", L"/arch/w/a.txt", L"app", true));
    ASSERT_TRUE(saveAppConfiguration());
    ASSERT_TRUE(saveVersionRecords());
    forgetInMemory();
    {
        std::lock_guard lock(versionRecordMutex);
        versionRecordMap.clear();
    }
    size_t recordsAtStart = 0;
    setEngineStarter([&] {
        std::lock_guard lock(versionRecordMutex);
        recordsAtStart = versionRecordMap.size();
    });
    ASSERT_TRUE(loadAppConfiguration());
    setEngineStarter(nullptr);
    EXPECT_EQ(recordsAtStart, 1u);
}

TEST(AppConfig, LoadedEntriesWhoseArchiveOverlapsAWatchFolderAreKeptDisabled) {
    freshStart();
    ASSERT_TRUE(loadAppConfiguration());
    const auto disabledLines = [] {
        size_t count = 0;
        for (const AppLogEntry& entry : appLogSnapshot().entries)
            count += entry.key.find(L"Watch folder disabled, its archive and a watch folder overlap: ") != std::wstring::npos;
        return count;
    };
    const size_t linesBefore = disabledLines();
    const auto put = [](const std::wstring& folder, const std::wstring& archive) {
        WatchFolderEntry entry;
        entry.archivePath = archive;
        std::lock_guard lock(watchFolderMutex);
        watchFolderMap[folder] = entry;
    };
    put(L"/home/u/docs", L"/home/u/docs/archive");  // archive inside its own folder
    put(L"/home/u/music", L"/mnt/arch/music");
    put(L"/home/u/photos", L"/home");               // archive holding watch folders
    put(L"/mnt", L"/srv/arch");                     // watch folder holding an archive
    put(L"/mnt/arch/music/inner", L"/mnt/arch/x");  // watch folder inside an archive
    ASSERT_TRUE(saveAppConfiguration());
    forgetInMemory();
    ASSERT_TRUE(loadAppConfiguration());

    std::lock_guard lock(watchFolderMutex);
    ASSERT_EQ(watchFolderMap.size(), 5u);
    EXPECT_EQ(watchFolderMap.at(L"/mnt").folderType, kFolderTypeDisable);
    EXPECT_EQ(watchFolderMap.at(L"/home/u/docs").folderType, kFolderTypeDisable);
    EXPECT_EQ(watchFolderMap.at(L"/home/u/docs").archivePath, L"/home/u/docs/archive");
    EXPECT_EQ(watchFolderMap.at(L"/home/u/music").folderType, kFolderTypeDescendents);
    EXPECT_EQ(watchFolderMap.at(L"/home/u/photos").folderType, kFolderTypeDisable);
    EXPECT_EQ(watchFolderMap.at(L"/mnt/arch/music/inner").folderType, kFolderTypeDisable);
    EXPECT_EQ(disabledLines() - linesBefore, 4u);
    EXPECT_EQ(archiveLocationConflictLocked(L"/home/u/music", L"/mnt/arch/music"), L"");
    EXPECT_EQ(archiveLocationConflictLocked(L"/srv/new", L"/home/u"), L"/home/u/music");
}

TEST(AppConfig, AClearedEmailAddressStaysCleared) {
    freshStart();
    ASSERT_TRUE(loadAppConfiguration());
    {
        std::lock_guard lock(appSettingsMutex);
        appSettings.userEmail = "ann@example.org";
    }
    ASSERT_TRUE(saveAppConfiguration());
    {
        std::lock_guard lock(appSettingsMutex);
        appSettings.userEmail.clear();
    }
    ASSERT_TRUE(saveAppConfiguration());
    forgetInMemory();
    ASSERT_TRUE(loadAppConfiguration());
    std::lock_guard lock(appSettingsMutex);
    EXPECT_EQ(appSettings.userEmail, "");
}
