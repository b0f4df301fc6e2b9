// The varnholt executable.
#include "shell/program_entry.h"

int main(int argc, char** argv) { return varnholtMain(argc, argv); }
