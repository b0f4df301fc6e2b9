#include "engine/catch_up_scan.h"

#include <algorithm>
#include <map>
#include <mutex>
#include <set>
#include <vector>

#include "engine/archive_changes.h"
#include "engine/backup_scan.h"
#include "engine/copy_progress.h"
#include "engine/thread_registry.h"
#include "foundation/archive_root.h"
#include "foundation/file_helpers.h"
#include "foundation/watch_folders.h"
#include "platform/file_change_time.h"
#include "platform/file_copy.h"
#include "platform/file_system.h"
#include "platform/folder_walk.h"
#include "platform/paths.h"

namespace {

// Files handed to the archiving at a time, so the Copier can start on the
// first ones while the scan goes on.
constexpr size_t kQueueChunk = 256;

struct ScanFolder {
    std::wstring key;       // as in watchFolderMap
    std::wstring folder;    // the key without trailing separators
    std::wstring archive;   // the folder's archive, without trailing separators
    bool recursive = false;
    std::vector<std::wstring> skipped;  // archives and Exclude folders: never entered
};

// False when the folder is not one to scan; `archiveAway` then tells whether
// only its missing archive stands in the way.
bool readScanFolder(const std::wstring& folderKey, ScanFolder& out, bool& archiveAway) {
    std::lock_guard<std::mutex> lock(watchFolderMutex);
    const auto it = watchFolderMap.find(folderKey);
    if (it == watchFolderMap.end()) return false;
    const WatchFolderEntry& entry = it->second;
    const bool watched = isWatchedFolderType(entry.folderType);
    if (entry.removed || !watched) return false;
    archiveAway = (entry.problemFlags & kProblemArchiveMissing) != 0;
    if (archiveAway) return false;
    out.key = folderKey;
    out.folder = withoutTrailingSeparators(folderKey);
    out.archive = withoutTrailingSeparators(entry.archivePath);
    out.recursive = entry.folderType == kFolderTypeDescendents;
    if (!isAbsolutePath(out.archive)) return false;
    for (const auto& [key, other] : watchFolderMap) {
        if (!other.archivePath.empty()) out.skipped.push_back(withoutTrailingSeparators(other.archivePath));
        if (other.folderType == kFolderTypeExclude) out.skipped.push_back(withoutTrailingSeparators(key));
    }
    return true;
}

bool isSkippedFolder(const ScanFolder& scan, const std::wstring& path) {
    return std::any_of(scan.skipped.begin(), scan.skipped.end(),
                       [&path](const std::wstring& skipped) { return path == skipped; });
}

struct ScanPass {
    const ScanFolder& scan;
    int64_t sinceTicks = 0;
    ArchiveFolderListing listing;
    std::vector<ChangedFile> found;
    CatchUpCounts counts;

    void flush() {
        if (found.empty()) return;
        archiveChangedFile(found);
        countQueuedChangesInFolders();
        counts.queued += found.size();
        found.clear();
    }

