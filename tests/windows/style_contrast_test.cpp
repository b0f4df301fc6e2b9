// Every window in each of the four styles, read off what the frame drew (the
// draw lists' triangles and colours): each glyph stands 4.5:1 apart from
// what lies under it, or is hidden under a window drawn over it; each field,
// check box and button shows its edge 3:1, and check marks, progress fills
// and grabs stand 3:1 apart from their field.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <sstream>

#include "engine/confirm_request.h"
#include "foundation/app_log.h"
#include "foundation/colour_contrast.h"
#include "foundation/styles.h"
#include "filedialog/file_dialog.h"
#include "windows/about_window.h"
#include "windows/folder_chooser.h"
#include "windows/restore_or_remove_view.h"
#include "windows/scheduler_window.h"
#include "windows/style_editor.h"
#include "windows/thread_status_table.h"
#include "windows/user_message_window.h"
#include "window_test_support.h"

namespace {

enum class Kind { solid, glyph, image };

bool sameColour(const ImVec4& a, const ImVec4& b) {
    return ImGui::ColorConvertFloat4ToU32(a) == ImGui::ColorConvertFloat4ToU32(b);
}

struct Triangle {
    ImVec2 p[3];
    ImVec4 colour[3];
    ImVec4 clip;
    Kind kind;
    size_t listStart, listEnd;  // its window's triangles
    bool windowBackground;      // the run its window's list starts with
    bool swatch;                // in the style editor's list of colours, which shows colours as they are
};

// The frame's triangles in drawing order, binned by 16-pixel cells.
class DrawnFrame {
public:
    DrawnFrame() {
        const ImDrawData* data = ImGui::GetDrawData();
        const ImFontAtlas* atlas = ImGui::GetIO().Fonts;
        for (int l = 0; l < data->CmdListsCount; ++l) {
            const ImDrawList* list = data->CmdLists[l];
            const size_t start = triangles_.size();
            for (const ImDrawCmd& cmd : list->CmdBuffer) {
                if (cmd.UserCallback) continue;
                for (unsigned i = 0; i + 2 < cmd.ElemCount; i += 3) add(list, cmd, i, atlas);
            }
            for (size_t i = start; i < triangles_.size(); ++i) {
                Triangle& t = triangles_[i];
                t.listStart = start, t.listEnd = triangles_.size();
                t.swatch = list->_OwnerName && std::strstr(list->_OwnerName, "##colors");
                t.windowBackground = i == start || (triangles_[i - 1].windowBackground && sameColour(t.colour[0], triangles_[start].colour[0]));
            }
        }
    }

    // The colour at `at` of the solid triangles [from, to) over `base`;
    // `hidden` tells whether an image or a dimming (behind a modal window,
    // or a see-through backdrop window) lies there. `edges`: with the
    // shapes' soft edges and thin lines (to read a background), or without
    // (a window's soft edge does not half hide what lies under it).
    ImVec4 colourAt(ImVec2 at, size_t from, size_t to, ImVec4 base, bool* hidden = nullptr, bool edges = true) const {
        const auto bin = bins_.find(binOf(at));
        if (bin == bins_.end()) return base;
        for (size_t index : bin->second) {
            if (index < from || index >= to) continue;
            float w[3];
            const Triangle& t = triangles_[index];
            if (!inside(t, at, w)) continue;
            const ImVec4 dim = ImGui::GetStyleColorVec4(ImGuiCol_ModalWindowDimBg);
            const ImVec4& c0 = t.colour[0];  // a dimming fades in: its colour, any alpha
            if (hidden && (t.kind == Kind::image || sameColour(ImVec4(c0.x, c0.y, c0.z, 1), ImVec4(dim.x, dim.y, dim.z, 1)) ||
                           (t.windowBackground && c0.w < 0.99f)))
                *hidden = true;
            if (t.kind != Kind::solid || (!edges && (t.colour[1].w != c0.w || t.colour[2].w != c0.w))) continue;
            ImVec4 c(0, 0, 0, 0);
            for (int k = 0; k < 3; ++k)
                c = ImVec4(c.x + t.colour[k].x * w[k], c.y + t.colour[k].y * w[k], c.z + t.colour[k].z * w[k],
                           c.w + t.colour[k].w * w[k]);
            base = colourOver(c, base);
        }
        return base;
    }
    const std::vector<Triangle>& triangles() const { return triangles_; }

private:
    static int64_t binOf(ImVec2 at) { return (static_cast<int64_t>(at.x) >> 4) * 100000 + (static_cast<int64_t>(at.y) >> 4); }

    static bool inside(const Triangle& t, ImVec2 at, float w[3]) {
        if (at.x < t.clip.x || at.y < t.clip.y || at.x >= t.clip.z || at.y >= t.clip.w) return false;
        const ImVec2 &a = t.p[0], &b = t.p[1], &c = t.p[2];
        const float area = (b.x - a.x) * (c.y - a.y) - (c.x - a.x) * (b.y - a.y);
        if (area == 0) return false;
        w[1] = ((at.x - a.x) * (c.y - a.y) - (c.x - a.x) * (at.y - a.y)) / area;
        w[2] = ((b.x - a.x) * (at.y - a.y) - (at.x - a.x) * (b.y - a.y)) / area;
        w[0] = 1 - w[1] - w[2];
        return w[0] >= 0 && w[1] >= 0 && w[2] >= 0;
    }

