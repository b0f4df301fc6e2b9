#pragma once
// The modal message window (display item IG_003): the question window through
// which engine tasks ask the user to confirm, optionally ticking options.
// Tasks ask through engine/confirm_request.h; this is the state and its drawing.
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

inline constexpr int32_t kModalMessageItemId = 3;

// The answer to one question.
struct ModalReply {
    bool confirmed = false;        // OK; otherwise the question was cancelled
    std::vector<bool> optionBits;  // one per option line of the body, in order
};

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

// Answers not collected after this many newer ones are dropped.
inline constexpr size_t kModalAnswersKept = 32;

// Draw function of IG_003; the main loop calls it each frame while the window is open.
void drawModalMessage();
// For the main loop's visible flag: true while the window is open, and until the
// draw function has taken down a window that was closed or given up.
bool isModalMessageOpen();
