#include <gtest/gtest.h>
#include <SDL.h>
#include <SDL_opengl.h>

#include <cstring>

#include "engine/confirm_request.h"
#include "engine/engine_hooks.h"
#include "platform/window_sdl.h"
#include "shell/bitmap.h"
#include "shell/fonts.h"
#include "shell/graphics.h"
#include "shell/shell_state.h"
#include "shell/tray.h"
#include "shell/window.h"
#include "platform/text.h"
#include "test_env.h"

namespace {
std::vector<unsigned char> bitmapFile(int width, int height, int bits,
                                      const std::vector<unsigned char>& rows) {
    std::vector<unsigned char> file(54 + rows.size(), 0);
    for (size_t i = 0; i < rows.size(); ++i) file[54 + i] = rows[i];
    auto put32 = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) file[at + i] = static_cast<unsigned char>(v >> (8 * i));
    };
    file[0] = 'B';
    file[1] = 'M';
    put32(10, 54);
    put32(14, 40);
    put32(18, static_cast<uint32_t>(width));
    put32(22, static_cast<uint32_t>(height));
    file[26] = 1;
    file[28] = static_cast<unsigned char>(bits);
    return file;
}

struct Pixel {
    uint8_t r, g, b;
};

Pixel pixelAt(const DecodedBitmap& bitmap, int x, int y) {
    const uint8_t* p = bitmap.rgba.data() + (y * bitmap.width + x) * 4;
    return {p[0], p[1], p[2]};
}

// One frame with the about picture drawn 1:1 from texel (sx, sy) at the
// window's top-left corner, then the back buffer read before the swap.
std::vector<uint8_t> drawFrame(int sx, int sy, int size, int& width, int& height) {
    newGraphicsFrame();
    ImGui::SetNextWindowPos(ImVec2(300, 300));
    ImGui::Begin("Probe");
    ImGui::PushFont(fontArial16);
    ImGui::TextUnformatted(kUiSymbolText);
    ImGui::PopFont();
    ImGui::End();
    const TextureItem& item = mapTextureItems.at("about_intro");
    ImGui::GetForegroundDrawList()->AddImage(
        textureId("about_intro"), ImVec2(0, 0), ImVec2(float(size), float(size)),
        ImVec2(float(sx) / item.width, float(sy) / item.height),
        ImVec2(float(sx + size) / item.width, float(sy + size) / item.height));
    ImGui::Render();
    renderGraphicsFrame();
    SDL_GL_GetDrawableSize(mainSdlWindow(), &width, &height);
    std::vector<uint8_t> pixels(size_t(width) * height * 4);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
    SDL_GL_SwapWindow(mainSdlWindow());
    return pixels;
}

void expectPictureDrawn(int sx, int sy) {
    DecodedBitmap picture;
    ASSERT_TRUE(decodeBitmap24(loadAppResource("IDR_ABOUT_TEXTURE"), picture));
    const int size = 64;
    int width = 0, height = 0;
    std::vector<uint8_t> pixels;
    for (int frame = 0; frame < 3; ++frame) pixels = drawFrame(sx, sy, size, width, height);
    ASSERT_GT(width, size);
    int far = 0;
    for (int y = 0; y < size; y += 3) {
        for (int x = 0; x < size; x += 3) {
            const uint8_t* got = pixels.data() + (size_t(height - 1 - y) * width + x) * 4;
            const Pixel want = pixelAt(picture, sx + x, sy + y);
            if (std::abs(got[0] - want.r) > 3 || std::abs(got[1] - want.g) > 3 ||
                std::abs(got[2] - want.b) > 3)
                ++far;
        }
    }
    EXPECT_EQ(far, 0);
    // The probe window's text drew something other than the clear colour.
    int other = 0;
    for (int y = 300; y < 340; ++y)
        for (int x = 300; x < 400; ++x)
            if (pixels[(size_t(height - 1 - y) * width + x) * 4 + 0] != 0) ++other;
    EXPECT_GT(other, 50);
}
}  // namespace

