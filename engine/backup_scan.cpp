#include "engine/backup_scan.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <unordered_map>

#include "foundation/archive_names.h"
#include "engine/thread_registry.h"
#include "foundation/archive_root.h"
#include "foundation/archive_stamps.h"
#include "foundation/file_helpers.h"
#include "foundation/global_defaults.h"
#include "foundation/watch_folders.h"
#include "platform/file_system.h"
#include "platform/folder_walk.h"
#include "platform/paths.h"

namespace {

constexpr int64_t kTicksPerSecond = 10000000;
constexpr size_t kMaxScanWorkers = 8;
constexpr wchar_t kPendingResult[] = L"-";

struct ScanJob {
    std::wstring sourceFile;
    std::wstring archiveName;
    uint64_t generation = 0;
};

// Everything below is guarded by g_scanMutex.
std::mutex g_scanMutex;
std::unordered_map<std::wstring, std::wstring> g_scanResults;
BackupScanCounts g_scanCounts;
std::deque<ScanJob> g_scanJobs;
size_t g_scanWorkers = 0;
uint64_t g_scanGeneration = 0;

// A worker's last archive folder listing: the jobs of one folder come in a
// row, so the shared listings are looked up once per folder, not per file.
struct WorkerListing {
    std::wstring folder;
    uint64_t generation = 0;
    std::shared_ptr<const std::map<std::wstring, std::vector<std::wstring>>> groups;
};
std::wstring compareWithArchive(const ScanJob& job, WorkerListing& listing);
void storeScanResults(const std::vector<ScanJob>& jobs, const std::vector<std::wstring>& results);

std::condition_variable g_scanJobQueued;
std::condition_variable g_scanJobDone;
// A worker whose queue ran dry waits this long for more before it ends, so a
// backup feeding the queue keeps its workers instead of starting new ones.
constexpr auto kScanWorkerIdle = std::chrono::milliseconds(50);

// Comparisons a worker takes at once: fewer trips through the shared lock.
constexpr size_t kScanJobsPerTake = 64;
size_t g_idleScanWorkers = 0;
size_t g_scanWaiters = 0;  // threads in waitForBackupScans

// Runs queued comparisons until the queue stays empty or the application stops.
void runScanWorker() {
    std::vector<ScanJob> jobs;
    std::vector<std::wstring> results;
    WorkerListing listing;
    std::unique_lock<std::mutex> lock(g_scanMutex);
    while (true) {
        if (!isApplicationRunning()) g_scanJobs.clear();
        if (g_scanJobs.empty()) {
            ++g_idleScanWorkers;
            const bool more = isApplicationRunning() && g_scanJobQueued.wait_for(lock, kScanWorkerIdle, [] {
                return !g_scanJobs.empty() || !isApplicationRunning();
            });
            --g_idleScanWorkers;
            if (more) continue;
            --g_scanWorkers;
            return;
        }
        jobs.clear();
        while (!g_scanJobs.empty() && jobs.size() < kScanJobsPerTake) {
            jobs.push_back(std::move(g_scanJobs.front()));
            g_scanJobs.pop_front();
        }
        lock.unlock();
        results.clear();
        for (const ScanJob& job : jobs) results.push_back(compareWithArchive(job, listing));
        lock.lock();
        storeScanResults(jobs, results);
    }
}

// The newest copy among the files of one archive name: the greatest stamped
// path, or the exact copy when there is no stamped one.
struct NewestCopy {
    std::wstring path;
    bool stamped = false;
};

void offerCopy(NewestCopy& newest, const std::wstring& path, bool stamped) {
    if (newest.path.empty() || (stamped && (!newest.stamped || isNewerArchiveCopy(path, newest.path))))
        newest = {path, stamped};
}

// The digits of a stamp without their leading zeros; false when it is not all digits.
bool versionDigits(const std::wstring& stamp, std::wstring& digits) {
    if (stamp.empty() || !std::all_of(stamp.begin(), stamp.end(), [](wchar_t c) { return c >= L'0' && c <= L'9'; }))
        return false;
    const size_t first = stamp.find_first_not_of(L'0');
    digits = first == std::wstring::npos ? L"" : stamp.substr(first);
    return true;
}

// Files grouped by archive name (folder + "/" + plain name), each group in
// descending path order: the greatest stamp first.
using CopiesByName = std::map<std::wstring, std::vector<std::wstring>>;

CopiesByName groupCopiesByName(const std::vector<std::wstring>& files) {
    CopiesByName groups;
    ArchivePathParts parts;
    for (const std::wstring& file : files) {
        splitArchivePath(file, parts);
        groups[joinPath(parts.folder, archiveGroupName(parts.plainName))].push_back(file);
    }
    for (auto& group : groups) std::sort(group.second.begin(), group.second.end(), isNewerArchiveCopy);
    return groups;
}

// The files (not folders) of one archive folder, grouped; empty when the
// folder cannot be listed.
CopiesByName listFolderCopies(const std::wstring& folder) {
    std::vector<std::wstring> files;
    walkFolderFiles(folder.empty() ? kPathSeparatorText : folder, false, enterEveryFolder,
                    [&files](const std::wstring& path) { return files.push_back(pathKey(path)), WalkStep::Go; });
    return groupCopiesByName(files);
}

// Each archive folder is listed once per scan round, so that a backup's
// comparisons cost one listing per folder rather than one per file. The
// cache holds only listings made in the current round.
std::mutex g_folderCopiesMutex;
std::map<std::wstring, std::shared_ptr<const CopiesByName>> g_folderCopies;
uint64_t g_folderCopiesGeneration = 0;

std::shared_ptr<const CopiesByName> folderCopiesOfRound(const std::wstring& folder, uint64_t generation) {
    {
        std::lock_guard<std::mutex> lock(g_folderCopiesMutex);
        if (generation == g_folderCopiesGeneration) {
            auto& cached = g_folderCopies[folder];
            // Listed under the lock: the workers mostly wait for the same folder anyway.
            if (!cached) cached = std::make_shared<const CopiesByName>(listFolderCopies(folder));
            return cached;
        }
    }
    // A job of an ended round: its listing is not kept.
    return std::make_shared<const CopiesByName>(listFolderCopies(folder));
}

void startFolderCopiesRound(uint64_t generation) {
    std::lock_guard<std::mutex> lock(g_folderCopiesMutex);
    g_folderCopies.clear();
    g_folderCopiesGeneration = generation;
}

// The copies of `archiveName`: stamped ones (and any other with its plain
// name) greatest first, then the exact copy. `listing` gives the grouped
// files of the name's folder. The name is a file's own name in its archive
// folder: taken whole, also where it reads as a version of another file.
using FolderListing = std::function<std::shared_ptr<const CopiesByName>(const std::wstring& folder)>;

size_t archivedCopies(const std::wstring& archiveName, std::vector<std::wstring>& copies, const FolderListing& listing) {
    copies.clear();
    const std::wstring name = pathKey(archiveName);
    ArchivePathParts wanted;
    splitArchivePath(name, wanted);
    if (wanted.folder.empty() && (name.empty() || name.front() != kPathSeparator)) return 0;
    const std::shared_ptr<const CopiesByName> groups = listing(wanted.folder);
    const auto group = groups->find(joinPath(wanted.folder, archiveGroupName(wanted.fileName)));
    if (group == groups->end()) return 0;
    bool exact = false;
    for (const std::wstring& file : group->second) {
        if (file == name)
            exact = true;
        else
            copies.push_back(file);
    }
    if (exact) copies.push_back(name);
    return copies.size();
}

std::wstring equalNewestCopy(const std::wstring& sourceFile, const std::vector<std::wstring>& copies) {
    if (copies.empty()) return L"";
    return filesAreEqual(sourceFile, copies.front()) ? copies.front() : L"";
}

std::wstring watchFolderArchive(const std::wstring& path) {
    const std::wstring key = pathKey(path);
    std::lock_guard<std::mutex> lock(watchFolderMutex);
    auto found = watchFolderMap.find(key);
    if (found != watchFolderMap.end()) return found->second.archivePath;
    const WatchFolderEntry* best = nullptr;
    size_t bestLength = 0;
    for (const auto& [folder, entry] : watchFolderMap) {
        if (folder.size() > bestLength && pathIsInside(key, folder)) best = &entry, bestLength = folder.size();
    }
    return best ? best->archivePath : std::wstring();
}

// The equal newest copy of the job's file, "" when there is none (or when the
// application stopped meanwhile).
std::wstring compareWithArchive(const ScanJob& job, WorkerListing& listing) {
    if (!isApplicationRunning()) return L"";
    std::vector<std::wstring> copies;
    archivedCopies(job.archiveName, copies, [&](const std::wstring& folder) {
        if (!listing.groups || listing.folder != folder || listing.generation != job.generation)
            listing = {folder, job.generation, folderCopiesOfRound(folder, job.generation)};
        return listing.groups;
    });
    return equalNewestCopy(job.sourceFile, copies);
}

// Under g_scanMutex. Results of an ended round, or found after the
// application stopped, are dropped.
void storeScanResults(const std::vector<ScanJob>& jobs, const std::vector<std::wstring>& results) {
    if (!isApplicationRunning()) return;
    for (size_t i = 0; i < jobs.size(); ++i) {
        if (jobs[i].generation != g_scanGeneration) continue;
        g_scanResults[jobs[i].sourceFile] = results[i];
        if (g_scanCounts.running > 0) g_scanCounts.running -= 1;
        g_scanCounts.finished += 1;
    }
    if (g_scanWaiters > 0) g_scanJobDone.notify_all();
}

}  // namespace

