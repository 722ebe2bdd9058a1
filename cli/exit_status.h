#pragma once
// What tessera-diag's exit status tells a script.
namespace tessera::cli {

enum ExitStatus : int {
  kExitOk = 0,
  kExitFailed = 1,       // the server answered with an error, or a local file could not be used
  kExitUsage = 2,        // the command line was wrong
  kExitUnreachable = 3,  // no usable answer from the server
  kExitInterrupted = 130,  // Ctrl-C, as shells report a command SIGINT ended
};

}  // namespace tessera::cli
