#pragma once
// Colour styles: the four named styles ("Dark", "Light", "Wicked", "Light 2"),
// each a record of Dear ImGui colours, border and rounding sizes and the
// colours and labels of the button table; the style files that keep them
// ("Styles/Style_0.dat" to "Style_3.dat"); and applying a style to the live
// Dear ImGui style, or one of the built-in colour sets when a style has no
// record.
//
// Threads: `styleMap` and the style names are each guarded by their own
// mutex, because the tray thread and start-up/shut-down code reach them
// besides the UI thread. Neither mutex is held while the live Dear ImGui
// style or the button table is touched. Everything that touches the live
// Dear ImGui style (apply, capture, the built-in sets) runs on the UI thread,
// with a current Dear ImGui context.
#include <imgui.h>

#include <array>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "foundation/button_table.h"

inline constexpr int kStyleCount = 4;
inline constexpr int kStyleColourCount = ImGuiCol_COUNT;  // 53

struct StyleRecord {
    std::map<std::string, UIButtonEntry> buttons;          // button key -> colours and labels
    std::map<int32_t, std::array<float, 4>> colours;       // colour number -> R, G, B, A
    float FrameRounding = 0.0f;
    float WindowBorderSize = 0.0f;
    float FrameBorderSize = 0.0f;
    float PopupBorderSize = 0.0f;
};

// Background colour of a frame (red, green, blue, alpha); applying a style
// sets it to the style's colour, the graphics clear each frame with it.
extern float clearColor[4];

// Style name -> record.
extern std::map<std::string, StyleRecord> styleMap;
extern std::mutex styleMapMutex;

// The style names by number. They start as "Dark", "Light", "Wicked",
// "Light 2"; the style editor renames, and loading a style file takes the
// name stored in it, so a rename survives a restart.
std::string styleName(int number);
std::vector<std::string> styleNames();
// False for a bad number, an empty name, or a name another number uses.
bool setStyleName(int number, const std::string& name);
void resetStyleNames();

// The styles folder: the configuration folder + "/Styles".
std::wstring stylesFolderPath();
// folder + "/Style_" + number + ".dat".
std::wstring styleFilePath(const std::wstring& folder, int number);

// Reads one style file into `styleMap`; false for a bad number, a missing or
// damaged file, or a file without a style name.
bool loadStyleFile(const std::wstring& folder, int number);
// Writes the record of the number's name (creating the folder); false for a
// bad number, a missing record or a failed write (the old file is kept).
bool saveStyleFile(const std::wstring& folder, int number);
// Start-up and shut-down: every style number in the styles folder; returns
// how many files were read or written.
int loadStyleFiles();
int saveStyleFiles();

// Copies the record into the live style, the clear colour and the button
// table; false (nothing changed) when there is no record of that name.
bool applyStyleByName(const std::string& name);
// Copies the live style and the button table into the record of that name,
// creating it when missing.
bool captureLiveStyle(const std::string& name);

// First character of every word (a run of letters, digits and non-ASCII
// characters) upper-cased, the word's other ASCII letters lower-cased
// ("bACK-up 2x" gives "Back-Up 2x"); non-ASCII characters stay as they are.
std::string toTitleCase(const std::string& text);

// The program's own light colour set, written into `style` (the live style
// when null).
void styleColorsLight2(ImGuiStyle* style = nullptr);
// The built-in colour set of a style number (0 Dark, 1 Light, 2 Classic,
// 3 Light 2) on the live style; the clear colour becomes the live colour 52.
void applyBuiltInStyle(int number);

// Makes every control, label and field of `style` readable, keeping its
// look: window, popup and title backgrounds opaque (nothing behind reads
// through); text 4.5:1 and the marks of controls (check marks, progress
// fills, grabs) 3:1 against what they are drawn on; frames (fields, check
// boxes, buttons, progress bars) outlined 3:1 against both sides.
void makeStyleReadable(ImGuiStyle& style);
// The background of list areas and fields in the live style (its frame
// colour over its window colour), for colours drawn on it.
ImVec4 listBackgroundColour();

// Choosing a style: window and frame rounding 12 and 5, then the style's
// record, or its built-in set when it has none, made readable.
void applyStyleNumber(int number);
// Called each frame with the chosen style number: applies it when it
// differs from the one applied last or a re-apply was requested; true when
// it applied.
bool updateChosenStyle(int chosen);
// The next updateChosenStyle applies again (a new Dear ImGui context).
void requestStyleReapply();
// The number applied last, -1 before the first.
int appliedStyleNumber();

// Writes the four default style files (each built-in set with the button
// table's colours) into `folder`. Needs a current Dear ImGui context; it
// changes the live style.
bool writeDefaultStyleFiles(const std::wstring& folder);
