#pragma once
// tessera-diag's command line: the global options, one subcommand per task, and the exit
// status of whatever ran.
namespace tessera::cli {

int RunCommandLine(int argc, char** argv);

}  // namespace tessera::cli
