// Lines of the copy-queue file ("CopyQueue.dat", entry "qi").
#include "engine/copy_queue.h"
#include "engine/copy_queue_file.h"
#include "fuzz/record_lines.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzDataHome();
    writeFuzzLines(copyQueueFilePath(), "cq", "qi", fuzzInputLines(data, size), kRecordWideText, kDataFilePassPhrase);
    loadCopyQueue();
    std::lock_guard lock(copyQueueMutex);
    copyQueue.clear();
    return 0;
}
