#include "engine/copy_progress.h"

#include <algorithm>
#include <utility>

#include "engine/copy_queue.h"
#include "engine/thread_registry.h"
#include "foundation/file_helpers.h"
#include "foundation/watch_folders.h"
#include "platform/file_system.h"
#include "platform/paths.h"

ProgressSet globalProgressSet;
std::mutex progressMutex;

namespace {

// The share-of-copy bookkeeping shared by the global and the folder sets.
// The sum runs along with the values, so an update costs O(1) however large
// the set: the adders count each entry they put in at 0.0, and a set changed
// any other way (cleared, replaced, trimmed) no longer matches `sumCount` and
// is summed afresh once. True when the set completed.
bool updateProgressValues(std::unordered_map<std::wstring, double>& values, double& sum, size_t& sumCount,
                          uint64_t& totalBytes, double& ratio, double& previousRatio, const std::wstring& key,
                          double value) {
    if (sumCount != values.size()) {
        sum = 0.0;
        for (const auto& entry : values) sum += entry.second;
        sumCount = values.size();
    }
    const auto [it, inserted] = values.try_emplace(key, 0.0);
    if (inserted) ++sumCount;
    sum += value - it->second;
    it->second = value;
    previousRatio = ratio;
    ratio = sum / static_cast<double>(values.size());
    if (ratio + 0.05 < 1.0) return false;
    ratio = previousRatio = 1.0;
    totalBytes = 0;
    return true;
}

// The queued items not counted in their folder yet, with their folders.
std::vector<std::pair<std::wstring, std::wstring>> uncountedQueueItems() {
    std::vector<std::wstring> sources;
    {
        std::lock_guard<std::mutex> lock(copyQueueMutex);
        for (const auto& [source, item] : copyQueue)
            if (!item.folderCounted) sources.push_back(source);
    }
    std::vector<std::pair<std::wstring, std::wstring>> items;
    for (const std::wstring& source : sources) {
        std::wstring folder = findWatchFolderOfFile(source);
        if (folder.empty()) continue;
        std::lock_guard<std::mutex> lock(watchFolderMutex);
        if (watchFolderMap.count(folder)) items.emplace_back(source, std::move(folder));
    }
    return items;
}

}  // namespace

void setFileProgress(const std::wstring& source, double value) {
    const std::wstring key = pathKey(source);
    {
        std::lock_guard<std::mutex> lock(progressMutex);
        ProgressSet& set = globalProgressSet;
        if (set.values.count(key)) {
            updateProgressValues(set.values, set.sum, set.sumCount, set.totalBytes, set.ratio, set.previousRatio, key,
                                 value);
            return;
        }
    }
    const std::wstring folderKey = findWatchFolderOfFile(source);
    std::lock_guard<std::mutex> folderLock(watchFolderMutex);
    const auto it = watchFolderMap.find(folderKey);
    if (it == watchFolderMap.end()) return;
    WatchFolderEntry& entry = it->second;
    std::lock_guard<std::mutex> lock(progressMutex);
    if (!entry.progressSet.count(key)) return;
    if (!updateProgressValues(entry.progressSet, entry.progressSum, entry.progressSumCount, entry.totalByteCount,
                              entry.progressRatio, entry.previousProgressRatio, key, value))
        return;
    entry.progressSet.clear();
    entry.progressSum = 0.0;
    entry.progressSumCount = 0;
}

bool startProgressSet(const std::vector<std::wstring>& paths) {
    std::lock_guard<std::mutex> lock(progressMutex);
    globalProgressSet = ProgressSet();
    for (const std::wstring& path : paths) {
        const std::wstring key = pathKey(path);
        if (!globalProgressSet.values.try_emplace(key, 0.0).second) continue;
        ++globalProgressSet.sumCount;
        uint64_t size = 0;
        if (getFileSize(path, size)) globalProgressSet.totalBytes += size;
    }
    return true;
}

ProgressSet progressSnapshot() {
    std::lock_guard<std::mutex> lock(progressMutex);
    return globalProgressSet;
}

CopyProgressAnswer onCopyProgress(const CopyProgress& progress) {
    if (!isApplicationRunning()) return CopyProgressAnswer::Cancel;
    if (progress.source.empty() || progress.target.empty()) return CopyProgressAnswer::Continue;
    const double share = progress.totalBytes == 0
                             ? 1.0
                             : static_cast<double>(progress.bytesCopied) / static_cast<double>(progress.totalBytes);
    setFileProgress(progress.source, std::min(share, 1.0));
    return CopyProgressAnswer::Continue;
}

bool addChangedFiles(WatchFolderEntry& entry, const std::vector<std::wstring>& paths) {
    std::lock_guard<std::mutex> lock(progressMutex);
    for (const std::wstring& path : paths) {
        if (!entry.progressSet.try_emplace(pathKey(path), 0.0).second) continue;
        ++entry.progressSumCount;  // entered at 0.0: the running sum stays right
        uint64_t size = 0;
        if (getFileSize(path, size)) entry.totalByteCount += size;
    }
    return true;
}

size_t countQueuedChangesInFolders() {
    std::vector<std::pair<std::wstring, std::wstring>> items = uncountedQueueItems();
    if (items.empty()) return 0;
    // Marked first, so an item is never counted twice; an item that left the
    // queue meanwhile is not counted.
    std::vector<std::pair<std::wstring, std::wstring>> marked;
    {
        std::lock_guard<std::mutex> lock(copyQueueMutex);
        for (auto& [source, folder] : items) {
            const auto it = copyQueue.find(source);
            if (it == copyQueue.end() || it->second.folderCounted) continue;
            it->second.folderCounted = 1;
            marked.emplace_back(std::move(source), std::move(folder));
        }
    }
    size_t counted = 0;
    std::lock_guard<std::mutex> lock(watchFolderMutex);
    for (const auto& [source, folder] : marked) {
        const auto it = watchFolderMap.find(folder);
        if (it == watchFolderMap.end()) continue;
        it->second.changesDetected += 1;
        addChangedFiles(it->second, {source});
        ++counted;
    }
    return counted;
}
