#include "foundation/styles.h"

#include <algorithm>
#include <atomic>
#include <cmath>

#include "foundation/colour_contrast.h"
#include "foundation/data_files.h"
#include "foundation/data_packet.h"
#include "foundation/file_helpers.h"
#include "foundation/global_defaults.h"
#include "platform/paths.h"
#include "platform/text.h"

float clearColor[4] = {0.45f, 0.55f, 0.60f, 1.00f};
std::map<std::string, StyleRecord> styleMap;
std::mutex styleMapMutex;

namespace {

std::mutex styleNameMutex;
std::vector<std::string> styleNameTable(std::begin(kStyleNames), std::end(kStyleNames));

std::atomic<int> appliedStyle{-1};
std::atomic<bool> styleReapplyRequested{false};

const char* const kSectionName = "data";

// The order in which a button's twelve components are stored: normal,
// active, hover, disabled.
constexpr int kStoredButtonOrder[12] = {0, 1, 2, 6, 7, 8, 3, 4, 5, 9, 10, 11};

// The widest rounding or border a file may set; a damaged value beyond it is ignored.
constexpr double kMaxStoredSize = 64.0;

bool validStyleNumber(int number) { return number >= 0 && number < kStyleCount; }

// A component in whole hundredths. The small bias keeps a float such as
// 0.94f (0.93999...) at 94; components outside 0..1 are clamped so the byte
// never wraps.
char storedComponent(double component) {
    if (!std::isfinite(component)) component = 0.0;
    const double hundredths = std::trunc(std::clamp(component, 0.0, 1.0) * 100.0 + 1e-3);
    return static_cast<char>(static_cast<signed char>(hundredths));
}

double readComponent(char byte) {
    return std::clamp(static_cast<signed char>(byte) / 100.0, 0.0, 1.0);
}

// The table's entries and the live clear colour are reached only through
// these three functions.
std::map<std::string, UIButtonEntry> buttonTableSnapshot() { return copyUIButtonTable(); }

void writeButtonLook(const std::string& key, const UIButtonEntry& look) { setUIButtonLook(key, look); }

void setClearColour(const ImVec4& colour) {
    clearColor[0] = colour.x;
    clearColor[1] = colour.y;
    clearColor[2] = colour.z;
    clearColor[3] = colour.w;
}

void readStoredSize(RecordSectionHandle section, const char* name, float& field) {
    double value = 0.0;
    if (!getRecordDouble(section, name, value)) return;
    if (std::isfinite(value) && value >= 0.0 && value <= kMaxStoredSize) field = static_cast<float>(value);
}

void readStoredColours(RecordSectionHandle section, StyleRecord& record) {
    const size_t count = getRecordValueCount(section, "EC");
    for (size_t i = 0; i < count && i < static_cast<size_t>(kStyleColourCount); ++i) {
        std::string bytes;
        if (!getRecordString(section, "EC", bytes, static_cast<uint32_t>(i)) || bytes.size() < 4) continue;
        std::array<float, 4>& colour = record.colours[static_cast<int32_t>(i)];
        for (int c = 0; c < 4; ++c) colour[c] = static_cast<float>(readComponent(bytes[c]));
    }
}

void readStoredButtons(RecordSectionHandle section, StyleRecord& record) {
    const size_t count = getRecordValueCount(section, "BC");
    for (size_t i = 0; i < count; ++i) {
        const uint32_t index = static_cast<uint32_t>(i);
        std::string bytes;
        std::string key;
        if (!getRecordString(section, "BC", bytes, index) || bytes.size() < 12) continue;
        if (!getRecordString(section, "KY", key, index) || key.empty()) continue;
        UIButtonEntry& entry = record.buttons[key];  // a new entry starts with every component 1.0
        for (int k = 0; k < 12; ++k) entry.colors[kStoredButtonOrder[k]] = readComponent(bytes[k]);
        getRecordString(section, "LA", entry.label1, index);
        getRecordString(section, "LD", entry.label2, index);
    }
}

void fillStyleSection(RecordSectionHandle section, const std::string& name, const StyleRecord& record) {
    setRecordString(section, "name", name, 0);
    setRecordDouble(section, "FrameRounding", record.FrameRounding);
    setRecordDouble(section, "WindowBorderSize", record.WindowBorderSize);
    setRecordDouble(section, "FrameBorderSize", record.FrameBorderSize);
    setRecordDouble(section, "PopupBorderSize", record.PopupBorderSize);
    // The value index is the colour number, so only the unbroken run from
    // colour 0 is written.
    for (int32_t i = 0; i < kStyleColourCount; ++i) {
        const auto it = record.colours.find(i);
        if (it == record.colours.end()) break;
        std::string bytes(4, '\0');
        for (int c = 0; c < 4; ++c) bytes[c] = storedComponent(it->second[c]);
        setRecordString(section, "EC", bytes, kRecordAppend);
    }
    for (const auto& [key, entry] : record.buttons) {
        std::string bytes(12, '\0');
        for (int k = 0; k < 12; ++k) bytes[k] = storedComponent(entry.colors[kStoredButtonOrder[k]]);
        setRecordString(section, "BC", bytes, kRecordAppend);
        setRecordString(section, "LA", entry.label1, kRecordAppend);
        setRecordString(section, "LD", entry.label2, kRecordAppend);
        setRecordString(section, "KY", key, kRecordAppend);
    }
}

ImVec4 mixColour(const ImVec4& from, const ImVec4& to, float share) {
    return ImVec4(from.x + (to.x - from.x) * share, from.y + (to.y - from.y) * share,
                  from.z + (to.z - from.z) * share, from.w + (to.w - from.w) * share);
}

// Bytes of multi-byte UTF-8 characters belong to the word they stand in.
bool isWordCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           static_cast<unsigned char>(c) >= 0x80;
}

}  // namespace

