#pragma once
// The one dialog state inside a VFD::FileDialog.
#include <string>

#include "filedialog/file_dialog.h"

namespace VFD {

struct DialogState {
    std::string dialogKey;
    std::string dialogTitle;
    DialogOpenOptions config;
    bool isShown = false;
    bool accepted = false;
    int lastDrawnFrame = -1;
};

}  // namespace VFD
