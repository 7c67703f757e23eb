// kranzel: imports one interface file into the installation's database.
#include "run/run.h"

// The version, to be found in the binary (strings kranzel | grep version): the
// command line is fixed and has no room for a --version switch.
[[gnu::used]] static const char kVersionTag[] = "kranzel version " KRANZEL_VERSION;

int main(int argc, char** argv) { return run::RunKranzel(argc, argv); }
