// tessera-diag: the command-line client of tessera-diag-server.
#include "cli/command_line.h"

int main(int argc, char** argv) { return tessera::cli::RunCommandLine(argc, argv); }
