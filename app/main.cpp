// The varnholt executable.
#include "foundation/global_defaults.h"
#include "shell/program_entry.h"
#include "windows/program_windows.h"

#if defined(__SANITIZE_ADDRESS__)
// Sanitizer builds: the tray's GTK loads fontconfig, which keeps a cache it
// never frees; that is not ours to report.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }
#endif

int main(int argc, char** argv) {
    applyTestTimingsFromEnvironment();
    registerProgramWindows();
    return varnholtMain(argc, argv);
}