bool splitArchivePath(const std::wstring& path, ArchivePathParts& parts) {
    const size_t slash = path.rfind(kPathSeparator);
    parts.folder = slash == std::wstring::npos ? L"" : path.substr(0, slash);
    parts.fileName = path.substr(slash == std::wstring::npos ? 0 : slash + 1);
    ArchiveNameParts name = splitArchiveName(parts.fileName);
    parts.stamp = std::move(name.stamp);
    parts.extension = std::move(name.extension);
    parts.plainName = std::move(name.plainName);
    return true;
}

bool isNewerArchiveCopy(const std::wstring& a, const std::wstring& b) {
    ArchivePathParts partsA, partsB;
    splitArchivePath(a, partsA);
    splitArchivePath(b, partsB);
    if (partsA.folder != partsB.folder || archiveGroupName(partsA.plainName) != archiveGroupName(partsB.plainName))
        return a > b;
    std::wstring digitsA, digitsB;
    const bool numberedA = versionDigits(partsA.stamp, digitsA);
    const bool numberedB = versionDigits(partsB.stamp, digitsB);
    // One order for a whole group: a time stamp counts newer than any number.
    if (numberedA != numberedB) return !numberedA;
    if (!numberedA) return a > b;
    if (digitsA.size() != digitsB.size()) return digitsA.size() > digitsB.size();
    return digitsA != digitsB ? digitsA > digitsB : a > b;
}

