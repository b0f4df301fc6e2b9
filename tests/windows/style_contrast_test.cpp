// Every window in each of the four styles, read off the triangles and
// colours the frame drew: each glyph stands 4.5:1 apart from what it shows
// on (or is hidden under a window drawn over it); the edge of each field,
// check box and button, each check mark, progress fill and grab, and each
// selected or hovered row, 3:1.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <sstream>

#include "engine/confirm_request.h"
#include "filedialog/file_dialog.h"
#include "foundation/colour_contrast.h"
#include "foundation/styles.h"
#include "windows/about_window.h"
#include "windows/folder_chooser.h"
#include "windows/restore_or_remove_view.h"
#include "windows/scheduler_window.h"
#include "windows/style_editor.h"
#include "windows/thread_status_table.h"
#include "windows/user_message_window.h"
#include "window_test_support.h"

namespace {

bool sameColour(const ImVec4& a, const ImVec4& b) {
    return ImGui::ColorConvertFloat4ToU32(a) == ImGui::ColorConvertFloat4ToU32(b);
}
bool isOneOf(const ImVec4& colour, const std::vector<ImVec4>& colours) {
    return std::any_of(colours.begin(), colours.end(), [&](const ImVec4& c) { return sameColour(c, colour); });
}
// The colour of the dimming behind a modal window (at any opacity).
bool isDimming(const ImVec4& colour) {
    const ImVec4 dim = ImGui::GetStyleColorVec4(ImGuiCol_ModalWindowDimBg);
    return sameColour(ImVec4(colour.x, colour.y, colour.z, 1), ImVec4(dim.x, dim.y, dim.z, 1));
}

// One triangle of the frame (drawn without anti-aliasing: one colour each).
struct Triangle {
    ImVec2 p[3];
    ImVec4 colour, clip;
    bool glyph, image, windowBackground, swatch;
    size_t listEnd;  // the end of its window's triangles
    ImVec2 centre() const { return ImVec2((p[0].x + p[1].x + p[2].x) / 3, (p[0].y + p[1].y + p[2].y) / 3); }
    bool covers(ImVec2 at) const {
        if (at.x < clip.x || at.y < clip.y || at.x >= clip.z || at.y >= clip.w) return false;
        float side[3];
        for (int k = 0; k < 3; ++k) {
            const ImVec2 &a = p[k], &b = p[(k + 1) % 3];
            side[k] = (b.x - a.x) * (at.y - a.y) - (b.y - a.y) * (at.x - a.x);
        }
        return (side[0] >= 0 && side[1] >= 0 && side[2] >= 0) || (side[0] <= 0 && side[1] <= 0 && side[2] <= 0);
    }
};

// The frame's triangles in drawing order, found by 16-pixel cells.
struct DrawnFrame {
    std::vector<Triangle> all;
    std::map<int, std::vector<size_t>> cells;

    DrawnFrame() {
        const ImDrawData* data = ImGui::GetDrawData();
        const ImFontAtlas* atlas = ImGui::GetIO().Fonts;
        for (int l = 0; l < data->CmdListsCount; ++l) {
            const ImDrawList* list = data->CmdLists[l];
            const size_t start = all.size();
            for (const ImDrawCmd& cmd : list->CmdBuffer)
                for (unsigned i = 0; i + 2 < cmd.ElemCount; i += 3) {
                    Triangle t{};
                    bool white = true;
                    for (int k = 0; k < 3; ++k) {
                        const ImDrawVert& v = list->VtxBuffer[cmd.VtxOffset + list->IdxBuffer[cmd.IdxOffset + i + k]];
                        t.p[k] = v.pos;
                        white = white && v.uv.x == atlas->TexUvWhitePixel.x && v.uv.y == atlas->TexUvWhitePixel.y;
                        t.colour = ImGui::ColorConvertU32ToFloat4(v.col);
                    }
                    t.clip = cmd.ClipRect;
                    t.image = cmd.TextureId != atlas->TexID;
                    t.glyph = !white && !t.image;
                    // A modal window's list starts with the dimming behind it, then its background.
                    t.windowBackground = all.size() == start ||
                                         (all.back().windowBackground &&
                                          (sameColour(t.colour, all.back().colour) || isDimming(all.back().colour)));
                    t.swatch = list->_OwnerName && std::strstr(list->_OwnerName, "##colors");  // the style editor's colours
                    for (int x = static_cast<int>(std::max(std::min({t.p[0].x, t.p[1].x, t.p[2].x}), 0.f)) / 16;
                         x <= static_cast<int>(std::max({t.p[0].x, t.p[1].x, t.p[2].x, 0.f})) / 16; ++x)
                        for (int y = static_cast<int>(std::max(std::min({t.p[0].y, t.p[1].y, t.p[2].y}), 0.f)) / 16;
                             y <= static_cast<int>(std::max({t.p[0].y, t.p[1].y, t.p[2].y, 0.f})) / 16; ++y)
                            cells[x * 1000 + y].push_back(all.size());
                    all.push_back(t);
                }
            for (size_t i = start; i < all.size(); ++i) all[i].listEnd = all.size();
        }
    }

