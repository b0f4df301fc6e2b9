#include "windows/about_window.h"

#include <imgui.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <system_error>

#include "foundation/app_config.h"
#include "foundation/app_version.h"
#include "foundation/global_defaults.h"
#include "net/update_check.h"
#include "platform/text.h"
#include "shell/buttons.h"
#include "shell/display_items.h"
#include "shell/fonts.h"
#include "shell/graphics.h"
#include "windows/help_tab.h"
#include "windows/window_jobs.h"
#include "shell/text_widgets.h"

namespace {

using AboutPages = std::map<int, AboutPage>;

std::atomic<bool> g_shown{false};

// The pages in force, replaced whole by each build. A frame holds its own
// reference, so a build finishing mid-frame never changes what it draws.
std::mutex g_pagesMutex;
std::shared_ptr<const AboutPages> g_pages = std::make_shared<AboutPages>();
// Held for a whole build: the build that starts last reads the newest
// remote version and swaps in last.
std::mutex g_buildMutex;

// Drawn on the UI thread only.
struct AboutViewState {
    int page = 0;
    uint32_t buttonMask = 251;
    int lastPage = -1;
    size_t keyFrame = 0;
    int64_t keyFrameStartMs = 0;
    float blend = 0;
    AboutKeyFrame source;
};
AboutViewState g_view;

constexpr struct {
    const char* key;
    uint32_t bit;
    uint32_t mask;  // the mask its page sets
} kPageButtons[3] = {{"bkai", 4, 251}, {"bkau", 2, 253}, {"bkac", 1, 254}};

// Page 0 pans over the intro picture: the mark, its right side, the title,
// and back; page 1 zooms into the mark and out again; page 2 stands still.
std::vector<AboutKeyFrame> keyFramesOf(int page) {
    if (page == 0)
        return {{2, 111, 301, 250, 2500, false},
                {180, 111, 479, 250, 3000, true},
                {90, 300, 389, 439, 3000, true},
                {2, 111, 301, 250, 3000, true}};
    if (page == 1)
        return {{0, 0, 425, 192, 2500, false}, {14, 56, 126, 107, 2000, true}, {0, 0, 425, 192, 2000, true}};
    return {{0, 0, 425, 192, 1000, false}};
}

std::string text(std::string_view view) { return std::string(view); }
std::string narrow(std::wstring_view wide) { return wideToUtf8(std::wstring(wide)); }

// The newest release as far as it is known, and how the last check went:
// the start value of the remote version is no release to show.
std::string currentVersionText() {
    const RemoteVersionCheck check = lastRemoteVersionCheck();
    if (!remoteAppVersionKnown())
        return check == RemoteVersionCheck::failed ? "unknown - the check failed" : "not checked yet";
    const std::string remote = remoteAppVersion();
    return check == RemoteVersionCheck::failed ? remote + " - the last check failed" : remote;
}

AboutPages buildPages() {
    std::string guid;
    std::string hwguid;
    {
        std::lock_guard<std::mutex> lock(appSettingsMutex);
        guid = appSettings.guid;
        hwguid = appSettings.hwguid;
    }
    const std::string own(kOwnAppVersion);
    const bool older = remoteAppVersionKnown() && isNewerVersion(own, remoteAppVersion());

    AboutPages pages;
    AboutPage& info = pages[0];
    info.picture = "about_intro";
    info.lines = {{text(kAboutName), ""},
                  {text(kSymbolDisc) + " Version: " + own, ""},
                  {text(kAboutUserId) + guid, ""},
                  {text(kAboutHardwareId) + hwguid, ""},
                  {text(kAboutGuide), text(kAboutGuideCommand)},
                  {text(kAboutOnlineGuide), text(kAboutOnlineGuideCommand)}};
    AboutPage& updates = pages[1];
    updates.picture = "about_info";
    updates.lines = {{text(kAboutName), ""},
                     {text(kAboutCheckUpdate), text(kAboutCheckUpdateCommand)},
                     {text(older ? kSymbolCircle : kSymbolDisc) + " Version: " + own + " ( Current: " + currentVersionText() + " )", ""}};
    if (older) updates.lines.push_back({text(kAboutDownload), narrow(kDownloadAddress)});
    updates.lines.push_back({text(kAboutChangeLog), narrow(kChangeLogAddress)});
    AboutPage& credits = pages[2];
    credits.picture = "about_info";
    credits.lines = {{text(kAboutAuthor), ""},
                     {text(kAboutMaker), narrow(kMakerHomeAddress)},
                     {text(kAboutImGuiCredit), ""}};
    for (auto& [number, page] : pages) page.keyFrames = keyFramesOf(number);
    return pages;
}

std::shared_ptr<const AboutPages> currentPages() {
    std::lock_guard<std::mutex> lock(g_pagesMutex);
    return g_pages;
}

void runLineAction(const std::string& action) {
    try {
        if (action == kAboutCheckUpdateCommand)
            startRemoteVersionFetch();
        else if (action == kAboutGuideCommand)
            startShellOpen(installedGuidePath());
        else if (action == kAboutOnlineGuideCommand)
            startShellOpen(std::wstring(kOnlineGuideAddress));
        else
            startShellOpen(utf8ToWide(action));
    } catch (const std::system_error&) {
        // No thread could be started: the click does nothing.
    }
}

// Steps the animation to the clock: wraps past the last key frame, advances
// when a key frame's time is up, and blends into a key frame that asks for it.
void advancePicture(const std::vector<AboutKeyFrame>& frames) {
    const int64_t now = windowClockMs();
    if (g_view.page != g_view.lastPage) {
        g_view.lastPage = g_view.page;
        g_view.keyFrame = 0;
        g_view.keyFrameStartMs = now;
    }
    if (frames.empty()) {
        g_view.source = AboutKeyFrame();
        return;
    }
    if (g_view.keyFrame >= frames.size()) g_view.keyFrame = 0, g_view.keyFrameStartMs = now;
    const int64_t elapsed = now - g_view.keyFrameStartMs;
    if (elapsed >= frames[g_view.keyFrame].durationMs) {
        g_view.keyFrame = (g_view.keyFrame + 1) % frames.size();
        g_view.blend = 0;
        g_view.keyFrameStartMs = now;
    } else {
        g_view.blend = static_cast<float>(elapsed) / static_cast<float>(frames[g_view.keyFrame].durationMs);
    }
    const AboutKeyFrame& to = frames[g_view.keyFrame];
    g_view.source = to;
    if (!to.blend || g_view.keyFrame == 0) return;
    const AboutKeyFrame& from = frames[g_view.keyFrame - 1];
    const float t = g_view.blend;
    g_view.source.x0 = from.x0 + (to.x0 - from.x0) * t;
    g_view.source.y0 = from.y0 + (to.y0 - from.y0) * t;
    g_view.source.x1 = from.x1 + (to.x1 - from.x1) * t;
    g_view.source.y1 = from.y1 + (to.y1 - from.y1) * t;
}

void drawPicture(const AboutPage& page, float width) {
    advancePicture(page.keyFrames);
    const AboutKeyFrame& s = g_view.source;
    const auto item = mapTextureItems.find(page.picture);
    const ImTextureID texture = textureId(page.picture);
    if (s.x1 <= s.x0 || s.y1 <= s.y0 || !texture || item == mapTextureItems.end()) return;
    const float w = static_cast<float>(item->second.width);
    const float h = static_cast<float>(item->second.height);
    if (w <= 0 || h <= 0 || width <= 0) return;
    ImGui::Image(texture, ImVec2(width, width * (s.y1 - s.y0) / (s.x1 - s.x0)), ImVec2(s.x0 / w, s.y0 / h),
                 ImVec2(s.x1 / w, s.y1 / h), ImVec4(1, 1, 1, 1));
}

void drawLines(const AboutPage& page) {
    for (size_t i = 0; i < page.lines.size(); ++i) {
        const AboutLine& line = page.lines[i];
        ImGui::PushID(static_cast<int>(i));
        if (line.action.empty())
            ImGui::TextUnformatted(line.text.c_str());
        else if (textSelectable(line.text))
            runLineAction(line.action);
        ImGui::PopID();
    }
}

void drawPageButtons() {
    std::vector<UIButtonRowItem> row(3);
    for (size_t i = 0; i < row.size(); ++i) {
        row[i].key = kPageButtons[i].key;
        row[i].state = (g_view.buttonMask & kPageButtons[i].bit) ? kButtonEnabled : kButtonDisabled;
    }
    const int32_t clicked = drawButtonRow(row, true);
    if (clicked < 0) return;
    g_view.page = clicked;
    g_view.buttonMask = kPageButtons[clicked].mask;
}

void drawAboutBody() {
    const std::shared_ptr<const AboutPages> pages = currentPages();
    const auto found = pages->find(g_view.page);
    const AboutPage empty;
    const AboutPage& page = found == pages->end() ? empty : found->second;
    const ImVec2 available = ImGui::GetContentRegionAvail();
    const ImVec2 list(available.x - 20, std::max(available.y, 240.0f));
    ImGui::PushFont(fontArial16 ? fontArial16 : ImGui::GetFont());
    if (ImGui::BeginListBox("##about", list)) {
        drawPicture(page, list.x - 8);
        drawLines(page);
        drawPageButtons();
        ImGui::EndListBox();
    }
    ImGui::PopFont();
}

}  // namespace

