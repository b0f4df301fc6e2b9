#include "windows/text_actions.h"

#include <system_error>

#include "foundation/global_defaults.h"
#include "net/update_check.h"
#include "platform/shell_open.h"
#include "platform/text.h"
#include "windows/help_tab.h"
#include "windows/main_window_parts.h"
#include "windows/style_editor.h"
#include "windows/user_message_window.h"
#include "windows/window_jobs.h"

namespace {

int32_t startAction(int32_t code, const std::vector<std::string>& args) {
    switch (code) {
        case 1: startRemoteVersionFetch(); return 1;
        case 2: openUserMessageWindow(); return 1;
        case 3: openStyleEditorWindow(); return 1;
        case 4: startShellOpen(std::wstring(kMakerHomeAddress)); return 1;
        case 6: {
            // The text comes from outside the program (a notification, the
            // update description): only a path or a web page, never a
            // command line or another scheme.
            if (args.size() < 2) return 0;
            const std::wstring target = utf8ToWide(args[1]);
            if (!isOpenableTarget(target)) return 0;
            startShellOpen(target);
            return 1;
        }
        case 7: startShellOpen(installedGuidePath()); return 1;
        case 9: startShellOpen(std::wstring(kProductPageAddress)); return 1;
        default: return 0;
    }
}

}  // namespace

int32_t runTextAction(int32_t code, const std::vector<std::string>& args) {
    try {
        return startAction(code, args);
    } catch (const std::system_error&) {
        return 0;  // no thread could be started
    }
}
