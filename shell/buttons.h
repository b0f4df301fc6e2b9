#pragma once
// The row of buttons a window draws each frame from the button table, and
// the windows' progress bar.
#include <imgui.h>

#include <cstdint>
#include <string>
#include <vector>

#include "foundation/button_table.h"

struct UIButtonRowItem {
    std::string key;
    int32_t state = kButtonEnabled;  // applied before drawing when the row asks for it
    std::string label1;              // when not empty, both labels are written to the table
    std::string label2;
    double valueFactor = 1.0;        // below 1.0 darkens an enabled button
    uint64_t offsetBefore = 0;       // horizontal positions, 0 for none
    uint64_t offsetAfter = 0;
};

// Draws the row; returns the index of the button pressed this frame, or -1.
int32_t drawButtonRow(const std::vector<UIButtonRowItem>& items, bool applyStates);

// A row item for the table button `key`, enabled or disabled.
UIButtonRowItem buttonRowItem(const char* key, bool enabled = true);
// Where a row last drew the key's button, in screen pixels, and in which
// Dear ImGui frame (tests click buttons by key). False when never drawn.
struct ButtonRect {
    float minX = 0, minY = 0, maxX = 0, maxY = 0;
    int frame = -1;
};
bool lastButtonRect(const std::string& key, ButtonRect& out);
// Records the last item drawn (any widget) under `key` for lastButtonRect.
void recordButtonRect(const std::string& key);

// Draws one table button with its enabled colours and the given label whatever
// its state: 1 pressed, 0 not, -1 for a missing key (nothing drawn).
int32_t drawTableButtonWithLabels(const std::string& key, const char* label1, const char* label2);

// A progress bar in the 12-pixel font (`size` as Dear ImGui takes it). Its
// figure reads wherever it lies: the part over the fill is drawn in a
// colour that reads on the fill.
void drawProgressBar(double fraction, const ImVec2& size = ImVec2(-1, 0));
