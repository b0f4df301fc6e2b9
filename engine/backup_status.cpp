#include "engine/backup_status.h"

#include <mutex>

#include "platform/paths.h"

void setCopyStatus(const std::wstring& listName, const std::wstring& path, const CopyStatusRecord& record) {
    std::lock_guard<std::mutex> lock(backupPathMapMutex);
    backupPathMap[backupPathMapKey(listName)][pathKey(path)] = record;
}

bool getCopyStatus(const std::wstring& listName, const std::wstring& path, CopyStatusRecord& record) {
    std::lock_guard<std::mutex> lock(backupPathMapMutex);
    const auto list = backupPathMap.find(backupPathMapKey(listName));
    if (list == backupPathMap.end()) return false;
    const auto found = list->second.find(pathKey(path));
    if (found == list->second.end()) return false;
    record = found->second;
    return true;
}