void drawAboutWindow() {
    bool shown = g_shown.load();
    if (!shown) return;
    const ImGuiViewport* viewport = ImGui::GetMainViewport();
    ImGui::SetNextWindowPos(viewport->GetCenter(), ImGuiCond_FirstUseEver, ImVec2(0.5f, 0.5f));
    ImGui::SetNextWindowSize(ImVec2(560, 560), ImGuiCond_FirstUseEver);
    const ImGuiWindowFlags flags = ImGuiWindowFlags_NoResize | ImGuiWindowFlags_NoScrollbar | ImGuiWindowFlags_NoCollapse;
    if (ImGui::Begin("About", &shown, flags)) {
        checkDisplayItemZOrder(kAboutWindowItemId);
        drawAboutBody();
    }
    ImGui::End();
    if (!shown) closeAboutWindow();
}

bool isAboutWindowOpen() { return g_shown.load(); }

void openAboutWindow() {
    if (!g_shown.exchange(true)) pushDisplayItemZOrder(kAboutWindowItemId);
}

void closeAboutWindow() {
    if (g_shown.exchange(false)) removeDisplayItemZOrder(kAboutWindowItemId);
}

bool showAboutBox() {
    std::lock_guard<std::mutex> build(g_buildMutex);
    auto pages = std::make_shared<const AboutPages>(buildPages());
    std::lock_guard<std::mutex> lock(g_pagesMutex);
    g_pages = std::move(pages);
    return true;
}

AboutPage aboutPage(int page) {
    const std::shared_ptr<const AboutPages> pages = currentPages();
    const auto found = pages->find(page);
    return found == pages->end() ? AboutPage() : found->second;
}

AboutPictureState aboutPictureState() {
    return AboutPictureState{g_view.page, g_view.keyFrame, g_view.blend, g_view.source};
}

void resetAboutWindow() {
    closeAboutWindow();
    g_view = AboutViewState();
    std::lock_guard<std::mutex> lock(g_pagesMutex);
    g_pages = std::make_shared<AboutPages>();
}
