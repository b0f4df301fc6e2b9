#include "windows/thread_status_table.h"

#include <imgui.h>

#include <algorithm>
#include <cfloat>
#include <string>
#include <vector>

#include "engine/thread_registry.h"
#include "foundation/text_format.h"
#include "platform/text.h"
#include "windows/main_window.h"

namespace {
bool g_sized = false;

struct ThreadRow {
    std::string name;
    int32_t state = 0;
    std::string elapsed;  // blank unless running
    std::string ping;
};

// Copied out under the registry mutex; the drawing runs without it.
std::vector<ThreadRow> threadRows() {
    const int64_t now = engineNowTicks();
    std::vector<ThreadRow> rows;
    std::lock_guard<std::mutex> lock(threadStateMutex);
    for (const auto& [name, entry] : threadStateMap) {
        ThreadRow row{name, entry.state, " ", " "};
        if (entry.state == kThreadRunning) {
            const int64_t ms = std::max<int64_t>(now - entry.start, 0) / 10000;
            row.elapsed = wideToUtf8(formatDurationMs(static_cast<uint64_t>(ms)));
            row.ping = std::to_string(entry.pingCount);
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

void drawRows(const std::vector<ThreadRow>& rows) {
    if (rows.empty()) {
        ImGui::BulletText("No entries");
        return;
    }
    ImGui::Columns(4, "ThreadStatusColumns");
    for (const char* header : {"Key", "Status", "Elapsed", "Ping"}) {
        ImGui::TextUnformatted(header);
        ImGui::NextColumn();
    }
    ImGui::Separator();
    for (const ThreadRow& row : rows) {
        for (const char* text : {row.name.c_str(), threadStateText(row.state), row.elapsed.c_str(), row.ping.c_str()}) {
            ImGui::TextUnformatted(text);
            ImGui::NextColumn();
        }
    }
    ImGui::Columns(1);
}
}  // namespace

void drawThreadStatusTable() {
    if (!g_sized) {
        const ImVec2 work = ImGui::GetMainViewport()->WorkSize;
        ImGui::SetNextWindowPos(ImGui::GetMainViewport()->WorkPos);
        ImGui::SetNextWindowSize(ImVec2(std::max(work.x, 480.0f), std::max(work.y, 240.0f)));
        g_sized = true;
    }
    ImGui::SetNextWindowSizeConstraints(ImVec2(300, 150), ImVec2(FLT_MAX, FLT_MAX));
    bool shown = threadStatusShown.load();
    if (ImGui::Begin("Thread Status Entries", &shown, ImGuiWindowFlags_NoCollapse)) drawRows(threadRows());
    ImGui::End();
    if (!shown) {
        threadStatusShown.store(false);
        g_sized = false;
    }
}

void resetThreadStatusTable() { g_sized = false; }
