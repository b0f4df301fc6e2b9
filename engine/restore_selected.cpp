#include "engine/restore_selected.h"

#include <algorithm>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "engine/copy_cancel.h"
#include "engine/copy_progress.h"
#include "engine/restore_copy.h"
#include "engine/restore_state.h"
#include "engine/thread_registry.h"
#include "foundation/app_log.h"
#include "foundation/archive_root.h"
#include "foundation/global_defaults.h"
#include "foundation/text_format.h"
#include "foundation/texts.h"
#include "foundation/version_records.h"
#include "foundation/watch_folders.h"
#include "platform/paths.h"
#include "platform/text.h"

namespace {

constexpr const wchar_t* kCancelledByUserText = L"Varnholt Restore operation canceled by user!";
constexpr const wchar_t* kSelectedFinishedText = L"Active backup files restoration finished.\"";

struct RestoreWatchFolder {
    std::wstring key;      // the watch folder holding the first file
    std::wstring archive;  // its archive folder ("" without a watch folder)
};

// The deepest watch folder holding `path`, which names the restore, and its
// archive folder; without one, the file's own folder. Versions are restored
// from wherever their record keeps them: those archived before the folder's
// archive location changed lie in its old archive folder.
RestoreWatchFolder restoreFolderOf(const std::wstring& path) {
    RestoreWatchFolder found;
    {
        std::lock_guard<std::mutex> lock(watchFolderMutex);
        for (const auto& [key, entry] : watchFolderMap) {
            const std::wstring folder = withoutTrailingSeparators(key);
            if (!pathIsInside(path, folder) || folder.size() <= found.key.size()) continue;
            found.key = folder;
            found.archive = pathKey(withoutTrailingSeparators(entry.archivePath));
        }
    }
    if (found.key.empty()) found.key = parentFolder(path);
    return found;
}

// Copies the marks into versionRecordMap (a version the selection lacks
// becomes unselected); returns the first source path marked.
std::wstring markSelection(const RestoreSelection& selection) {
    std::wstring first;
    std::lock_guard<std::mutex> lock(versionRecordMutex);
    for (const auto& [source, versions] : selection) {
        auto file = versionRecordMap.find(pathKey(source));
        if (file == versionRecordMap.end()) continue;
        if (first.empty()) first = file->first;
        for (auto& [archive, record] : file->second) {
            const auto mark = versions.find(archive);
            record.selected = mark != versions.end() && mark->second.selected;
        }
    }
    return first;
}

// The selected versions of the selection's files, in map order, copied out
// of versionRecordMap. They are written below the watch folder (a file
// outside it fails); without one, below their own folder. A copy is read
// below the folder's archive, or below its own folder when it lies in an
// older archive.
std::vector<RestoreItem> selectedItems(const RestoreSelection& selection, const RestoreWatchFolder& folder) {
    std::vector<RestoreItem> items;
    std::lock_guard<std::mutex> lock(versionRecordMutex);
    for (const auto& [source, versions] : selection) {
        const auto file = versionRecordMap.find(pathKey(source));
        if (file == versionRecordMap.end()) continue;
        const std::wstring root = folder.archive.empty() ? parentFolder(file->first) : folder.key;
        for (const auto& [archive, record] : file->second)
            if (record.selected) items.push_back({archive, file->first, archiveRootOf(archive, folder.archive), root});
    }
    return items;
}

struct SelectedOutcome {
    size_t total = 0;
    size_t attempts = 0;
    size_t copies = 0;
    std::vector<std::string> notCopied;
};

std::wstring selectedReportText(const SelectedOutcome& outcome, const std::wstring& folderKey,
                                const std::string& displayName) {
    std::vector<std::string> lines;
    if (outcome.total > 0 && outcome.copies == outcome.total)
        lines.push_back(joinReportFields(3, "", "all selected files restored, " + std::to_string(outcome.copies) + " copied.", ""));
    else
        lines.push_back(joinReportFields(3, "",
                                   "one or more files not restored, " + std::to_string(outcome.attempts) +
                                       " selected, " + std::to_string(outcome.copies) + " copied.",
                                   ""));
    if (!outcome.notCopied.empty()) {
        lines.push_back(joinReportFields(2, "", std::to_string(outcome.notCopied.size()) + " not copied:", ""));
        for (const std::string& path : outcome.notCopied) lines.push_back(joinReportFields(3, "", path, ""));
    }
    lines.push_back(joinReportFields(1, "6", wideToUtf8(folderKey), "Open \"" + displayName + "\""));
    std::wstring text = std::wstring(kSelectedFinishedText) + utf8ToWide(escapeLogText(displayName)) + L"\"";
    for (const std::string& line : lines) text += std::wstring(kLineSeparatorW) + utf8ToWide(line);
    return text;
}

void endSelectedRestore(DestinationGuard& guard, const SelectedOutcome& outcome) {
    releaseRestoreWrites(guard);
    restoreProgress = shareOf(outcome.copies, outcome.total);
    releaseRestoreActive();
    releaseRestoreWorkBusy();
    setOperationInProgress(EngineOperation::Restore, false);
    endCancellableTask(CancelTask::Restore);
}

// Ends the restore of selected versions exactly once, whichever way the task
// leaves (an exception included), so that its flags and paths never stay held.
struct SelectedRestoreRun {
    DestinationGuard guard;
    SelectedOutcome outcome;
    bool ended = false;
    void end() {
        ended = true;
        endSelectedRestore(guard, outcome);
    }
    ~SelectedRestoreRun() {
        if (ended) return;
        try {
            end();
        } catch (...) {
        }
    }
};

}  // namespace

