// Lines of "Notifications.dat" (entry "ni", confirmed flags "nc").
#include "fuzz/record_lines.h"
#include "foundation/app_log.h"
#include "foundation/data_files.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzDataHome();
    const std::vector<std::string> lines = fuzzInputLines(data, size);
    const std::wstring path = configurationFilePath(L"Notifications.dat");
    writeFuzzLines(path, "notifications", "ni", lines, kRecordWideText, kDataFilePassPhrase);
    removeRecordSection("notifications");
    replaceAppLogEntries({});
    loadNotificationsFile();
    saveNotificationsFile();
    removeRecordSection("notifications");
    loadNotificationsFile();
    return 0;
}