std::string styleName(int number) {
    std::lock_guard<std::mutex> lock(styleNameMutex);
    return validStyleNumber(number) ? styleNameTable[static_cast<size_t>(number)] : std::string();
}

std::vector<std::string> styleNames() {
    std::lock_guard<std::mutex> lock(styleNameMutex);
    return styleNameTable;
}

bool setStyleName(int number, const std::string& name) {
    if (!validStyleNumber(number) || name.empty()) return false;
    std::lock_guard<std::mutex> lock(styleNameMutex);
    for (size_t i = 0; i < styleNameTable.size(); ++i)
        if (static_cast<int>(i) != number && styleNameTable[i] == name) return false;
    styleNameTable[static_cast<size_t>(number)] = name;
    return true;
}

void resetStyleNames() {
    std::lock_guard<std::mutex> lock(styleNameMutex);
    styleNameTable.assign(std::begin(kStyleNames), std::end(kStyleNames));
}

std::wstring stylesFolderPath() {
    return joinPath(configurationFolderPath(), utf8ToWide(kStylesFolderName));
}

std::wstring styleFilePath(const std::wstring& folder, int number) {
    return joinPath(folder, L"Style_" + std::to_wstring(number) + L".dat");
}

namespace {

// Reads one style file into `styleMap` and gives back the style name it holds.
bool readStyleFile(const std::wstring& folder, int number, std::string& name) {
    if (!validStyleNumber(number) || !isExistingFolder(folder)) return false;
    const std::wstring path = styleFilePath(folder, number);
    if (!isExistingFile(path)) return false;
    DataRecord document;
    if (!loadDataRecordFile(document, kSectionName, path, kStylePassPhrase)) return false;
    const RecordSectionHandle section = getRecordSection(document, kSectionName);
    if (!getRecordString(section, "name", name, 0) || name.empty()) return false;
    std::lock_guard<std::mutex> lock(styleMapMutex);
    StyleRecord& record = styleMap[name];
    readStoredSize(section, "FrameRounding", record.FrameRounding);
    readStoredSize(section, "WindowBorderSize", record.WindowBorderSize);
    readStoredSize(section, "FrameBorderSize", record.FrameBorderSize);
    readStoredSize(section, "PopupBorderSize", record.PopupBorderSize);
    readStoredColours(section, record);
    readStoredButtons(section, record);
    return true;
}

// Gives every number its name at once, so that two styles may trade names
// (or one take a name another had): a name is refused only when two numbers
// would end up with it.
void assignStyleNames(const std::vector<std::string>& names) {
    std::lock_guard<std::mutex> lock(styleNameMutex);
    std::vector<std::string> table = styleNameTable;
    for (size_t i = 0; i < table.size() && i < names.size(); ++i)
        if (!names[i].empty()) table[i] = names[i];
    for (size_t i = 0; i < table.size(); ++i)
        for (size_t j = i + 1; j < table.size(); ++j)
            if (table[i] == table[j]) return;  // damaged files: keep the names as they were
    styleNameTable = std::move(table);
}

}  // namespace

