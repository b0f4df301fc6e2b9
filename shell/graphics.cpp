#include "shell/graphics.h"

#include <SDL.h>
#include <SDL_opengl.h>
#include <backends/imgui_impl_opengl3.h>
#include <backends/imgui_impl_sdl.h>

#include <stdexcept>

#include "platform/window_sdl.h"
#include "resources/embedded.h"
#include "shell/bitmap.h"
#include "shell/fonts.h"
#include "shell/main_loop.h"
#include "shell/mouse_input.h"

std::map<std::string, TextureItem> mapTextureItems;

namespace {
SDL_GLContext g_glContext = nullptr;
bool g_backendsRunning = false;

bool createGraphicsDevice() {
    SDL_Window* window = mainSdlWindow();
    if (!window) return false;
    g_glContext = SDL_GL_CreateContext(window);
    if (!g_glContext) return false;
    if (SDL_GL_MakeCurrent(window, g_glContext) != 0) return false;
    SDL_GL_SetSwapInterval(1);  // present once per display refresh where possible
    return true;
}

void deleteTextures() {
    for (auto& [name, item] : mapTextureItems) {
        if (item.texture) glDeleteTextures(1, &item.texture);
        item.texture = 0;
    }
}

void cleanupGraphicsDevice() {
    if (g_glContext) {
        deleteTextures();
        SDL_GL_MakeCurrent(mainSdlWindow(), nullptr);
        SDL_GL_DeleteContext(g_glContext);
    }
    g_glContext = nullptr;
}

bool uploadBitmapTexture(TextureItem& item) {
    DecodedBitmap bitmap;
    if (!decodeBitmap24(item.bytes, bitmap)) return false;
    GLuint texture = 0;
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, bitmap.width, bitmap.height, 0, GL_RGBA,
                 GL_UNSIGNED_BYTE, bitmap.rgba.data());
    if (glGetError() != GL_NO_ERROR) {
        glDeleteTextures(1, &texture);
        return false;
    }
    if (item.texture) glDeleteTextures(1, &item.texture);
    item.texture = texture;
    item.width = bitmap.width;
    item.height = bitmap.height;
    return true;
}

void shutdownBackends() {
    if (!g_backendsRunning) return;
    ImGui_ImplOpenGL3_Shutdown();
    ImGui_ImplSDL2_Shutdown();
    g_backendsRunning = false;
}
}  // namespace

std::span<const unsigned char> loadAppResource(const std::string& name) {
    return findEmbeddedResource(name);
}

bool registerTexture(std::span<const unsigned char> bytes, const std::string& name, bool add) {
    if (add) return mapTextureItems.emplace(name, TextureItem{bytes, 0, 0, 0}).second;
    auto it = mapTextureItems.find(name);
    if (it == mapTextureItems.end() || it->second.bytes.empty() || !g_glContext) return false;
    return uploadBitmapTexture(it->second);
}

ImTextureID textureId(const std::string& name) {
    auto it = mapTextureItems.find(name);
    if (it == mapTextureItems.end() || it->second.texture == 0) return nullptr;
    return reinterpret_cast<ImTextureID>(static_cast<intptr_t>(it->second.texture));
}

bool setGraphicsActive(bool active) {
    if (active) {
        if (g_glContext) return true;
        if (!createGraphicsDevice()) {
            cleanupGraphicsDevice();
            throw std::runtime_error("CreateDeviceD3D failed");
        }
        return true;
    }
    if (!g_glContext) return true;
    waitForLastSubmittedFrame();
    shutdownBackends();
    forgetApplicationFonts();
    if (ImGui::GetCurrentContext()) ImGui::DestroyContext();
    cleanupGraphicsDevice();
    return true;
}

bool graphicsActive() { return g_glContext != nullptr; }

bool initImGuiBackends() {
    if (!g_glContext) return false;
    if (!ImGui::GetCurrentContext()) ImGui::CreateContext();
    ImGui::GetIO().IniFilename = nullptr;  // window layout is not kept between runs
    shutdownBackends();
    resetMouseInput();  // a new context: the pointer is known again once it moves
    addApplicationFonts();
    if (!ImGui_ImplSDL2_InitForOpenGL(mainSdlWindow(), g_glContext)) return false;
    if (!ImGui_ImplOpenGL3_Init("#version 330 core")) {
        ImGui_ImplSDL2_Shutdown();
        return false;
    }
    g_backendsRunning = true;
    for (auto& [name, item] : mapTextureItems) registerTexture(item.bytes, name, false);
    return true;
}

