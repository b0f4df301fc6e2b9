#include "foundation/button_table.h"

#include <algorithm>
#include <iterator>
#include <mutex>

namespace {

// Windows draw from the UI thread while their tasks switch states from their
// own threads, so the table has a mutex; it is held only to copy or change one entry.
std::mutex uiButtonMutex;

constexpr double kDisabledHsv[3] = {0.5, 0.3, 0.2};

UIButtonEntry makeButton(const char* label1, const char* label2, double hue) {
    UIButtonEntry entry;
    const double groups[4][3] = {{hue, 0.6, 0.6}, {hue, 0.7, 0.7}, {hue, 0.8, 0.8},
                                 {kDisabledHsv[0], kDisabledHsv[1], kDisabledHsv[2]}};
    for (int g = 0; g < 4; ++g)
        for (int c = 0; c < 3; ++c) entry.colors[g * 3 + c] = groups[g][c];
    entry.label1 = label1;
    entry.label2 = label2 ? label2 : label1;
    return entry;
}

// Caller holds uiButtonMutex.
void applyState(UIButtonEntry& entry, int32_t state) {
    for (int t = 0; t < 3; ++t)
        for (int c = 0; c < 3; ++c)
            entry.currentColors[t * 3 + c] =
                state == kButtonEnabled ? entry.colors[t * 3 + c] : entry.colors[9 + c];
    entry.currentLabel = state == kButtonEnabled ? entry.label1 : entry.label2;
    entry.state = state;
}

// The program's buttons in their start states: normal entries disabled, the
// ones every window needs from the start enabled.
std::map<std::string, UIButtonEntry> defaultButtonTable() {
    struct Row {
        const char* key;
        const char* label1;
        const char* label2;
        double hue;
    };
    static const Row rows[] = {
        {"bka", " Add ", nullptr, 0.0},
        {"bkr", " Remove ", nullptr, 0.25},
        {"bkd", " Details ", nullptr, 0.5},
        {"afdr", " Apply ", nullptr, 0.75},
        {"bkal", " Select Archive Location ", nullptr, 0.75},
        {"bkofl", " Open Folder Location  ", nullptr, 0.5},
        {"bkoal", " Open Archive Location  ", nullptr, 0.5},
        {"bkaff", " Open File Type Manager ", nullptr, 0.5},
        {"bkobs", " Open Backup Scheduler ", nullptr, 0.5},
        {"bkrn", " Rename ", nullptr, 0.5},
        {"bkae", " Accept ", nullptr, 0.5},
        {"bkbuf", " Backup ", nullptr, 0.5},
        {"bkrf", " Restore ", nullptr, 0.5},
        {"bkre", " Edit ", nullptr, 0.5},
        {"bkc", " Dismiss ", nullptr, 0.5},
        {"bkane", " Add ", nullptr, 0.5},
        {"bkcc", " Confirm ", nullptr, 0.25},
        {"bksb", " Submit ", nullptr, 0.25},
        {"bkcac", " Confirm All ", nullptr, 0.25},
        {"bksf", " Select Folder ", nullptr, 0.5},
        {"bkdf", " De-Select Folder ", nullptr, 0.5},
        {"bksa", " Select All ", nullptr, 0.5},
        {"bkdsa", " De-Select All ", nullptr, 0.5},
        {"bkmdok", "   Ok   ", "    Ok    ", 0.5},
        {"bkmdcan", " Cancel ", "  Cancel  ", 0.0},
        {"bkcncl", " Cancel ", "  Cancel  ", 0.0},
        {"bkrfv", " Restore File Version ", "  Restore File Version  ", 0.0},
        {"bkaae", " Auto Add Extensions ", "  Auto Add Extensions  ", 0.0},
        {"bkincl", " Include ", nullptr, 0.5},
        {"bkexcl", " Exclude ", nullptr, 0.5},
        {"bkai", " Info ", nullptr, 0.5},
        {"bkau", " Updates ", nullptr, 0.5},
        {"bkac", " Credits ", nullptr, 0.5},
    };
    std::map<std::string, UIButtonEntry> table;
    for (const Row& row : rows) {
        UIButtonEntry& entry = table[row.key];
        entry = makeButton(row.label1, row.label2, row.hue);
        applyState(entry, kButtonDisabled);
    }
    for (const char* key : {"bkae", "bkane", "bka", "bksf", "bkdf", "bksa", "bkdsa", "bkmdok", "bkmdcan",
                            "bkcncl", "bkrfv"})
        applyState(table[key], kButtonEnabled);
    return table;
}

// Built with the program's buttons on first use, so a question asked by an
// engine task before any window drew still has its OK and Cancel.
std::map<std::string, UIButtonEntry>& buttonMap() {
    static std::map<std::string, UIButtonEntry> table = defaultButtonTable();
    return table;
}

}  // namespace

UIButtonEntry::UIButtonEntry() {
    for (double& c : colors) c = 1.0;
    for (double& c : currentColors) c = 1.0;
}

void initUIButtonTable() {
    std::lock_guard<std::mutex> lock(uiButtonMutex);
    for (const auto& [key, entry] : defaultButtonTable()) buttonMap()[key] = entry;
}

bool addUIButtonEntry(const std::string& key, const UIButtonEntry& entry) {
    std::lock_guard<std::mutex> lock(uiButtonMutex);
    UIButtonEntry& stored = buttonMap()[key];
    stored = entry;
    applyState(stored, kButtonDisabled);
    return true;
}

bool findUIButtonEntry(const std::string& key, UIButtonEntry& out) {
    std::lock_guard<std::mutex> lock(uiButtonMutex);
    auto it = buttonMap().find(key);
    if (it == buttonMap().end()) return false;
    out = it->second;
    return true;
}

bool setUIButtonState(const std::string& key, int32_t state) {
    if (state < kButtonDisabled || state > kButtonHidden) return false;
    std::lock_guard<std::mutex> lock(uiButtonMutex);
    auto it = buttonMap().find(key);
    if (it == buttonMap().end()) return false;
    applyState(it->second, state);
    return true;
}

bool setUIButtonLabels(const std::string& key, const char* label1, const char* label2) {
    if (!label1 && !label2) return false;
    std::lock_guard<std::mutex> lock(uiButtonMutex);
    auto it = buttonMap().find(key);
    if (it == buttonMap().end()) return false;
    if (label1) it->second.label1 = label1;
    if (label2) it->second.label2 = label2;
    applyState(it->second, it->second.state);
    return true;
}

int32_t getUIButtonValue(const std::string& key) {
    std::lock_guard<std::mutex> lock(uiButtonMutex);
    auto it = buttonMap().find(key);
    return it == buttonMap().end() ? 0 : it->second.state;
}

std::map<std::string, UIButtonEntry> copyUIButtonTable() {
    std::lock_guard<std::mutex> lock(uiButtonMutex);
    return buttonMap();
}

bool setUIButtonLook(const std::string& key, const UIButtonEntry& look) {
    std::lock_guard<std::mutex> lock(uiButtonMutex);
    auto [it, added] = buttonMap().try_emplace(key);
    UIButtonEntry& stored = it->second;
    std::copy(std::begin(look.colors), std::end(look.colors), std::begin(stored.colors));
    stored.label1 = look.label1;
    stored.label2 = look.label2;
    applyState(stored, added ? kButtonDisabled : stored.state);
    return true;
}
