// Items of the version records file ("abc.md", entry "item").
#include "fuzz/record_lines.h"
#include "foundation/version_records.h"
#include "foundation/watch_folders.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzDataHome();
    {
        std::lock_guard lock(watchFolderMutex);
        watchFolderMap.clear();
        WatchFolderEntry entry;
        entry.archivePath = L"/fuzz/archive";
        watchFolderMap[L"/fuzz/folder"] = entry;
    }
    writeFuzzLines(versionRecordsFilePath(), "abc", "item", fuzzInputLines(data, size), kRecordWideText, "");
    loadVersionRecords();
    saveVersionRecords();
    loadVersionRecords();
    return 0;
}