namespace {
// SDL's buttons 1 to 3 (left, middle, right) are Dear ImGui's 0, 2 and 1.
int imguiButton(uint8_t sdlButton) {
    switch (sdlButton) {
        case SDL_BUTTON_LEFT: return 0;
        case SDL_BUTTON_RIGHT: return 1;
        case SDL_BUTTON_MIDDLE: return 2;
        default: return -1;
    }
}

// The back end's own mouse state would be read once a frame, from X's
// cached pointer place, which a warped pointer leaves behind: the mouse
// goes to Dear ImGui from the events, a change a frame.
void noteMouseEvent(const SDL_Event& e) {
    switch (e.type) {
        case SDL_MOUSEMOTION: noteMouseMove(static_cast<float>(e.motion.x), static_cast<float>(e.motion.y)); break;
        case SDL_MOUSEBUTTONDOWN:
        case SDL_MOUSEBUTTONUP:
            noteMouseButton(imguiButton(e.button.button), e.type == SDL_MOUSEBUTTONDOWN, static_cast<float>(e.button.x),
                            static_cast<float>(e.button.y));
            break;
        case SDL_WINDOWEVENT:
            if (e.window.event == SDL_WINDOWEVENT_LEAVE) noteMouseLeft();
            break;
        default: break;
    }
}
}  // namespace

void forwardEventToImGui(const void* sdlEvent) {
    if (!sdlEvent) return;
    const SDL_Event& e = *static_cast<const SDL_Event*>(sdlEvent);
    if (ImGui::GetCurrentContext()) noteMouseEvent(e);
    if (g_backendsRunning) ImGui_ImplSDL2_ProcessEvent(&e);
}

int letterKeyIndex(char letter) {
    if (letter < 'A' || letter > 'Z') return -1;
    return SDL_SCANCODE_A + (letter - 'A');
}

void newGraphicsFrame() {
    ImGui_ImplOpenGL3_NewFrame();  // makes the font texture at the first frame
    // The last frame drew characters the atlas lacked: they join it now.
    if (addDrawnCharactersToFonts()) {
        ImGui_ImplOpenGL3_DestroyFontsTexture();
        ImGui_ImplOpenGL3_CreateFontsTexture();
    }
    ImGui_ImplSDL2_NewFrame();
    applyNextMouseState(ImGui::GetIO());
    ImGui::NewFrame();
}

// Main thread: set while drawing a frame, used and dropped by its rendering.
bool g_frameClearSet = false;
ImVec4 g_frameClear;

void clearFrameWith(const ImVec4& colour) {
    g_frameClear = colour;
    g_frameClearSet = true;
}

ImVec4 frameClearColour() {
    return g_frameClearSet ? g_frameClear : ImVec4(clearColor[0], clearColor[1], clearColor[2], clearColor[3]);
}

void renderGraphicsFrame() {
    int width = 0, height = 0;
    SDL_GL_GetDrawableSize(mainSdlWindow(), &width, &height);
    glViewport(0, 0, width, height);
    const ImVec4 clear = frameClearColour();
    g_frameClearSet = false;
    glClearColor(clear.x * clear.w, clear.y * clear.w, clear.z * clear.w, clear.w);
    glClear(GL_COLOR_BUFFER_BIT);
    ImGui_ImplOpenGL3_RenderDrawData(ImGui::GetDrawData());
}

void presentGraphicsFrame() {
    // A name in this frame showed marks for characters the atlas lacked: the
    // next frame, drawn at once, shows them instead.
    if (drawnTextLacksGlyphs()) {
        requestFrameIn(0);
        return;
    }
    renderGraphicsFrame();
    SDL_GL_SwapWindow(mainSdlWindow());
}

void waitForLastSubmittedFrame() {
    if (g_glContext) glFinish();
}
