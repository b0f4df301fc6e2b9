#include "shell/fonts.h"

#include <imgui_internal.h>  // ImTextCharFromUtf8

#include <algorithm>
#include <cstring>
#include <span>

#include "platform/atomic_file.h"
#include "platform/freed_memory.h"
#include "resources/embedded.h"

ImFont* fontTahoma16 = nullptr;
ImFont* fontArial16 = nullptr;
ImFont* fontArial12 = nullptr;

const char* const kUiSymbolText =
    "\u25CB\u25CF\u25B2\u25BA\u25BC\u25C4\u25A0\u25A1\u00D8\u058D\u203C\u205D\u2056\u2045\u2192\u00A7";

const char* const kFallbackFontPath = "/usr/share/fonts-droid-fallback/truetype/DroidSansFallback.ttf";

namespace {
// The drawing thread's.
bool g_lacking = false;      // a character was noted since the fonts were added
bool g_beyondFixed = false;  // a character beyond the fixed ones was noted
std::string g_fallbackPath = kFallbackFontPath;

// The characters the fonts are added with: Latin-1, the UI symbols and the
// mark, then each character noted in a drawn text. The library draws a
// character its font lacks as the font's fallback, U+FFFD when the font has
// it (DejaVu has), so that is the mark.
ImFontGlyphRangesBuilder& knownCharacters() {
    static ImFontGlyphRangesBuilder known = [] {
        static const ImWchar latin1[] = {0x0020, 0x00FF, 0};
        ImFontGlyphRangesBuilder fixed;
        fixed.AddRanges(latin1);
        fixed.AddText(kUiSymbolText);
        fixed.AddChar(IM_UNICODE_CODEPOINT_INVALID);
        return fixed;
    }();
    return known;
}

// The ranges the atlas reads until it is built.
ImVector<ImWchar> g_glyphRanges;

void mergeFont(std::span<const unsigned char> data, float pixels, int oversampleH = ImFontConfig().OversampleH) {
    if (data.empty()) return;
    ImFontConfig merge;
    merge.FontDataOwnedByAtlas = false;
    merge.MergeMode = true;
    merge.OversampleH = oversampleH;
    ImGui::GetIO().Fonts->AddFontFromMemoryTTF(const_cast<unsigned char*>(data.data()),
                                               static_cast<int>(data.size()), pixels, &merge,
                                               g_glyphRanges.Data);
}

// The atlas copies the bytes (it frees its copies once built).
ImFont* addFont(std::span<const unsigned char> face, float pixels, std::span<const unsigned char> fallback) {
    ImFontAtlas* atlas = ImGui::GetIO().Fonts;
    ImFontConfig config;
    config.FontDataOwnedByAtlas = false;
    ImFont* font = atlas->AddFontFromMemoryTTF(const_cast<unsigned char*>(face.data()),
                                               static_cast<int>(face.size()), pixels, &config,
                                               g_glyphRanges.Data);
    // Glyphs the face already has win; the merges only fill the gaps.
    mergeFont(findEmbeddedResource("IDR_FONT_SYMBOLS"), pixels);
    mergeFont(findEmbeddedResource("IDR_FONT_SYMBOLS2"), pixels);
    // Ideographs gain nothing from sub-pixel positions but would take three
    // times the room in the atlas.
    mergeFont(fallback, pixels, 1);
    return font;
}

// Adds the three fonts with every known character and builds the atlas.
bool buildFonts(std::span<const unsigned char> tahoma, std::span<const unsigned char> arial) {
    g_glyphRanges.clear();
    knownCharacters().BuildRanges(&g_glyphRanges);
    // Read only once a name needs more than Latin-1; empty when the package is missing.
    std::string fallback;
    if (g_beyondFixed) readWholeFile(g_fallbackPath, fallback);
    const std::span<const unsigned char> fallbackBytes(reinterpret_cast<const unsigned char*>(fallback.data()),
                                                       fallback.size());
    fontTahoma16 = addFont(tahoma, 16.0f, fallbackBytes);
    fontArial16 = addFont(arial, 16.0f, fallbackBytes);
    fontArial12 = addFont(arial, 12.0f, fallbackBytes);
    ImFontAtlas* atlas = ImGui::GetIO().Fonts;
    atlas->AddFontDefault();
    // Built, the atlas needs none of the font files it copied (megabytes
    // for the fallback font, once per size).
    const bool built = atlas->Build();
    atlas->ClearInputData();
    return built;
}
}  // namespace

