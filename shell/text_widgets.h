#pragma once
// Widgets that show a user's text whole: a file or folder name, a path, a
// server's text. Dear ImGui ends a label at "##" and takes its identity from
// the label (reset at "###"), so "notes##old.txt" and "notes##new.txt" would
// both read "notes". These draw the text as text and take the identity from
// a hash of all of its bytes.
#include <imgui.h>

#include <string_view>

// Pushes an id made from every byte of `text` ("##" and "###" included).
void pushTextId(std::string_view text);
// A selectable row that shows `text` whole, under the id of `text`.
bool textSelectable(std::string_view text, bool selected = false, ImGuiSelectableFlags flags = 0,
                    ImVec2 size = ImVec2(0, 0));
// A button that shows `text` whole, under the id of `text`.
bool textButton(std::string_view text);
// BeginCombo whose closed frame shows `preview` whole.
bool beginTextCombo(const char* label, std::string_view preview, ImGuiComboFlags flags = 0);
