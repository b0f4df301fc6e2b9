#pragma once
// The program's fonts, from the executable's embedded data: the Tahoma
// stand-in at 16 px (the default), the Arial stand-in at 16 and 12 px, each
// with the UI symbols merged in from a font that has them, then the
// library's own default font.
//
// Names (files, folders, applications) can hold any script. The atlas starts
// with Latin-1 and the UI symbols; every other character joins it once a text
// that holds it is drawn (the atlas is rebuilt between frames), taken from
// the faces, the symbol fonts or, for Chinese, Japanese and Korean, the
// fallback font of a Debian package read from its installed path. A
// character no font has is drawn as U+FFFD, the replacement mark.
#include <imgui.h>

#include <string>

extern ImFont* fontTahoma16;
extern ImFont* fontArial16;
extern ImFont* fontArial12;

// The UI's symbol text; every character must have a glyph in each font.
extern const char* const kUiSymbolText;

// Droid Sans Fallback (fonts-droid-fallback): TrueType outlines for Chinese,
// Japanese kana and Korean Hangul.
extern const char* const kFallbackFontPath;

// Adds the fonts to the current context's atlas (cleared first), with every
// character drawn so far, and builds it. Returns false when the embedded
// font data is missing (the library's default font is added and not built).
bool addApplicationFonts();

// Drops the font pointers before their context (and atlas) is destroyed, so
// nothing pushes a font that is gone.
void forgetApplicationFonts();

// Notes the characters of a text being drawn. Every text Dear ImGui draws
// comes here: the link wraps ImDrawList::AddText (CMakeLists.txt). The
// drawing thread only.
void noteDrawnText(const char* begin, const char* end);

// A text drawn since the fonts were last added holds a character they were
// not built with: its frame shows the mark in its place.
bool drawnTextLacksGlyphs();

// Between frames: when drawnTextLacksGlyphs, adds the fonts again with the
// new characters. True when it did; the renderer must then upload the
// atlas's texture again.
bool addDrawnCharactersToFonts();

// Where the fallback font is read from (kFallbackFontPath; tests point it
// elsewhere).
void setFallbackFontPath(const std::string& path);