void forgetApplicationFonts() { fontTahoma16 = fontArial16 = fontArial12 = nullptr; }

bool addApplicationFonts() {
    const auto tahoma = findEmbeddedResource("IDR_FONT_TAHOMA");
    const auto arial = findEmbeddedResource("IDR_FONT_ARIAL");
    const bool symbols = !findEmbeddedResource("IDR_FONT_SYMBOLS").empty() &&
                         !findEmbeddedResource("IDR_FONT_SYMBOLS2").empty();
    forgetApplicationFonts();
    ImFontAtlas* atlas = ImGui::GetIO().Fonts;
    atlas->Clear();
    g_lacking = false;
    if (tahoma.empty() || arial.empty() || !symbols) {
        atlas->AddFontDefault();
        return false;
    }
    const bool built = buildFonts(tahoma, arial);
    returnFreedMemory();  // the font files read and copied for the build
    return built;
}

void noteDrawnText(const char* begin, const char* end) {
    if (!end) end = begin + std::strlen(begin);
    ImFontGlyphRangesBuilder& known = knownCharacters();
    for (const char* at = begin; at < end;) {
        if (static_cast<unsigned char>(*at) < 0x80) {
            ++at;
            continue;
        }
        unsigned int c = 0;
        at += std::max(ImTextCharFromUtf8(&c, at, end), 1);
        if (c > IM_UNICODE_CODEPOINT_MAX) c = IM_UNICODE_CODEPOINT_INVALID;  // ImWchar is 16 bits
        if (known.GetBit(c)) continue;
        known.SetBit(c);
        g_lacking = g_beyondFixed = true;
    }
}

bool drawnTextLacksGlyphs() { return g_lacking; }

bool addDrawnCharactersToFonts() {
    if (!g_lacking) return false;
    g_lacking = false;
    if (!ImGui::GetCurrentContext() || !fontTahoma16) return false;
    return addApplicationFonts();
}

void setFallbackFontPath(const std::string& path) { g_fallbackPath = path; }

// Dear ImGui draws every text through ImDrawList::AddText, in either form.
// The link (CMakeLists.txt) sends the library's and our calls here first;
// "__real_" names the library's own.
extern "C" {
void imguiAddTextWithFont(ImDrawList* list, const ImFont* font, float size, const ImVec2& pos, ImU32 colour,
                          const char* begin, const char* end, float wrapWidth, const ImVec4* clip)
    __asm__("__real__ZN10ImDrawList7AddTextEPK6ImFontfRK6ImVec2jPKcS7_fPK6ImVec4");
void imguiAddText(ImDrawList* list, const ImVec2& pos, ImU32 colour, const char* begin, const char* end)
    __asm__("__real__ZN10ImDrawList7AddTextERK6ImVec2jPKcS4_");

void addDrawnTextWithFont(ImDrawList* list, const ImFont* font, float size, const ImVec2& pos, ImU32 colour,
                          const char* begin, const char* end, float wrapWidth, const ImVec4* clip)
    __asm__("__wrap__ZN10ImDrawList7AddTextEPK6ImFontfRK6ImVec2jPKcS7_fPK6ImVec4");
void addDrawnText(ImDrawList* list, const ImVec2& pos, ImU32 colour, const char* begin, const char* end)
    __asm__("__wrap__ZN10ImDrawList7AddTextERK6ImVec2jPKcS4_");

void addDrawnTextWithFont(ImDrawList* list, const ImFont* font, float size, const ImVec2& pos, ImU32 colour,
                          const char* begin, const char* end, float wrapWidth, const ImVec4* clip) {
    if (begin) noteDrawnText(begin, end);
    imguiAddTextWithFont(list, font, size, pos, colour, begin, end, wrapWidth, clip);
}

void addDrawnText(ImDrawList* list, const ImVec2& pos, ImU32 colour, const char* begin, const char* end) {
    if (begin) noteDrawnText(begin, end);
    imguiAddText(list, pos, colour, begin, end);
}
}
