#include "platform/message_box.h"

#include <SDL.h>
#include <stdlib.h>

#include <cstdio>

namespace {
bool envSet(const char* name) {
    const char* value = getenv(name);
    return value && value[0];
}
}  // namespace

bool messageBoxCanShowDialog() {
    if (envSet("VARNHOLT_NO_MSGBOX")) return false;
    return envSet("DISPLAY") || envSet("WAYLAND_DISPLAY");
}

void showMessageBox(const std::string& text, const std::string& caption) {
    std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
    std::fflush(stderr);
    if (messageBoxCanShowDialog())
        SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_ERROR, caption.c_str(), text.c_str(), nullptr);
}
