#include "engine/copy_queue_file.h"

#include <map>
#include <vector>

#include "engine/archive_changes.h"
#include "engine/copy_queue.h"
#include "engine/thread_registry.h"
#include "engine/unclean_end.h"
#include "foundation/app_config.h"
#include "foundation/app_log.h"
#include "foundation/data_files.h"
#include "foundation/data_packet.h"
#include "foundation/data_record.h"
#include "foundation/file_helpers.h"
#include "foundation/global_defaults.h"
#include "foundation/watch_folders.h"
#include "platform/file_system.h"
#include "platform/paths.h"

namespace {

const char* const kQueueSection = "cq";
const char* const kQueueEntry = "qi";

}  // namespace

std::wstring copyQueueFilePath() { return configurationFilePath(L"CopyQueue.dat"); }

bool loadCopyQueue() {
    const std::wstring path = copyQueueFilePath();
    if (!isExistingFile(path)) return false;
    DataRecord document;
    if (!loadDataRecordFile(document, kQueueSection, path, kDataFilePassPhrase)) return false;
    const RecordSectionHandle section = getRecordSection(document, kQueueSection);
    std::vector<ChangedFile> changes;
    std::vector<std::wstring> skipped;
    const size_t count = getRecordValueCount(section, kQueueEntry);
    for (size_t i = 0; i < count; ++i) {
        std::wstring text;
        if (!getRecordWString(section, kQueueEntry, text, static_cast<uint32_t>(i))) continue;
        // Cut at the last separator: a file name may hold "[|]", the
        // application written after it is an image path.
        const size_t cut = text.rfind(kFieldSeparatorW);
        if (cut == std::wstring::npos || cut == 0) continue;
        const std::wstring source = text.substr(0, cut);
        // A source must lie in its watch folder: its archive name is built
        // from its path, so "/watch/../x" would be read and written elsewhere.
        if (!isPathBelow(source, findWatchFolderOfFile(source))) {
            skipped.push_back(source);
            continue;
        }
        changes.push_back({source, text.substr(cut + kFieldSeparatorW.size())});
    }
    if (!skipped.empty())
        appendAppLogEntry(L"Copy queue entries outside every watch folder skipped: " + std::to_wstring(skipped.size()) +
                              L", the first: " + skipped.front(),
                          4, false);
    // Straight into the queue: the files are archived even before the change
    // watcher runs, and items queued meanwhile stay.
    archiveChangedFile(changes);
    removeFile(path);
    return true;
}

bool saveCopyQueue() {
    const std::wstring path = copyQueueFilePath();
    // The files waiting for their archive's return are kept as well.
    std::map<std::wstring, std::wstring> files;
    for (const ChangedFile& file : filesAwaitingArchive()) files[file.path] = file.applicationName;
    {
        std::lock_guard<std::mutex> lock(copyQueueMutex);
        for (const auto& [source, item] : copyQueue) files[item.sourcePath] = item.applicationName;
    }
    std::vector<std::wstring> values;
    for (const auto& [source, application] : files)
        values.push_back(source + std::wstring(kFieldSeparatorW) + application);
    if (values.empty()) return !isExistingFile(path) || removeFile(path);
    const std::wstring folder = configurationFolderPath();
    DataRecord document;
    addRecordSection(document, kQueueSection);
    const RecordSectionHandle section = getRecordSection(document, kQueueSection);
    for (const std::wstring& value : values) setRecordWString(section, kQueueEntry, value, kRecordAppend);
    if ((isExistingFolder(folder) || makeDirectoryPathWithSD(folder + kPathSeparatorText)) &&
        saveDataRecordFile(document, kQueueSection, path, kDataFilePassPhrase))
        return true;
    // Kept only in memory, the files would be lost: the next start must find them.
    noteFailedSave(path);
    return false;
}

bool saveUnattendedCopyQueue() {
    if (liveEngineThreadCount() != 0 || (copyQueueCount() == 0 && filesAwaitingArchive().empty())) return false;
    return saveCopyQueue();
}