    void add(const ImDrawList* list, const ImDrawCmd& cmd, unsigned i, const ImFontAtlas* atlas) {
        Triangle t;
        t.clip = cmd.ClipRect;
        bool white = true;
        for (int k = 0; k < 3; ++k) {
            const ImDrawVert& v = list->VtxBuffer[cmd.VtxOffset + list->IdxBuffer[cmd.IdxOffset + i + k]];
            t.p[k] = v.pos;
            t.colour[k] = ImGui::ColorConvertU32ToFloat4(v.col);
            white = white && v.uv.x == atlas->TexUvWhitePixel.x && v.uv.y == atlas->TexUvWhitePixel.y;
        }
        t.kind = cmd.TextureId != atlas->TexID ? Kind::image : white ? Kind::solid : Kind::glyph;
        const size_t index = triangles_.size();
        triangles_.push_back(t);
        const float x0 = std::max(std::min({t.p[0].x, t.p[1].x, t.p[2].x}), t.clip.x);
        const float x1 = std::min(std::max({t.p[0].x, t.p[1].x, t.p[2].x}), t.clip.z);
        const float y0 = std::max(std::min({t.p[0].y, t.p[1].y, t.p[2].y}), t.clip.y);
        const float y1 = std::min(std::max({t.p[0].y, t.p[1].y, t.p[2].y}), t.clip.w);
        for (int64_t x = static_cast<int64_t>(std::max(x0, 0.f)) >> 4; x <= static_cast<int64_t>(std::max(x1, 0.f)) >> 4; ++x)
            for (int64_t y = static_cast<int64_t>(std::max(y0, 0.f)) >> 4; y <= static_cast<int64_t>(std::max(y1, 0.f)) >> 4; ++y)
                if (x0 <= x1 && y0 <= y1) bins_[x * 100000 + y].push_back(index);
    }

    std::vector<Triangle> triangles_;
    std::map<int64_t, std::vector<size_t>> bins_;
};

ImVec2 centreOf(const Triangle& t) {
    return ImVec2((t.p[0].x + t.p[1].x + t.p[2].x) / 3, (t.p[0].y + t.p[1].y + t.p[2].y) / 3);
}


// The colours that fill fields, check boxes, progress bars and the program's
// buttons, and those of the marks drawn on them.
std::vector<ImVec4> frameColours() {
    const ImGuiStyle& style = ImGui::GetStyle();
    std::vector<ImVec4> colours = {style.Colors[ImGuiCol_FrameBg]};
    for (const auto& [key, entry] : copyUIButtonTable()) {
        ImVec4 rgb(0, 0, 0, 1);
        ImGui::ColorConvertHSVtoRGB(static_cast<float>(entry.currentColors[0]), static_cast<float>(entry.currentColors[1]),
                                    static_cast<float>(entry.currentColors[2]), rgb.x, rgb.y, rgb.z);
        colours.push_back(rgb);
    }
    return colours;
}
bool isOneOf(const ImVec4& colour, const std::vector<ImVec4>& colours) {
    for (const ImVec4& c : colours)
        if (sameColour(c, colour)) return true;
    return false;
}

// What the frame shows wrong; empty when everything reads.
std::string unreadableParts(const ImVec4& clear) {
    const DrawnFrame frame;
    const std::vector<Triangle>& all = frame.triangles();
    const ImGuiStyle& style = ImGui::GetStyle();
    const std::vector<ImVec4> frames = frameColours();
    const std::vector<ImVec4> marks = {style.Colors[ImGuiCol_CheckMark], style.Colors[ImGuiCol_PlotHistogram],
                                       style.Colors[ImGuiCol_SliderGrab], style.Colors[ImGuiCol_ScrollbarGrab]};
    std::ostringstream out;
    size_t failures = 0;
    const auto fail = [&](const char* what, ImVec2 at, float ratio) {
        if (++failures <= 5) out << what << " at " << at.x << "," << at.y << ": " << ratio << ":1\n";
    };
    for (size_t i = 0; i < all.size(); ++i) {
        const Triangle& t = all[i];
        const ImVec2 at = centreOf(t);
        const bool clipped = at.x < t.clip.x || at.y < t.clip.y || at.x >= t.clip.z || at.y >= t.clip.w;
        if (t.kind == Kind::glyph && !clipped) {
            // Read as it finally shows, under whatever was drawn over it.
            bool hidden = false;
            const ImVec4 under = frame.colourAt(at, 0, i, clear, &hidden);
            const ImVec4 seen = frame.colourAt(at, i + 1, all.size(), colourOver(t.colour[0], under), &hidden, false);
            const ImVec4 behind = frame.colourAt(at, i + 1, all.size(), under, nullptr, false);
            const float ratio = contrastRatio(seen, behind);
            if (!hidden && t.colour[0].w > 0 && ratio < kTextContrast && ratio > 1.15f) fail("text", at, ratio);
        } else if (t.kind == Kind::solid && !t.swatch && sameColour(t.colour[0], t.colour[1]) &&
                   sameColour(t.colour[0], t.colour[2])) {
            const ImVec4 under = frame.colourAt(at, 0, i, clear);
            const float markRatio = contrastRatio(colourOver(t.colour[0], under), under);
            if (isOneOf(t.colour[0], marks) && markRatio < kControlContrast) fail("mark", at, markRatio);
            // (A window's own background comes first in its list: no field.)
            if (!isOneOf(t.colour[0], frames) || i == t.listStart || sameColour(all[i - 1].colour[0], t.colour[0])) continue;
            // A field (its run of triangles): its left edge, where its outline
            // runs, against what lies left of it, as its own window drew them.
            ImVec2 min = t.p[0], max = t.p[0];
            for (size_t j = i; j < all.size() && sameColour(all[j].colour[0], t.colour[0]) &&
                               sameColour(all[j].colour[1], t.colour[0]) && sameColour(all[j].colour[2], t.colour[0]); ++j)
                for (const ImVec2& p : all[j].p)
                    min = ImVec2(std::min(min.x, p.x), std::min(min.y, p.y)), max = ImVec2(std::max(max.x, p.x), std::max(max.y, p.y));
            // (The outline runs along a soft-edged fill's edge, or half a pixel
            // inside a hard-edged one.)
            const ImVec2 edge(min.x, (min.y + max.y) / 2), inner(min.x + 0.5f, edge.y), outside(edge.x - 2, edge.y);
            bool hidden = false;
            frame.colourAt(edge, t.listEnd, all.size(), clear, &hidden);
            frame.colourAt(outside, 0, t.listEnd, clear, &hidden);
            if (hidden || outside.x < t.clip.x || edge.x >= t.clip.z || edge.y < t.clip.y || edge.y >= t.clip.w) continue;
            const ImVec4 beside = frame.colourAt(outside, 0, t.listEnd, clear);
            const float ratio = std::max(contrastRatio(frame.colourAt(edge, 0, t.listEnd, clear), beside),
                                         contrastRatio(frame.colourAt(inner, 0, t.listEnd, clear), beside));
            if (ratio < kControlContrast) fail("field edge", edge, ratio);
        }
    }
    if (failures > 5) out << "... " << failures << " in all\n";
    return out.str();
}

class StyleContrastTest : public MainWindowTest {
protected:
    // Draws a few frames of the scene and reads the last one.
    std::string check(const std::function<void()>& open) {
        open();
        for (int i = 0; i < 4; ++i) ui.frame(drawItemsFrame);
        const ImVec4 clear = frameClearColour();
        return unreadableParts(ImVec4(clear.x * clear.w, clear.y * clear.w, clear.z * clear.w, 1));
    }
};
}  // namespace

