#include "shell/fonts.h"

#include <span>

#include "resources/embedded.h"

ImFont* fontTahoma16 = nullptr;
ImFont* fontArial16 = nullptr;
ImFont* fontArial12 = nullptr;

const char* const kUiSymbolText =
    "\u25CB\u25CF\u25B2\u25BA\u25BC\u25C4\u25A0\u25A1\u00D8\u058D\u203C\u205D\u2056\u2045\u2192\u00A7";

namespace {
// Lives as long as the program: the atlas keeps a pointer to the ranges.
ImVector<ImWchar> g_glyphRanges;

const ImWchar* glyphRanges() {
    if (g_glyphRanges.empty()) {
        static const ImWchar latin1[] = {0x0020, 0x00FF, 0};
        ImFontGlyphRangesBuilder builder;
        builder.AddText(kUiSymbolText);
        builder.AddRanges(latin1);
        builder.BuildRanges(&g_glyphRanges);
    }
    return g_glyphRanges.Data;
}

void mergeFont(std::span<const unsigned char> data, float pixels) {
    ImFontConfig merge;
    merge.FontDataOwnedByAtlas = false;
    merge.MergeMode = true;
    ImGui::GetIO().Fonts->AddFontFromMemoryTTF(const_cast<unsigned char*>(data.data()),
                                               static_cast<int>(data.size()), pixels, &merge,
                                               glyphRanges());
}

// The atlas copies the bytes (and frees its copies once built).
ImFont* addFont(std::span<const unsigned char> face, float pixels) {
    ImFontAtlas* atlas = ImGui::GetIO().Fonts;
    ImFontConfig config;
    config.FontDataOwnedByAtlas = false;
    ImFont* font = atlas->AddFontFromMemoryTTF(const_cast<unsigned char*>(face.data()),
                                               static_cast<int>(face.size()), pixels, &config,
                                               glyphRanges());
    // Glyphs the face already has win; the merges only fill the gaps.
    mergeFont(findEmbeddedResource("IDR_FONT_SYMBOLS"), pixels);
    mergeFont(findEmbeddedResource("IDR_FONT_SYMBOLS2"), pixels);
    return font;
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
    if (tahoma.empty() || arial.empty() || !symbols) {
        atlas->AddFontDefault();
        return false;
    }
    fontTahoma16 = addFont(tahoma, 16.0f);
    fontArial16 = addFont(arial, 16.0f);
    fontArial12 = addFont(arial, 12.0f);
    atlas->AddFontDefault();
    // Built, the atlas needs none of the font files it copied, one copy per size.
    const bool built = atlas->Build();
    atlas->ClearInputData();
    return built;
}
