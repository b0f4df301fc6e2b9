#include "shell/modal_window.h"

#include <imgui.h>
#include <imgui_internal.h>

#include "foundation/styles.h"
#include "shell/buttons.h"
#include "shell/display_items.h"

namespace {

// What one frame draws, copied out under the mutex so the drawing runs without it.
struct ModalFrame {
    std::string title;
    std::string heading;
    std::string body;
    uint64_t width = 0;
    uint64_t height = 0;
    double backdropAlpha = 1.0;
    bool showOk = false;
    bool showCancel = false;
    std::vector<bool> optionBits;
    uint64_t ticket = 0;
    bool opening = false;
    bool closeNow = false;  // closed or withdrawn without an answer
};

// The question goes to the back of the z-order queue when it opens, so it
// stays in front of the windows opened before it, and leaves it when it closes.
void enterFrontQueue() { pushDisplayItemZOrder(kModalMessageItemId); }
void leaveFrontQueue() { removeDisplayItemZOrder(kModalMessageItemId); }
void keepInFront() { checkDisplayItemZOrder(kModalMessageItemId); }

ModalFrame takeFrame() {
    std::lock_guard<std::mutex> lock(modalMessageMutex);
    ModalMessageState& s = modalMessage;
    ModalFrame f;
    f.closeNow = !s.open || s.withdrawn;
    if (!f.closeNow && !s.firstFrame) {
        s.firstFrame = true;
        s.optionBits.clear();
        f.opening = true;
    }
    f.title = s.title.empty() ? std::string("##modal") : s.title;
    f.heading = s.heading;
    f.body = s.body;
    f.width = s.width;
    f.height = s.height;
    f.backdropAlpha = s.backdropAlpha;
    f.showOk = s.showOk;
    f.showCancel = s.showCancel;
    f.optionBits = s.optionBits;
    f.ticket = s.ticket;
    return f;
}

// Shows the body's lines; a line starting with "?" is an option with a checkbox.
// Text after the last "\n" is not a finished line and is not shown.
void drawBody(const std::string& body, std::vector<bool>& bits) {
    size_t start = 0;
    size_t option = 0;
    for (size_t end = body.find('\n'); end != std::string::npos; end = body.find('\n', start)) {
        const std::string line = body.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line[0] == '?') {
            if (bits.size() <= option) bits.resize(option + 1, false);
            bool checked = bits[option];
            ImGui::PushID(static_cast<int>(option));
            ImGui::Checkbox(line.c_str() + 1, &checked);
            ImGui::PopID();
            bits[option] = checked;
            ++option;
        } else {
            ImGui::BulletText("%s", line.c_str());
        }
    }
}

// Draws the message box; returns 0 for the first button, 1 for the second, -1 for none.
int32_t drawMessageBox(ModalFrame& f) {
    // Opaque in the style of the moment: nothing behind the question reads through.
    const ImVec4 childBackground = listBackgroundColour();
    const ImGuiViewport* viewport = ImGui::GetMainViewport();
    const ImVec2 size(static_cast<float>(f.width), static_cast<float>(f.height));
    ImGui::SetNextWindowPos(ImVec2(viewport->GetCenter().x - size.x / 2, viewport->GetCenter().y - size.y / 2),
                            ImGuiCond_Always);
    ImGui::SetNextWindowSize(size, ImGuiCond_Always);
    ImGui::PushStyleColor(ImGuiCol_ChildBg, childBackground);
    int32_t pressed = -1;
    if (ImGui::BeginChild("ChildL", size, false, ImGuiWindowFlags_Modal)) {
        keepInFront();
        // An outline, so the box stands apart from the dimmed windows behind it.
        const ImVec2 at = ImGui::GetWindowPos();
        ImGui::GetWindowDrawList()->AddRect(at, ImVec2(at.x + size.x, at.y + size.y), ImGui::GetColorU32(ImGuiCol_Border));
        std::vector<UIButtonRowItem> buttons;
        for (const char* key : {f.showCancel ? "bkmdcan" : nullptr, f.showOk ? "bkmdok" : nullptr}) {
            if (!key) continue;
            UIButtonRowItem item;
            item.key = key;
            buttons.push_back(item);
            setUIButtonState(key, kButtonEnabled);
        }
        if (ImGui::BeginChild("ChildL-0", ImVec2(size.x - 2, size.y - 35), false, ImGuiWindowFlags_Modal)) {
            ImGui::Text("%s", f.title.c_str());
            ImGui::Separator();
            ImGui::Text(" ");
            if (!f.heading.empty()) ImGui::Text("%s", f.heading.c_str());
            if (!f.body.empty()) drawBody(f.body, f.optionBits);
        }
        ImGui::EndChild();
        pressed = drawButtonRow(buttons, false);
    }
    ImGui::EndChild();
    ImGui::PopStyleColor();
    return pressed;
}

// Writes the frame's option bits and answer back, if the question is still the
// one drawn. Returns true when a shown window has now closed.
bool commitFrame(const ModalFrame& f, int32_t pressed) {
    std::lock_guard<std::mutex> lock(modalMessageMutex);
    ModalMessageState& s = modalMessage;
    if (!f.closeNow && s.open && s.ticket == f.ticket) {
        s.optionBits = f.optionBits;
        if (pressed == 0 || pressed == 1) {
            s.cancelled = pressed == 0;
            s.confirmed = pressed == 1;
            s.open = false;
        }
    }
    const bool gaveUp = s.withdrawn;
    if (gaveUp) {
        s.open = false;
        s.withdrawn = false;
    }
    if (s.open) return false;
    // Closed without an answer counts as cancelled.
    if (!s.confirmed && !s.cancelled) s.cancelled = true;
    if (!s.firstFrame) return false;
    if (!gaveUp) {
        ModalReply reply;
        reply.confirmed = s.confirmed;
        reply.optionBits = s.optionBits;
        s.answers[s.ticket] = reply;
        while (s.answers.size() > kModalAnswersKept) s.answers.erase(s.answers.begin());
        modalAnswerKept.notify_all();
    }
    s.firstFrame = false;
    return true;
}

}  // namespace

void drawModalMessage() {
    ModalFrame f = takeFrame();
    if (f.opening) enterFrontQueue();
    int32_t pressed = -1;
    if (!f.closeNow) {
        ImGui::PushStyleVar(ImGuiStyleVar_Alpha, static_cast<float>(f.backdropAlpha));
        const bool drawn = ImGui::Begin(f.title.c_str(), nullptr,
                                        ImGuiWindowFlags_NoTitleBar | ImGuiWindowFlags_NoResize |
                                            ImGuiWindowFlags_NoMove | ImGuiWindowFlags_NoCollapse);
        ImGui::PopStyleVar();
        if (drawn) {
            keepInFront();
            ImGui::SetWindowPos(ImVec2(0, 0));
            ImGui::SetWindowSize(ImGui::GetMainViewport()->Size);
            pressed = drawMessageBox(f);
        }
        ImGui::PushStyleVar(ImGuiStyleVar_Alpha, static_cast<float>(f.backdropAlpha));
        ImGui::End();
        ImGui::PopStyleVar();
    }
    if (commitFrame(f, pressed)) leaveFrontQueue();
}
