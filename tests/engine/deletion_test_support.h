#pragma once
// Common ground of the deletion and smart-list tests: watch folders with their
// archives on temp folders, archived files, staged sets, hand-made set files,
// and a stand-in for the user who answers the modal questions.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/backup_set_folders.h"
#include "engine/backup_sets.h"
#include "engine/smart_lists.h"
#include "engine/thread_registry.h"
#include "foundation/data_files.h"
#include "foundation/data_packet.h"
#include "foundation/data_record.h"
#include "foundation/global_defaults.h"
#include "foundation/version_records.h"
#include "foundation/watch_folders.h"
#include "platform/text.h"
#include "shell/modal_window.h"
#include "test_env.h"

namespace deletion_test {

namespace fs = std::filesystem;

struct TestFolder {
    std::string base;
    std::wstring source;
    std::wstring archive;
};

inline void resetDeletionState() {
    resetTimings();
    timings().shortPollMs = 1;
    timings().progressHoldMs = 0;
    setApplicationRunning(true);
    {
        std::lock_guard<std::mutex> lock(watchFolderMutex);
        watchFolderMap.clear();
    }
    {
        std::lock_guard<std::mutex> lock(versionRecordMutex);
        versionRecordMap.clear();
    }
    {
        std::lock_guard<std::mutex> lock(backupSetListMutex);
        backupSetList.clear();
        restoreListFolder.clear();
        restoreListLastSetName.clear();
    }
    {
        std::lock_guard<std::mutex> lock(backupSetNotesMutex);
        backupSetNotesMap.clear();
    }
    std::lock_guard<std::mutex> lock(modalMessageMutex);
    modalMessage = ModalMessageState();
}

// A watch folder "<base>/<name>" archived into "<base>/arch/<name>".
inline TestFolder addWatchFolder(const std::string& name, std::string base = "") {
    TestFolder folder;
    folder.base = base.empty() ? makeTestFolder("del") : base;
    folder.source = utf8ToWide(folder.base + "/" + name);
    folder.archive = utf8ToWide(folder.base + "/arch/" + name);
    fs::create_directories(wideToUtf8(folder.source));
    fs::create_directories(wideToUtf8(folder.archive));
    WatchFolderEntry entry;
    entry.displayName = utf8ToWide(name);
    entry.archivePath = folder.archive;
    std::lock_guard<std::mutex> lock(watchFolderMutex);
    watchFolderMap[folder.source] = entry;
    return folder;
}

// Writes a file (creating its folders) and returns its path.
inline std::wstring makeFile(const std::wstring& path, const std::string& content = "data") {
    fs::create_directories(fs::path(wideToUtf8(path)).parent_path());
    EXPECT_TRUE(writeTestFile(wideToUtf8(path), content));
    return path;
}

inline bool exists(const std::wstring& path) { return fs::exists(wideToUtf8(path)); }

inline void addRecord(const std::wstring& source, const std::wstring& archived) {
    std::lock_guard<std::mutex> lock(versionRecordMutex);
    versionRecordMap[source][archived] = FileVersionRecord{archived, L"app", true, false};
}

// A set of `copies` (copied, marked for restoring) staged for the folder.
inline std::wstring stageSet(const TestFolder& folder, const std::wstring& setName,
                             const std::vector<std::wstring>& copies, const std::string& note = "") {
    BackupSetRecord set;
    set.note = note;
    for (const std::wstring& copy : copies) {
        BackupSetEntry e;
        e.sourcePath = folder.source + L"/" + fs::path(wideToUtf8(copy)).filename().wstring();
        e.archivePath = copy;
        e.copied = true;
        e.restore = true;
        set.files[e.sourcePath] = e;
    }
    const std::wstring path = backupSetStagingFilePath(folder.source, setName);
    EXPECT_TRUE(saveBackupSetFile(path, set));
    return path;
}

// A set file written as older programs did: lines without the summary field.
inline void writeSetWithoutSummary(const std::wstring& path, const std::vector<std::wstring>& lines,
                                   const std::string& note) {
    DataRecord document;
    addRecordSection(document, "bc");
    RecordSectionHandle section = getRecordSection(document, "bc");
    for (uint32_t i = 0; i < lines.size(); ++i) setRecordWString(section, "bi", lines[i], i);
    setRecordString(section, "note", note, 0);
    fs::create_directories(fs::path(wideToUtf8(path)).parent_path());
    ASSERT_TRUE(saveDataRecordFile(document, "bc", path, ""));
}

// The user: answers every question shown with OK or Cancel and keeps the titles.
class ModalAnswerer {
public:
    explicit ModalAnswerer(bool confirm) : confirm_(confirm), thread_([this] { run(); }) {}
    ~ModalAnswerer() {
        stop_ = true;
        thread_.join();
    }
    std::vector<std::string> titles() {
        std::lock_guard<std::mutex> lock(mutex_);
        return titles_;
    }
    std::vector<std::string> bodies() {
        std::lock_guard<std::mutex> lock(mutex_);
        return bodies_;
    }

private:
    void run() {
        while (!stop_) {
            {
                std::lock_guard<std::mutex> lock(modalMessageMutex);
                ModalMessageState& s = modalMessage;
                if (s.open) {
                    ModalReply reply;
                    reply.confirmed = confirm_;
                    s.answers[s.ticket] = reply;
                    s.open = false;
                    s.firstFrame = false;
                    std::lock_guard<std::mutex> keep(mutex_);
                    titles_.push_back(s.title);
                    bodies_.push_back(s.body);
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    bool confirm_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::vector<std::string> titles_;
    std::vector<std::string> bodies_;
    std::thread thread_;
};

}  // namespace deletion_test
