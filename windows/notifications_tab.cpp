#include "windows/notifications_tab.h"

#include <imgui.h>

#include <atomic>
#include <cstdlib>

#include "engine/thread_registry.h"
#include "foundation/app_log.h"
#include "foundation/button_table.h"
#include "platform/text.h"
#include "foundation/colour_contrast.h"
#include "foundation/styles.h"
#include "shell/buttons.h"
#include "windows/main_window.h"
#include "windows/main_window_parts.h"
#include "windows/text_actions.h"
#include "shell/text_widgets.h"

namespace {

struct NotificationKind {
    uint32_t bit;
    const char* name;
};
constexpr NotificationKind kKinds[] = {{1, "Message"}, {2, "Important Items"}, {4, "Issues"}, {8, "Errors"}};

// The tab's state; drawn and changed on the user-interface thread only.
struct NotificationsTabState {
    uint32_t selectedKind = 0;
    uint32_t lastKind = 0;
    uint16_t clickCount = 0;
    int seenTab = kTabFolders;
};
NotificationsTabState g_tab;

void runProgramTextAction(int32_t action, std::vector<std::string> texts) { runTextAction(action, texts); }
std::atomic<TextActionRunner> g_runner{runProgramTextAction};

const char* kindName(uint32_t kind) {
    for (const NotificationKind& k : kKinds)
        if (k.bit == kind) return k.name;
    return "";
}

std::vector<std::string> splitAt(const std::string& text, const std::string& separator, size_t maxParts) {
    std::vector<std::string> parts;
    size_t start = 0;
    while (parts.size() + 1 < maxParts) {
        const size_t at = text.find(separator, start);
        if (at == std::string::npos) break;
        parts.push_back(text.substr(start, at - start));
        start = at + separator.size();
    }
    parts.push_back(text.substr(start));
    return parts;
}

// The leading decimal digits of `text`; 0 when there are none.
int32_t leadingNumber(const std::string& text) {
    int64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') break;
        value = value * 10 + (c - '0');
        if (value > INT32_MAX) return 0;
    }
    return static_cast<int32_t>(value);
}

void startTextAction(int32_t action, std::vector<std::string> texts) {
    const TextActionRunner runner = g_runner.load();
    try {
        startEngineThread([runner, action, texts = std::move(texts)] { runner(action, texts); });
    } catch (...) {
    }
}

void drawDetailLine(const std::vector<std::string>& f) {
    const int32_t kind = leadingNumber(f[0]);
    if (kind == 0) {
        if (f.size() < 3) return;
        UIButtonEntry entry;
        if (!findUIButtonEntry(f[1], entry)) return;
        if (drawTableButtonWithLabels(f[1], entry.label1.c_str(), entry.label2.c_str()) == 1)
            startTextAction(leadingNumber(f[2]), {});
    } else if (kind == 1) {
        if (f.size() < 4) return;
        if (textSelectable(f[3])) startTextAction(leadingNumber(f[1]), {f[3], f[2]});
    } else if (kind == 2) {
        if (f.size() >= 3) ImGui::TextUnformatted(f[2].c_str());
    } else if (f.size() >= 3) {
        ImGui::BulletText("%s", f[2].c_str());
    }
}

void startRemoval(uint32_t kindMask) {
    try {
        startEngineThread([kindMask] { removeAppLogEntriesOfKind(kindMask); });
    } catch (...) {
    }
}

// Ticking entries: the confirm button follows the kind last ticked and
// becomes usable after ten ticks of it; "confirm all" after twenty.
void countTick(uint32_t kind) {
    g_tab.selectedKind = kind;
    if (kind != g_tab.lastKind) {
        g_tab.clickCount = 0;
        const std::string name = kindName(kind);
        setUIButtonLabels("bkcc", ("Confirm all " + name).c_str(), ("confirm all " + name).c_str());
        setUIButtonState("bkcc", kButtonDisabled);
        setUIButtonState("bkcac", kButtonDisabled);
        g_tab.lastKind = kind;
    }
    ++g_tab.clickCount;
    setUIButtonState("bkcc", g_tab.clickCount > 9 ? kButtonEnabled : kButtonDisabled);
    setUIButtonState("bkcac", g_tab.clickCount < 20 ? kButtonDisabled : kButtonEnabled);
}