void restoreSelectedFilesTask(RestoreSelection selection) {
    resetRestoreProgress();
    holdRestoreActive();
    holdRestoreWorkBusy();
    SelectedRestoreRun run;
    beginCancellableTask(CancelTask::Restore);
    setOperationInProgress(EngineOperation::Restore, true);

    const std::wstring first = markSelection(selection);
    const RestoreWatchFolder folder = restoreFolderOf(first);
    const std::string displayName = wideToUtf8(lastPathComponent(folder.key));
    run.guard.confirmAll(selectedItems(selection, folder));
    if (!askRestoreQuestion(kRestoreOverwriteTemplate, {{kPlaceholderDisplayName, displayName}})) {
        run.end();
        if (isApplicationRunning()) appendAppLogEntry(kUserCancelledRestoreText, 2, false);
        return;
    }

    const std::vector<RestoreItem> items = selectedItems(selection, folder);
    SelectedOutcome& outcome = run.outcome;
    outcome.total = items.size();
    startProgressSet(archivePathsOf(items));
    run.guard.noteFolders(items);

    RestorePacing pacing;
    startRestorePacing(pacing);
    RestoreGroup group(run.guard);
    const auto finishGroup = [&] {
        group.finish();
        outcome.copies = group.copies;
        outcome.notCopied.insert(outcome.notCopied.end(), group.failed.begin(), group.failed.end());
        group.failed.clear();
    };
    // A copy is read only below an archive folder (an older one included)
    // that may hold the user's copies; each folder is looked at once.
    std::map<std::wstring, bool> foreign;
    for (const RestoreItem& item : items) {
        auto known = foreign.find(item.archiveRoot);
        if (known == foreign.end()) known = foreign.emplace(item.archiveRoot, isForeignArchiveFolder(item.archiveRoot)).first;
        const bool mayRead = !known->second;
        const RestoreStep step = mayRead && run.guard.mayStage(item.destination) ? restoreOneFile(item, displayName, group)
                                                                                 : RestoreStep::Failed;
        if (step == RestoreStep::ShuttingDown || step == RestoreStep::StoppedByUser) finishGroup();
        if (step == RestoreStep::ShuttingDown) return run.end();
        if (step == RestoreStep::StoppedByUser) {
            run.end();
            appendAppLogEntry(kCancelledByUserText, 1, false);
            return;
        }
        ++outcome.attempts;
        if (step == RestoreStep::Failed) {
            outcome.notCopied.push_back(wideToUtf8(item.destination));
            continue;
        }
        if (isCopyGroupFull(group.group)) finishGroup();
        restoreProgress = shareOf(group.copies + group.staged(), outcome.total);
        paceRestoreCopy(pacing, restoreProgress);
    }
    finishGroup();

    pauseWhileRunning(timings().restorePaceMs.load());
    // A restore that left files behind is an issue to look at, not a message.
    const bool complete = outcome.total > 0 && outcome.copies == outcome.total;
    appendAppLogMarkup(selectedReportText(outcome, folder.key, displayName), complete ? 1 : 4, false);
    run.end();
}

void startRestoreSelectedFiles(RestoreSelection selection) {
    startEngineThread([selection = std::move(selection)]() mutable { restoreSelectedFilesTask(std::move(selection)); });
}
