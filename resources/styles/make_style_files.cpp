// Writes the four default style files that ship beside the executable
// ("Styles/Style_0.dat" to "Style_3.dat"), which the first run copies into the
// configuration folder. Usage: make_style_files <folder>
#include <imgui.h>

#include <cstdio>

#include "foundation/styles.h"
#include "platform/text.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_style_files <folder>\n");
        return 2;
    }
    ImGuiContext* context = ImGui::CreateContext();
    const bool written = writeDefaultStyleFiles(utf8ToWide(argv[1]));
    ImGui::DestroyContext(context);
    if (!written) std::fprintf(stderr, "make_style_files: cannot write the style files into %s\n", argv[1]);
    return written ? 0 : 1;
}
