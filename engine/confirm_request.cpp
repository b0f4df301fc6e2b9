#include "engine/confirm_request.h"

#include <chrono>
#include <thread>

#include "engine/engine_hooks.h"
#include "foundation/global_defaults.h"
#include "foundation/texts.h"

std::mutex modalMessageMutex;
ModalMessageState modalMessage;
std::condition_variable modalAnswerKept;

std::mutex backupPathMapMutex;
std::map<std::wstring, BackupPathList> backupPathMap;

namespace {

// Every line of the heading starts with one blank.
std::string indentHeading(const std::string& heading) {
    std::string out = " ";
    for (char c : heading) {
        out += c;
        if (c == '\n') out += ' ';
    }
    return out;
}

uint32_t pollInterval(uint32_t ms) { return ms != 0 ? ms : timings().shortPollMs.load(); }

void pause(uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(pollInterval(ms))); }

// Waits up to one poll for the question's answer (or its going away).
void waitForAnswer(uint64_t ticket, uint32_t ms) {
    std::unique_lock<std::mutex> lock(modalMessageMutex);
    modalAnswerKept.wait_for(lock, std::chrono::milliseconds(pollInterval(ms)), [ticket] {
        const ModalMessageState& s = modalMessage;
        return s.answers.count(ticket) != 0 || s.ticket != ticket || !(s.open || s.firstFrame);
    });
}

}  // namespace

bool showModalMessage(const std::string& title, const std::string& heading, const std::string& body,
                      uint8_t buttonMask, uint64_t* ticket) {
    if ((buttonMask & 3) == 0) return false;
    std::unique_lock<std::mutex> lock(modalMessageMutex);
    ModalMessageState& s = modalMessage;
    if (s.open || s.firstFrame) return false;
    s.heading = indentHeading(heading);
    s.tag = kModalTagText;
    s.title = " " + std::string(kSymbolSection) + " [" + s.tag + "] " + title;
    s.body = body;
    s.confirmed = false;
    s.cancelled = false;
    s.showOk = (buttonMask & 1) != 0;
    s.showCancel = (buttonMask & 2) != 0;
    s.optionBits.clear();
    s.withdrawn = false;
    s.ticket = ++s.lastTicket;
    s.open = true;
    if (ticket) *ticket = s.ticket;
    lock.unlock();
    if (const EngineHooks hooks = engineHooks(); hooks.questionPosted) hooks.questionPosted();
    return true;
}

bool pollModalAnswer(uint64_t ticket, ModalReply& reply) {
    std::lock_guard<std::mutex> lock(modalMessageMutex);
    ModalMessageState& s = modalMessage;
    auto it = s.answers.find(ticket);
    if (it != s.answers.end()) {
        reply = std::move(it->second);
        s.answers.erase(it);
        return true;
    }
    if (s.ticket == ticket && (s.open || s.firstFrame)) return false;
    // Gone without an answer kept for it: cancelled.
    reply = ModalReply();
    return true;
}

void withdrawModalMessage(uint64_t ticket) {
    std::lock_guard<std::mutex> lock(modalMessageMutex);
    ModalMessageState& s = modalMessage;
    s.answers.erase(ticket);
    if (s.ticket != ticket || !s.open) return;
    s.cancelled = true;
    if (s.firstFrame) {
        s.withdrawn = true;  // the draw function takes the window down
    } else {
        s.open = false;  // never drawn: nothing to take down
    }
}

bool isModalMessageOpen() {
    std::lock_guard<std::mutex> lock(modalMessageMutex);
    return modalMessage.open || modalMessage.firstFrame;
}

ModalReply askModalQuestion(const std::string& title, const std::string& heading, const std::string& body,
                            uint8_t buttonMask, const std::function<bool()>& keepWaiting, uint32_t pollMs) {
    ModalReply reply;
    if ((buttonMask & 3) == 0) return reply;
    uint64_t ticket = 0;
    while (!showModalMessage(title, heading, body, buttonMask, &ticket)) {
        if (keepWaiting && !keepWaiting()) return reply;
        pause(pollMs);
    }
    while (!pollModalAnswer(ticket, reply)) {
        if (keepWaiting && !keepWaiting()) {
            withdrawModalMessage(ticket);
            return ModalReply();
        }
        waitForAnswer(ticket, pollMs);
    }
    return reply;
}

std::wstring backupPathMapKey(const std::wstring& name) {
    std::wstring key = name;
    for (wchar_t& c : key)
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
    return key;
}

bool removeBackupPathEntry(const std::wstring& path) {
    std::lock_guard<std::mutex> lock(backupPathMapMutex);
    return backupPathMap.erase(backupPathMapKey(path)) > 0;
}

bool clearBackupPathEntry(const std::wstring& path) {
    std::lock_guard<std::mutex> lock(backupPathMapMutex);
    auto it = backupPathMap.find(backupPathMapKey(path));
    if (it == backupPathMap.end()) return false;
    it->second.clear();
    return true;
}

bool hasBackupPathEntry(const std::wstring& path) {
    std::lock_guard<std::mutex> lock(backupPathMapMutex);
    return backupPathMap.count(backupPathMapKey(path)) > 0;
}
