// " Remove " on the Folders tab: asks which archived data to erase with the
// folder entry, erases it, marks the entry removed and rebuilds the watcher.
#include <mutex>
#include <string>

#include "engine/backup_set_folders.h"
#include "engine/backup_sets.h"
#include "engine/change_watcher.h"
#include "engine/confirm_request.h"
#include "engine/thread_registry.h"
#include "engine/version_deletion.h"
#include "foundation/text_format.h"
#include "foundation/texts.h"
#include "foundation/watch_folders.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "windows/main_window_parts.h"

namespace {

// The copies the folder's backup sets hold, over all its sets.
size_t countBackupSetFileVersions(const std::wstring& folderKey) {
    size_t count = 0;
    for (const std::wstring& file : listBackupSetFiles(backupStagingSubfolder(folderKey))) {
        BackupSetRecord set;
        if (!loadBackupSetFile(file, set)) continue;
        for (const auto& [source, entry] : set.files) count += entry.copied ? 1 : 0;
    }
    return count;
}

bool folderDisplayName(const std::wstring& folderKey, std::string& name) {
    std::lock_guard<std::mutex> lock(watchFolderMutex);
    const auto it = watchFolderMap.find(folderKey);
    if (it == watchFolderMap.end() || it->second.removed) return false;
    name = wideToUtf8(lastPathComponent(it->second.displayName.empty() ? folderKey : it->second.displayName));
    return true;
}

}  // namespace

void confirmRemoveFolderEntry(const std::wstring& folderKey) {
    std::string name;
    if (!folderDisplayName(folderKey, name)) return;
    const ConfirmTemplate& question = kRemoveFolderEntryTemplate;
    const std::string body =
        fillTemplate(question.body, {{kPlaceholderDisplayName, name},
                                     {kPlaceholderBackupSetCount, std::to_string(countBackupSetVersions(folderKey))},
                                     {kPlaceholderBackupSetVersions, std::to_string(countBackupSetFileVersions(folderKey))},
                                     {kPlaceholderAutoBackupVersions, std::to_string(countArchivedVersions(folderKey))}});
    // Waits for the question window to be free and for this question's own
    // answer; a question given up at shut-down counts as Cancel.
    const ModalReply reply = askModalQuestion(question.title, question.heading, body, question.buttonMask,
                                              [] { return isApplicationRunning(); });
    if (!reply.confirmed) return;
    if (reply.optionBits.size() > 0 && reply.optionBits[0]) deleteArchivedVersions(folderKey);
    if (reply.optionBits.size() > 1 && reply.optionBits[1]) deleteArchivedFolderVersions(folderKey);
    {
        std::lock_guard<std::mutex> lock(watchFolderMutex);
        const auto it = watchFolderMap.find(folderKey);
        if (it == watchFolderMap.end()) return;
        it->second.removed = true;
    }
    configurationSaved = false;
    startWatchFolderThreads();
}
