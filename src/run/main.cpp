// kranzel: imports one interface file into the installation's database.
#include "run/run.h"

int main(int argc, char** argv) { return RunKranzel(argc, argv); }
