#pragma once
// Lines of one list of "User.dat", read by loading the whole configuration.
// One watch folder is always listed, so extension and trigger lines have a
// folder to belong to.
#include "fuzz/record_lines.h"
#include "foundation/app_config.h"
#include "foundation/data_files.h"

inline void fuzzUserList(const uint8_t* data, size_t size, const std::string& entry, uint32_t typeCode) {
    fuzzDataHome();
    std::vector<std::string> lines = fuzzInputLines(data, size);
    const std::wstring path = configurationFilePath(L"User.dat");
    if (entry == "fi") {
        writeFuzzLines(path, "user", entry, lines, typeCode, kDataFilePassPhrase);
    } else {
        DataRecord document;
        addRecordSection(document, "user");
        RecordSectionHandle user = getRecordSection(document, "user");
        setRecordWString(user, "fi", L"I[||]/fuzz/folder[||]p[||]u[||]/fuzz/archive[||]s", kRecordAppend);
        for (const std::string& line : lines)
            if (line.size() <= kMaxRecordTextBytes) setRecordValue(user, entry, line, typeCode, kRecordAppend);
        writeFuzzFile(path, document, "user", kDataFilePassPhrase);
    }
    removeRecordSection("main");
    removeRecordSection("user");
    loadAppConfiguration();
    {
        std::lock_guard lock(watchFolderMutex);
        watchFolderMap.clear();
        defaultFolderMap.clear();
    }
    std::lock_guard lock(statisticsMutex);
    applicationStatsMap.clear();
}
