#pragma once
// Confirmation requests: how an engine task asks the user a question (the
// shell's modal message window draws it and writes the answer here), and the
// backup engine's path map.
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

// The display item that shows the question (IG_003).
inline constexpr int32_t kModalMessageItemId = 3;

// The answer to one question.
struct ModalReply {
    bool confirmed = false;        // OK; otherwise the question was cancelled
    std::vector<bool> optionBits;  // one per option line of the body, in order
};

// What the modal message window shows and what it answered.
struct ModalMessageState {
    std::string tag;
    std::string title;
    std::string heading;
    std::string body;
    bool confirmed = false;  // answer flags of the latest question
    bool cancelled = false;
    uint64_t width = 480;
    uint64_t height = 240;
    double backdropAlpha = 0.7;
    bool showOk = true;
    bool showCancel = true;
    std::vector<bool> optionBits;
    bool open = false;        // the open flag of IG_003
    bool firstFrame = false;  // set while the window is shown, from its first frame on
    // Every question gets its own ticket, and its answer is kept under that ticket
    // until the asking task collects it, so no task takes another's answer.
    uint64_t ticket = 0;      // of the question shown now (or last)
    uint64_t lastTicket = 0;  // last ticket handed out
    bool withdrawn = false;   // the asking task gave up; the window closes on its next frame
    std::map<uint64_t, ModalReply> answers;
};

// Guards modalMessage. Held only to copy or change the state, never across a
// frame's drawing or while a task waits for its answer.
extern std::mutex modalMessageMutex;
extern ModalMessageState modalMessage;
// Notified (under modalMessageMutex) when an answer is kept, so the asking
// task goes on at once rather than at its next look.
extern std::condition_variable modalAnswerKept;

// Answers not collected after this many newer ones are dropped.
inline constexpr size_t kModalAnswersKept = 32;

// For the main loop's visible flag: true while the window is open, and until the
// draw function has taken down a window that was closed or given up.
bool isModalMessageOpen();

// Opens a question when the window is free: returns false, changing nothing,
// while another question is open (or not yet taken down). Does not wait.
// `ticket`, when given, receives the question's ticket for pollModalAnswer.
// Bit 0 of the mask shows OK, bit 1 Cancel; a mask with neither is refused,
// since nothing could answer it.
bool showModalMessage(const std::string& title, const std::string& heading, const std::string& body,
                      uint8_t buttonMask, uint64_t* ticket = nullptr);

// Looks for the answer to the question with this ticket. False while it is
// still open; true with the reply once it was answered (a question closed
// without an answer is cancelled). Each answer is handed out once.
bool pollModalAnswer(uint64_t ticket, ModalReply& reply);

// Gives a question up: its window closes on the next frame, its answer is cancelled.
void withdrawModalMessage(uint64_t ticket);

// Asks and waits: waits until the window is free, shows the question, and
// waits for this question's own answer, looking every `pollMs` (0: the
// program's short poll, timings().shortPollMs, 125 ms) and as soon as it is kept.
// `keepWaiting`, when given, is called on every look (a task pings its
// thread-state entry there); returning false gives the question up, which
// answers cancelled.
ModalReply askModalQuestion(const std::string& title, const std::string& heading, const std::string& body,
                            uint8_t buttonMask, const std::function<bool()>& keepWaiting = {},
                            uint32_t pollMs = 0);

// One file's copy status in a named list of the backup engine.
struct CopyStatusRecord {
    int32_t status = 0;  // 1 queued, 2 copy failed, 3 failed: disk full, 4 copied
    int32_t code = 0;
    int64_t value1 = 0;
    int64_t value2 = 0;
    std::wstring wideText;
    std::string narrowText;
    int64_t value3 = 0;
    int64_t value4 = 0;
};

// The backup path map: list name (lower-cased) to that list, file path key to
// its status. Guarded by backupPathMapMutex, held for each whole operation.
using BackupPathList = std::map<std::wstring, CopyStatusRecord>;
extern std::mutex backupPathMapMutex;
extern std::map<std::wstring, BackupPathList> backupPathMap;

// The map's key for a list name: A to Z lower-cased (never through the locale),
// so letter case never matters.
std::wstring backupPathMapKey(const std::wstring& name);
// Erases the entry with its list; false when there is none.
bool removeBackupPathEntry(const std::wstring& path);
// Empties the entry's list, keeping the entry; false when there is none.
bool clearBackupPathEntry(const std::wstring& path);
bool hasBackupPathEntry(const std::wstring& path);
