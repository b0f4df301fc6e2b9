#include "windows/user_message_window.h"

#include <imgui.h>
#include <imgui_stdlib.h>

#include <atomic>
#include <iterator>
#include <system_error>

#include "engine/thread_registry.h"
#include "foundation/app_config.h"
#include "foundation/app_log.h"
#include "foundation/app_version.h"
#include "foundation/button_table.h"
#include "foundation/global_defaults.h"
#include "foundation/text_format.h"
#include "foundation/watch_folders.h"
#include "platform/text.h"
#include "shell/buttons.h"
#include "shell/display_items.h"
#include "shell/fonts.h"
#include "windows/about_window.h"
#include "windows/window_jobs.h"

namespace {

constexpr int32_t kReasonCount = static_cast<int32_t>(std::size(kUserMessageReasons));

std::atomic<bool> g_shown{false};
// Set by openUserMessageWindow, taken by the next frame: the buffers are
// filled from the configuration on the UI thread.
std::atomic<bool> g_loadRequested{false};

// The buffers; the UI thread's only.
struct UserMessageState {
    std::string name;
    std::string email;
    std::string message;
    int32_t reason = 0;
    std::string comboItems;  // the reasons, each followed by a NUL
};
UserMessageState g_state;

void loadFromConfiguration() {
    std::lock_guard<std::mutex> lock(appSettingsMutex);
    g_state.name = appSettings.userName;
    g_state.email = appSettings.userEmail;
    g_state.message = appSettings.userMessage;
    g_state.reason = appSettings.userReason >= 0 && appSettings.userReason < kReasonCount ? appSettings.userReason : 0;
}

void storeInConfiguration() {
    {
        std::lock_guard<std::mutex> lock(appSettingsMutex);
        appSettings.userName = g_state.name;
        appSettings.userEmail = g_state.email;
        appSettings.userMessage = g_state.message;
        appSettings.userReason = g_state.reason;
    }
    configurationSaved.store(false);
}

std::string percentEncoded(const std::string& text) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
                           c == '_' || c == '.' || c == '~';
        if (plain) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}

// The draft goes to the mail program; only what it says is reported, so a
// message is never called sent: the user sends it from the mail program.
void handOverMessage(const std::wstring& mailto) {
    try {
        startEngineThread([mailto] {
            if (openWithShellOpener(mailto))
                appendAppLogEntry(L"Your message is open in your mail program, ready for you to send", 1, true);
            else
                appendAppLogEntry(L"No mail program took your message; it is kept, so Submit can try again", 4, true);
        });
    } catch (const std::system_error&) {
        appendAppLogEntry(L"Your message could not be handed to a mail program; it is kept", 4, true);
    }
}

void submit() {
    storeInConfiguration();
    closeAboutWindow();
    handOverMessage(userMessageMailto(g_state.reason, g_state.message, g_state.name, g_state.email));
}

void drawField(const char* label, const char* id, std::string& value) {
    ImGui::TextUnformatted(label);
    ImGui::SameLine();
    ImGui::TextUnformatted(kSymbolDisc.data(), kSymbolDisc.data() + kSymbolDisc.size());
    ImGui::SameLine();
    ImGui::SetNextItemWidth(-1);
    ImGui::InputText(id, &value);
}

// True when " Submit " was pressed or " Dismiss " closed the window.
bool drawBody() {
    drawField("User Name: ", "##username", g_state.name);
    drawField("User Email: ", "##useremail", g_state.email);
    ImGui::Text("%s: ", "Message to submit");
    ImGui::SameLine();
    ImGui::Combo("    ", &g_state.reason, g_state.comboItems.c_str());
    ImGui::InputTextMultiline("##message", &g_state.message, ImVec2(-1, ImGui::GetTextLineHeight() * 8));
    ImGui::TextUnformatted(wrapTextLines(g_state.message).c_str());
    const bool ready = !g_state.name.empty() && !g_state.email.empty();
    UIButtonRowItem submitButton;
    submitButton.key = "bksb";
    submitButton.state = ready ? kButtonEnabled : kButtonDisabled;
    UIButtonRowItem dismiss;
    dismiss.key = "bkc";
    dismiss.state = kButtonEnabled;
    const int32_t clicked = drawButtonRow({submitButton, dismiss}, true);
    if (clicked == 0 && ready) submit();
    return clicked >= 0;
}

}  // namespace

void drawUserMessageWindow() {
    bool shown = g_shown.load();
    if (!shown) return;
    if (g_loadRequested.exchange(false)) loadFromConfiguration();
    if (g_state.comboItems.empty())
        for (std::string_view reason : kUserMessageReasons) g_state.comboItems.append(reason).push_back('\0');
    const ImGuiViewport* viewport = ImGui::GetMainViewport();
    ImGui::SetNextWindowPos(viewport->GetCenter(), ImGuiCond_FirstUseEver, ImVec2(0.5f, 0.5f));
    ImGui::SetNextWindowSize(ImVec2(620, 460), ImGuiCond_FirstUseEver);
    const ImGuiWindowFlags flags = ImGuiWindowFlags_NoResize | ImGuiWindowFlags_NoScrollbar | ImGuiWindowFlags_NoCollapse;
    if (ImGui::Begin("User Message Submission", &shown, flags)) {
        checkDisplayItemZOrder(kUserMessageWindowItemId);
        ImGui::PushFont(fontArial16 ? fontArial16 : ImGui::GetFont());
        if (drawBody()) shown = false;
        ImGui::PopFont();
    }
    ImGui::End();
    if (shown) return;
    g_shown.store(false);
    removeDisplayItemZOrder(kUserMessageWindowItemId);
    showAboutBox();
}

bool isUserMessageWindowOpen() { return g_shown.load(); }

void openUserMessageWindow() {
    if (g_shown.load()) return;  // already open: what the user typed stays
    g_loadRequested.store(true);
    if (!g_shown.exchange(true)) pushDisplayItemZOrder(kUserMessageWindowItemId);
}

std::wstring userMessageMailto(int32_t reason, const std::string& message, const std::string& name,
                               const std::string& email) {
    const std::string_view reasonText = kUserMessageReasons[reason >= 0 && reason < kReasonCount ? reason : 0];
    const std::string subject = "Varnholt " + std::string(kOwnAppVersion) + ": " + std::string(reasonText);
    const std::string body = message + "\r\n\r\n" + name + " <" + email + ">";
    return utf8ToWide("mailto:" + std::string(kUserMessageMailAddress) + "?subject=" + percentEncoded(subject) +
                      "&body=" + percentEncoded(body));
}

void resetUserMessageWindow() {
    g_shown.store(false);
    g_loadRequested.store(false);
    g_state = UserMessageState();
}
