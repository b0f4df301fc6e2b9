#include "engine/archive_target.h"

#include <map>
#include <mutex>

#include "engine/archive_changes.h"
#include "engine/backup_scan.h"
#include "foundation/archive_names.h"
#include "foundation/archive_stamps.h"
#include "foundation/file_helpers.h"
#include "foundation/text_format.h"
#include "foundation/watch_folders.h"
#include "platform/file_system.h"
#include "platform/folder_walk.h"
#include "platform/paths.h"

namespace {

constexpr int64_t kTicksPerMillisecond = 10000;  // ticks of 100 ns

// Archive names taken by copies not yet named, with the item each belongs
// to: a copy takes its name only at the end of its group, so until then the
// folder does not show it, and a second copy must not choose it too.
std::mutex g_stagedNamesMutex;
std::map<std::wstring, const CopyQueueItem*> g_stagedNames;

// Takes `name` for `item`; false when another item's copy is to take it or,
// with `mustBeFree`, a file has it. The name is taken before the folder is
// looked at, and a copy frees its name only once renamed, so two copy
// threads never both find a name free.
bool claimArchiveName(const std::wstring& name, const CopyQueueItem& item, bool mustBeFree) {
    {
        std::lock_guard<std::mutex> lock(g_stagedNamesMutex);
        const auto [it, inserted] = g_stagedNames.try_emplace(name, &item);
        if (!inserted && it->second != &item) return false;
    }
    if (!mustBeFree || !isExistingFile(name)) return true;
    releaseArchiveName(name, item);
    return false;
}

// At least four digits: " ~ 0042", " ~ 1000", " ~ 12345".
std::wstring versionNumberText(uint64_t n) {
    std::wstring text = std::to_wstring(n);
    return text.size() < 4 ? std::wstring(4 - text.size(), L'0') + text : text;
}

// One past the highest number taken by a numbered version of the file
// `name` in `folder`: any copy that reads back as one of its own, under its
// own base or its shortened one, however the name was cut when it was made.
// Never a number freed by a deletion below it: the numbers keep the order in
// which the versions were made, which is how the newest is found.
uint64_t nextVersionNumber(const std::wstring& folder, const std::wstring& name) {
    const std::wstring group = archiveGroupName(name);
    uint64_t next = 0;
    std::wstring listed = withoutTrailingSeparators(folder);
    if (listed.empty()) listed = kPathSeparatorText;
    walkFolderFiles(listed, false, enterEveryFolder, [&](const std::wstring& path) {
        const ArchiveNameParts parts = splitArchiveName(lastPathComponent(path));
        if (parts.stamp.empty() || (parts.plainName != name && parts.plainName != group)) return WalkStep::Go;
        uint64_t number = 0;
        if (archiveVersionNumber(parts.stamp, number) && number + 1 > next) next = number + 1;
        return WalkStep::Go;
    });
    return next;
}

// The name of a taken archive name under the item's collision option,
// claimed for the item. `target` is the file's own name in its archive
// folder; the extension is looked for in that name only, so a dotted folder
// never splits the path.
std::wstring resolveTakenName(const std::wstring& target, const CopyQueueItem& item) {
    const int32_t option = item.collisionOption;
    const std::wstring folder = target.substr(0, target.rfind(kPathSeparator) + 1);
    const std::wstring ownName = target.substr(folder.size());
    if (option == kCollisionAppendVersion) {
        std::wstring candidate;
        for (uint64_t n = nextVersionNumber(folder, ownName);; ++n) {
            candidate = folder + archiveVersionName(ownName, versionNumberText(n));
            if (claimArchiveName(candidate, item, true)) return candidate;
        }
    }
    if (option == kCollisionAppendTimeStamp) {
        // A stamp another copy has (one made in the same millisecond) is
        // passed by: the next millisecond's keeps the order they were made in.
        std::wstring candidate;
        for (int64_t ticks = currentTimeTicks();; ticks += kTicksPerMillisecond) {
            candidate = folder + archiveVersionName(ownName, formatArchiveTimestampAt(ticks));
            if (claimArchiveName(candidate, item, true)) return candidate;
        }
    }
    // Overwrite and Single Backup replace the first copy itself.
    const std::wstring chosen = folder + firstCopyName(ownName);
    claimArchiveName(chosen, item, false);
    return chosen;
}

}  // namespace

void releaseArchiveName(const std::wstring& name, const CopyQueueItem& item) {
    std::lock_guard<std::mutex> lock(g_stagedNamesMutex);
    const auto it = g_stagedNames.find(name);
    if (it != g_stagedNames.end() && it->second == &item) g_stagedNames.erase(it);
}

bool buildArchiveTarget(CopyQueueItem& item, std::wstring& source, std::wstring& target) {
    const std::wstring folderKey = findWatchFolderOfFile(item.sourcePath);
    std::wstring root;
    if (folderKey.empty() || !ensureArchiveContext(folderKey, root)) return false;
    source = pathKey(item.sourcePath);
    target = pathKey(item.targetPath);
    const std::wstring folder = withoutTrailingSeparators(folderKey);
    if (source.size() <= folder.size()) return false;
    const std::wstring below = root + source.substr(folder.size());
    const size_t slash = below.rfind(kPathSeparator);
    if (slash == std::wstring::npos) return false;
    const std::wstring archiveFolder = below.substr(0, slash + 1);
    target = archiveFolder + lastPathComponent(source);
    if (item.state != kCopyStateToCopy) return true;
    const std::wstring first = archiveFolder + firstCopyName(lastPathComponent(source));
    if (!item.finalTargetPath.empty() && claimArchiveName(item.finalTargetPath, item, false)) {
        // A retry keeps the name of its first attempt: nothing was written
        // under it, and an older version under the plain name stays intact.
        // Unless another copy is to take that name meanwhile.
        target = item.finalTargetPath;
    } else if (claimArchiveName(first, item, true)) {
        target = first;
    } else {
        target = resolveTakenName(target, item);
    }
    target = pathKey(target);
    item.finalTargetPath = target;
    item.targetPath = target;
    return true;
}
