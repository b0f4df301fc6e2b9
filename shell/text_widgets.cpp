#include "shell/text_widgets.h"

#include <imgui_internal.h>

#include <cstdint>

namespace {

const char* endOf(std::string_view text) { return text.data() + text.size(); }

}  // namespace

void pushTextId(std::string_view text) {
    ImGui::PushID(reinterpret_cast<void*>(static_cast<uintptr_t>(ImHashData(text.data(), text.size()))));
}

bool textSelectable(std::string_view text, bool selected, ImGuiSelectableFlags flags, ImVec2 size) {
    ImGuiWindow* window = ImGui::GetCurrentWindow();
    // Where Selectable would draw its label.
    const ImVec2 pos(window->DC.CursorPos.x, window->DC.CursorPos.y + window->DC.CurrLineTextBaseOffset);
    const float width = ImGui::CalcTextSize(text.data(), endOf(text), false).x;
    pushTextId(text);
    const bool pressed = ImGui::Selectable("##text", selected, flags, size);
    ImGui::PopID();
    ImGui::RenderText(pos, text.data(), endOf(text), false);
    window->DC.CursorMaxPos.x = ImMax(window->DC.CursorMaxPos.x, pos.x + width);  // a long name can be scrolled to
    return pressed;
}

bool textButton(std::string_view text) {
    const ImVec2 padding = ImGui::GetStyle().FramePadding;
    const float width = ImGui::CalcTextSize(text.data(), endOf(text), false).x;
    pushTextId(text);
    const bool pressed = ImGui::Button("##text", ImVec2(width + padding.x * 2.0f, 0.0f));
    ImGui::PopID();
    const ImVec2 min = ImGui::GetItemRectMin();
    ImGui::RenderText(ImVec2(min.x + padding.x, min.y + padding.y), text.data(), endOf(text), false);
    return pressed;
}

bool beginTextCombo(const char* label, std::string_view preview, ImGuiComboFlags flags) {
    // The frame BeginCombo draws: here, of the item width, one frame high.
    ImDrawList* drawList = ImGui::GetWindowDrawList();
    const ImVec2 min = ImGui::GetCursorScreenPos();
    const ImVec2 padding = ImGui::GetStyle().FramePadding;
    const float arrow = (flags & ImGuiComboFlags_NoArrowButton) ? 0.0f : ImGui::GetFrameHeight();
    const ImVec2 max(min.x + ImGui::CalcItemWidth() - arrow, min.y + ImGui::GetFrameHeight());
    const ImVec2 textPos(min.x + padding.x, min.y + padding.y);
    const ImU32 color = ImGui::GetColorU32(ImGuiCol_Text);
    const bool open = ImGui::BeginCombo(label, nullptr, flags);
    drawList->PushClipRect(min, max, true);
    drawList->AddText(textPos, color, preview.data(), endOf(preview));
    drawList->PopClipRect();
    if (GImGui->LogEnabled) {
        ImGui::LogSetNextTextDecoration("{", "}");
        ImGui::LogRenderedText(&textPos, preview.data(), endOf(preview));
    }
    return open;
}
