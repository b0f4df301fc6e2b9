// The varnholt executable.
#include "foundation/global_defaults.h"
#include "shell/program_entry.h"

int main(int argc, char** argv) {
    applyTestTimingsFromEnvironment();
    return varnholtMain(argc, argv);
}
