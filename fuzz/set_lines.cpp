// Lines of a backup-set file (entry "bi").
#include "fuzz/record_lines.h"
#include "engine/backup_sets.h"
#include "foundation/data_files.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::wstring path = utf8ToWide(fuzzDataHome()) + L"/fuzz.backup";
    writeFuzzLines(path, "bc", "bi", fuzzInputLines(data, size), kRecordWideText, "");
    BackupSetRecord set;
    if (loadBackupSetFile(path, set)) saveBackupSetFile(path, set);
    return 0;
}
