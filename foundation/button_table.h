#pragma once
// The table of push buttons that every window draws from, keyed by a short
// text key: colours, labels and state of each button. Windows and the tasks
// they start switch states; the colour styles read and replace the looks.
#include <cstdint>
#include <map>
#include <string>

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