    // The colour at `at` of the shapes [from, to) over `base`. `hidden`: an
    // image or a see-through backdrop window lies there, or the dimming behind
    // a modal window over what was drawn before `from`, which nobody reads
    // through (the modal window's own parts lie over its dimming).
    ImVec4 colourAt(ImVec2 at, size_t from, size_t to, ImVec4 base, bool* hidden = nullptr) const {
        const auto cell = cells.find(static_cast<int>(at.x) / 16 * 1000 + static_cast<int>(at.y) / 16);
        if (cell == cells.end()) return base;
        for (size_t index : cell->second) {
            const Triangle& t = all[index];
            if (index < from || index >= to || !t.covers(at)) continue;
            const bool backdrop = t.windowBackground && t.colour.w < 0.99f && !isDimming(t.colour);
            if (hidden && (t.image || backdrop || (isDimming(t.colour) && from > 0))) *hidden = true;
            if (!t.glyph && !t.image) base = colourOver(t.colour, base);
        }
        return base;
    }
};

// What the last frame shows unreadable; empty when everything reads.
std::string unreadableParts(const ImVec4& clear) {
    const DrawnFrame frame;
    const ImGuiStyle& style = ImGui::GetStyle();
    std::vector<ImVec4> fields = {style.Colors[ImGuiCol_FrameBg]};  // and the program's buttons
    for (const auto& [key, entry] : copyUIButtonTable()) {
        ImVec4 rgb(0, 0, 0, 1);
        ImGui::ColorConvertHSVtoRGB(static_cast<float>(entry.currentColors[0]), static_cast<float>(entry.currentColors[1]),
                                    static_cast<float>(entry.currentColors[2]), rgb.x, rgb.y, rgb.z);
        fields.push_back(rgb);
    }
    const std::vector<ImVec4> marks = {style.Colors[ImGuiCol_CheckMark], style.Colors[ImGuiCol_PlotHistogram],
                                       style.Colors[ImGuiCol_SliderGrab], style.Colors[ImGuiCol_ScrollbarGrab]};
    const std::vector<ImVec4> rows = {style.Colors[ImGuiCol_Header], style.Colors[ImGuiCol_HeaderHovered],
                                      style.Colors[ImGuiCol_HeaderActive]};
    std::ostringstream out;
    const auto check = [&](const char* what, ImVec2 at, float ratio, float needed) {
        if (ratio < needed) out << what << " at " << at.x << "," << at.y << ": " << ratio << ":1\n";
    };
    const std::vector<Triangle>& all = frame.all;
    for (size_t i = 0; i < all.size() && out.str().size() < 400; ++i) {
        const Triangle& t = all[i];
        const ImVec2 at = t.centre();
        bool hidden = t.image || t.swatch || !t.covers(at);
        const ImVec4 under = frame.colourAt(at, 0, i, clear, &hidden);
        if (t.glyph) {
            // As it finally shows: readable, or hidden under a window.
            const ImVec4 seen = frame.colourAt(at, i + 1, all.size(), colourOver(t.colour, under), &hidden);
            const float ratio = contrastRatio(seen, frame.colourAt(at, i + 1, all.size(), under));
            if (!hidden && ratio > 1.15f) check("text", at, ratio, kTextContrast);
        } else if (!hidden && isOneOf(t.colour, marks)) {
            check("mark", at, contrastRatio(colourOver(t.colour, under), under), kControlContrast);
        } else if (!hidden && isOneOf(t.colour, rows)) {
            check("row", at, contrastRatio(colourOver(t.colour, under), under), kControlContrast);
        } else if (!hidden && isOneOf(t.colour, fields) && !t.windowBackground && !sameColour(all[i - 1].colour, t.colour)) {
            // A field's left edge, where its outline runs, against what lies
            // left of it, as its own window drew them.
            float left = at.x, top = at.y, bottom = at.y;
            for (size_t j = i; j < all.size() && sameColour(all[j].colour, t.colour); ++j)
                for (const ImVec2& p : all[j].p) left = std::min(left, p.x), top = std::min(top, p.y), bottom = std::max(bottom, p.y);
            const ImVec2 edge(left + 0.5f, (top + bottom) / 2), outside(left - 1.5f, edge.y);
            frame.colourAt(edge, t.listEnd, all.size(), clear, &hidden);
            const ImVec4 beside = frame.colourAt(outside, 0, t.listEnd, clear, &hidden);
            if (!hidden && outside.x >= t.clip.x && edge.y >= t.clip.y && edge.y < t.clip.w)
                check("field edge", edge, contrastRatio(frame.colourAt(edge, 0, t.listEnd, clear), beside), kControlContrast);
        }
    }
    return out.str();
}

class StyleContrastTest : public MainWindowTest {
protected:
    // Opens the scene, draws a few frames (the mouse resting at `mouse`) and reads the last one.
    std::string check(const std::function<void()>& open) {
        mouse = ImVec2(-1000, -1000);
        open();
        for (int i = 0; i < 4; ++i) ui.frame(drawItemsFrame, mouse);
        const ImVec4 clear = frameClearColour();
        return unreadableParts(ImVec4(clear.x * clear.w, clear.y * clear.w, clear.z * clear.w, 1));
    }
    ImVec2 mouse;
};
}  // namespace