void drawEntryRow(const AppLogEntry& entry) {
    const std::string shown = wideToUtf8(entry.key);
    const size_t separator = shown.find("[||]");
    const std::string title = unescapeLogText(shown.substr(0, separator));
    const bool hasDetail = separator != std::string::npos;
    pushTextId(shown);
    ImGui::TableNextRow();
    ImGui::TableSetColumnIndex(0);
    bool confirmed = entry.confirmed != 0;
    if (ImGui::Checkbox("##confirmed", &confirmed)) {
        setAppLogEntryConfirmed(entry.key, confirmed);
        countTick(entry.kind);
    }
    ImGui::TableSetColumnIndex(1);
    ImGui::TextUnformatted("\u25CB");
    ImGui::TableSetColumnIndex(2);
    // Entries without a detail are shown dimmer, yet readable.
    ImVec4 color = ImGui::GetStyleColorVec4(ImGuiCol_Text);
    color.w = hasDetail ? 1.0f : 0.7f;
    ImGui::PushStyleColor(ImGuiCol_Text, readableColour(color, {listBackgroundColour()}, kTextContrast));
    if (!hasDetail) {
        textSelectable(title);
    } else if (ImGui::TreeNodeEx("detail", 0, "%s", title.c_str())) {
        drawNotificationDetail(shown.substr(separator + 4));
        ImGui::TreePop();
    }
    ImGui::PopStyleColor();
    ImGui::PopID();
}

void drawKind(const AppLogState& log, size_t position) {
    const NotificationKind& kind = kKinds[position];
    const std::string label = std::string(kind.name) + "##" + std::to_string(position + 1);
    if (!ImGui::TreeNode(label.c_str())) return;
    if (ImGui::BeginTable("NotificationTable", 3, ImGuiTableFlags_SizingFixedFit)) {
        for (const AppLogEntry& entry : log.entries)
            if (entry.kind & kind.bit) drawEntryRow(entry);
        ImGui::EndTable();
    }
    ImGui::TreePop();
}

void drawTabBody(const AppLogState& log) {
    if (!log.entries.empty()) {
        ImGui::TextUnformatted("Active Notifications:");
        ImGui::PushStyleColor(ImGuiCol_ChildBg, ImGui::GetStyleColorVec4(ImGuiCol_FrameBg));
        if (ImGui::BeginChild("ChildL", mainWindow.listArea, true, ImGuiWindowFlags_HorizontalScrollbar)) {
            for (size_t i = 0; i < std::size(kKinds); ++i)
                if (log.pendingKinds & kKinds[i].bit) drawKind(log, i);
        }
        ImGui::EndChild();
        ImGui::PopStyleColor();
    }
    UIButtonRowItem confirm;
    confirm.key = "bkcc";
    UIButtonRowItem confirmAll;
    confirmAll.key = "bkcac";
    confirmAll.label1 = "Confirm All Items";
    confirmAll.label2 = "confirm all items";
    const int32_t clicked = drawButtonRow({confirm, confirmAll}, false);
    if (clicked == 0) {
        setUIButtonState("bkcc", kButtonDisabled);
        startRemoval(g_tab.selectedKind);
    } else if (clicked == 1) {
        setUIButtonState("bkcac", kButtonDisabled);
        startRemoval(0xFFFFFFFFu);
    }
}

}  // namespace

bool drawNotificationDetail(const std::string& detail) {
    const std::vector<std::string> lines = splitAt(detail, "[||]", SIZE_MAX);
    for (size_t i = 0; i < lines.size(); ++i) {
        ImGui::PushID(static_cast<int>(i));
        std::vector<std::string> fields = splitAt(lines[i], "[|]", 4);
        for (std::string& field : fields) field = unescapeLogText(field);
        drawDetailLine(fields);
        ImGui::PopID();
    }
    return true;
}

bool drawNotificationsTab() {
    if (mainWindow.currentTab != g_tab.seenTab) {
        g_tab.clickCount = 0;
        g_tab.seenTab = mainWindow.currentTab;
    }
    const AppLogState log = appLogSnapshot();
    if (log.pendingKinds == 0) return false;
    // The blinking label colour is popped right after the tab item, whether
    // it was selected or not, so the colour stack stays balanced.
    if (log.changed) ImGui::PushStyleColor(ImGuiCol_Text, blinkingTextColour());
    const bool open = ImGui::BeginTabItem("Notifications");
    if (log.changed) ImGui::PopStyleColor();
    if (!open) return false;
    clearAppLogChanged();
    drawTabBody(log);
    ImGui::EndTabItem();
    return true;
}

void setTextActionRunner(TextActionRunner runner) { g_runner.store(runner ? runner : runProgramTextAction); }

void resetNotificationsTab() {
    g_tab = NotificationsTabState();
    g_runner.store(runProgramTextAction);
}