    // Queues the file unless its newest archived copy holds its state.
    void considerFile(const std::wstring& path, const std::wstring& name) {
        if (isCopyTemporaryName(name)) return;
        int64_t changeTicks = 0;
        if (sinceTicks > 0 && (!readFileChangeTicks(path, changeTicks) || changeTicks < sinceTicks)) return;
        // Nested watch folders: the one the file belongs to scans it.
        if (findWatchFolderOfFile(path) != scan.key || !isFileExtensionIncluded(scan.key, path)) return;
        ++counts.compared;
        const std::wstring newest = newestArchivedCopy(scan.archive + path.substr(scan.folder.size()), listing);
        if (!newest.empty() && filesAreEqual(path, newest)) return;
        int64_t writeTicks = 0;
        readFileWriteTicks(path, writeTicks);
        found.push_back({path, L"", writeTicks});
        if (found.size() >= kQueueChunk) flush();
    }
};

void walkFolder(ScanPass& pass) {
    const auto onFolder = [&pass](const std::wstring& path) {
        if (!isApplicationRunning()) return WalkStep::Stop;
        return pass.scan.recursive && !isSkippedFolder(pass.scan, path) ? WalkStep::Go : WalkStep::Skip;
    };
    walkFolderFiles(pass.scan.folder, pass.scan.recursive, onFolder, [&pass](const std::wstring& path) {
        pass.considerFile(path, lastPathComponent(path));
        return isApplicationRunning() ? WalkStep::Go : WalkStep::Stop;
    });
}

std::mutex g_requestMutex;
std::map<std::wstring, int64_t> g_requests;  // folder key -> earliest change time asked for
// Folders whose scan found their archive away: scanned whole once it is back.
std::set<std::wstring> g_owedUntilArchiveIsBack;
// Refused watch folders: scanned whole once they may be read again.
std::set<std::wstring> g_owedWhileRefused;
size_t g_scansRunning = 0;
bool g_workerRunning = false;

void runRequestedCatchUps() {
    for (;;) {
        std::wstring folderKey;
        int64_t sinceTicks = 0;
        {
            std::lock_guard<std::mutex> lock(g_requestMutex);
            if (g_requests.empty() || !isApplicationRunning()) {
                g_requests.clear();
                g_workerRunning = false;
                return;
            }
            folderKey = g_requests.begin()->first;
            sinceTicks = g_requests.begin()->second;
            g_requests.erase(g_requests.begin());
            ++g_scansRunning;
        }
        queueUnarchivedFiles(folderKey, sinceTicks);
        std::lock_guard<std::mutex> lock(g_requestMutex);
        --g_scansRunning;
    }
}

}  // namespace

CatchUpCounts queueUnarchivedFiles(const std::wstring& folderKey, int64_t sinceTicks) {
    ScanFolder scan;
    bool archiveAway = false;
    const bool listed = readScanFolder(folderKey, scan, archiveAway);
    if (archiveAway || (listed && !isExistingFolder(scan.archive))) {
        std::lock_guard<std::mutex> lock(g_requestMutex);
        g_owedUntilArchiveIsBack.insert(folderKey);
        return {};
    }
    if (!listed || !isExistingFolder(scan.folder)) return {};
    // A watch folder whose way others can change, or another user's made in
    // place of the user's, is not read: it waits as one that cannot be
    // monitored does.
    {
        const bool refused = isRefusedRoot(scan.folder, L"Watch folder");
        std::lock_guard<std::mutex> lock(g_requestMutex);
        if (refused) {
            g_owedWhileRefused.insert(folderKey);
            return {};
        }
        if (g_owedWhileRefused.erase(folderKey)) sinceTicks = 0;
    }
    ScanPass pass{scan, sinceTicks, {}, {}, {}};
    walkFolder(pass);
    pass.flush();
    return pass.counts;
}

void requestFolderCatchUp(const std::wstring& folderKey, int64_t sinceTicks) {
    std::lock_guard<std::mutex> lock(g_requestMutex);
    const auto [it, added] = g_requests.try_emplace(folderKey, sinceTicks);
    if (!added) it->second = std::min(it->second, sinceTicks);
    if (g_workerRunning) return;
    g_workerRunning = true;
    try {
        startEngineThread(runRequestedCatchUps);
    } catch (...) {
        g_workerRunning = false;
        throw;
    }
}

size_t pendingFolderCatchUps() {
    std::lock_guard<std::mutex> lock(g_requestMutex);
    return g_requests.size() + g_scansRunning;
}

void requestCatchUpOwedUntilArchiveIsBack(const std::wstring& folderKey) {
    {
        std::lock_guard<std::mutex> lock(g_requestMutex);
        if (g_owedUntilArchiveIsBack.erase(folderKey) == 0) return;
    }
    requestFolderCatchUp(folderKey, 0);
}