bool loadStyleFile(const std::wstring& folder, int number) {
    std::string name;
    if (!readStyleFile(folder, number, name)) return false;
    // A style renamed in the editor was saved under its new name: keep it.
    setStyleName(number, name);
    return true;
}

bool saveStyleFile(const std::wstring& folder, int number) {
    if (!validStyleNumber(number)) return false;
    const std::string name = styleName(number);
    StyleRecord record;
    {
        std::lock_guard<std::mutex> lock(styleMapMutex);
        const auto it = styleMap.find(name);
        if (it == styleMap.end()) return false;
        record = it->second;
    }
    const std::wstring path = styleFilePath(folder, number);
    if (!isExistingFolder(folder) && !makeDirectoryPath(path)) return false;
    DataRecord document;
    addRecordSection(document, kSectionName);
    fillStyleSection(getRecordSection(document, kSectionName), name, record);
    return saveDataRecordFile(document, kSectionName, path, kStylePassPhrase);
}

int loadStyleFiles() {
    const std::wstring folder = stylesFolderPath();
    std::vector<std::string> names(kStyleCount);
    int loaded = 0;
    for (int n = 0; n < kStyleCount; ++n) loaded += readStyleFile(folder, n, names[static_cast<size_t>(n)]) ? 1 : 0;
    assignStyleNames(names);
    return loaded;
}

int saveStyleFiles() {
    const std::wstring folder = stylesFolderPath();
    int saved = 0;
    for (int n = 0; n < kStyleCount; ++n) saved += saveStyleFile(folder, n) ? 1 : 0;
    return saved;
}

bool applyStyleByName(const std::string& name) {
    StyleRecord record;
    {
        std::lock_guard<std::mutex> lock(styleMapMutex);
        const auto it = styleMap.find(name);
        if (it == styleMap.end()) return false;
        record = it->second;
    }
    ImGuiStyle& style = ImGui::GetStyle();
    for (const auto& [number, colour] : record.colours)
        if (number >= 0 && number < kStyleColourCount)
            style.Colors[number] = ImVec4(colour[0], colour[1], colour[2], colour[3]);
    setClearColour(style.Colors[ImGuiCol_ModalWindowDimBg]);
    style.FrameRounding = record.FrameRounding;
    style.GrabRounding = record.FrameRounding;
    style.WindowBorderSize = std::min(record.WindowBorderSize, 2.0f);
    style.FrameBorderSize = record.FrameBorderSize;
    style.PopupBorderSize = record.PopupBorderSize;
    for (auto& [key, entry] : record.buttons) {
        entry.label1 = toTitleCase(entry.label1);
        entry.label2 = toTitleCase(entry.label2);
        writeButtonLook(key, entry);
    }
    return true;
}

bool captureLiveStyle(const std::string& name) {
    if (name.empty()) return false;
    const ImGuiStyle& style = ImGui::GetStyle();
    const std::map<std::string, UIButtonEntry> buttons = buttonTableSnapshot();
    std::lock_guard<std::mutex> lock(styleMapMutex);
    StyleRecord& record = styleMap[name];
    for (int32_t i = 0; i < kStyleColourCount; ++i) {
        const ImVec4& c = style.Colors[i];
        record.colours[i] = {c.x, c.y, c.z, c.w};
    }
    record.FrameRounding = style.FrameRounding;
    record.WindowBorderSize = style.WindowBorderSize;
    record.FrameBorderSize = style.FrameBorderSize;
    record.PopupBorderSize = style.PopupBorderSize;
    for (const auto& [key, entry] : buttons) record.buttons[key] = entry;
    return true;
}