bool archiveVersionNumber(const std::wstring& stamp, uint64_t& number) {
    std::wstring digits;
    if (!isVersionNumberStamp(stamp) || !versionDigits(stamp, digits) || digits.size() > 18) return false;
    number = digits.empty() ? 0 : std::stoull(digits);
    return true;
}

bool getFileWriteTicks(const std::wstring& path, int64_t& ticks) {
    int64_t exact = 0;
    if (!readFileWriteTicks(path, exact)) return false;
    int64_t seconds = exact / kTicksPerSecond;
    if (exact % kTicksPerSecond < 0) --seconds;  // whole seconds toward the past
    ticks = seconds * kTicksPerSecond;
    return true;
}

size_t scanFolderExtensions(const std::wstring& archiveName, std::vector<std::wstring>& copies) {
    return archivedCopies(archiveName, copies, [](const std::wstring& folder) {
        return std::make_shared<const CopiesByName>(listFolderCopies(folder));
    });
}

std::wstring findArchivedVersion(const std::wstring& sourceFile, const std::wstring& archiveName) {
    std::vector<std::wstring> copies;
    scanFolderExtensions(archiveName, copies);
    return equalNewestCopy(sourceFile, copies);
}

std::wstring newestArchivedCopy(const std::wstring& archiveName, ArchiveFolderListing& listing) {
    std::vector<std::wstring> copies;
    archivedCopies(archiveName, copies, [&listing](const std::wstring& folder) {
        if (!listing.copiesByName || listing.folder != folder) {
            listing.folder = folder;
            listing.copiesByName = std::make_shared<const CopiesByName>(listFolderCopies(folder));
        }
        return listing.copiesByName;
    });
    return copies.empty() ? std::wstring() : copies.front();
}

