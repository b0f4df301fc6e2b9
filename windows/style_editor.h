#pragma once
// The style editor (display item IG_008, id 9): the user recolours the live
// Dear ImGui style and every button of the button table, switches between
// the four styles and renames them. Its style's record follows the live
// style while the window is open, so the edits reach the style files at
// shut-down even when the program ends with the window open.
#include <imgui.h>

void drawStyleEditorWindow();
bool isStyleEditorWindowOpen();
void openStyleEditorWindow();

// The "UI Element Colors" tab: frame rounding, the three borders and the 53
// colours of the live style, each with Save and Revert against `reference`
// in the frame it changed. `reference` null: a copy of the editor's own.
void showStyleColorEditor(ImGuiStyle* reference);

// Closes the window and forgets its selection, picker and filter (tests).
void resetStyleEditor();