TEST_F(StyleContrastTest, EveryWindowReadsInEveryStyle) {
    ImGui::GetStyle().AntiAliasedLinesUseTex = false;  // lines as triangles the check can read
    fakeWindowMs = 1250;  // blinking labels at their full colour
    addFolder(folders.watch + L"-gone", folders.archive + L"-gone", kCollisionAppendVersion);
    {
        std::lock_guard<std::mutex> lock(watchFolderMutex);
        WatchFolderEntry& entry = watchFolderMap[folders.watch];
        entry.changesDetected = 4;
        entry.progressRatio = 0.4;
        entry.backupProgress = 1.0;
        watchFolderMap[folders.watch + L"-gone"].problemFlags = 1;
    }
    appendAppLogEntry(L"a message", 1, false);
    appendAppLogEntry(L"an issue[||]3[|] [|]a detail line[|] ", 4, false);
    const auto showFolders = [](bool shown) {
        std::lock_guard<std::mutex> lock(watchFolderMutex);
        for (auto& [key, entry] : watchFolderMap) entry.removed = !shown;
    };
    const std::vector<std::pair<const char*, std::function<void()>>> scenes = {
        {"welcome", [&] { showFolders(false); setShellFirstRun(true); }},
        {"Folders", [&] { showFolders(true); clickRow(0); }},
        {"Notifications", [this] {
             clickTab("Notifications");
             const std::vector<ImVec2> kinds = ui.itemsDown(drawItemsFrame, HeadlessImGui::findWindow("ChildL"));
             for (auto node = kinds.rbegin(); node != kinds.rend(); ++node) ui.click(drawItemsFrame, *node);
         }},
        {"Applications", [this] { clickTab("Applications"); }},
        {"folder chooser", [this] { clickTab("Folders"); openFolderChooser(folders.watch); }},
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
        for (const auto& [name, open] : scenes) {
            const std::string found = check(open);
            EXPECT_EQ(found, "") << styleName(style) << ", " << name;
        }
        closeAboutWindow();
        resetSchedulerWindows();
        resetRestoreOrRemoveView();
        resetUserMessageWindow();
        threadStatusShown = false;
        {
            std::lock_guard<std::mutex> lock(modalMessageMutex);
            modalMessage = ModalMessageState();
        }
        resetMainWindow();
    }
}
