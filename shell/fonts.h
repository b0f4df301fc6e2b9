#pragma once
// The program's fonts, from the executable's embedded data: the Tahoma
// stand-in at 16 px (the default), the Arial stand-in at 16 and 12 px, each
// with the UI symbols merged in from a font that has them, then the
// library's own default font.
#include <imgui.h>

#include <string>

extern ImFont* fontTahoma16;
extern ImFont* fontArial16;
extern ImFont* fontArial12;

// The UI's symbol text; every character must have a glyph in each font.
extern const char* const kUiSymbolText;

// Adds the fonts to the current context's atlas (cleared first) and builds
// it. Returns false when the embedded font data is missing (the library's
// default font is added and not built).
bool addApplicationFonts();

// Drops the font pointers before their context (and atlas) is destroyed, so
// nothing pushes a font that is gone.
void forgetApplicationFonts();