TEST(Bitmap, OddRowWidthsDecodeWithoutSkewAndBadFilesAreRefused) {
    // 3 x 2 pixels: each 9-byte row is padded to 12. Rows are stored bottom-up.
    const std::vector<unsigned char> rows = {
        1, 2, 3, 4, 5, 6, 7, 8, 9, 0, 0, 0,           // bottom row
        10, 11, 12, 13, 14, 15, 16, 17, 18, 0, 0, 0,  // top row
    };
    DecodedBitmap bitmap;
    ASSERT_TRUE(decodeBitmap24(bitmapFile(3, 2, 24, rows), bitmap));
    EXPECT_EQ(bitmap.width, 3);
    EXPECT_EQ(bitmap.height, 2);
    const std::vector<uint8_t> want = {12, 11, 10, 255, 15, 14, 13, 255, 18, 17, 16, 255,
                                       3,  2,  1,  255, 6,  5,  4,  255, 9,  8,  7,  255};
    EXPECT_EQ(bitmap.rgba, want);

    auto cut = bitmapFile(3, 2, 24, rows);
    cut.pop_back();
    EXPECT_FALSE(decodeBitmap24(cut, bitmap));
    EXPECT_TRUE(bitmap.rgba.empty());
    EXPECT_FALSE(decodeBitmap24(bitmapFile(3, 2, 32, std::vector<unsigned char>(24)), bitmap));
    EXPECT_FALSE(decodeBitmap24(bitmapFile(-3, 2, 24, rows), bitmap));
    EXPECT_FALSE(decodeBitmap24(bitmapFile(70000, 1, 24, rows), bitmap));
    EXPECT_FALSE(decodeBitmap24({}, bitmap));

    // The pictures the program carries are 24-bit and decode.
    for (const char* name : {"IDR_ABOUT_TEXTURE", "IDR_ABOUT_INFO", "IDI_APP_ICON", "IDB_TRAY_ICON"})
        EXPECT_TRUE(decodeBitmap24(loadAppResource(name), bitmap)) << name;
    EXPECT_TRUE(loadAppResource("IDR_NOT_THERE").empty());
}

TEST(Fonts, EmbeddedFontsBuildWithEveryUiSymbol) {
    ImGui::CreateContext();
    ASSERT_TRUE(addApplicationFonts());
    ImGuiIO& io = ImGui::GetIO();
    unsigned char* pixels = nullptr;
    int width = 0, height = 0;
    io.Fonts->GetTexDataAsRGBA32(&pixels, &width, &height);
    ASSERT_NE(pixels, nullptr);
    ASSERT_EQ(io.Fonts->Fonts.Size, 4);
    EXPECT_EQ(io.Fonts->Fonts[0], fontTahoma16);  // the default font
    EXPECT_FLOAT_EQ(fontTahoma16->FontSize, 16.0f);
    EXPECT_FLOAT_EQ(fontArial16->FontSize, 16.0f);
    EXPECT_FLOAT_EQ(fontArial12->FontSize, 12.0f);
    const std::wstring symbols = utf8ToWide(kUiSymbolText);
    EXPECT_EQ(symbols.size(), 16u);
    for (ImFont* font : {fontTahoma16, fontArial16, fontArial12}) {
        for (wchar_t c : symbols)
            EXPECT_NE(font->FindGlyphNoFallback(static_cast<ImWchar>(c)), nullptr)
                << std::hex << int(c);
        for (ImWchar c : {ImWchar('A'), ImWchar(0xE9), ImWchar(0xFF)})
            EXPECT_NE(font->FindGlyphNoFallback(c), nullptr);
    }
    // Adding again starts from an empty atlas.
    ASSERT_TRUE(addApplicationFonts());
    EXPECT_EQ(io.Fonts->Fonts.Size, 4);
    ImGui::DestroyContext();
}