std::string toTitleCase(const std::string& text) {
    std::string out = text;
    bool inWord = false;
    for (char& c : out) {
        if (!isWordCharacter(c)) {
            inWord = false;
            continue;
        }
        const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        if (letter && !inWord && c >= 'a') c = static_cast<char>(c - 'a' + 'A');
        if (letter && inWord && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        inWord = true;
    }
    return out;
}

void styleColorsLight2(ImGuiStyle* target) {
    static const ImVec4 table[kStyleColourCount] = {
        {0.31f, 0.25f, 0.24f, 1.00f},  // Text
        {0.60f, 0.60f, 0.60f, 1.00f},  // TextDisabled
        {0.94f, 0.94f, 0.94f, 1.00f},  // WindowBg
        {0.00f, 0.00f, 0.00f, 0.00f},  // ChildBg
        {1.00f, 1.00f, 1.00f, 0.98f},  // PopupBg
        {0.70f, 0.70f, 0.70f, 0.19f},  // Border
        {0.00f, 0.00f, 0.00f, 0.00f},  // BorderShadow
        {0.62f, 0.70f, 0.72f, 0.56f},  // FrameBg
        {0.95f, 0.33f, 0.14f, 0.47f},  // FrameBgHovered
        {0.97f, 0.31f, 0.13f, 0.81f},  // FrameBgActive
        {0.42f, 0.75f, 1.00f, 0.53f},  // TitleBg
        {0.82f, 0.82f, 0.82f, 1.00f},  // TitleBgActive
        {0.40f, 0.65f, 0.80f, 0.20f},  // TitleBgCollapsed
        {0.86f, 0.86f, 0.86f, 1.00f},  // MenuBarBg
        {0.40f, 0.62f, 0.80f, 0.15f},  // ScrollbarBg
        {0.39f, 0.64f, 0.80f, 0.30f},  // ScrollbarGrab
        {0.28f, 0.67f, 0.80f, 0.59f},  // ScrollbarGrabHovered
        {0.25f, 0.48f, 0.53f, 0.67f},  // ScrollbarGrabActive
        {0.38f, 0.37f, 0.37f, 0.91f},  // CheckMark
        {0.26f, 0.59f, 0.98f, 0.78f},  // SliderGrab
        {0.31f, 0.47f, 0.99f, 1.00f},  // SliderGrabActive
        {1.00f, 0.79f, 0.18f, 0.78f},  // Button
        {0.42f, 0.82f, 1.00f, 0.81f},  // ButtonHovered
        {1.00f, 1.00f, 1.00f, 0.86f},  // ButtonActive
        {0.73f, 0.80f, 0.86f, 0.45f},  // Header
        {0.75f, 0.88f, 0.94f, 0.80f},  // HeaderHovered
        {0.46f, 0.84f, 0.90f, 1.00f},  // HeaderActive
        {0.39f, 0.39f, 0.39f, 0.62f},  // Separator
        {0.14f, 0.44f, 0.80f, 0.78f},  // SeparatorHovered
        {0.14f, 0.44f, 0.80f, 1.00f},  // SeparatorActive
        {0.35f, 0.35f, 0.35f, 0.17f},  // ResizeGrip
        {0.26f, 0.59f, 0.98f, 0.67f},  // ResizeGripHovered
        {0.26f, 0.59f, 0.98f, 0.95f},  // ResizeGripActive
        {},                            // Tab: mixed below
        {0.75f, 0.88f, 0.94f, 0.80f},  // TabHovered
        {},                            // TabActive: mixed below
        {},                            // TabUnfocused: mixed below
        {},                            // TabUnfocusedActive: mixed below
        {0.39f, 0.39f, 0.39f, 1.00f},  // PlotLines
        {1.00f, 0.43f, 0.35f, 1.00f},  // PlotLinesHovered
        {0.90f, 0.70f, 0.00f, 1.00f},  // PlotHistogram
        {1.00f, 0.45f, 0.00f, 1.00f},  // PlotHistogramHovered
        {0.78f, 0.87f, 0.98f, 1.00f},  // TableHeaderBg
        {0.57f, 0.57f, 0.64f, 1.00f},  // TableBorderStrong
        {0.68f, 0.68f, 0.74f, 1.00f},  // TableBorderLight
        {0.00f, 0.00f, 0.00f, 0.00f},  // TableRowBg
        {0.30f, 0.30f, 0.30f, 0.09f},  // TableRowBgAlt
        {1.00f, 0.99f, 0.54f, 0.43f},  // TextSelectedBg
        {0.26f, 0.59f, 0.98f, 0.95f},  // DragDropTarget
        {0.75f, 0.88f, 0.94f, 0.80f},  // NavHighlight
        {0.70f, 0.70f, 0.70f, 0.70f},  // NavWindowingHighlight
        {0.20f, 0.20f, 0.20f, 0.20f},  // NavWindowingDimBg
        {0.20f, 0.20f, 0.20f, 0.35f},  // ModalWindowDimBg
    };
    ImVec4* colours = (target ? *target : ImGui::GetStyle()).Colors;
    std::copy(std::begin(table), std::end(table), colours);
    colours[ImGuiCol_Tab] = mixColour(colours[ImGuiCol_Header], colours[ImGuiCol_TitleBgActive], 0.90f);
    colours[ImGuiCol_TabActive] = mixColour(colours[ImGuiCol_HeaderActive], colours[ImGuiCol_TitleBgActive], 0.60f);
    colours[ImGuiCol_TabUnfocused] = mixColour(colours[ImGuiCol_Tab], colours[ImGuiCol_TitleBg], 0.80f);
    colours[ImGuiCol_TabUnfocusedActive] = mixColour(colours[ImGuiCol_TabActive], colours[ImGuiCol_TitleBg], 0.40f);
}

void applyBuiltInStyle(int number) {
    switch (number) {
        case 0: ImGui::StyleColorsDark(); break;
        case 1: ImGui::StyleColorsLight(); break;
        case 2: ImGui::StyleColorsClassic(); break;
        case 3: styleColorsLight2(); break;
        default: return;
    }
    setClearColour(ImGui::GetStyle().Colors[ImGuiCol_ModalWindowDimBg]);
}

namespace {
// Rows (list entries, tree nodes, menu items) lie in list areas (striped
// in tables), on windows and in popups. A selected or hovered row stands
// 3:1 apart from what lies around it and its text 4.5:1 on it, which needs
// text and background further apart: the text first, then the list areas
// and their stripes, give way as little as they can.
void makeRowsReadable(ImVec4* c) {
    const ImVec4 window = c[ImGuiCol_WindowBg], popup = c[ImGuiCol_PopupBg];
    const auto rowGrounds = [&] {
        const ImVec4 list = colourOver(c[ImGuiCol_FrameBg], window);
        return std::vector<ImVec4>{window, popup, list, colourOver(c[ImGuiCol_FrameBg], popup),
                                   colourOver(c[ImGuiCol_TableRowBgAlt], list)};
    };
    c[ImGuiCol_Text] = readableColour(c[ImGuiCol_Text], rowGrounds(), kHighlightRoom);
    c[ImGuiCol_FrameBg] = readableBehind(c[ImGuiCol_FrameBg], {window, popup}, c[ImGuiCol_Text], kHighlightRoom);
    const ImVec4 list = colourOver(c[ImGuiCol_FrameBg], window);
    while (c[ImGuiCol_TableRowBgAlt].w > 0.01f &&
           contrastRatio(c[ImGuiCol_Text], colourOver(c[ImGuiCol_TableRowBgAlt], list)) < kHighlightRoom)
        c[ImGuiCol_TableRowBgAlt].w *= 0.8f;
    const std::vector<ImVec4> grounds = rowGrounds();
    for (ImGuiCol row : {ImGuiCol_Header, ImGuiCol_HeaderHovered, ImGuiCol_HeaderActive})
        c[row] = readableHighlight(colourOver(c[row], list), grounds, c[ImGuiCol_Text]);
}
}  // namespace

void makeStyleReadable(ImGuiStyle& style) {
    ImVec4* c = style.Colors;
    c[ImGuiCol_WindowBg].w = 1.0f;
    c[ImGuiCol_PopupBg].w = 1.0f;
    const ImVec4 window = c[ImGuiCol_WindowBg];
    for (ImGuiCol title : {ImGuiCol_TitleBg, ImGuiCol_TitleBgActive, ImGuiCol_TitleBgCollapsed, ImGuiCol_MenuBarBg})
        c[title] = colourOver(c[title], window);
    makeRowsReadable(c);
    // Fields lie on windows and popups, and in list areas (a field's colour
    // on itself); marks lie on fields.
    const ImVec4 field = colourOver(c[ImGuiCol_FrameBg], window);
    const ImVec4 fieldInList = colourOver(c[ImGuiCol_FrameBg], field);
    const std::vector<ImVec4> grounds = {window, c[ImGuiCol_PopupBg], field, fieldInList};
    const std::vector<ImVec4> fields = {field, fieldInList, colourOver(c[ImGuiCol_FrameBg], c[ImGuiCol_PopupBg])};
    c[ImGuiCol_Text] = readableColour(c[ImGuiCol_Text], grounds, kTextContrast);
    c[ImGuiCol_TextDisabled] = readableColour(c[ImGuiCol_TextDisabled], grounds, kTextContrast);
    // What text lies on besides those: buttons, tabs, titles.
    for (ImGuiCol under : {ImGuiCol_Button, ImGuiCol_ButtonHovered, ImGuiCol_ButtonActive, ImGuiCol_Tab,
                           ImGuiCol_TabHovered, ImGuiCol_TabActive, ImGuiCol_TabUnfocused, ImGuiCol_TabUnfocusedActive,
                           ImGuiCol_TableHeaderBg, ImGuiCol_FrameBgHovered, ImGuiCol_FrameBgActive,
                           ImGuiCol_TextSelectedBg, ImGuiCol_TitleBg, ImGuiCol_TitleBgActive, ImGuiCol_MenuBarBg})
        c[under] = readableBehind(c[under], grounds, c[ImGuiCol_Text], kTextContrast);
    style.FrameBorderSize = std::max(style.FrameBorderSize, 1.0f);
    // Opaque, so an outline reads the same over whatever lies under its soft edge.
    c[ImGuiCol_Border] = readableColour(colourOver(c[ImGuiCol_Border], window), grounds, kControlContrast);
    for (ImGuiCol mark : {ImGuiCol_CheckMark, ImGuiCol_PlotHistogram, ImGuiCol_SliderGrab, ImGuiCol_SliderGrabActive})
        c[mark] = readableColour(c[mark], fields, kControlContrast);
    const std::vector<ImVec4> scrollbars = {colourOver(c[ImGuiCol_ScrollbarBg], window),
                                            colourOver(c[ImGuiCol_ScrollbarBg], field)};
    for (ImGuiCol grab : {ImGuiCol_ScrollbarGrab, ImGuiCol_ScrollbarGrabHovered, ImGuiCol_ScrollbarGrabActive})
        c[grab] = readableColour(c[grab], scrollbars, kControlContrast);
}

ImVec4 listBackgroundColour() {
    const ImVec4* c = ImGui::GetStyle().Colors;
    return colourOver(c[ImGuiCol_FrameBg], colourOver(c[ImGuiCol_WindowBg], ImVec4(0, 0, 0, 1)));
}

void applyStyleNumber(int number) {
    ImGuiStyle& style = ImGui::GetStyle();
    style.WindowRounding = 12.0f;
    style.FrameRounding = 5.0f;
    if (!applyStyleByName(styleName(number))) applyBuiltInStyle(number);
    makeStyleReadable(style);
}

bool updateChosenStyle(int chosen) {
    // A configuration holding a number past the table gets the first style.
    if (!validStyleNumber(chosen)) chosen = 0;
    if (chosen == appliedStyle.load() && !styleReapplyRequested.load()) return false;
    applyStyleNumber(chosen);
    appliedStyle.store(chosen);
    styleReapplyRequested.store(false);
    return true;
}

void requestStyleReapply() { styleReapplyRequested.store(true); }

int appliedStyleNumber() { return appliedStyle.load(); }

bool writeDefaultStyleFiles(const std::wstring& folder) {
    initUIButtonTable();
    bool written = true;
    for (int n = 0; n < kStyleCount; ++n) {
        ImGui::GetStyle() = ImGuiStyle();
        ImGui::GetStyle().WindowRounding = 12.0f;
        ImGui::GetStyle().FrameRounding = 5.0f;
        ImGui::GetStyle().GrabRounding = 5.0f;
        applyBuiltInStyle(n);
        written = captureLiveStyle(styleName(n)) && saveStyleFile(folder, n) && written;
    }
    return written;
}
