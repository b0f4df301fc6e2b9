#include "imgui_c_frames.h"

#include "imgui_headless.h"

namespace {

HeadlessImGui* ui = nullptr;

std::function<void()> bind(HeadlessDraw draw, void* user) {
    return [draw, user] { draw(user); };
}

// The vertical line of the window's items; false when there is no such window.
bool lineOf(const char* window, float fromRight, ImVec2& top, ImVec2& bottom) {
    ImGuiWindow* found = HeadlessImGui::findWindow(window);
    if (!found) return false;
    const float x = found->Pos.x + found->Size.x - fromRight;
    top = ImVec2(x, found->Pos.y + 1);
    bottom = ImVec2(x, found->Pos.y + found->Size.y - 1);
    return true;
}

}  // namespace

extern "C" {

void headlessCreate(void) { ui = new HeadlessImGui(); }

void headlessDestroy(void) {
    delete ui;
    ui = nullptr;
}

void headlessFrame(HeadlessDraw draw, void* user) { ui->frame(bind(draw, user)); }

void headlessClick(HeadlessDraw draw, void* user, float x, float y) { ui->click(bind(draw, user), ImVec2(x, y)); }

void headlessType(HeadlessDraw draw, void* user, const char* utf8) { ui->type(bind(draw, user), utf8); }

void headlessKey(HeadlessDraw draw, void* user, int selectAll) {
    ui->pressKey(bind(draw, user), selectAll ? ImGuiKey_A : ImGuiKey_Enter, selectAll != 0);
}

int headlessItemsDown(HeadlessDraw draw, void* user, const char* window, float fromRight, float* xy, int max) {
    ImVec2 top, bottom;
    if (!lineOf(window, fromRight, top, bottom)) return 0;
    const auto items = ui->findItems(bind(draw, user), top, bottom);
    int count = 0;
    for (const ImVec2& item : items) {
        if (count == max) break;
        xy[2 * count] = item.x;
        xy[2 * count + 1] = item.y;
        ++count;
    }
    return count;
}

int headlessFindItem(HeadlessDraw draw, void* user, const char* window, const char* label, float fromRight,
                     float* xy) {
    ImVec2 top, bottom;
    if (!lineOf(window, fromRight, top, bottom)) return 0;
    const ImGuiID wanted = HeadlessImGui::findWindow(window)->GetID(label);
    const auto drawIt = bind(draw, user);
    for (float y = top.y; y < bottom.y; y += 2.0f) {
        ui->frame(drawIt, ImVec2(top.x, y));
        if (GImGui->HoveredId == wanted) {
            xy[0] = top.x;
            xy[1] = y + 2.0f;
            return 1;
        }
    }
    return 0;
}

}  // extern "C"