TEST_F(StyleContrastTest, EveryWindowReadsInEveryStyle) {
    ImGuiStyle& look = ImGui::GetStyle();
    look.AntiAliasedLines = look.AntiAliasedLinesUseTex = look.AntiAliasedFill = false;  // one colour per triangle
    fakeWindowMs = 1250;  // blinking labels at their full colour
    addFolder(folders.watch + L"-gone", folders.archive + L"-gone", kCollisionAppendVersion);
    {
        std::lock_guard<std::mutex> lock(watchFolderMutex);
        WatchFolderEntry& entry = watchFolderMap[folders.watch];
        entry.changesDetected = 4;  // a copy progress bar in its row
        entry.progressRatio = 0.4;
        entry.backupProgress = 1.0;  // the figure on the fill
        watchFolderMap[folders.watch + L"-gone"].problemFlags = 1;  // a blinking row
    }
    appendAppLogEntry(L"a message", 1, false);
    appendAppLogEntry(L"an issue[||]3[|] [|]a detail line[|] ", 4, false);
    const auto showFolders = [](bool shown) {
        std::lock_guard<std::mutex> lock(watchFolderMutex);
        for (auto& [key, entry] : watchFolderMap) entry.removed = !shown;
    };
    const std::vector<std::pair<const char*, std::function<void()>>> scenes = {
        {"welcome", [&] { showFolders(false); setShellFirstRun(true); }},
        {"Folders", [&] {  // a selected row, and the mouse on the other
             showFolders(true);
             clickRow(0);
             mouse = ui.itemsDown(drawItemsFrame, folderList()).at(1);
         }},
        {"Notifications", [this] {
             clickTab("Notifications");
             const std::vector<ImVec2> kinds = ui.itemsDown(drawItemsFrame, HeadlessImGui::findWindow("ChildL"));
             for (auto node = kinds.rbegin(); node != kinds.rend(); ++node) ui.click(drawItemsFrame, *node);
         }},
        {"Applications", [this] { clickTab("Applications"); }},
        {"folder chooser", [this] {  // a selected row in a striped table, the mouse on the next
             clickTab("Folders");
             openFolderChooser(folders.watch);
             for (int i = 0; i < 3; ++i) ui.frame(drawItemsFrame);  // it takes its place
             const ImGuiWindow* list = HeadlessImGui::firstChildOf(HeadlessImGui::findWindow("Choose a Folder"));
             const std::vector<ImVec2> rows = ui.itemsDown(drawItemsFrame, list);  // header, ".", "..", entries
             ui.click(drawItemsFrame, rows.at(3));
             mouse = rows.at(4);
         }},
        {"About", [] { showAboutBox(); openAboutWindow(); }},
        {"scheduler", [this] {
             VFD::FileDialog::Shared().CloseDialog();
             closeAboutWindow();
             openSchedulerWindow(folders.watch);
         }},
        {"extension manager", [this] { openExtensionManagerWindow(folders.watch); }},
        {"restore view", [this] { closeExtensionManagerWindow(); openRestoreOrRemoveView(folders.watch); }},
        {"style editor", [] { openStyleEditorWindow(); }},
        {"user message", [] { resetStyleEditor(); openUserMessageWindow(); }},
        {"question", [] { showModalMessage("Question:", "Heading", "Body\n?a choice\n", 3); }},
        {"thread status", [] { threadStatusShown = true; }},
    };
    for (int style = 0; style < kStyleCount; ++style) {
        setShellStyleIndex(style);
        for (const auto& [name, open] : scenes) EXPECT_EQ(check(open), "") << styleName(style) << ", " << name;
        closeAboutWindow();
        resetSchedulerWindows();
        resetRestoreOrRemoveView();
        resetUserMessageWindow();
        threadStatusShown = false;
        resetMainWindow();
        std::lock_guard<std::mutex> lock(modalMessageMutex);
        modalMessage = ModalMessageState();
    }
}
