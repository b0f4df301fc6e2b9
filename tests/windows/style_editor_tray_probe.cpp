// The tray menu as the style editor's tests see it. Kept apart because
// shell/tray.h and foundation/global_defaults.h both name the tray's entries.
#include <string>
#include <vector>

#include "shell/tray.h"

void setUpTrayMenuWithStyles(const std::vector<std::string>& styleNames) {
    setupTrayMenu(false, false, styleNames);
}

std::vector<std::string> trayStyleLabels() {
    std::vector<std::string> labels;
    for (const TrayMenuEntry& child : trayMenuEntry(kTrayStyles).children) labels.push_back(child.label);
    return labels;
}

void removeTrayMenu() { startTrayIcon(true); }