std::vector<std::wstring> startBackupScans(const std::vector<BackupScanRequest>& requests) {
    std::vector<std::wstring> results;
    results.reserve(requests.size());
    std::lock_guard<std::mutex> lock(g_scanMutex);
    const size_t queuedBefore = g_scanJobs.size();
    for (const BackupScanRequest& request : requests) {
        const auto [cached, inserted] = g_scanResults.try_emplace(request.sourceFile, kPendingResult);
        results.push_back(cached->second);
        if (!inserted) continue;
        g_scanCounts.running += 1;
        g_scanJobs.push_back({request.sourceFile, request.archiveName, g_scanGeneration});
    }
    if (g_scanJobs.size() == queuedBefore) return results;
    if (g_idleScanWorkers > 0) g_scanJobQueued.notify_all();
    try {
        for (; g_scanWorkers < kMaxScanWorkers; ++g_scanWorkers) startEngineThread(runScanWorker);
    } catch (...) {
        if (g_scanWorkers == 0) {  // nobody would take the jobs: undo them
            for (size_t i = queuedBefore; i < g_scanJobs.size(); ++i) g_scanResults.erase(g_scanJobs[i].sourceFile);
            g_scanCounts.running -= g_scanJobs.size() - queuedBefore;
            g_scanJobs.resize(queuedBefore);
            throw;
        }
    }
    return results;
}

std::wstring startBackupScanThread(const std::wstring& sourceFile, const std::wstring& archiveName) {
    return startBackupScans({{sourceFile, archiveName}}).front();
}

void backupScanThreadMain(const std::wstring& sourceFile, const std::wstring& archiveName, uint64_t generation) {
    const std::vector<ScanJob> jobs{{sourceFile, archiveName, generation}};
    WorkerListing listing;
    const std::vector<std::wstring> results{compareWithArchive(jobs[0], listing)};
    std::lock_guard<std::mutex> lock(g_scanMutex);
    storeScanResults(jobs, results);
}

void resetBackupScan() {
    std::lock_guard<std::mutex> lock(g_scanMutex);
    g_scanResults.clear();
    g_scanJobs.clear();
    g_scanCounts = {};
    g_scanJobDone.notify_all();
    startFolderCopiesRound(++g_scanGeneration);  // the only place taking both locks, in this order
}

size_t backupScanWorkerCount() {
    std::lock_guard<std::mutex> lock(g_scanMutex);
    return g_scanWorkers;
}

BackupScanCounts backupScanCounts() {
    std::lock_guard<std::mutex> lock(g_scanMutex);
    return g_scanCounts;
}

BackupScanCounts waitForBackupScans(uint64_t running, uint32_t ms) {
    std::unique_lock<std::mutex> lock(g_scanMutex);
    ++g_scanWaiters;
    g_scanJobDone.wait_for(lock, std::chrono::milliseconds(ms), [running] { return g_scanCounts.running <= running; });
    --g_scanWaiters;
    return g_scanCounts;
}

size_t listArchiveFiles(const std::wstring& archive, std::vector<std::wstring>& files) {
    const std::wstring top = withoutTrailingSeparators(archive);
    const std::wstring setFolder = joinPath(top, kArchiveSetFolderName);
    walkFolderFiles(
        top, true, [&](const std::wstring& folder) { return folder == setFolder ? WalkStep::Skip : WalkStep::Go; },
        [&](const std::wstring& file) { return files.push_back(pathKey(file)), WalkStep::Go; });
    return files.size();
}

size_t scanWatchFolder(const std::wstring& watchFolderPath, std::vector<std::wstring>& copies) {
    copies.clear();
    const std::wstring archive = watchFolderArchive(watchFolderPath);
    if (archive.empty() || isForeignArchiveFolder(archive)) return 0;
    std::vector<std::wstring> files;
    listArchiveFiles(archive, files);
    ArchivePathParts parts;
    for (const auto& [name, group] : groupCopiesByName(files)) {
        NewestCopy newest;
        for (const std::wstring& file : group) {
            splitArchivePath(file, parts);
            offerCopy(newest, file, !parts.stamp.empty());
        }
        copies.push_back(newest.path);
    }
    std::sort(copies.begin(), copies.end());
    return copies.size();
}
