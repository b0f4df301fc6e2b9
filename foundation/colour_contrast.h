#pragma once
// Contrast as the readability rules count it: relative luminance of sRGB
// colours and the ratio (L1 + 0.05) / (L2 + 0.05), 1 to 21. Text needs 4.5,
// a control's edge or mark 3. Colours are Dear ImGui's (R, G, B, A in 0..1).
#include <imgui.h>

#include <vector>

inline constexpr float kTextContrast = 4.5f;
inline constexpr float kControlContrast = 3.0f;
// A highlight between text and its background needs both: 3:1 to the
// background and 4.5:1 to the text, so text and background 13.5:1 at least;
// a little more leaves room for the highlight between them.
inline constexpr float kHighlightRoom = kTextContrast * kControlContrast * 1.08f;

float relativeLuminance(const ImVec4& colour);
float contrastRatio(const ImVec4& a, const ImVec4& b);
// `top` drawn over `below` (alpha blending); opaque when `below` is.
ImVec4 colourOver(const ImVec4& top, const ImVec4& below);
// `colour` as little changed as it can be (mixed towards black or white and
// made more opaque) so that, drawn over each of `backgrounds`, it stands
// `ratio` apart from it; the colour itself when it already does.
ImVec4 readableColour(const ImVec4& colour, const std::vector<ImVec4>& backgrounds, float ratio);
// `background` (drawn over each of `bases`) as little changed as it can be so
// that `text` drawn on it stands `ratio` apart; itself when it already does.
ImVec4 readableBehind(const ImVec4& background, const std::vector<ImVec4>& bases, const ImVec4& text, float ratio);
// A highlight (a selected or hovered row): `colour` as little changed as it
// can be so that, drawn over each of `backgrounds`, it stands 3:1 apart from
// it and `text` on it 4.5:1. Reachable when `text` stands kHighlightRoom
// apart from each background.
ImVec4 readableHighlight(const ImVec4& colour, const std::vector<ImVec4>& backgrounds, const ImVec4& text);
