#pragma once
// Everything between the window and Dear ImGui: the OpenGL context (the
// program's graphics device), the Dear ImGui context with its SDL and
// OpenGL back ends, the fonts and the registry of embedded pictures. The
// graphics exist only while the window is shown.
#include <imgui.h>

#include <cstdint>
#include <map>
#include <span>
#include <string>

#include "foundation/styles.h"  // clearColor, the frame's background colour

// One registered picture. The bytes stay in the executable; the GL texture
// exists only while the graphics are active.
struct TextureItem {
    std::span<const unsigned char> bytes;
    unsigned int texture = 0;  // GL name, 0 while inactive
    int width = 0;
    int height = 0;
};

// Registered pictures by name ("about_intro", "about_info"). Main thread only.
extern std::map<std::string, TextureItem> mapTextureItems;

// The bytes of an embedded resource ("IDR_ABOUT_TEXTURE", "IDR_FONT_ARIAL",
// ...); empty when the executable lacks it.
std::span<const unsigned char> loadAppResource(const std::string& name);

// add true: enters `name` with its bytes (false when the name exists).
// add false: uploads the named picture to a new GL texture (false when the
// name is missing, its bytes are empty or cannot be decoded).
bool registerTexture(std::span<const unsigned char> bytes, const std::string& name, bool add);
// The texture id to hand to ImGui::Image, null while inactive or unknown.
ImTextureID textureId(const std::string& name);

// true: creates the GL context on the main window; throws the runtime error
// "CreateDeviceD3D failed" when that fails. false: tears down the back ends,
// the Dear ImGui context, the textures and the GL context; nothing when
// inactive. Returns true.
bool setGraphicsActive(bool active);
bool graphicsActive();

// Makes sure a Dear ImGui context is current, adds the fonts, starts both
// back ends and uploads every registered picture. Needs active graphics.
bool initImGuiBackends();

// Hands one window event (an SDL_Event) to Dear ImGui while the back ends
// run; the mouse's part goes through shell/mouse_input, a change a frame.
void forwardEventToImGui(const void* sdlEvent);

// The index in ImGuiIO::KeysDown of a letter key 'A' to 'Z' (the back end
// indexes keys by their scancode); -1 for anything else.
int letterKeyIndex(char letter);

// Starts a frame: back ends first, the next mouse state, then ImGui::NewFrame.
void newGraphicsFrame();
// The next frame is cleared with `colour` instead of the clear colour: a
// window that covers the whole frame with an opaque background leaves that
// background to the clear (main thread).
void clearFrameWith(const ImVec4& colour);
// What the next frame is cleared with.
ImVec4 frameClearColour();
// Clears with the clear colour and draws the rendered ImGui data into the
// back buffer. Call after ImGui::Render.
void renderGraphicsFrame();
// renderGraphicsFrame, then shows the back buffer (SDL_GL_SwapWindow).
void presentGraphicsFrame();
// Blocks until the GL work already submitted has finished.
void waitForLastSubmittedFrame();
