#pragma once
// The table of push buttons that every window draws from, keyed by a short
// text key, and the row of buttons a window draws each frame.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

// Button states.
inline constexpr int32_t kButtonDisabled = 1;  // drawn greyed, a press is ignored
inline constexpr int32_t kButtonEnabled = 2;
inline constexpr int32_t kButtonHidden = 3;    // not drawn, takes no room

struct UIButtonEntry {
    // Four hue/saturation/value triples: normal, hovered, active, disabled.
    double colors[12];
    std::string label1;  // shown while enabled
    std::string label2;  // shown while disabled or hidden
    // Three triples used for drawing (button, hovered, active), set from the state.
    double currentColors[9];
    int32_t state = 0;
    std::string currentLabel;

    UIButtonEntry();
};

struct UIButtonRowItem {
    std::string key;
    int32_t state = kButtonEnabled;  // applied before drawing when the row asks for it
    std::string label1;              // when not empty, both labels are written to the table
    std::string label2;
    double valueFactor = 1.0;        // below 1.0 darkens an enabled button
    uint64_t offsetBefore = 0;       // horizontal positions, 0 for none
    uint64_t offsetAfter = 0;
};

// Builds the program's button table (replacing entries of the same keys).
void initUIButtonTable();
// Inserts or replaces the entry, then puts it in the disabled state.
bool addUIButtonEntry(const std::string& key, const UIButtonEntry& entry);
// Copies the entry out; false when the key is missing.
bool findUIButtonEntry(const std::string& key, UIButtonEntry& out);
// States 1, 2 and 3 only; anything else, or a missing key, changes nothing.
bool setUIButtonState(const std::string& key, int32_t state);
// Stores each label that is not null and applies the entry's state again.
bool setUIButtonLabels(const std::string& key, const char* label1, const char* label2);
// The key's state, 0 for a missing key.
int32_t getUIButtonValue(const std::string& key);
// A copy of the whole table, in key order (the colour styles capture it).
std::map<std::string, UIButtonEntry> copyUIButtonTable();
// Takes the four colours and two labels of `look` (a colour style being
// applied), creating the entry in the disabled state when missing; the
// entry's own state is kept and applied again, so the new look shows at once.
bool setUIButtonLook(const std::string& key, const UIButtonEntry& look);

// Draws the row; returns the index of the button pressed this frame, or -1.
int32_t drawButtonRow(const std::vector<UIButtonRowItem>& items, bool applyStates);
// Where a row last drew the key's button, in screen pixels, and in which
// Dear ImGui frame (tests click buttons by key). False when never drawn.
struct ButtonRect {
    float minX = 0, minY = 0, maxX = 0, maxY = 0;
    int frame = -1;
};
bool lastButtonRect(const std::string& key, ButtonRect& out);

// Draws one table button with its enabled colours and the given label whatever
// its state: 1 pressed, 0 not, -1 for a missing key (nothing drawn).
int32_t drawTableButtonWithLabels(const std::string& key, const char* label1, const char* label2);