TEST(Fonts, CharactersOfADrawnTextJoinTheAtlasAndThoseNoFontHasShowTheMark) {
    ImGui::CreateContext();
    ImGuiIO& io = ImGui::GetIO();
    io.IniFilename = nullptr;
    io.DisplaySize = ImVec2(400, 300);
    ASSERT_TRUE(addApplicationFonts());
    ASSERT_TRUE(io.Fonts->Build());
    const auto frameShowing = [](const std::wstring& text) {
        ImGui::NewFrame();
        ImGui::Begin("Names");
        ImGui::TextUnformatted(wideToUtf8(text).c_str());
        ImGui::End();
        ImGui::Render();
    };
    // Japanese, Korean, Greek, Cyrillic, and Ethiopic, which no font has.
    const std::wstring name = L"\u65E5\u672C \uD55C\uAD6D \u0386\u03BB\u03C6\u03B1 \u0424\u043E\u0442\u043E \u1200";
    frameShowing(name);
    EXPECT_TRUE(drawnTextLacksGlyphs());
    EXPECT_EQ(fontTahoma16->FindGlyphNoFallback(name[0]), nullptr);
    ASSERT_TRUE(addDrawnCharactersToFonts());
    for (ImFont* font : {fontTahoma16, fontArial16, fontArial12}) {
        EXPECT_EQ(font->FallbackChar, 0xFFFD);  // the mark
        for (wchar_t c : name)
            if (c != L'\u1200') {
                EXPECT_NE(font->FindGlyphNoFallback(static_cast<ImWchar>(c)), nullptr) << std::hex << int(c);
            }
        EXPECT_EQ(font->FindGlyph(0x1200), font->FallbackGlyph);
    }
    // The same text again needs nothing new.
    frameShowing(name);
    EXPECT_FALSE(drawnTextLacksGlyphs());
    EXPECT_FALSE(addDrawnCharactersToFonts());

    // Without the fallback font's package a new Chinese character is a mark.
    setFallbackFontPath(makeTestFolder("no-fallback") + "/missing.ttf");
    frameShowing(L"\u4E2D");
    ASSERT_TRUE(addDrawnCharactersToFonts());
    EXPECT_EQ(fontTahoma16->FindGlyph(0x4E2D), fontTahoma16->FallbackGlyph);
    EXPECT_NE(fontTahoma16->FindGlyphNoFallback(0x0424), nullptr);
    setFallbackFontPath(kFallbackFontPath);
    forgetApplicationFonts();
    ImGui::DestroyContext();
}

TEST(Graphics, RealWindowDrawsHidesAndDrawsAgain) {
    resetShellState();
    resetWindowState();
    ASSERT_TRUE(registerWindowClass());
    ASSERT_TRUE(initInstance());
    registerTexture(loadAppResource("IDR_ABOUT_TEXTURE"), "about_intro", true);
    registerTexture(loadAppResource("IDR_ABOUT_INFO"), "about_info", true);
    EXPECT_FALSE(registerTexture(loadAppResource("IDR_ABOUT_INFO"), "about_info", true));
    EXPECT_FALSE(registerTexture({}, "about_intro", false));  // no device yet
    clearColor[0] = clearColor[1] = clearColor[2] = 0.0f;
    clearColor[3] = 1.0f;

    for (int round = 0; round < 2; ++round) {
        showMainWindow(true);
        ASSERT_TRUE(setGraphicsActive(true));
        ASSERT_TRUE(initImGuiBackends());
        EXPECT_EQ(mapTextureItems.at("about_intro").width, 481);
        EXPECT_EQ(mapTextureItems.at("about_info").height, 192);
        EXPECT_NE(textureId("about_info"), nullptr);
        expectPictureDrawn(200 - round * 20, 120 + round * 10);

        showMainWindow(false);
        ASSERT_TRUE(setGraphicsActive(false));
        EXPECT_FALSE(graphicsActive());
        EXPECT_EQ(ImGui::GetCurrentContext(), nullptr);
        EXPECT_EQ(textureId("about_intro"), nullptr);
        EXPECT_TRUE(setGraphicsActive(false));  // nothing to do
    }

    // A tray command reaches the main thread as a window event.
    setupTrayMenu(false, false, shellStyleNames());
    ASSERT_TRUE(postTrayCommandEvent(71));
    EXPECT_TRUE(pumpWindowEvents());
    EXPECT_EQ(shellStyleIndex(), 1);
    // A task's question shows the hidden window.
    installQuestionWindowHook();
    ASSERT_TRUE(showModalMessage("question", "", "x\n", 3));
    EXPECT_TRUE(pumpWindowEvents());
    EXPECT_TRUE(shellShowUI());
    setEngineHooks({});
    {
        std::lock_guard<std::mutex> lock(modalMessageMutex);
        modalMessage = ModalMessageState();
    }
    showMainWindow(false);
    startTrayIcon(true);

    // Resizes settle once, after the last one.
    noteWindowResized(1000);
    noteWindowResized(1100);
    EXPECT_FALSE(takeSettledResize(1100 + resizeSettleMs - 1));
    EXPECT_TRUE(takeSettledResize(1100 + resizeSettleMs));
    EXPECT_FALSE(takeSettledResize(5000));
    closeWindowSystem();
}
